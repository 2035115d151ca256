// Fuzzes the OEM link file parser and checks what it accepts: three names
// laid end to end from the start of a file of at most 100 bytes, each ending
// three characters after its dot, none longer than the limit.

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

    std::string reason;
    const auto link = ParseLinkFile(bytes, &reason);
    if (!link) {
        if (reason.empty()) __builtin_trap();
        return 0;
    }
    if (size > kLinkFileMaxBytes || link->names.size() != 3) __builtin_trap();
    // Name k ends three characters after the k-th dot of the file (which may
    // lie in the name before when names are shorter than four characters).
    size_t end = 0;
    size_t dot = 0;
    for (const std::string& name : link->names) {
        dot = bytes.find('.', end == 0 ? 0 : dot + 1);
        if (dot == std::string::npos || name.size() > kLinkNameMax || bytes.compare(end, name.size(), name) != 0)
            __builtin_trap();
        end += name.size();
        if (end != dot + 4) __builtin_trap();
    }
    return 0;
}
