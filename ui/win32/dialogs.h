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
// The main window's message: a wait window whose work ended closes now.
inline constexpr UINT kFinishWaitMessage = WM_APP + 1;

// Draws a shown window and its controls now (the card may keep the thread
// busy before the next message is taken).
void Redraw(HWND window);
// A window centred over another (the main window, even while hidden for
// the work), else on the primary monitor's work area; kept on the monitor.
void CentreOver(HWND window, HWND over);
// A screen reader names a control that shows no text of its own (an edit
// box, a list) by the label before it in the tab order: this puts an
// invisible label with `name` just before `control`.
void NameForScreenReaders(HWND control, const std::string& name);
// MessageBoxA, the box centred over `over` rather than on the screen.
int RunMessageBox(HWND owner, HWND over, const std::string& text, const std::string& caption, UINT flags);

// A message with an OK button whose lines stay whole (paths): in a
// read-only field the user can copy, the box as wide as its longest line
// where the screen allows. `icon` is a system icon (IDI_...) or none.
bool NeedsWideMessage(const std::string& text);
void RunWideMessage(HWND owner, HWND over, const std::string& text, const std::string& caption, LPCSTR icon);

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
    // Centred over `over` (the main window, hidden during the work).
    WaitWindow(const std::string& message, const std::string& detail, HWND over);
    ~WaitWindow() override;
    WaitWindow(const WaitWindow&) = delete;
    WaitWindow& operator=(const WaitWindow&) = delete;

    void SetRange(int low, int high) override;
    void SetPosition(int position) override;
    // The same window for the next work: new texts, the bar at its start.
    void Reset(const std::string& message, const std::string& detail);
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
