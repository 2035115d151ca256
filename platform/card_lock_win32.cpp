// The card lock on Windows: a lock (LockFileEx) on one byte of the lock
// file far past its text, which holds the holder's process id and stays
// readable to the run that is refused.

#include "platform/card_lock.h"

#include <windows.h>

#include <cstdlib>

#include "platform/state_directory.h"

namespace varnel {

namespace {

// The locked byte: past any text the file holds.
constexpr DWORD kLockOffsetHigh = 1;

std::string SystemMessage(DWORD code) {
    char text[256] = {};
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                        sizeof text, nullptr))
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
    OVERLAPPED at{};
    if (!ReadFile(file, text, sizeof text - 1, &read, &at)) return 0;
    return std::strtol(text, nullptr, 10);
}

}  // namespace

CardLock::Result CardLock::Take(const std::filesystem::path& directory, const std::string& card, long* holder,
                                std::string* error, bool /*probe: locked as a run's here*/) {
    Release();
    if (holder) *holder = 0;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const std::filesystem::path path = LockFile(directory, card);
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = path.string() + ": cannot open the card's lock file: " + SystemMessage(GetLastError());
        return Result::Failed;
    }
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        const DWORD code = GetLastError();
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            if (error) *error = path.string() + ": cannot lock the card's lock file: " + SystemMessage(code);
            CloseHandle(file);
            return Result::Failed;
        }
        // The holder notes its id just after taking the lock.
        long id = 0;
        for (int attempt = 0; attempt < 20 && id == 0; ++attempt) {
            id = ReadHolder(file);
            if (id == 0) Sleep(10);
        }
        if (holder) *holder = id;
        CloseHandle(file);
        return Result::Held;
    }
    const std::string text = std::to_string(GetCurrentProcessId()) + "\r\n" + card + "\r\n";
    OVERLAPPED at{};
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, &at);
    m_handle = reinterpret_cast<intptr_t>(file);
    return Result::Taken;
}

// Windows keeps them in the user's state folder for now.
std::filesystem::path CardLock::SystemDirectory() { return StateDirectory() / "locks"; }

void CardLock::Release() {
    if (m_handle == kNone) return;
    HANDLE file = reinterpret_cast<HANDLE>(m_handle);
    m_handle = kNone;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &range);
    CloseHandle(file);
}

}  // namespace varnel
