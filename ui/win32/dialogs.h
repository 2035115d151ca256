#pragma once
// The small windows in native Win32 dialogs from varnel.rc: the warning
// before an update, the Update Information dialog, the wait window, About
// and the update history. They show what they are given and report the
// button pressed; none of them decides anything.

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/host.h"

namespace varnel::win32ui {

// "Download" (IDOK) or "Cancel"; the heading blinks: timer 1 (400 ms)
// shows it, timer 2 (1000 ms) blanks it.
bool RunWarningDialog(HWND owner, const std::string& heading, const std::string& message);
inline constexpr UINT kShowTimer = 1, kShowPeriodMs = 400, kBlankTimer = 2, kBlankPeriodMs = 1000;

// The summary in a read-only rich edit box; "UPDATE" (IDOK) accepts,
// "CANCEL" and Esc refuse, "Clipboard" copies the whole text. Enter presses
// only a button that has the focus.
bool RunSummaryDialog(HWND owner, const std::string& text);

void RunAboutDialog(HWND owner);
void RunHistoryDialog(HWND owner, const std::filesystem::path& path);

// The modeless wait window, frameless and centred: the message in bold
// over a progress bar, the detail line under it. It paints before the long
// work starts and at every step, taking only painting and sent messages in
// between (user input waits).
class WaitWindow : public ProgressBar {
public:
    WaitWindow(const std::string& message, const std::string& detail);
    ~WaitWindow() override;
    WaitWindow(const WaitWindow&) = delete;
    WaitWindow& operator=(const WaitWindow&) = delete;

    void SetRange(int low, int high) override;
    void SetPosition(int position) override;
    HWND Handle() const { return m_window; }
    // Sees the bar after every step (tests, screenshots).
    void SetObserver(std::function<void(HWND bar)> observer) { m_observer = std::move(observer); }

    // Paints what waits to be painted and answers sent messages.
    static void Pump();

private:
    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    std::function<void(HWND)> m_observer;
};

}  // namespace varnel::win32ui
