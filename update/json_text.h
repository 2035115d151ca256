#pragma once
// JSON text of names that may not be UTF-8. A file name, a folder or a link
// file entry is a string of bytes; JSON text is UTF-8. Every byte that is not
// part of a valid UTF-8 sequence is written as the code point U+F0000 + the
// byte (U+F0080 to U+F00FF, in a private use plane), and so is each byte of
// a valid sequence that itself stands for one of those code points. Valid
// UTF-8 otherwise stays as it is. The JSON is always valid, and decoding
// gives back exactly the bytes the program had (docs/file-formats.md).

#include <string>
#include <string_view>

#include "update/run_report.h"

namespace varnel {

// The bytes as valid UTF-8, with the escape above.
std::string EncodeJsonName(std::string_view bytes);
// The bytes EncodeJsonName was given: each U+F0080 to U+F00FF back to its byte.
std::string DecodeJsonName(std::string_view text);

// `value` with every string (and object key) in it encoded, as JSON text
// (`indent` as nlohmann's dump takes it). Never throws for any string the
// value holds.
std::string JsonText(const Json& value, int indent = -1);
// `value` with every string (and object key) in it decoded: the JSON a
// program parsed back to the bytes it stands for.
Json DecodeJsonNames(const Json& value);

}  // namespace varnel
