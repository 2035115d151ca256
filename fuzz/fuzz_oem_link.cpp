// Fuzzes the OEM link file parser and checks what it accepts: three names
// laid end to end from the start of a file of at most 100 bytes, each with
// one dot three characters before its end, none longer than the limit.

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/oem_link_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnel;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // The byte sum adds up piece by piece.
    const size_t half = size / 2;
    const uint32_t whole = static_cast<uint32_t>(ByteSum(bytes));
    const uint32_t pieces = static_cast<uint32_t>(ByteSum(std::string_view(bytes).substr(0, half))) +
                            static_cast<uint32_t>(ByteSum(std::string_view(bytes).substr(half)));
    if (whole != pieces) __builtin_trap();

    const auto link = ParseLinkFile(bytes);
    if (!link) {
        if (link.Reason().empty()) __builtin_trap();
        return 0;
    }
    if (size > kLinkFileMaxBytes || link->names.size() != 3) __builtin_trap();
    // Each name holds exactly one dot, three characters before its end.
    size_t end = 0;
    for (const std::string& name : link->names) {
        const size_t dot = name.find('.');
        if (dot == std::string::npos || name.find('.', dot + 1) != std::string::npos || dot + 4 != name.size() ||
            name.size() > kLinkNameMax || bytes.compare(end, name.size(), name) != 0)
            __builtin_trap();
        end += name.size();
    }
    return 0;
}
