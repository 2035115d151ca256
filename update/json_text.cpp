#include "update/json_text.h"

#include <cstdint>

namespace varnel {

namespace {

constexpr uint32_t kEscapeBase = 0xF0000;  // a byte B that is not UTF-8 becomes U+F0000 + B

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at the start of `s` (RFC 3629:
// no overlong forms, no surrogates, nothing above U+10FFFF), or 0.
size_t SequenceLength(std::string_view s) {
    const auto at = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = at(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return s.size() >= 2 && Continuation(at(1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (s.size() < 3 || !Continuation(at(1)) || !Continuation(at(2))) return 0;
        if (c == 0xE0 && at(1) < 0xA0) return 0;  // overlong
        if (c == 0xED && at(1) > 0x9F) return 0;  // a surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (s.size() < 4 || !Continuation(at(1)) || !Continuation(at(2)) || !Continuation(at(3))) return 0;
        if (c == 0xF0 && at(1) < 0x90) return 0;  // overlong
        if (c == 0xF4 && at(1) > 0x8F) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

// A valid sequence that stands for one of the escape code points.
bool IsEscape(std::string_view s) {
    return s.size() >= 4 && static_cast<unsigned char>(s[0]) == 0xF3 && static_cast<unsigned char>(s[1]) == 0xB0 &&
           (static_cast<unsigned char>(s[2]) == 0x82 || static_cast<unsigned char>(s[2]) == 0x83) &&
           Continuation(static_cast<unsigned char>(s[3]));
}

void AppendEscape(std::string& out, unsigned char byte) {
    const uint32_t cp = kEscapeBase + byte;
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
}

template <typename Convert>
Json Walk(const Json& value, const Convert& convert) {
    if (value.is_string()) return convert(value.get_ref<const std::string&>());
    if (value.is_array()) {
        Json out = Json::array();
        for (const Json& item : value) out.push_back(Walk(item, convert));
        return out;
    }
    if (value.is_object()) {
        Json out = Json::object();
        for (const auto& [key, item] : value.items()) out[convert(key)] = Walk(item, convert);
        return out;
    }
    return value;
}

}  // namespace

std::string EncodeJsonName(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const std::string_view rest = bytes.substr(i);
        const size_t length = SequenceLength(rest);
        if (length == 0 || IsEscape(rest)) {
            AppendEscape(out, static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            out.append(rest.substr(0, length));
            i += length;
        }
    }
    return out;
}

std::string DecodeJsonName(std::string_view text) {
    // Every escape begins with the byte F3: a text without one is its own bytes.
    if (text.find('\xF3') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const std::string_view rest = text.substr(i);
        if (IsEscape(rest)) {
            out += static_cast<char>(((static_cast<unsigned char>(rest[2]) & 0x3F) << 6) |
                                     (static_cast<unsigned char>(rest[3]) & 0x3F));
            i += 4;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string JsonText(const Json& value, int indent) {
    // Every string is valid UTF-8 once encoded; the replacing handler only
    // keeps dump from ever throwing.
    return Walk(value, EncodeJsonName).dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json DecodeJsonNames(const Json& value) { return Walk(value, DecodeJsonName); }

}  // namespace varnel
