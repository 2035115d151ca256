// The C++ runtime's one call into msvcrt.dll that Windows 98 and NT 4.0's
// msvcrt.dll lack: _fstat64 (from ME and 2000 on), which libstdc++ asks
// only for a stream's type and size (how much can be read at once). Given
// here over the Win32 calls every release has, in place of the import.

#include <windows.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

int __cdecl Fstat64(int fd, struct _stat64* status) {
    const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (file == INVALID_HANDLE_VALUE || !status) {
        errno = EBADF;
        return -1;
    }
    std::memset(status, 0, sizeof *status);
    switch (::GetFileType(file)) {
    case FILE_TYPE_DISK: {
        DWORD high = 0;
        const DWORD low = ::GetFileSize(file, &high);
        if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
            errno = EBADF;
            return -1;
        }
        status->st_mode = _S_IFREG | _S_IREAD | _S_IWRITE;
        status->st_size = static_cast<__int64>((static_cast<unsigned __int64>(high) << 32) | low);
        break;
    }
    case FILE_TYPE_CHAR: status->st_mode = _S_IFCHR; break;
    case FILE_TYPE_PIPE: status->st_mode = _S_IFIFO; break;
    default: errno = EBADF; return -1;
    }
    status->st_nlink = 1;
    return 0;
}

}  // namespace

// The import's own pointer, which the runtime calls through.
#if defined(__i386__)
extern "C" int(__cdecl* const varnel_fstat64_import)(int, struct _stat64*) __asm__("__imp___fstat64") = Fstat64;
#else
extern "C" int(__cdecl* const varnel_fstat64_import)(int, struct _stat64*) __asm__("__imp__fstat64") = Fstat64;
#endif
