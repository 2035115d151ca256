#include "pda/pda_text_file.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "log/flash_log.h"
#include "pda/pda.h"
#include "platform/input_file.h"

namespace varnel {

namespace {

constexpr int kEnd = -1;

std::string RefusalText(const std::string& reason) { return "the file " + reason; }

// What the characters of a .pda text form. A word is announced when its
// first digit is read, so that a word the file has no room for is refused
// there, before anything later on its line.
struct PdaToken {
    enum class Kind { WordBegins, Word, Refused, End };
    enum class Refusal { None, CharacterInWord, TooLong, NumberFormat };
    Kind kind = Kind::End;
    Refusal refusal = Refusal::None;
    uint16_t value = 0;  // a Word's value
    int line = 1;        // the line it is on
};

// Characters to tokens: words of hex digits (with an optional "0x" after
// a zero value), separated by white space or commas; comments from ";",
// "#" or any character that cannot begin a word to the end of the line.
// The text's end ends the last word.
template <typename NextChar>
class PdaTokenizer {
public:
    explicit PdaTokenizer(NextChar next) : m_next(next) {}

    PdaToken Next() {
        while (!m_atEnd) {
            int c = m_next();
            if (c == kEnd) {
                m_atEnd = true;
                c = '\n';  // the last word is always ended
            }
            c = std::tolower(static_cast<unsigned char>(c));
            const bool separator = std::isspace(c) || c == ',';
            const bool hexDigit = std::isxdigit(c) != 0;
            const bool commentMark = c == ';' || c == '#';
            const bool other = !separator && !hexDigit && c != 'x';
            const int line = m_line;
            if (c == '\n') ++m_line;

            if (other) {
                m_inComment = true;
                if (m_digits > 0 && !commentMark) return Refuse(PdaToken::Refusal::CharacterInWord, line);
            }
            if (c == '\n') m_inComment = false;

            if (m_inComment && m_digits == 0) continue;
            if ((separator || commentMark) && m_digits > 0) {
                if ((m_digits > 4 && !m_prefixSeen) || m_digits > 6) return Refuse(PdaToken::Refusal::TooLong, line);
                PdaToken word{PdaToken::Kind::Word, PdaToken::Refusal::None, m_value, line};
                m_digits = 0;
                m_value = 0;
                m_prefixSeen = false;
                return word;
            }
            if (c == 'x') {
                // An "x" is a prefix only after a zero value; a word may not
                // begin with it.
                if (m_digits == 0 || m_value != 0) return Refuse(PdaToken::Refusal::NumberFormat, line);
                m_prefixSeen = true;
            } else if (hexDigit) {
                m_value = static_cast<uint16_t>(m_value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10));
                if (++m_digits == 1) return {PdaToken::Kind::WordBegins, PdaToken::Refusal::None, 0, line};
            }
        }
        return {PdaToken::Kind::End, PdaToken::Refusal::None, 0, m_line};
    }

private:
    PdaToken Refuse(PdaToken::Refusal refusal, int line) {
        m_atEnd = true;
        return {PdaToken::Kind::Refused, refusal, 0, line};
    }

    NextChar m_next;
    int m_line = 1;
    bool m_atEnd = false;
    bool m_inComment = false;
    int m_digits = 0;  // digits of the current word; 0 between words
    uint16_t m_value = 0;
    bool m_prefixSeen = false;
};

std::string TokenRefusalText(PdaToken::Refusal refusal, int line) {
    switch (refusal) {
    case PdaToken::Refusal::CharacterInWord:
        return FormatText("ERROR on line %d: unrecognized character in word.\n", line);
    case PdaToken::Refusal::TooLong: return FormatText("Error on line %d: word too long.\n", line);
    case PdaToken::Refusal::NumberFormat: return FormatText("Error on line %d: Unknown number format!\n", line);
    case PdaToken::Refusal::None: break;
    }
    return {};
}

// Tokens to words: the words must form whole records (a length word L,
// then L words). Every word is taken or the file is refused: nothing after
// the end record, nothing past the 512-word buffer is dropped in silence.
template <typename NextChar>
uint16_t ParsePdaWords(uint16_t* words, NextChar next, std::string* reason) {
    const auto fail = [&](std::string text) -> uint16_t {
        LogMessage("%s", text.c_str());
        if (reason) {
            while (!text.empty() && text.back() == '\n') text.pop_back();
            *reason = std::move(text);
        }
        return 0;
    };

    PdaTokenizer<NextChar> tokens(next);
    size_t j = 0;                    // index of the current word
    size_t nextRecordStart = 0;      // index of the next length word
    size_t recordStart = 0;          // index of the current record's length word
    size_t endRecordEnd = SIZE_MAX;  // index just past the end record, once read
    for (;;) {
        const PdaToken token = tokens.Next();
        switch (token.kind) {
        case PdaToken::Kind::WordBegins:
            if (j >= endRecordEnd)
                return fail(FormatText("Error on line %d: words follow the end record.\n", token.line));
            if (j >= PdaMaxWords)
                return fail(FormatText("Error on line %d: more than %u words.\n", token.line, unsigned{PdaMaxWords}));
            break;
        case PdaToken::Kind::Word:
            words[j] = token.value;
            if (j == nextRecordStart) {
                // A record has at least its code word; the PDA would stop
                // reading at a length of 0 and drop what follows.
                if (words[j] == 0) return fail(FormatText("Error on line %d: a record of length 0.\n", token.line));
                recordStart = j;
                nextRecordStart += size_t{words[j]} + 1;
            } else if (j == recordStart + 1 && words[recordStart] == 2 && words[j] == kPdrEnd) {
                endRecordEnd = nextRecordStart;
            }
            ++j;
            break;
        case PdaToken::Kind::Refused: return fail(TokenRefusalText(token.refusal, token.line));
        case PdaToken::Kind::End:
            if (nextRecordStart == j) return static_cast<uint16_t>(j);
            return fail("PDA format invalid. Check your file.\n");
        }
    }
}

}  // namespace

uint16_t ReadPdaTextFile(uint16_t* words, const char* path, std::string* reason) {
    const auto fail = [&](std::string text) -> uint16_t {
        LogMessage("%s\n", text.c_str());
        if (reason) *reason = std::move(text);
        return 0;
    };
    CInputFile file;
    if (!file.Open(path, kPdaTextFileMaxBytes)) {
        // A folder opens as a stream on some systems; it is no file to read,
        // and is refused as a missing file is.
        if (file.Refusal() == InputRefusal::Missing || file.Refusal() == InputRefusal::Folder)
            return fail("file not found!");
        return fail(RefusalText(file.Reason()));
    }
    std::vector<char> buffer(size_t{1} << 16);
    size_t position = 0, filled = 0;
    bool readFailed = false;
    const auto refill = [&] {
        if (position < filled) return true;
        const std::ptrdiff_t n = file.Read(buffer.data(), buffer.size());
        readFailed = n < 0;
        if (n <= 0) return false;
        position = 0;
        filled = static_cast<size_t>(n);
        return true;
    };
    // Text mode: a CR before a line feed is part of the line end.
    const uint16_t count = ParsePdaWords(
        words,
        [&]() {
            if (!refill()) return kEnd;
            int c = static_cast<unsigned char>(buffer[position++]);
            if (c == '\r' && refill() && buffer[position] == '\n') {
                ++position;
                c = '\n';
            }
            return c;
        },
        reason);
    if (readFailed) return fail(RefusalText(file.Reason()));
    return count;
}

uint16_t ReadPdaText(uint16_t* words, std::string_view text, std::string* reason) {
    size_t position = 0;
    return ParsePdaWords(
        words, [&]() { return position < text.size() ? static_cast<unsigned char>(text[position++]) : kEnd; }, reason);
}

std::string FormatPdaText(const CPda& pda, std::string_view comment) {
    std::string out;
    size_t start = 0;
    while (start < comment.size()) {
        size_t end = comment.find('\n', start);
        if (end == std::string_view::npos) end = comment.size();
        out += "; ";
        out += comment.substr(start, end - start);
        out += "\n";
        start = end + 1;
    }
    const auto line = [&out](const std::vector<uint16_t>& words) {
        for (size_t k = 0; k < words.size(); ++k) out += FormatText(k ? " %04x" : "%04x", unsigned{words[k]});
        out += "\n";
    };
    for (const auto& [code, words] : pda.GetRecords()) line(words);
    line({0x0002, kPdrEnd, pda.ComputeCrc()});
    return out;
}

}  // namespace varnel

namespace varnel {

Result<> MergePdaTextFile(CPda& pda, const std::string& path) {
    uint16_t words[PdaMaxWords];
    std::string why;
    const uint16_t count = ReadPdaTextFile(words, path.c_str(), &why);
    if (count == 0) return Failure{why.empty() ? "the file holds no PDA words" : why};
    if (pda.LoadFromWords(words, count) <= 0) return Failure{"the file holds no PDA record"};
    return {};
}

}  // namespace varnel
