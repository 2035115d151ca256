#include "update/visible_text.h"

#include <cstdint>

namespace varnel {

namespace {

void PutByte(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    switch (c) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

// The length of the valid UTF-8 sequence at `i`, or 0.
size_t Utf8Length(std::string_view text, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = at(i);
    size_t n = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) n = 2, code = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, code = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, code = c & 0x07;
    else return 0;
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (at(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not text.
    if ((n == 3 && code < 0x800) || (n == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    // C1 controls (U+0080 to U+009F) steer terminals like C0 ones.
    if (code >= 0x80 && code <= 0x9F) return 0;
    return n;
}

}  // namespace

std::string VisibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto printable = [&](size_t k) {
            const auto b = static_cast<unsigned char>(text[k]);
            return b >= 0x20 && b < 0x7F;
        };
        if (printable(i)) {
            // A run of printable ASCII at once: most text is nothing else.
            size_t end = i + 1;
            while (end < text.size() && printable(end)) ++end;
            out.append(text.substr(i, end - i));
            i = end;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            if (const size_t n = Utf8Length(text, i); n > 0) {
                out.append(text.substr(i, n));
                i += n;
                continue;
            }
        }
        PutByte(out, c);
        ++i;
    }
    return out;
}

}  // namespace varnel
