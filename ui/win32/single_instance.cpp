#include "ui/win32/single_instance.h"

#include <shellapi.h>

#include "ui/win32/resource.h"
#include "ui/win32/text.h"

namespace varnel::win32ui {

namespace {

// Per session: another user's instance is never reached (window messages
// stay within one desktop session as well).
constexpr wchar_t kMutexName[] = L"Local\\Varnel.SingleInstance";
// How long a later start waits for the first one's window.
constexpr DWORD kWaitForWindowMs = 30000;

}  // namespace

SingleInstance::~SingleInstance() {
    if (m_mutex) {
        ::ReleaseMutex(m_mutex);
        ::CloseHandle(m_mutex);
    }
}

HWND SingleInstance::FindRunning() { return ::FindWindowW(L"" VARNEL_MAIN_CLASS, L"Varnel"); }

bool SingleInstance::HandOver(HWND window, const std::vector<std::wstring>& files, std::wstring* error) {
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(window);
    int words = 0;
    ::LocalFree(::CommandLineToArgvW(::GetCommandLineW(), &words));
    for (const std::wstring& file : files) {
        // The argument's UTF-8 bytes and a terminating zero; each message is
        // handled before the next is sent.
        std::string bytes = Narrow(file, CP_UTF8);
        COPYDATASTRUCT data{};
        data.dwData = static_cast<ULONG_PTR>(words);
        data.cbData = static_cast<DWORD>(bytes.size() + 1);
        data.lpData = bytes.data();
        if (!::SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data))) {
            if (error) *error = L"The running Varnel did not take " + file + L".";
            return false;
        }
    }
    return true;
}

SingleInstance::Role SingleInstance::Start(const std::vector<std::wstring>& files, std::wstring* error) {
    m_mutex = ::CreateMutexW(nullptr, TRUE, kMutexName);
    if (!m_mutex) {
        if (error) *error = L"Cannot make the single-instance mutex (Windows error " + std::to_wstring(::GetLastError()) + L").";
        return Role::Failed;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return Role::First;
    // Another start holds it: its window takes the files; or, when it ends
    // first, this start becomes the first.
    const ULONGLONG until = ::GetTickCount64() + kWaitForWindowMs;
    while (::GetTickCount64() < until) {
        if (HWND window = FindRunning()) return HandOver(window, files, error) ? Role::HandedOver : Role::Failed;
        const DWORD waited = ::WaitForSingleObject(m_mutex, 50);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return Role::First;
    }
    ::CloseHandle(m_mutex);
    m_mutex = nullptr;
    if (error) *error = L"Another Varnel is starting, but its window did not appear.";
    return Role::Failed;
}

}  // namespace varnel::win32ui
