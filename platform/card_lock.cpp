// The card lock on POSIX systems: a write lock (fcntl) on the whole lock
// file, which also holds the holder's process id for people who look.

#include "platform/card_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
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

// Whether the lock file is one to trust: a regular file with one name,
// owned by this user, by the lock folder's owner or by root. Anything else
// (a link planted in its place, another user's file) is refused, never
// written.
std::string Untrusted(int fd, const std::filesystem::path& directory) {
    struct stat file {};
    struct stat folder {};
    if (::fstat(fd, &file) != 0) return std::string("cannot be examined: ") + std::strerror(errno);
    if (!S_ISREG(file.st_mode)) return "is not a regular file";
    if (file.st_nlink != 1) return "has other names (hard links)";
    if (::stat(directory.c_str(), &folder) != 0)
        return std::string("its folder cannot be examined: ") + std::strerror(errno);
    if (file.st_uid != ::geteuid() && file.st_uid != folder.st_uid && file.st_uid != 0)
        return "belongs to another user";
    return {};
}

}  // namespace

CardLock::Attempt CardLock::Take(const std::filesystem::path& directory, const std::string& card, bool probe) {
    Release();
    std::error_code ec;
    files::CreateDirectories(directory.string(), ec);
    // Every user's runs make their lock files in it: writable to all, and
    // sticky, so that none removes another's (as /tmp).
    if (struct stat folder{}; ::lstat(directory.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) &&
                              folder.st_uid == ::geteuid() && (folder.st_mode & 07777) != 01777)
        static_cast<void>(::chmod(directory.c_str(), 01777));
    const std::filesystem::path path = LockFile(directory, card);
    // Never through a link, never blocking on a FIFO planted in its place.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0)
        return {Outcome::Failed, 0,
                path.string() + ": cannot open the card's lock file: " +
                    (errno == ELOOP ? std::string("it is a symbolic link") : std::string(std::strerror(errno)))};
    if (const std::string why = Untrusted(fd, directory); !why.empty()) {
        ::close(fd);
        return {Outcome::Failed, 0, path.string() + ": the card's lock file " + why + ", so it is not used"};
    }
    struct stat own {};
    const bool mine = ::fstat(fd, &own) == 0 && own.st_uid == ::geteuid();
    // Every user's runs share the folder: a lock file this user made is
    // opened by the others too.
    if (mine) static_cast<void>(::fchmod(fd, 0666));
    // A run locks the card for itself; the start-up probe of every adapter
    // only shares it, so that probes never hold each other up, and a run
    // that meets a probe waits the moment it takes (a holder that lets go
    // between the two calls is asked again).
    for (int attempt = 0; attempt < 500; ++attempt) {
        struct flock lock = WholeFile(probe ? F_RDLCK : F_WRLCK);
        if (::fcntl(fd, F_SETLK, &lock) == 0) {
            if (!probe && mine) {
                const std::string text = std::to_string(::getpid()) + "\n" + card + "\n";
                // Without the note the lock holds all the same.
                const bool noted = ::ftruncate(fd, 0) == 0 &&
                                   ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
                static_cast<void>(noted);
            }
            m_handle = fd;
            m_mine = mine && !probe;
            return {Outcome::Taken, 0, {}};
        }
        if (errno != EACCES && errno != EAGAIN) {
            const std::string error = path.string() + ": cannot lock the card's lock file: " + std::strerror(errno);
            ::close(fd);
            return {Outcome::Failed, 0, error};
        }
        struct flock other = WholeFile(probe ? F_RDLCK : F_WRLCK);
        if (::fcntl(fd, F_GETLK, &other) == 0 && other.l_type != F_UNLCK) {
            if (other.l_type == F_RDLCK && !probe) {
                // Another program's probe: it lets go in a moment.
                ::usleep(10000);
                continue;
            }
            ::close(fd);
            return {Outcome::Held, static_cast<long>(other.l_pid), {}};
        }
    }
    ::close(fd);
    return {Outcome::Held, 0, {}};
}

std::filesystem::path CardLock::SystemDirectory() { return "/run/lock/varnel"; }

void CardLock::Release() {
    if (m_handle == kNone) return;
    const int fd = static_cast<int>(m_handle);
    m_handle = kNone;
    // The note goes first, while the lock is still held.
    if (m_mine) {
        const bool cleared = ::ftruncate(fd, 0) == 0;
        static_cast<void>(cleared);
    }
    m_mine = false;
    ::close(fd);  // closing lets go of the lock
}

}  // namespace varnel
