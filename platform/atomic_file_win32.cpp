// The atomic writes on Windows: the same contract as on POSIX systems,
// written with the Win32 file calls (MoveFileEx replaces the old file in one
// step, or, without MOVEFILE_REPLACE_EXISTING, takes only a free name).

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/atomic_file.h"

namespace varnel {

namespace {

std::string WindowsError(const char* what, const std::string& path, DWORD code) {
    return std::string(what) + " " + path + ": Windows error " + std::to_string(code);
}

bool WriteAll(HANDLE file, std::string_view contents) {
    size_t done = 0;
    while (done < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, contents.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

// The contents in a new temporary file beside `path`, flushed when asked.
// Its name, or empty with `error` set.
std::string WriteTemporary(const std::string& path, std::string_view contents, std::string* error, bool sync) {
    static unsigned counter = 0;
    const std::string temporary =
        path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = WindowsError("cannot create", path, ::GetLastError());
        return {};
    }
    const bool written = WriteAll(file, contents) && (!sync || ::FlushFileBuffers(file));
    const DWORD code = ::GetLastError();
    const bool closed = ::CloseHandle(file) != 0;
    if (!written || !closed) {
        if (error) *error = WindowsError("cannot write", path, written ? ::GetLastError() : code);
        ::DeleteFileA(temporary.c_str());
        return {};
    }
    return temporary;
}

using FinalPathName = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);

// What an existing path names. A device (NUL, CON, a COM port) or a pipe is
// written as it is, in place; a symbolic link is followed to the file it
// names, whose folder then gets the temporary file. False when the path was
// written or refused here (`written` says which).
bool Examine(std::string& path, std::string_view contents, std::string* error, bool& written) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;  // a new file, or one the write reports on
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        written = WriteAll(file, contents);
        const DWORD code = ::GetLastError();
        ::CloseHandle(file);
        if (!written && error) *error = WindowsError("cannot write", path, code);
        return false;
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // Symbolic links came with Windows Vista, and so did the call that
        // names the file behind one.
        const auto finalPathName = reinterpret_cast<FinalPathName>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
        char target[MAX_PATH * 4];
        const DWORD n = finalPathName ? finalPathName(file, target, sizeof target, 0) : 0;
        if (n > 0 && n < sizeof target) path.assign(target, n);
    }
    ::CloseHandle(file);
    return true;
}

}  // namespace

Result<> WriteFileAtomically(const std::string& path, std::string_view contents, bool sync) {
    std::string target = path;
    std::string error;
    bool written = false;
    if (!Examine(target, contents, &error, written)) {
        if (written) return {};
        return Failure{error};
    }
    const std::string temporary = WriteTemporary(target, contents, &error, sync);
    if (temporary.empty()) return Failure{error};
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (sync ? MOVEFILE_WRITE_THROUGH : 0);
    if (!::MoveFileExA(temporary.c_str(), target.c_str(), flags)) {
        Failure failure{WindowsError("cannot replace", path, ::GetLastError())};
        ::DeleteFileA(temporary.c_str());
        return failure;
    }
    return {};
}

Result<> WriteNewFile(const std::string& path, std::string_view contents, bool* taken) {
    if (taken) *taken = false;
    std::string error;
    const std::string temporary = WriteTemporary(path, contents, &error, true);
    if (temporary.empty()) return Failure{error};
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is in
    // use: the file takes the name only if it is still free.
    if (::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
    const DWORD code = ::GetLastError();
    ::DeleteFileA(temporary.c_str());
    if (taken) *taken = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    return Failure{WindowsError("cannot create", path, code)};
}

Result<> AppendLineDurably(const std::string& path, std::string_view line) {
    // Without FILE_WRITE_DATA every write goes to the end of the file.
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const auto fail = [&](const char* what) {
        const DWORD code = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        return Failure{path + ": " + what + ": Windows error " + std::to_string(code)};
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
    return {};
}

}  // namespace varnel
