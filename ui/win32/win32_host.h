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

private:
    MainWindow* m_window = nullptr;
    std::unique_ptr<WaitWindow> m_wait;
    std::function<void(HWND)> m_observer;
};

}  // namespace varnel::win32ui
