// CInputFile over the Win32 file calls. A folder is told by its attributes
// before anything is opened; a device (NUL, CON, COM1), a pipe or a console
// opens, and is then told by its file type and refused.

#include <windows.h>

#include <algorithm>

#include "platform/file_replace.h"
#include "platform/input_file.h"

namespace varnel {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::string WindowsError(const char* what) {
    return std::string(what) + ": Windows error " + std::to_string(::GetLastError());
}

}  // namespace

void CInputFile::Close() {
    if (m_handle != -1) ::CloseHandle(AsHandle(m_handle));
    m_handle = -1;
}

bool CInputFile::Open(const std::string& path, uint64_t maxBytes) {
    Close();
    m_size = m_position = 0;
    m_bound = maxBytes;
    m_refusal = InputRefusal::None;
    m_reason.clear();
    // A replacement that a crash cut short on Windows 9x is finished or
    // undone before the file is read.
    const ReplaceCalls calls{
        [](const std::string& p) { return ::GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES; },
        [](const std::string& from, const std::string& to) { return ::MoveFileA(from.c_str(), to.c_str()) != 0; },
        [](const std::string& p) { return ::DeleteFileA(p.c_str()) != 0; }};
    // A file it cannot recover is refused below as any unreadable file.
    static_cast<void>(RecoverReplace(calls, path));
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(InputRefusal::Folder, "is a folder, not a file") == 0;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(InputRefusal::Missing, WindowsError("cannot open")) == 0;
    m_handle = reinterpret_cast<std::intptr_t>(file);
    switch (::GetFileType(file)) {
    case FILE_TYPE_DISK: break;
    case FILE_TYPE_CHAR: return Fail(InputRefusal::NotRegular, "is a device, not a regular file") == 0;
    case FILE_TYPE_PIPE: return Fail(InputRefusal::NotRegular, "is a pipe, not a regular file") == 0;
    default: return Fail(InputRefusal::NotRegular, "is not a regular file") == 0;
    }
    // GetFileSize, not GetFileSizeEx: Windows NT 4.0 and 9x lack the latter.
    DWORD high = 0;
    const DWORD low = ::GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
        return Fail(InputRefusal::Missing, WindowsError("cannot open")) == 0;
    const uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
    if (size > maxBytes) return Fail(InputRefusal::TooLarge, TooLargeReason(size, maxBytes)) == 0;
    m_size = size;
    return true;
}

std::ptrdiff_t CInputFile::ReadAt(uint64_t offset, char* buffer, size_t size) {
    if (m_handle == -1) return -1;
    // The file pointer, not an OVERLAPPED offset: Windows 9x takes none for
    // a file.
    LONG high = static_cast<LONG>(offset >> 32);
    if (::SetFilePointer(AsHandle(m_handle), static_cast<LONG>(offset), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        ::GetLastError() != NO_ERROR)
        return Fail(InputRefusal::ReadFailed, WindowsError("cannot read"));
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!::ReadFile(AsHandle(m_handle), buffer, chunk, &read, nullptr))
        return Fail(InputRefusal::ReadFailed, WindowsError("cannot read"));
    if (offset + read > m_bound)
        return Fail(InputRefusal::ReadFailed, "grew past " + std::to_string(m_bound) + " bytes while it was read");
    return static_cast<std::ptrdiff_t>(read);
}

std::ptrdiff_t CInputFile::Read(char* buffer, size_t size) {
    if (m_handle == -1) return -1;
    // One byte past the bound is asked for, so that a file that grew is
    // noticed rather than cut.
    const uint64_t room = m_bound + 1 - m_position;
    const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(std::min<size_t>(size, 1u << 30), room));
    DWORD read = 0;
    if (!::ReadFile(AsHandle(m_handle), buffer, chunk, &read, nullptr))
        return Fail(InputRefusal::ReadFailed, WindowsError("cannot read"));
    m_position += read;
    if (m_position > m_bound)
        return Fail(InputRefusal::ReadFailed, "grew past " + std::to_string(m_bound) + " bytes while it was read");
    return static_cast<std::ptrdiff_t>(read);
}

}  // namespace varnel
