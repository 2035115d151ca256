#include "platform/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varnel {

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string* error, bool sync) {
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    const auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + " " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("cannot create");
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return fail("cannot write");
        }
        done += static_cast<size_t>(n);
    }
    if (sync && ::fsync(fd) != 0) {
        ::close(fd);
        return fail("cannot write");
    }
    if (::close(fd) != 0) return fail("cannot write");
    if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("cannot replace");
    return true;
}

bool AppendLineDurably(const std::string& path, std::string_view line, std::string* error) {
    const auto fail = [&](const std::string& what) {
        if (error) *error = path + ": " + what;
        return false;
    };
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return fail(std::string("cannot open: ") + std::strerror(errno));
    std::string text;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n') text = "\n";
    text.append(line).append(1, '\n');
    const ssize_t written = ::write(fd, text.data(), text.size());
    const int writeErrno = errno;
    const bool synced = written == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    const int syncErrno = errno;
    ::close(fd);
    if (written < 0) return fail(std::string("cannot write: ") + std::strerror(writeErrno));
    if (written != static_cast<ssize_t>(text.size())) return fail("the line was written only in part");
    if (!synced) return fail(std::string("cannot sync: ") + std::strerror(syncErrno));
    return true;
}

}  // namespace varnel
