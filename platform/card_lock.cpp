// The card lock on POSIX systems: a write lock (fcntl) on the whole lock
// file, which also holds the holder's process id for people who look.

#include "platform/card_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_system.h"

namespace varnel {

namespace {

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

}  // namespace

CardLock::Result CardLock::Take(const std::filesystem::path& directory, const std::string& card, long* holder,
                                std::string* error) {
    Release();
    if (holder) *holder = 0;
    std::error_code ec;
    files::CreateDirectories(directory.string(), ec);
    const std::filesystem::path path = LockFile(directory, card);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = path.string() + ": cannot open the card's lock file: " + std::strerror(errno);
        return Result::Failed;
    }
    // A holder that lets go between the two calls is asked again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        struct flock lock = WholeFile(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &lock) == 0) {
            const std::string text = std::to_string(::getpid()) + "\n" + card + "\n";
            // Without the note the lock holds all the same.
            const bool noted = ::ftruncate(fd, 0) == 0 &&
                               ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
            static_cast<void>(noted);
            m_handle = fd;
            return Result::Taken;
        }
        if (errno != EACCES && errno != EAGAIN) {
            if (error) *error = path.string() + ": cannot lock the card's lock file: " + std::strerror(errno);
            ::close(fd);
            return Result::Failed;
        }
        struct flock other = WholeFile(F_WRLCK);
        if (::fcntl(fd, F_GETLK, &other) == 0 && other.l_type != F_UNLCK) {
            if (holder) *holder = static_cast<long>(other.l_pid);
            ::close(fd);
            return Result::Held;
        }
    }
    ::close(fd);
    return Result::Held;
}

void CardLock::Release() {
    if (m_handle == kNone) return;
    const int fd = static_cast<int>(m_handle);
    m_handle = kNone;
    // The note goes first, while the lock is still held.
    const bool cleared = ::ftruncate(fd, 0) == 0;
    static_cast<void>(cleared);
    ::close(fd);  // closing lets go of the lock
}

}  // namespace varnel
