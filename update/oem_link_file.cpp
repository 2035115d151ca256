#include "update/oem_link_file.h"

#include <algorithm>
#include <cctype>

#include "image/firmware_file.h"
#include "pda/pda_text_file.h"
#include "platform/input_file.h"

namespace varnel {

Result<LinkFile> ParseLinkFile(const std::string& bytes) {
    const auto fail = [](const std::string& why) { return Failure{why}; };
    if (bytes.size() > kLinkFileMaxBytes) return fail("more than 100 bytes");
    std::vector<size_t> dots;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '.') dots.push_back(i);
    if (dots.size() != 3) return fail("not three file names");

    // Name k ends three characters after the k-th dot.
    LinkFile link;
    size_t start = 0;
    for (const size_t dot : dots) {
        const size_t end = dot + 4;
        // Each name holds one dot, its own: a dot inside a name's extension
        // would make the next name begin behind its own dot.
        if (dot < start) return fail("a file name's extension holds a dot");
        if (end > bytes.size() || end - start > kLinkNameMax) return fail("a file name is cut short or too long");
        link.names.push_back(bytes.substr(start, end - start));
        start = end;
    }
    // One separator, then up to ten characters of the checksum.
    size_t p = dots[2] + 5;
    const size_t last = std::min(bytes.size(), p + 10);
    while (p < last && std::isspace(static_cast<unsigned char>(bytes[p]))) ++p;
    bool negative = false;
    if (p < last && (bytes[p] == '+' || bytes[p] == '-')) negative = bytes[p++] == '-';
    if (p >= last || !std::isdigit(static_cast<unsigned char>(bytes[p]))) return fail("no checksum");
    uint64_t value = 0;
    for (; p < last && std::isdigit(static_cast<unsigned char>(bytes[p])); ++p)
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(bytes[p] - '0'), 0xFFFFFFFFull);
    link.checksum = static_cast<uint32_t>(negative ? 0u - value : value);
    return link;
}

int32_t ByteSum(std::string_view bytes) {
    uint32_t sum = 0;
    for (const char c : bytes) sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
    return static_cast<int32_t>(sum);
}

Result<int32_t> FileByteSum(const std::string& path) {
    CInputFile in;
    const auto fail = [&]() -> Result<int32_t> {
        const bool missing = in.Refusal() == InputRefusal::Missing || in.Refusal() == InputRefusal::Folder;
        return Failure{missing || in.Reason().empty() ? std::string("cannot be opened")
                                                      : "cannot be used: it " + in.Reason()};
    };
    if (!in.Open(path, std::max<uint64_t>(CFirmwareFile::kMaxBytes, kPdaTextFileMaxBytes))) return fail();
    uint32_t sum = 0;
    char buffer[1 << 16];
    for (;;) {
        const std::ptrdiff_t n = in.Read(buffer, sizeof buffer);
        if (n < 0) return fail();
        if (n == 0) break;
        sum += static_cast<uint32_t>(ByteSum(std::string_view(buffer, static_cast<size_t>(n))));
    }
    return static_cast<int32_t>(sum);
}

}  // namespace varnel
