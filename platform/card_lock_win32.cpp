// The card lock on Windows: a lock (LockFile, which every release has:
// LockFileEx is a stub on Windows 9x) on one byte of the lock file far past
// its text, which holds the holder's process id and stays readable to the
// run that is refused.

#include "platform/card_lock.h"

#include <windows.h>

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/state_directory.h"

namespace varnel {

namespace {

// The locked byte: past any text the file holds. Windows 9x knows only
// 32-bit offsets, so there it is the last byte below 2 GiB.
constexpr DWORD kLockOffsetHigh = 1;
constexpr DWORD kLockOffset9x = 0x7FFFFFFF;

bool IsWindows9x() { return (GetVersion() & 0x80000000u) != 0; }
DWORD LockOffsetLow() { return IsWindows9x() ? kLockOffset9x : 0; }
DWORD LockOffsetHigh() { return IsWindows9x() ? 0 : kLockOffsetHigh; }

std::string SystemMessage(DWORD code) {
    char text[256] = {};
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                        nullptr))
        return "error " + std::to_string(code);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

// The process id the holder noted, 0 when there is none yet.
long ReadHolder(HANDLE file) {
    char text[32] = {};
    DWORD read = 0;
    // The file pointer, not an OVERLAPPED offset: Windows 9x takes none for
    // a file.
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
    if (!ReadFile(file, text, sizeof text - 1, &read, nullptr)) return 0;
    return std::strtol(text, nullptr, 10);
}

}  // namespace

CardLock::Attempt CardLock::Take(const std::filesystem::path& directory, const std::string& card,
                                 bool /*probe: locked as a run's here*/) {
    Release();
    std::error_code ec;
    files::CreateDirectories(directory.string(), ec);
    const std::filesystem::path path = LockFile(directory, card);
    // FILE_SHARE_DELETE is Windows NT's: Windows 9x refuses it.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (IsWindows9x() ? 0 : FILE_SHARE_DELETE);
    HANDLE file = CreateFileA(path.string().c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {Outcome::Failed, 0,
                path.string() + ": cannot open the card's lock file: " + SystemMessage(GetLastError())};
    // LockFile is exclusive and fails at once when another holds the byte.
    if (!::LockFile(file, LockOffsetLow(), LockOffsetHigh(), 1, 0)) {
        const DWORD code = GetLastError();
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            CloseHandle(file);
            return {Outcome::Failed, 0, path.string() + ": cannot lock the card's lock file: " + SystemMessage(code)};
        }
        // The holder notes its id just after taking the lock.
        long id = 0;
        for (int attempt = 0; attempt < 20 && id == 0; ++attempt) {
            id = ReadHolder(file);
            if (id == 0) Sleep(10);
        }
        CloseHandle(file);
        return {Outcome::Held, id, {}};
    }
    const std::string text = std::to_string(GetCurrentProcessId()) + "\r\n" + card + "\r\n";
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    m_handle = reinterpret_cast<intptr_t>(file);
    return {Outcome::Taken, 0, {}};
}

// Windows keeps them in the user's state folder for now.
std::filesystem::path CardLock::SystemDirectory() { return StateDirectory() / "locks"; }

void CardLock::Release() {
    if (m_handle == kNone) return;
    HANDLE file = reinterpret_cast<HANDLE>(m_handle);
    m_handle = kNone;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    UnlockFile(file, LockOffsetLow(), LockOffsetHigh(), 1, 0);
    CloseHandle(file);
}

}  // namespace varnel
