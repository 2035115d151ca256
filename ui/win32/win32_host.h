#pragma once
// The Win32 windows as the dialog logic's host: message boxes, the
// warning, the Update Information dialog, the wait window, the open-file
// dialog, the cursor and the main window's states.

#include <windows.h>

#include <functional>
#include <memory>

#include "platform/host.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/main_window.h"

namespace varnel::win32ui {

class Win32Host : public Host {
public:
    void SetWindow(MainWindow* window) { m_window = window; }
    // Sees the wait window's bar after every step.
    void SetProgressObserver(std::function<void(HWND bar)> observer) { m_observer = std::move(observer); }
    // Sees every change of the windows around the work (the main window's
    // state, the wait window shown or done): tests check that some window
    // of the program is always up and drawn.
    void SetStateObserver(std::function<void(const char* what)> observer) { m_stateObserver = std::move(observer); }
    // The wait window while it is up (kept up after its work until the
    // next window takes over).
    WaitWindow* Wait() const { return m_wait.get(); }

    MessageAnswer ShowMessage(const Message& message) override;
    bool ConfirmWarning(const std::string& heading, const std::string& message) override;
    bool ConfirmSummary(const std::string& text) override;
    ProgressBar& ShowWaitWindow(const std::string& message, const std::string& detail) override;
    void HideWaitWindow() override;
    std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
    void SetCursor(Cursor cursor) override;
    void SetMainWindow(bool visible, bool enabled) override;
    void Refresh(const DialogView& view) override;

    // The owner of the dialogs: the main window while it is shown, else none.
    HWND Owner() const;
    // Closes a wait window whose work ended, once the main window or the
    // next wait stands in its place: from the message loop when it is idle,
    // and before any other window opens.
    void FinishWait();

private:
    MainWindow* m_window = nullptr;
    std::unique_ptr<WaitWindow> m_wait;
    std::function<void(HWND)> m_observer;
    std::function<void(const char*)> m_stateObserver;
    // The wait window's work ended; it stays up until FinishWait, so that a
    // next image's wait follows without a moment with no window shown.
    bool m_waitEnding = false;
    // What the dialog logic last asked of the main window.
    bool m_mainVisible = true;
    bool m_mainEnabled = true;
    void Notify(const char* what) {
        if (m_stateObserver) m_stateObserver(what);
    }
};

}  // namespace varnel::win32ui
