#include "ui/win32/dialogs.h"

#include <commctrl.h>
#include <shellapi.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "ui/varnel_dlg.h"
#include "ui/win32/resource.h"
#include "ui/win32/ansi_text.h"
#include "update/history.h"
#include "update/history_text.h"
#include "platform/library_path_win32.h"

namespace varnel::win32ui {

namespace {

HINSTANCE Instance() { return ::GetModuleHandleA(nullptr); }

void SetText(HWND dialog, int id, const std::string& text) { ::SetDlgItemTextA(dialog, id, text.c_str()); }

// "\n" as the edit controls want it: "\r\n".
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

// The work area of the monitor nearest a point: MonitorFromPoint and
// GetMonitorInfoA where the system has them (98, 2000 and later: looked up),
// else the one screen's work area.
RECT WorkArea(POINT point, DWORD which) {
    using FromPointFn = HMONITOR(WINAPI*)(POINT, DWORD);
    using InfoFn = BOOL(WINAPI*)(HMONITOR, LPMONITORINFO);
    const HMODULE user = ::GetModuleHandleA("user32.dll");
    const auto fromPoint =
        reinterpret_cast<FromPointFn>(reinterpret_cast<void*>(::GetProcAddress(user, "MonitorFromPoint")));
    const auto info = reinterpret_cast<InfoFn>(reinterpret_cast<void*>(::GetProcAddress(user, "GetMonitorInfoA")));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (fromPoint && info && info(fromPoint(point, which), &monitor)) return monitor.rcWork;
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

// A window centred on a point, kept on that point's monitor.
void CentreOn(HWND window, POINT point) {
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const RECT area = WorkArea(point, MONITOR_DEFAULTTONEAREST);
    int x = point.x - width / 2, y = point.y - height / 2;
    x = std::max<int>(area.left, std::min<int>(x, area.right - width));
    y = std::max<int>(area.top, std::min<int>(y, area.bottom - height));
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The message box being opened is centred over this window.
HWND g_boxOver = nullptr;
HHOOK g_boxHook = nullptr;

LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char name[16] = {};
        ::GetClassNameA(box, name, 16);
        if (lstrcmpA(name, "#32770") == 0 && g_boxHook) {
            CentreOver(box, g_boxOver);
            ::UnhookWindowsHookEx(g_boxHook);
            g_boxHook = nullptr;
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void Redraw(HWND window) {
    if (window && ::IsWindowVisible(window))
        ::RedrawWindow(window, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void CentreOver(HWND window, HWND over) {
    RECT rect;
    if (over && ::IsWindow(over) && !::IsIconic(over) && ::GetWindowRect(over, &rect) && rect.right > rect.left) {
        CentreOn(window, POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
        return;
    }
    const RECT area = WorkArea(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    CentreOn(window, POINT{(area.left + area.right) / 2, (area.top + area.bottom) / 2});
}

void NameForScreenReaders(HWND control, const std::string& name) {
    HWND parent = ::GetParent(control);
    HWND label = ::CreateWindowExA(0, "STATIC", name.c_str(), WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATIC)), Instance(), nullptr);
    if (!label) return;
    // Just before the control: after the one before it, or first.
    HWND before = ::GetWindow(control, GW_HWNDPREV);
    ::SetWindowPos(label, before ? before : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

int RunMessageBox(HWND owner, HWND over, const std::string& text, const std::string& caption, UINT flags) {
    g_boxOver = over;
    g_boxHook = ::SetWindowsHookExA(WH_CBT, BoxHook, nullptr, ::GetCurrentThreadId());
    const int answer = ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
    if (g_boxHook) ::UnhookWindowsHookEx(g_boxHook);
    g_boxHook = nullptr;
    return answer;
}

namespace {

// The state a dialog was started with (DialogBoxParam's last argument),
// kept in its DWLP_USER from WM_INITDIALOG on.
template <class State>
State* DialogState(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return reinterpret_cast<State*>(::GetWindowLongPtrA(dialog, DWLP_USER));
}

struct WideMessageState {
    std::string text;  // with CR LF
    std::string caption;
    LPCSTR icon;
    HWND over;
};

// The text's lines as the dialog font draws them.
SIZE TextSize(HWND window, const std::string& text) {
    HDC dc = ::GetDC(window);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(window, WM_GETFONT, 0, 0)));
    RECT need{0, 0, 0, 0};
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return SIZE{need.right, need.bottom};
}

INT_PTR CALLBACK WideMessageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = DialogState<WideMessageState>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowTextA(dialog, state->caption.c_str());
        HWND text = ::GetDlgItem(dialog, IDC_MESSAGE_TEXT), picture = ::GetDlgItem(dialog, IDC_MESSAGE_ICON);
        HWND ok = ::GetDlgItem(dialog, IDOK);
        ::SetWindowTextA(text, state->text.c_str());
        RECT units{7, 7, 29, 0};  // the margin, the gap, the icon's column
        ::MapDialogRect(dialog, &units);
        const int margin = units.left, gap = units.top;
        int left = margin;
        if (state->icon) {
            ::SendMessageA(picture, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconA(nullptr, state->icon)), 0);
            left = margin + units.right;
        } else {
            ::ShowWindow(picture, SW_HIDE);  // no empty column where no icon is
        }
        // As wide as the longest line, within the work area (beyond it the
        // field scrolls).
        const SIZE need = TextSize(text, state->text);
        RECT button;
        ::GetWindowRect(ok, &button);
        const int buttonWidth = button.right - button.left, buttonHeight = button.bottom - button.top;
        RECT frame{0, 0, 0, 0};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(::GetWindowLongA(dialog, GWL_EXSTYLE)));
        RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        const int most = (area.right - area.left) - (frame.right - frame.left) - left - margin;
        const int width = std::min<int>(need.cx + 8, most);
        const int height = std::min<int>(need.cy + 4, (area.bottom - area.top) / 2);
        const int clientWidth = left + std::max<int>(width, buttonWidth) + margin;
        const int clientHeight = margin + height + gap + buttonHeight + margin;
        ::SetWindowPos(text, nullptr, left, margin, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        ::SetWindowPos(ok, nullptr, clientWidth - margin - buttonWidth, margin + height + gap, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::SetWindowPos(dialog, nullptr, 0, 0, clientWidth + frame.right - frame.left,
                       clientHeight + frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        CentreOver(dialog, state->over);
        ::SetFocus(ok);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) ::EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

struct WarningState {
    std::string heading;
    std::string message;
    HFONT big = nullptr;
};

INT_PTR CALLBACK WarningProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = DialogState<WarningState>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        LOGFONTA font{};
        ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
        font.lfHeight = font.lfHeight * 3 / 2;
        state->big = ::CreateFontIndirectA(&font);
        CentreOver(dialog, ::GetWindow(dialog, GW_OWNER));
        ::SendDlgItemMessageA(dialog, IDC_WARNING_HEADING, WM_SETFONT, reinterpret_cast<WPARAM>(state->big), FALSE);
        SetText(dialog, IDC_WARNING_HEADING, state->heading);
        SetText(dialog, IDC_WARNING_MESSAGE, state->message);
        ::SetTimer(dialog, kShowTimer, kShowPeriodMs, nullptr);
        ::SetTimer(dialog, kBlankTimer, kBlankPeriodMs, nullptr);
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == kShowTimer || wParam == kBlankTimer) {
            SetText(dialog, IDC_WARNING_HEADING, wParam == kShowTimer ? state->heading : " ");
            ::UpdateWindow(::GetDlgItem(dialog, IDC_WARNING_HEADING));
        }
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            ::KillTimer(dialog, kShowTimer);
            ::KillTimer(dialog, kBlankTimer);
            ::EndDialog(dialog, LOWORD(wParam));
        }
        return TRUE;
    case WM_DESTROY:
        if (state && state->big) ::DeleteObject(state->big);
        return FALSE;
    }
    return FALSE;
}

struct SummaryState {
    std::string text;  // with CR LF
    POINT first{};     // the first size, the smallest the user can make it
    // The template's room right of and under the text box, under and right
    // of the buttons, kept as the window grows.
    int textRight = 0, textBottom = 0, buttonsBottom = 0, cancelRight = 0;
};

RECT ChildRect(HWND dialog, int id) {
    RECT rect;
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The summary's text takes the room; UPDATE stays left, CANCEL right,
// Clipboard halfway between them, the buttons on the bottom edge.
void LayoutSummary(HWND dialog, const SummaryState& state) {
    RECT client;
    ::GetClientRect(dialog, &client);
    const RECT text = ChildRect(dialog, IDC_SUMMARY), update = ChildRect(dialog, IDOK);
    const RECT clip = ChildRect(dialog, IDC_CLIPBOARD), cancel = ChildRect(dialog, IDCANCEL);
    const int y = client.bottom - state.buttonsBottom - (update.bottom - update.top);
    const int cancelX = client.right - state.cancelRight - (cancel.right - cancel.left);
    const int clipX = (update.right + cancelX) / 2 - (clip.right - clip.left) / 2;
    const auto place = [dialog](int id, int x, int top, int width, int height) {
        ::SetWindowPos(::GetDlgItem(dialog, id), nullptr, x, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(IDC_SUMMARY, text.left, text.top, client.right - state.textRight - text.left,
          client.bottom - state.textBottom - text.top);
    place(IDOK, update.left, y, update.right - update.left, update.bottom - update.top);
    place(IDC_CLIPBOARD, clipX, y, clip.right - clip.left, clip.bottom - clip.top);
    place(IDCANCEL, cancelX, y, cancel.right - cancel.left, cancel.bottom - cancel.top);
    ::InvalidateRect(dialog, nullptr, TRUE);
}

// No button of the summary is the default one: Enter elsewhere than on a
// button asks for this id, which nothing has.
constexpr int kNoDefault = 0x7FFE;
constexpr UINT_PTR kClipboardTimer = 1;

INT_PTR CALLBACK SummaryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = DialogState<SummaryState>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        HWND edit = ::GetDlgItem(dialog, IDC_SUMMARY);
        ::SendMessageA(edit, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(state->text.size() + 1024));
        NameForScreenReaders(edit, "Update Information");
        ::SetWindowTextA(edit, state->text.c_str());
        ::SendMessageA(dialog, DM_SETDEFID, kNoDefault, 0);
        CentreOver(dialog, ::GetWindow(dialog, GW_OWNER));
        RECT rect;
        ::GetWindowRect(dialog, &rect);
        state->first = POINT{rect.right - rect.left, rect.bottom - rect.top};
        RECT client;
        ::GetClientRect(dialog, &client);
        const RECT text = ChildRect(dialog, IDC_SUMMARY), update = ChildRect(dialog, IDOK),
                   cancel = ChildRect(dialog, IDCANCEL);
        state->textRight = client.right - text.right;
        state->textBottom = client.bottom - text.bottom;
        state->buttonsBottom = client.bottom - update.bottom;
        state->cancelRight = client.right - cancel.right;
        // The dialog manager would select all the text of the first edit.
        ::SetFocus(edit);
        ::SendMessageA(edit, EM_SETSEL, 0, 0);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL: ::EndDialog(dialog, LOWORD(wParam)); return TRUE;
        case IDC_CLIPBOARD: {
            // The whole text, whatever was selected; nothing stays selected.
            HWND edit = ::GetDlgItem(dialog, IDC_SUMMARY);
            ::SendMessageA(edit, EM_HIDESELECTION, TRUE, 0);
            ::SendMessageA(edit, EM_SETSEL, 0, -1);
            bool copied = false;
            if (::OpenClipboard(dialog)) {
                ::EmptyClipboard();
                const size_t bytes = (state->text.size() + 1) * sizeof(char);
                if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
                    std::memcpy(::GlobalLock(memory), state->text.c_str(), bytes);
                    ::GlobalUnlock(memory);
                    copied = ::SetClipboardData(CF_TEXT, memory) != nullptr;
                    if (!copied) ::GlobalFree(memory);
                }
                ::CloseClipboard();
            }
            ::SendMessageA(edit, EM_SETSEL, 0, 0);
            ::SendMessageA(edit, EM_HIDESELECTION, FALSE, 0);
            // The button says it was done, for a moment.
            SetText(dialog, IDC_CLIPBOARD, copied ? "Copied" : "Not copied");
            ::SetTimer(dialog, kClipboardTimer, 1500, nullptr);
            return TRUE;
        }
        }
        return FALSE;
    case WM_TIMER:
        if (wParam != kClipboardTimer) return FALSE;
        ::KillTimer(dialog, kClipboardTimer);
        SetText(dialog, IDC_CLIPBOARD, "Clipboard");
        return TRUE;
    case WM_SIZE:
        if (state && state->first.x > 0) LayoutSummary(dialog, *state);
        return TRUE;
    case WM_GETMINMAXINFO:
        if (state && state->first.x > 0) reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = state->first;
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CentreOver(dialog, ::GetWindow(dialog, GW_OWNER));
        SetText(dialog, IDC_ABOUT_VERSION, Display(CVarnelDlg::AboutVersionText()));
        ::SetFocus(::GetDlgItem(dialog, IDOK));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// A record's UTC time ("2026-03-01T03:35:13Z") in the user's local time
// and date format; anything else as it is.
std::string LocalTime(const std::string& utc) {
    SYSTEMTIME time{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second, &zone) !=
            7 ||
        zone != 'Z')
        return utc;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    FILETIME universal, local;
    SYSTEMTIME shown;
    if (!::SystemTimeToFileTime(&time, &universal) || !::FileTimeToLocalFileTime(&universal, &local) ||
        !::FileTimeToSystemTime(&local, &shown))
        return utc;
    char date[64] = {}, clock[64] = {};
    if (!::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &shown, nullptr, date, sizeof date) ||
        !::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &shown, nullptr, clock, sizeof clock))
        return utc;
    return std::string(date) + " " + clock;
}

// The records are read a page at a time, newest first, as the list is
// scrolled (or the selection moved) near its end: a long history opens at
// once, and only the records scrolled to are kept.
struct HistoryState {
    std::filesystem::path path;
    std::vector<HistoryRecord> records;
    std::unique_ptr<HistoryReader> reader;
    std::optional<std::string> failure;
    std::vector<std::string> warnings;
    bool morePosted = false;  // a WM_READ_MORE waits in the queue
};
constexpr size_t kHistoryPage = 200;
constexpr UINT WM_READ_MORE = WM_APP + 1;

// The next page of records, as rows at the list's end.
void ReadMoreHistory(HWND dialog, HistoryState& state) {
    if (!state.reader || state.reader->Done()) return;
    HWND list = ::GetDlgItem(dialog, IDC_HISTORY_LIST);
    const size_t first = state.records.size();
    const Result<> read = state.reader->Read(
        [&state, first](std::string_view, HistoryRecord& record) {
            state.records.push_back(std::move(record));
            return state.records.size() - first < kHistoryPage;
        },
        [&state](const std::string& warning) { state.warnings.push_back(warning); });
    if (!read) state.failure = read.Reason();
    for (size_t r = first; r < state.records.size(); ++r)
        for (size_t c = 0; c < kHistoryColumns.size(); ++c) {
            std::string text = Display(HistoryColumnText(state.records[r], c));
            if (c == 0) text = LocalTime(text);
            LVITEMA item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(r);
            item.iSubItem = static_cast<int>(c);
            item.pszText = text.data();
            ::SendMessageA(list, c == 0 ? LVM_INSERTITEMA : LVM_SETITEMTEXTA, r, reinterpret_cast<LPARAM>(&item));
        }
    std::string note;
    if (state.failure) note = "The update history cannot be read: " + *state.failure;
    else if (state.records.empty()) note = NoHistoryText("", state.path) + ".";
    else note = "Select a run to see all it did. The runs recorded in " + state.path.string();
    if (!state.warnings.empty())
        note += "\n" + std::to_string(state.warnings.size()) + " damaged line(s) skipped: " + state.warnings.front();
    // The details box shows the note until a run is selected.
    if (ListView_GetNextItem(list, -1, LVNI_SELECTED) < 0)
        SetText(dialog, IDC_HISTORY_DETAILS, WithCrLf(Display(note)));
}

// Asks for the next page once the rows near the list's end are in view.
void ReadMoreWhenNearTheEnd(HWND dialog, HistoryState& state, int row = -1) {
    if (state.morePosted || !state.reader || state.reader->Done()) return;
    HWND list = ::GetDlgItem(dialog, IDC_HISTORY_LIST);
    const int shownTo = std::max(row, ListView_GetTopIndex(list) + ListView_GetCountPerPage(list));
    if (shownTo + static_cast<int>(kHistoryPage / 4) < static_cast<int>(state.records.size())) return;
    state.morePosted = ::PostMessageA(dialog, WM_READ_MORE, 0, 0) != 0;
}

// Shows the selected run's backup folder in the system's file manager.
void OpenBackupFolder(HWND dialog, const HistoryState& state) {
    const int selected = ListView_GetNextItem(::GetDlgItem(dialog, IDC_HISTORY_LIST), -1, LVNI_SELECTED);
    if (selected < 0 || static_cast<size_t>(selected) >= state.records.size()) return;
    const auto folder = HistoryBackupFolder(state.records[static_cast<size_t>(selected)]);
    if (!folder) return;
    const std::string name = folder->string();
    const auto say = [dialog, &name](const char* text) {
        ::MessageBoxA(dialog, ("The folder " + name + text).c_str(), "Backup Folder", MB_OK | MB_ICONWARNING);
    };
    std::error_code ec;
    if (!files::IsDirectory(name, ec)) return say(" no longer exists.");
    if (reinterpret_cast<INT_PTR>(::ShellExecuteA(dialog, "open", name.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) <= 32)
        say(" could not be opened.");
}

// A window larger than the work area of its owner's screen (a high DPI on
// a small screen) is made as large as that area, frame included: the list
// gives up the room, the details and the buttons keep their size and stay
// at the bottom.
void FitHistoryToScreen(HWND dialog) {
    RECT window;
    ::GetWindowRect(dialog, &window);
    HWND owner = ::GetWindow(dialog, GW_OWNER);
    RECT ownerRect{};
    POINT middle{0, 0};
    if (owner && ::GetWindowRect(owner, &ownerRect))
        middle = POINT{(ownerRect.left + ownerRect.right) / 2, (ownerRect.top + ownerRect.bottom) / 2};
    const RECT area = WorkArea(middle, owner ? MONITOR_DEFAULTTONEAREST : MONITOR_DEFAULTTOPRIMARY);
    const int dw = std::max<int>(0, (window.right - window.left) - (area.right - area.left));
    const int dh = std::max<int>(0, (window.bottom - window.top) - (area.bottom - area.top));
    if (dw == 0 && dh == 0) return;
    const auto shift = [dialog](int id, int dx, int dy, int grow, int growDown) {
        const RECT r = ChildRect(dialog, id);
        ::SetWindowPos(::GetDlgItem(dialog, id), nullptr, r.left + dx, r.top + dy,
                       std::max<int>(1, r.right - r.left + grow), std::max<int>(1, r.bottom - r.top + growDown),
                       SWP_NOZORDER | SWP_NOACTIVATE);
    };
    shift(IDC_HISTORY_LIST, 0, 0, -dw, -dh);
    shift(IDC_HISTORY_DETAILS, 0, -dh, -dw, 0);
    shift(IDC_HISTORY_OPEN_FOLDER, 0, -dh, 0, 0);
    shift(IDCANCEL, -dw, -dh, 0, 0);
    ::SetWindowPos(dialog, nullptr, 0, 0, (window.right - window.left) - dw, (window.bottom - window.top) - dh,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK HistoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = DialogState<HistoryState>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        FitHistoryToScreen(dialog);
        CentreOver(dialog, ::GetWindow(dialog, GW_OWNER));
        HWND list = ::GetDlgItem(dialog, IDC_HISTORY_LIST);
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
        const int widths[] = {120, 60, 100, 70, 220, 200};
        for (size_t c = 0; c < kHistoryColumns.size(); ++c) {
            std::string name = Display(kHistoryColumns[c]);
            LVCOLUMNA column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = name.data();
            column.cx = widths[c];
            ::SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column));
        }
        state->reader = std::make_unique<HistoryReader>(state->path);
        ReadMoreHistory(dialog, *state);
        // Each column as wide as its widest text or its heading; the last
        // takes what room is left, so that no empty area scrolls.
        int total = 0;
        for (size_t c = 0; c < kHistoryColumns.size(); ++c) {
            const int column = static_cast<int>(c);
            ListView_SetColumnWidth(list, column, LVSCW_AUTOSIZE);
            std::string heading = Display(kHistoryColumns[c]);
            const int width = std::max(ListView_GetColumnWidth(list, column),
                                       static_cast<int>(::SendMessageA(list, LVM_GETSTRINGWIDTHA, 0,
                                                                       reinterpret_cast<LPARAM>(heading.c_str()))) +
                                           16);
            ListView_SetColumnWidth(list, column, width);
            total += width;
        }
        RECT room;
        ::GetClientRect(list, &room);
        const int last = static_cast<int>(kHistoryColumns.size()) - 1;
        if (total < room.right)
            ListView_SetColumnWidth(list, last, ListView_GetColumnWidth(list, last) + room.right - total);
        ::SetFocus(list);
        return FALSE;
    }
    case WM_READ_MORE:
        if (state) {
            state->morePosted = false;
            ReadMoreHistory(dialog, *state);
        }
        return TRUE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        // Drawn (scrolled, resized): the rows in view may be near the end.
        if (state && header->idFrom == IDC_HISTORY_LIST && header->code == NM_CUSTOMDRAW &&
            reinterpret_cast<const NMCUSTOMDRAW*>(lParam)->dwDrawStage == CDDS_PREPAINT) {
            ReadMoreWhenNearTheEnd(dialog, *state);
            ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, CDRF_DODEFAULT);
            return TRUE;
        }
        if (state && header->idFrom == IDC_HISTORY_LIST && header->code == LVN_ITEMCHANGED)
            ReadMoreWhenNearTheEnd(dialog, *state, reinterpret_cast<const NMLISTVIEW*>(lParam)->iItem);
        if (header->idFrom == IDC_HISTORY_LIST && header->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            if ((change->uNewState & LVIS_SELECTED) && change->iItem >= 0 &&
                static_cast<size_t>(change->iItem) < state->records.size()) {
                const HistoryRecord& record = state->records[static_cast<size_t>(change->iItem)];
                SetText(dialog, IDC_HISTORY_DETAILS, WithCrLf(Display(HistoryDetailsText(record))));
                ::EnableWindow(::GetDlgItem(dialog, IDC_HISTORY_OPEN_FOLDER), HistoryBackupFolder(record).has_value());
            }
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_HISTORY_OPEN_FOLDER) {
            OpenBackupFolder(dialog, *state);
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) ::EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

// The wait window shows the wait cursor: it is up only while the card is
// programmed.
INT_PTR CALLBACK WaitProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message != WM_SETCURSOR) return FALSE;
    ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

}  // namespace

bool NeedsWideMessage(const std::string& text) {
    // A message box wraps lines at about half the screen: a line longer
    // than that, such as a backup's path, would break at its backslashes.
    size_t longest = 0, start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        longest = std::max(longest, end - start);
    longest = std::max(longest, text.size() - start);
    return longest > 60;
}

void RunWideMessage(HWND owner, HWND over, const std::string& text, const std::string& caption, LPCSTR icon) {
    WideMessageState state{WithCrLf(text), caption, icon, over};
    ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_MESSAGE), owner, WideMessageProc,
                      reinterpret_cast<LPARAM>(&state));
}

bool RunWarningDialog(HWND owner, const std::string& heading, const std::string& message) {
    WarningState state{Display(heading), Display(message)};
    return ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_WARNING), owner, WarningProc,
                             reinterpret_cast<LPARAM>(&state)) == IDOK;
}

bool RunSummaryDialog(HWND owner, const std::string& text) {
    // The rich edit box's class lives in riched20.dll, loaded once from the
    // system folder.
    static HMODULE richEdit = win32::LoadSystemLibrary("riched20.dll");
    (void)richEdit;
    SummaryState state{WithCrLf(Display(text))};
    return ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_INFO), owner, SummaryProc,
                             reinterpret_cast<LPARAM>(&state)) == IDOK;
}

void RunAboutDialog(HWND owner) { ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutProc, 0); }

void RunHistoryDialog(HWND owner, const std::filesystem::path& path) {
    HistoryState state;
    state.path = path;
    ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_HISTORY), owner, HistoryProc, reinterpret_cast<LPARAM>(&state));
}

WaitWindow::WaitWindow(const std::string& message, const std::string& detail, HWND over) {
    m_window = ::CreateDialogParamA(Instance(), MAKEINTRESOURCEA(IDD_WAIT), nullptr, WaitProc, 0);
    if (!m_window) return;
    ::SetWindowTextA(m_window, "Varnel");
    m_font = ::CreateFontA(20, 7, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH, "Arial");
    ::SendDlgItemMessageA(m_window, IDC_WAIT_MESSAGE, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    CentreOver(m_window, over);
    Reset(message, detail);
}

void WaitWindow::Reset(const std::string& message, const std::string& detail) {
    if (!m_window) return;
    SetText(m_window, IDC_WAIT_MESSAGE, Display(message.empty() ? std::string(" Please wait...") : message));
    SetText(m_window, IDC_WAIT_DETAIL, Display(detail));
    ::ShowWindow(::GetDlgItem(m_window, IDC_WAIT_DETAIL), detail.empty() ? SW_HIDE : SW_SHOWNA);
    HWND bar = ::GetDlgItem(m_window, IDC_WAIT_PROGRESS);
    ::SendMessageA(bar, PBM_SETRANGE32, 0, 100);
    ::SendMessageA(bar, PBM_SETPOS, 0, 0);
    ::SetWindowPos(m_window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
    Redraw(m_window);
    Pump();
}

WaitWindow::~WaitWindow() {
    if (m_window) ::DestroyWindow(m_window);
    if (m_font) ::DeleteObject(m_font);
}

void WaitWindow::Pump() {
    // Painting and sent messages (a second start's files) only: the user's
    // input waits for the end of the work.
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

void WaitWindow::SetRange(int low, int high) {
    HWND bar = ::GetDlgItem(m_window, IDC_WAIT_PROGRESS);
    ::SendMessageA(bar, PBM_SETRANGE32, static_cast<WPARAM>(low), high);
    ::UpdateWindow(bar);
    Pump();
}

void WaitWindow::SetPosition(int position) {
    HWND bar = ::GetDlgItem(m_window, IDC_WAIT_PROGRESS);
    ::SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    ::UpdateWindow(bar);
    if (m_observer) m_observer(bar);
    Pump();
}

}  // namespace varnel::win32ui
