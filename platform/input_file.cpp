// CInputFile over the POSIX calls. The path is checked with stat() before it
// is opened, so that a device is never opened at all; the open itself does
// not block (O_NONBLOCK: a FIFO without a writer would hold it), and the
// opened file is checked again, in case the path changed in between.

#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace varnel {

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a plain file";
}

}  // namespace

void CInputFile::Close() {
    if (m_handle >= 0) ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool CInputFile::Open(const std::string& path, uint64_t maxBytes) {
    Close();
    m_size = m_position = 0;
    m_bound = maxBytes;
    m_refusal = InputRefusal::None;
    m_reason.clear();
    const auto check = [&](const struct stat& st) {
        if (S_ISDIR(st.st_mode)) return Fail(InputRefusal::Folder, "is a folder, not a file") == 0;
        if (!S_ISREG(st.st_mode))
            return Fail(InputRefusal::NotRegular, std::string("is ") + KindOf(st.st_mode) + ", not a regular file") ==
                   0;
        if (static_cast<uint64_t>(st.st_size) > maxBytes)
            return Fail(InputRefusal::TooLarge, TooLargeReason(static_cast<uint64_t>(st.st_size), maxBytes)) == 0;
        m_size = static_cast<uint64_t>(st.st_size);
        return true;
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Fail(InputRefusal::Missing, std::string("cannot open: ") + std::strerror(errno)) == 0;
    if (!check(st)) return false;
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail(InputRefusal::Missing, std::string("cannot open: ") + std::strerror(errno)) == 0;
    m_handle = fd;
    if (::fstat(fd, &st) != 0)
        return Fail(InputRefusal::Missing, std::string("cannot open: ") + std::strerror(errno)) == 0;
    return check(st);
}

std::ptrdiff_t CInputFile::ReadAt(uint64_t offset, char* buffer, size_t size) {
    if (m_handle < 0) return -1;
    ssize_t n;
    do n = ::pread(static_cast<int>(m_handle), buffer, size, static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(InputRefusal::ReadFailed, std::string("cannot read: ") + std::strerror(errno));
    if (offset + static_cast<uint64_t>(n) > m_bound)
        return Fail(InputRefusal::ReadFailed, "grew past " + std::to_string(m_bound) + " bytes while it was read");
    return n;
}

std::ptrdiff_t CInputFile::Read(char* buffer, size_t size) {
    if (m_handle < 0) return -1;
    // One byte past the bound is asked for, so that a file that grew is
    // noticed rather than cut.
    const uint64_t room = m_bound + 1 - m_position;
    ssize_t n;
    do n = ::read(static_cast<int>(m_handle), buffer, static_cast<size_t>(std::min<uint64_t>(size, room)));
    while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(InputRefusal::ReadFailed, std::string("cannot read: ") + std::strerror(errno));
    m_position += static_cast<uint64_t>(n);
    if (m_position > m_bound)
        return Fail(InputRefusal::ReadFailed, "grew past " + std::to_string(m_bound) + " bytes while it was read");
    return n;
}

}  // namespace varnel
