#pragma once
// The OEM link file, OEMRelease.oem: three file names written one after the
// other, one separator character, and the decimal sum of every byte of the
// three files, which proves them unchanged.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace varnel {

inline constexpr const char* kLinkFileName = "OEMRelease.oem";
inline constexpr size_t kLinkFileMaxBytes = 100;
inline constexpr size_t kLinkNameMax = 52;

struct LinkFile {
    std::vector<std::string> names;  // three, relative to the link file's directory
    uint32_t checksum = 0;
};

// Parses a link file's bytes; a failure when they do not hold three names
// and a checksum.
Result<LinkFile> ParseLinkFile(const std::string& bytes);

// Every byte as a signed 8-bit value, added with 32-bit wrap-around.
int32_t ByteSum(std::string_view bytes);
// The same over a file's contents. Fails with "cannot be opened" when the
// file cannot be opened or is a folder, and with "cannot be used: it " and
// why ("is a FIFO (named pipe), not a regular file") when it is not a
// regular file no longer than the longest file a link names (an S-record
// file at its longest).
Result<int32_t> FileByteSum(const std::string& path);

}  // namespace varnel
