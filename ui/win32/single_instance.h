#pragma once
// One Varnel window per user session: a named mutex taken first, then the
// running instance's main window (found by its own window class and its
// title) takes a later start's files, one WM_COPYDATA each, in order.

#include <windows.h>

#include <string>
#include <vector>

namespace varnel::win32ui {

class SingleInstance {
public:
    enum class Role { First, HandedOver, Failed };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // First: this process holds the mutex and shows the window. HandedOver:
    // the running instance was brought to the front and took `files`
    // (absolute paths). `error` says why on Failed.
    Role Start(const std::vector<std::string>& files, std::string* error);

    // The running instance's main window, or none.
    static HWND FindRunning();
    static bool HandOver(HWND window, const std::vector<std::string>& files, std::string* error);

private:
    HANDLE m_mutex = nullptr;
};

}  // namespace varnel::win32ui
