// WriteFileAtomically on Windows: the same contract as on POSIX systems,
// written with the Win32 file calls (MoveFileEx replaces the old file in one
// step).

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/atomic_file.h"

namespace varnel {

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string* error, bool sync) {
    const std::string temporary = path + ".tmp-" + std::to_string(::GetCurrentProcessId());
    HANDLE file = INVALID_HANDLE_VALUE;
    const auto fail = [&](const char* what) {
        const DWORD code = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        ::DeleteFileA(temporary.c_str());
        if (error) *error = std::string(what) + " " + path + ": Windows error " + std::to_string(code);
        return false;
    };
    file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail("cannot create");
    size_t done = 0;
    while (done < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, contents.data() + done, chunk, &written, nullptr) || written == 0)
            return fail("cannot write");
        done += written;
    }
    if (sync && !::FlushFileBuffers(file)) return fail("cannot write");
    if (!::CloseHandle(file)) {
        file = INVALID_HANDLE_VALUE;
        return fail("cannot write");
    }
    file = INVALID_HANDLE_VALUE;
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (sync ? MOVEFILE_WRITE_THROUGH : 0);
    if (!::MoveFileExA(temporary.c_str(), path.c_str(), flags)) return fail("cannot replace");
    return true;
}

bool AppendLineDurably(const std::string& path, std::string_view line, std::string* error) {
    // Without FILE_WRITE_DATA every write goes to the end of the file.
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const auto fail = [&](const char* what) {
        const DWORD code = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        if (error) *error = path + ": " + what + ": Windows error " + std::to_string(code);
        return false;
    };
    if (file == INVALID_HANDLE_VALUE) return fail("cannot open");
    std::string text;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        OVERLAPPED at{};
        const LONGLONG lastByte = size.QuadPart - 1;
        at.Offset = static_cast<DWORD>(lastByte);
        at.OffsetHigh = static_cast<DWORD>(lastByte >> 32);
        char last = '\n';
        DWORD read = 0;
        if (::ReadFile(file, &last, 1, &read, &at) && read == 1 && last != '\n') text = "\n";
    }
    text.append(line).append(1, '\n');
    DWORD written = 0;
    if (!::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return fail("cannot write");
    if (written != text.size()) return fail("the line was written only in part");
    if (!::FlushFileBuffers(file)) return fail("cannot sync");
    ::CloseHandle(file);
    return true;
}

}  // namespace varnel
