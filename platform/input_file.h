#pragma once
// Reading the files a user names. Every format Varnel reads has a largest
// size, so a file is opened only when it is a regular file no longer than
// its format's bound: a device (/dev/zero), a FIFO or a socket is refused
// without waiting on it, and a file too long is refused before a byte of it
// is read. The checks are made on the path and again on the opened file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/result.h"

namespace varnel {

enum class InputRefusal {
    None,
    Missing,     // cannot be opened (no such file, no permission...)
    Folder,      // a folder, not a file
    NotRegular,  // a device, a FIFO, a socket
    TooLarge,    // longer than the bound
    ReadFailed,  // a read failed, or the file grew past the bound while read
};

class CInputFile {
public:
    CInputFile() = default;
    ~CInputFile();
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // Opens `path` when it is a regular file of at most `maxBytes` bytes.
    // False otherwise; Refusal() and Reason() say why.
    bool Open(const std::string& path, uint64_t maxBytes);
    void Close();

    // The size when opened.
    uint64_t Size() const { return m_size; }
    // Reads up to `size` bytes on from the last read: the count, 0 at the
    // end, -1 when the read failed or would pass the bound (the file grew
    // while it was read).
    std::ptrdiff_t Read(char* buffer, size_t size);
    // Reads up to `size` bytes at `offset`, leaving the read position alone.
    std::ptrdiff_t ReadAt(uint64_t offset, char* buffer, size_t size);

    InputRefusal Refusal() const { return m_refusal; }
    // Why the file was refused, without the path: "is a FIFO, not a regular
    // file", "is 104857600 bytes, more than the 100 bytes such a file can
    // hold", "cannot open: No such file or directory".
    const std::string& Reason() const { return m_reason; }

private:
    std::ptrdiff_t Fail(InputRefusal refusal, std::string reason);

    std::intptr_t m_handle = -1;
    uint64_t m_size = 0;
    uint64_t m_bound = 0;
    uint64_t m_position = 0;
    InputRefusal m_refusal = InputRefusal::None;
    std::string m_reason;
};

// The whole of a regular file of at most `maxBytes` bytes; a failure, with
// the reason as CInputFile gives it, otherwise.
Result<std::string> ReadRegularFile(const std::string& path, uint64_t maxBytes, InputRefusal* refusal = nullptr);

// "is 200 bytes, more than the 100 bytes such a file can hold"
std::string TooLargeReason(uint64_t size, uint64_t maxBytes);

}  // namespace varnel
