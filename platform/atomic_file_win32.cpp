// The atomic writes on Windows: the same contract as on POSIX systems,
// written with the Win32 file calls. On Windows NT MoveFileEx replaces the
// old file in one step, or, without MOVEFILE_REPLACE_EXISTING, takes only a
// free name; on Windows 95, 98 and ME, where MoveFileEx is a stub, the old
// file moves aside and the new one takes its name (file_replace.h), and
// MoveFile takes only a free name.

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/atomic_file.h"
#include "platform/file_replace.h"

namespace varnel {

namespace {

bool IsWindows9x() { return (::GetVersion() & 0x80000000u) != 0; }

const ReplaceCalls& Win32Calls() {
    static const ReplaceCalls calls{
        [](const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; },
        [](const std::string& from, const std::string& to) { return ::MoveFileA(from.c_str(), to.c_str()) != 0; },
        [](const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }};
    return calls;
}

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
    HANDLE file =
        ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    // FILE_SHARE_DELETE is Windows NT's: Windows 9x refuses it.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (IsWindows9x() ? 0 : FILE_SHARE_DELETE);
    HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
        const auto finalPathName = reinterpret_cast<FinalPathName>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
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
    // What a crash left half done on Windows 9x comes first.
    if (Result<> recovered = RecoverReplace(Win32Calls(), target); !recovered) return recovered;
    const std::string temporary = WriteTemporary(target, contents, &error, sync);
    if (temporary.empty()) return Failure{error};
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (sync ? MOVEFILE_WRITE_THROUGH : 0);
    if (!IsWindows9x() && ::MoveFileExA(temporary.c_str(), target.c_str(), flags)) return {};
    const DWORD code = ::GetLastError();
    if (IsWindows9x() || code == ERROR_CALL_NOT_IMPLEMENTED) {
        const Result<> replaced = ReplaceInSteps(Win32Calls(), temporary, target);
        if (replaced) return {};
        const DWORD stepCode = ::GetLastError();
        ::DeleteFileA(temporary.c_str());
        return Failure{replaced.Reason() + ": Windows error " + std::to_string(stepCode)};
    }
    ::DeleteFileA(temporary.c_str());
    return Failure{WindowsError("cannot replace", path, code)};
}

Result<> WriteNewFile(const std::string& path, std::string_view contents, bool* taken) {
    if (taken) *taken = false;
    std::string error;
    const std::string temporary = WriteTemporary(path, contents, &error, true);
    if (temporary.empty()) return Failure{error};
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is in
    // use: the file takes the name only if it is still free.
    // MoveFile, like MoveFileEx without MOVEFILE_REPLACE_EXISTING, fails
    // when the name is taken.
    if (IsWindows9x() ? ::MoveFileA(temporary.c_str(), path.c_str())
                      : ::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH))
        return {};
    const DWORD code = ::GetLastError();
    ::DeleteFileA(temporary.c_str());
    if (taken) *taken = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    return Failure{WindowsError("cannot create", path, code)};
}

Result<> AppendLineDurably(const std::string& path, std::string_view line, const LineRotation& rotation) {
    if (rotation.rotateAt > 0) {
        // FindFirstFile gives the size on every Windows (GetFileAttributesEx
        // came after Windows 95).
        WIN32_FIND_DATAA data{};
        HANDLE found = ::FindFirstFileA(path.c_str(), &data);
        if (found != INVALID_HANDLE_VALUE) ::FindClose(found);
        if (found != INVALID_HANDLE_VALUE && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            // MoveFile never replaces a file, and fails while another process
            // has the file open (it is then renamed by a later append).
            if (size > 0 && size + line.size() + 2 > rotation.rotateAt)
                for (int attempt = 0; attempt < 100; ++attempt) {
                    if (::MoveFileA(path.c_str(), rotation.archiveName(attempt).c_str())) break;
                    const DWORD code = ::GetLastError();
                    if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) break;
                }
        }
    }
    // Without FILE_WRITE_DATA every write goes to the end of the file (on
    // Windows NT; Windows 9x knows only GENERIC_WRITE, and the write goes
    // where the file pointer was put, at the end).
    const bool nt = !IsWindows9x();
    HANDLE file =
        ::CreateFileA(path.c_str(), (nt ? FILE_APPEND_DATA : GENERIC_WRITE) | GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const auto fail = [&](const char* what) {
        const DWORD code = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        return Failure{path + ": " + what + ": Windows error " + std::to_string(code)};
    };
    if (file == INVALID_HANDLE_VALUE) return fail("cannot open");
    std::string text;
    // The file pointer, not an OVERLAPPED offset, which Windows 9x takes for
    // no file; GetFileSize, which Windows NT 4.0 has, not GetFileSizeEx.
    DWORD high = 0;
    const DWORD low = ::GetFileSize(file, &high);
    const uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
    if (!(low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) && size > 0) {
        LONG lastHigh = static_cast<LONG>((size - 1) >> 32);
        char last = '\n';
        DWORD read = 0;
        if (::SetFilePointer(file, static_cast<LONG>(size - 1), &lastHigh, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            ::ReadFile(file, &last, 1, &read, nullptr) && read == 1 && last != '\n')
            text = "\n";
    }
    LONG endHigh = 0;
    if (!nt && ::SetFilePointer(file, 0, &endHigh, FILE_END) == INVALID_SET_FILE_POINTER &&
        ::GetLastError() != NO_ERROR)
        return fail("cannot write");
    text.append(line).append(1, '\n');
    DWORD written = 0;
    if (!::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return fail("cannot write");
    if (written != text.size()) return fail("the line was written only in part");
    if (!::FlushFileBuffers(file)) return fail("cannot sync");
    ::CloseHandle(file);
    return {};
}

}  // namespace varnel
