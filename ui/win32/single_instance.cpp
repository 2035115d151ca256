#include "ui/win32/single_instance.h"

#include <shellapi.h>

#include "ui/win32/resource.h"
#include "ui/win32/ansi_text.h"

namespace varnel::win32ui {

namespace {

// Per session: another user's instance is never reached (window messages
// stay within one desktop session as well). Before Windows 2000 there are no
// sessions, nor the "Local\\" name space.
const char* MutexName() {
    const DWORD version = ::GetVersion();
    const bool sessions = !(version & 0x80000000u) && LOBYTE(LOWORD(version)) >= 5;
    return sessions ? "Local\\Varnel.SingleInstance" : "Varnel.SingleInstance";
}
// How long a later start waits for the first one's window.
constexpr DWORD kWaitForWindowMs = 30000;

}  // namespace

SingleInstance::~SingleInstance() {
    if (m_mutex) {
        ::ReleaseMutex(m_mutex);
        ::CloseHandle(m_mutex);
    }
}

HWND SingleInstance::FindRunning() { return ::FindWindowA("" VARNEL_MAIN_CLASS, "Varnel"); }

bool SingleInstance::HandOver(HWND window, const std::vector<std::string>& files, std::string* error) {
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(window);
    const int words = __argc;
    for (const std::string& file : files) {
        // The argument's bytes (ANSI code page) and a terminating zero; each
        // message is handled before the next is sent.
        std::string bytes = file;
        COPYDATASTRUCT data{};
        data.dwData = static_cast<ULONG_PTR>(words);
        data.cbData = static_cast<DWORD>(bytes.size() + 1);
        data.lpData = bytes.data();
        if (!::SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data))) {
            if (error) *error = "The running Varnel did not take " + file + ".";
            return false;
        }
    }
    return true;
}

SingleInstance::Role SingleInstance::Start(const std::vector<std::string>& files, std::string* error) {
    m_mutex = ::CreateMutexA(nullptr, TRUE, MutexName());
    if (!m_mutex) {
        if (error)
            *error = "Cannot make the single-instance mutex (Windows error " + std::to_string(::GetLastError()) + ").";
        return Role::Failed;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return Role::First;
    // Another start holds it: its window takes the files; or, when it ends
    // first, this start becomes the first.
    // GetTickCount wraps after 49 days: the time waited is a difference.
    const DWORD started = ::GetTickCount();
    while (::GetTickCount() - started < kWaitForWindowMs) {
        if (HWND window = FindRunning()) return HandOver(window, files, error) ? Role::HandedOver : Role::Failed;
        const DWORD waited = ::WaitForSingleObject(m_mutex, 50);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return Role::First;
    }
    ::CloseHandle(m_mutex);
    m_mutex = nullptr;
    if (error) *error = "Another Varnel is starting, but its window did not appear.";
    return Role::Failed;
}

}  // namespace varnel::win32ui
