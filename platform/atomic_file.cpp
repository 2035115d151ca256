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

}  // namespace varnel
