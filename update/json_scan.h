#pragma once
// A reader of one JSON text made for speed: it checks the text as strictly
// as nlohmann's parser does (the same texts are accepted and refused) and
// hands each value to a handler as it is met, without building anything. A
// string without escapes is handed over as a view of the text itself.
//
// The handler has:
//   void Null(); void Boolean();
//   void Integer(std::string_view digits);  // an integer as written: "-12"
//   void Float(std::string_view text);      // a number with a fraction or an exponent
//   void String(std::string_view value);    // the decoded bytes (UTF-8)
//   void Name(std::string_view key);  // an object's key
//   void StartObject(); void StartArray(); void End();

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

namespace json_scan {

// The length of the UTF-8 sequence at `p` (of `n` bytes), checked as
// nlohmann's lexer checks it (no overlong forms, no surrogates, nothing past
// U+10FFFF); 0 when it is not one.
inline size_t Utf8Sequence(const unsigned char* p, size_t n) {
    const unsigned char c = p[0];
    const auto cont = [&](size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
        return i < n && p[i] >= low && p[i] <= high;
    };
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(1) && cont(2) ? 3 : 0;
    if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (c == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

inline void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Scanner {
public:
    explicit Scanner(std::string_view text)
        : m_p(reinterpret_cast<const unsigned char*>(text.data())), m_end(m_p + text.size()) {}

    template <typename Handler>
    bool Run(Handler& handler) {
        // Nesting is kept on a stack of its own ('{' or '['), not the call
        // stack: any depth a line can hold is read.
        std::vector<char> open;
        enum class Want { Value, ValueOrEnd, KeyOrEnd, Key, CommaOrEnd };
        Want want = Want::Value;
        for (;;) {
            SkipSpace();
            if (want == Want::CommaOrEnd) {
                if (open.empty()) return m_p == m_end;  // nothing but white space after the value
                if (m_p == m_end) return false;
                const char close = open.back() == '{' ? '}' : ']';
                if (*m_p == ',') {
                    ++m_p;
                    want = open.back() == '{' ? Want::Key : Want::Value;
                    continue;
                }
                if (*m_p != static_cast<unsigned char>(close)) return false;
                ++m_p;
                open.pop_back();
                handler.End();
                continue;
            }
            if (m_p == m_end) return false;
            if (want == Want::KeyOrEnd || want == Want::Key) {
                if (want == Want::KeyOrEnd && *m_p == '}') {
                    ++m_p;
                    open.pop_back();
                    handler.End();
                    want = Want::CommaOrEnd;
                    continue;
                }
                if (*m_p != '"') return false;
                ++m_p;
                std::string_view key;
                if (!String(key)) return false;
                SkipSpace();
                if (m_p == m_end || *m_p != ':') return false;
                ++m_p;
                handler.Name(key);
                want = Want::Value;
                continue;
            }
            if (want == Want::ValueOrEnd && *m_p == ']') {
                ++m_p;
                open.pop_back();
                handler.End();
                want = Want::CommaOrEnd;
                continue;
            }
            // A value.
            switch (*m_p) {
            case '{':
                ++m_p;
                open.push_back('{');
                handler.StartObject();
                want = Want::KeyOrEnd;
                continue;
            case '[':
                ++m_p;
                open.push_back('[');
                handler.StartArray();
                want = Want::ValueOrEnd;
                continue;
            case '"': {
                ++m_p;
                std::string_view value;
                if (!String(value)) return false;
                handler.String(value);
                break;
            }
            case 't':
                if (!Literal("true")) return false;
                handler.Boolean();
                break;
            case 'f':
                if (!Literal("false")) return false;
                handler.Boolean();
                break;
            case 'n':
                if (!Literal("null")) return false;
                handler.Null();
                break;
            default:
                if (!Number(handler)) return false;
                break;
            }
            want = Want::CommaOrEnd;
        }
    }

private:
    void SkipSpace() {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r')) ++m_p;
    }
    bool Literal(std::string_view word) {
        if (static_cast<size_t>(m_end - m_p) < word.size() ||
            std::string_view(reinterpret_cast<const char*>(m_p), word.size()) != word)
            return false;
        m_p += word.size();
        return true;
    }
    static bool PlainWord(const unsigned char* p) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        constexpr uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
        const auto zeroByte = [](uint64_t x) { return (x - ones) & ~x & highs; };
        return ((word & highs) | zeroByte(word ^ (ones * '"')) | zeroByte(word ^ (ones * '\\')) |
                ((word - ones * 0x20) & ~word & highs)) == 0;
    }
    static bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }
    template <typename Handler>
    bool Number(Handler& handler) {
        const unsigned char* start = m_p;
        if (m_p != m_end && *m_p == '-') ++m_p;
        if (m_p == m_end) return false;
        if (*m_p == '0') ++m_p;
        else if (Digit(*m_p))
            while (m_p != m_end && Digit(*m_p)) ++m_p;
        else return false;
        bool whole = true;
        if (m_p != m_end && *m_p == '.') {
            whole = false;
            ++m_p;
            if (m_p == m_end || !Digit(*m_p)) return false;
            while (m_p != m_end && Digit(*m_p)) ++m_p;
        }
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            whole = false;
            ++m_p;
            if (m_p != m_end && (*m_p == '+' || *m_p == '-')) ++m_p;
            if (m_p == m_end || !Digit(*m_p)) return false;
            while (m_p != m_end && Digit(*m_p)) ++m_p;
        }
        const std::string_view text(reinterpret_cast<const char*>(start), static_cast<size_t>(m_p - start));
        if (whole) handler.Integer(text);
        else handler.Float(text);
        return true;
    }
    static int Hex(unsigned char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    // Four hex digits after "\u"; -1 when they are not.
    int32_t Unit() {
        if (m_end - m_p < 4) return -1;
        int32_t unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = Hex(m_p[i]);
            if (digit < 0) return -1;
            unit = unit * 16 + digit;
        }
        m_p += 4;
        return unit;
    }
    // The string after its opening quote, up to and past its closing one.
    bool String(std::string_view& value) {
        const unsigned char* start = m_p;
        // Plain bytes first: most strings have no escape, and are handed
        // over as they stand.
        while (m_p != m_end && *m_p != '"' && *m_p != '\\') {
            // Eight bytes at a time while none is a quote, a backslash, a
            // control character or part of a multibyte sequence.
            while (m_end - m_p >= 8 && PlainWord(m_p)) m_p += 8;
            if (m_p == m_end || *m_p == '"' || *m_p == '\\') break;
            if (*m_p < 0x20) return false;
            if (*m_p < 0x80) {
                ++m_p;
                continue;
            }
            const size_t n = Utf8Sequence(m_p, static_cast<size_t>(m_end - m_p));
            if (n == 0) return false;
            m_p += n;
        }
        if (m_p == m_end) return false;
        if (*m_p == '"') {
            value = std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(m_p - start));
            ++m_p;
            return true;
        }
        m_scratch.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(m_p - start));
        while (m_p != m_end && *m_p != '"') {
            if (*m_p == '\\') {
                ++m_p;
                if (m_p == m_end) return false;
                const unsigned char c = *m_p++;
                switch (c) {
                case '"': m_scratch += '"'; break;
                case '\\': m_scratch += '\\'; break;
                case '/': m_scratch += '/'; break;
                case 'b': m_scratch += '\b'; break;
                case 'f': m_scratch += '\f'; break;
                case 'n': m_scratch += '\n'; break;
                case 'r': m_scratch += '\r'; break;
                case 't': m_scratch += '\t'; break;
                case 'u': {
                    const int32_t unit = Unit();
                    if (unit < 0) return false;
                    uint32_t code = static_cast<uint32_t>(unit);
                    if (code >= 0xDC00 && code <= 0xDFFF) return false;  // a low surrogate alone
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        if (m_end - m_p < 2 || m_p[0] != '\\' || m_p[1] != 'u') return false;
                        m_p += 2;
                        const int32_t low = Unit();
                        if (low < 0xDC00 || low > 0xDFFF) return false;
                        code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
                    }
                    AppendUtf8(m_scratch, code);
                    break;
                }
                default: return false;
                }
                continue;
            }
            if (*m_p < 0x20) return false;
            const size_t n = Utf8Sequence(m_p, static_cast<size_t>(m_end - m_p));
            if (n == 0) return false;
            m_scratch.append(reinterpret_cast<const char*>(m_p), n);
            m_p += n;
        }
        if (m_p == m_end) return false;
        ++m_p;
        value = m_scratch;
        return true;
    }

    const unsigned char* m_p;
    const unsigned char* m_end;
    std::string m_scratch;
};

}  // namespace json_scan

// Reads `text` as one JSON text, each value to `handler`; false when it is
// not one (the handler may have been given part of it).
template <typename Handler>
bool ScanJson(std::string_view text, Handler& handler) {
    json_scan::Scanner scanner(text);
    return scanner.Run(handler);
}

}  // namespace varnel
