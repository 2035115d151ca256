// What every platform's CInputFile shares.

#include "platform/input_file.h"

namespace varnel {

CInputFile::~CInputFile() { Close(); }

std::ptrdiff_t CInputFile::Fail(InputRefusal refusal, std::string reason) {
    Close();
    m_refusal = refusal;
    m_reason = std::move(reason);
    return -1;
}

std::string TooLargeReason(uint64_t size, uint64_t maxBytes) {
    return "is " + std::to_string(size) + " bytes, more than the " + std::to_string(maxBytes) +
           " bytes such a file can hold";
}

Result<std::string> ReadRegularFile(const std::string& path, uint64_t maxBytes, InputRefusal* refusal) {
    CInputFile file;
    const auto fail = [&] {
        if (refusal) *refusal = file.Refusal();
        return Failure{file.Reason()};
    };
    if (!file.Open(path, maxBytes)) return fail();
    std::string contents;
    contents.reserve(static_cast<size_t>(file.Size()));
    char buffer[1 << 16];
    for (;;) {
        const std::ptrdiff_t n = file.Read(buffer, sizeof buffer);
        if (n < 0) return fail();
        if (n == 0) break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    if (refusal) *refusal = InputRefusal::None;
    return contents;
}

}  // namespace varnel
