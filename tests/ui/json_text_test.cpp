// Names that are not UTF-8 in JSON text: valid, lossless, reversible.

#include <gtest/gtest.h>

#include "update/json_text.h"

namespace varnel {
namespace {

TEST(JsonText, EveryNameIsValidJsonAndDecodesToItsBytes) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string encoded;  // the UTF-8 the JSON holds
    };
    const Case cases[] = {
        {"ASCII", "release/primary.hex", "release/primary.hex"},
        {"valid UTF-8 stays",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC \xF0\x9F\x93\xA6",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC \xF0\x9F\x93\xA6"},
        {"a Latin-1 byte", "caf\xE9", "caf\xF3\xB0\x83\xA9"},
        {"a lone continuation byte", "\x80x", "\xF3\xB0\x82\x80x"},
        {"0xFF", "\xFF", "\xF3\xB0\x83\xBF"},
        {"an overlong slash", "\xC0\xAF", "\xF3\xB0\x83\x80\xF3\xB0\x82\xAF"},
        {"an overlong three-byte form", "\xE0\x80\xAF", "\xF3\xB0\x83\xA0\xF3\xB0\x82\x80\xF3\xB0\x82\xAF"},
        {"a truncated sequence", "\xE2\x82", "\xF3\xB0\x83\xA2\xF3\xB0\x82\x82"},
        {"a truncated sequence before ASCII", "\xE2\x82z", "\xF3\xB0\x83\xA2\xF3\xB0\x82\x82z"},
        {"a surrogate", "\xED\xA0\x80", "\xF3\xB0\x83\xAD\xF3\xB0\x82\xA0\xF3\xB0\x82\x80"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\xF3\xB0\x83\xB4\xF3\xB0\x82\x90\xF3\xB0\x82\x80\xF3\xB0\x82\x80"},
        // The escape's own code point, written as valid UTF-8, is escaped
        // byte by byte so that decoding cannot take it for a lone byte.
        {"U+F0080 itself", "\xF3\xB0\x82\x80", "\xF3\xB0\x83\xB3\xF3\xB0\x82\xB0\xF3\xB0\x82\x82\xF3\xB0\x82\x80"},
        {"U+F0100 next to it stays", "\xF3\xB0\x84\x80", "\xF3\xB0\x84\x80"},
        {"NUL and control bytes", std::string("a\0b\x01", 4), std::string("a\0b\x01", 4)},
    };
    for (const Case& c : cases) {
        const std::string encoded = EncodeJsonName(c.bytes);
        EXPECT_EQ(encoded, c.encoded) << c.what;
        EXPECT_EQ(DecodeJsonName(encoded), c.bytes) << c.what;
        // Through the JSON text and a strict parser, as key and as value.
        const std::string text = JsonText(Json{{c.bytes, Json::array({c.bytes})}});
        const Json parsed = Json::parse(text);  // throws on invalid UTF-8
        EXPECT_EQ(DecodeJsonNames(parsed), (Json{{c.bytes, Json::array({c.bytes})}})) << c.what;
    }
}

}  // namespace
}  // namespace varnel
