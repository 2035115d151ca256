#pragma once
// The Qt windows as the dialog logic's host: message boxes, the warning,
// the Update Information dialog, the wait window, the open-file dialog, the
// cursor and the main window's states.

#include <QPointer>
#include <functional>
#include <memory>

#include "platform/host.h"
#include "ui/qt/dialogs.h"

class QWidget;

namespace varnel::qt {

class MainWindow;

class QtHost : public Host {
public:
    QtHost();
    ~QtHost() override;

    void SetWindow(MainWindow* window) { m_window = window; }
    // True while the card is being programmed behind the wait window.
    bool Busy() const { return m_busy; }
    // Sees the wait window's bar after every step.
    void SetProgressObserver(std::function<void(const QProgressBar&)> observer) { m_observer = std::move(observer); }
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

    // The owner of the dialogs: the main window while it is shown (its
    // controls may be disabled, the window never is), else none.
    QWidget* Owner() const;

private:
    QPointer<MainWindow> m_window;
    std::unique_ptr<WaitWindow> m_wait;
    std::function<void(const QProgressBar&)> m_observer;
    Cursor m_cursor = Cursor::Arrow;
    bool m_busy = false;
};

// The caption a message box shows: its own, else the program's name.
QString MessageCaption(const Message& message);
// The width a window needs for its title bar to show this caption whole.
int CaptionWidth(const QString& caption);

}  // namespace varnel::qt
