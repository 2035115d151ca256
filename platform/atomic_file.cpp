#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varnel {

namespace {

std::string Why(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view contents) {
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The path a write to `path` lands on: a symbolic link is followed to the
// file it names (which need not exist yet), so that the file, not the link,
// is replaced and the temporary file goes in the file's own folder.
bool FollowLinks(std::string& path, std::string* error) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) {
            if (n >= 0) errno = ENAMETOOLONG;
            if (error) *error = Why("cannot follow the link", path);
            return false;
        }
        target.resize(static_cast<size_t>(n));
        const size_t slash = path.find_last_of('/');
        path = target.front() == '/' || slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
    }
    errno = ELOOP;
    if (error) *error = Why("cannot follow the link", path);
    return false;
}

// A device or a FIFO is written as it is: nothing replaces the node, and
// there is nothing to sync.
bool WriteDirectly(const std::string& path, std::string_view contents, std::string* error) {
    int fd;
    do fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error) *error = Why("cannot open", path);
        return false;
    }
    const bool written = WriteAll(fd, contents);
    const int writeErrno = errno;
    if (::close(fd) != 0 && written) {
        if (error) *error = Why("cannot write", path);
        return false;
    }
    errno = writeErrno;
    if (!written && error) *error = Why("cannot write", path);
    return written;
}

// The contents in a new temporary file beside `path`, synced when asked.
// Its name, or empty with `error` set.
std::string WriteTemporary(const std::string& path, std::string_view contents, std::string* error, bool sync) {
    static unsigned counter = 0;
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const auto fail = [&](const char* what) {
        if (error) *error = Why(what, path);
        ::unlink(temporary.c_str());
        return std::string();
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = Why("cannot create", path);
        return {};
    }
    if (!WriteAll(fd, contents) || (sync && ::fsync(fd) != 0)) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return fail("cannot write");
    }
    if (::close(fd) != 0) return fail("cannot write");
    return temporary;
}

}  // namespace

Result<> WriteFileAtomically(const std::string& path, std::string_view contents, bool sync) {
    std::string error;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) return Failure{"cannot replace " + path + ": it is a folder"};
        if (S_ISSOCK(st.st_mode)) return Failure{"cannot write " + path + ": it is a socket"};
        if (!WriteDirectly(path, contents, &error)) return Failure{error};
        return {};
    }
    std::string target = path;
    if (!FollowLinks(target, &error)) return Failure{error};
    const std::string temporary = WriteTemporary(target, contents, &error, sync);
    if (temporary.empty()) return Failure{error};
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        Failure failure{Why("cannot replace", target)};
        ::unlink(temporary.c_str());
        return failure;
    }
    return {};
}

Result<> WriteNewFile(const std::string& path, std::string_view contents, bool* taken) {
    if (taken) *taken = false;
    std::string error;
    const std::string temporary = WriteTemporary(path, contents, &error, true);
    if (temporary.empty()) return Failure{error};
    // link() gives the whole file its name only if no file has it yet.
    if (::link(temporary.c_str(), path.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return {};
    }
    const int linkErrno = errno;
    ::unlink(temporary.c_str());
    if (linkErrno == EEXIST) {
        if (taken) *taken = true;
        errno = EEXIST;
        return Failure{Why("cannot create", path)};
    }
    if (linkErrno != EPERM && linkErrno != ENOTSUP && linkErrno != EOPNOTSUPP && linkErrno != ENOSYS) {
        errno = linkErrno;
        return Failure{Why("cannot create", path)};
    }
    // A file system without hard links: the name is taken by an exclusive
    // create, and a failed write takes the file away again.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (taken) *taken = errno == EEXIST;
        return Failure{Why("cannot create", path)};
    }
    const bool written = WriteAll(fd, contents) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        if (!written) errno = writeErrno;
        Failure failure{Why("cannot write", path)};
        ::unlink(path.c_str());
        return failure;
    }
    return {};
}

namespace {

// Renames `from` to `to` only while no file has that name. False, with
// errno EEXIST when the name is taken.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // A file system without it: a second name, then the first one away.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

Result<> AppendLineDurably(const std::string& path, std::string_view line, const LineRotation& rotation) {
    const auto fail = [&](const std::string& what) { return Failure{path + ": " + what}; };
    for (int tries = 0;; ++tries) {
        const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return fail(std::string("cannot open: ") + std::strerror(errno));
        // Appenders take turns: a line written in part is taken back before
        // the next one's, and the file is renamed under nobody's write.
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat opened {
        }, named{};
        if (::fstat(fd, &opened) != 0) {
            const int error = errno;
            ::close(fd);
            return fail(std::string("cannot open: ") + std::strerror(error));
        }
        // Another appender renamed the file while this one waited: the line
        // goes to the file that now has the name.
        if ((::stat(path.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) &&
            tries < 8) {
            ::close(fd);
            continue;
        }
        const auto size = static_cast<uint64_t>(opened.st_size);
        if (rotation.rotateAt > 0 && size > 0 && size + line.size() + 2 > rotation.rotateAt && tries < 8 &&
            S_ISREG(opened.st_mode)) {
            bool renamed = false;
            for (int attempt = 0; attempt < 100 && !renamed; ++attempt) {
                renamed = RenameNoReplace(path, rotation.archiveName(attempt));
                if (!renamed && errno != EEXIST) break;
            }
            ::close(fd);
            // A file that cannot be renamed keeps growing: the line matters more.
            if (renamed) continue;
            return AppendLineDurably(path, line, LineRotation{});
        }
        std::string text;
        char last = '\n';
        if (size > 0 && ::pread(fd, &last, 1, static_cast<off_t>(size - 1)) == 1 && last != '\n') text = "\n";
        text.append(line).append(1, '\n');
        const ssize_t written = ::write(fd, text.data(), text.size());
        const int writeErrno = errno;
        // What was written of a line written in part is taken back: the file
        // stays as it was (a full disk leaves no torn line).
        const bool takenBack = written >= 0 && written != static_cast<ssize_t>(text.size()) &&
                               S_ISREG(opened.st_mode) && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
        const bool synced = written == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
        const int syncErrno = errno;
        ::close(fd);
        if (written < 0) return fail(std::string("cannot write: ") + std::strerror(writeErrno));
        if (written != static_cast<ssize_t>(text.size()))
            return fail(takenBack ? "the line was written only in part (a full disk?), and taken back"
                                  : "the line was written only in part");
        if (!synced) return fail(std::string("cannot sync: ") + std::strerror(syncErrno));
        return {};
    }
}

}  // namespace varnel
