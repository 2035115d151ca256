#include "ui/win32/dialogs.h"

#include <commctrl.h>
#include <shellapi.h>
#include <richedit.h>

#include <filesystem>
#include <vector>

#include "ui/varnel_dlg.h"
#include "ui/win32/resource.h"
#include "ui/win32/text.h"
#include "update/history.h"
#include "update/history_text.h"

namespace varnel::win32ui {

namespace {

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

void SetText(HWND dialog, int id, const std::wstring& text) { ::SetDlgItemTextW(dialog, id, text.c_str()); }

// "\n" as the edit controls want it: "\r\n".
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += text[i];
    }
    return out;
}

// A window centred on a point, kept on that point's monitor.
void CentreOn(HWND window, POINT point) {
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& area = monitor.rcWork;
    int x = point.x - width / 2, y = point.y - height / 2;
    x = std::max<int>(area.left, std::min<int>(x, area.right - width));
    y = std::max<int>(area.top, std::min<int>(y, area.bottom - height));
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The state a dialog was started with (DialogBoxParam's last argument),
// kept in its DWLP_USER from WM_INITDIALOG on.
template <class State>
State* DialogState(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return reinterpret_cast<State*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

struct WarningState {
    std::wstring heading;
    std::wstring message;
    HFONT big = nullptr;
};

INT_PTR CALLBACK WarningProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = DialogState<WarningState>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
        font.lfHeight = font.lfHeight * 3 / 2;
        state->big = ::CreateFontIndirectW(&font);
        ::SendDlgItemMessageW(dialog, IDC_WARNING_HEADING, WM_SETFONT, reinterpret_cast<WPARAM>(state->big), FALSE);
        SetText(dialog, IDC_WARNING_HEADING, state->heading);
        SetText(dialog, IDC_WARNING_MESSAGE, state->message);
        ::SetTimer(dialog, kShowTimer, kShowPeriodMs, nullptr);
        ::SetTimer(dialog, kBlankTimer, kBlankPeriodMs, nullptr);
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == kShowTimer || wParam == kBlankTimer) {
            SetText(dialog, IDC_WARNING_HEADING, wParam == kShowTimer ? state->heading : L" ");
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
    std::wstring text;  // with CR LF
};

// No button of the summary is the default one: Enter elsewhere than on a
// button asks for this id, which nothing has.
constexpr int kNoDefault = 0x7FFE;

INT_PTR CALLBACK SummaryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = DialogState<SummaryState>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        HWND edit = ::GetDlgItem(dialog, IDC_SUMMARY);
        ::SendMessageW(edit, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(state->text.size() + 1024));
        ::SetWindowTextW(edit, state->text.c_str());
        ::SendMessageW(dialog, DM_SETDEFID, kNoDefault, 0);
        POINT cursor{};
        ::GetCursorPos(&cursor);
        CentreOn(dialog, cursor);
        // The dialog manager would select all the text of the first edit.
        ::SetFocus(edit);
        ::SendMessageW(edit, EM_SETSEL, 0, 0);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL: ::EndDialog(dialog, LOWORD(wParam)); return TRUE;
        case IDC_CLIPBOARD: {
            // The whole text, whatever was selected; nothing stays selected.
            HWND edit = ::GetDlgItem(dialog, IDC_SUMMARY);
            ::SendMessageW(edit, EM_HIDESELECTION, TRUE, 0);
            ::SendMessageW(edit, EM_SETSEL, 0, -1);
            if (::OpenClipboard(dialog)) {
                ::EmptyClipboard();
                const size_t bytes = (state->text.size() + 1) * sizeof(wchar_t);
                if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
                    std::memcpy(::GlobalLock(memory), state->text.c_str(), bytes);
                    ::GlobalUnlock(memory);
                    if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
                }
                ::CloseClipboard();
            }
            ::SendMessageW(edit, EM_SETSEL, 0, 0);
            ::SendMessageW(edit, EM_HIDESELECTION, FALSE, 0);
            return TRUE;
        }
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetText(dialog, IDC_ABOUT_VERSION, Display(CVarnelDlg::AboutVersionText()));
        ::SetFocus(::GetDlgItem(dialog, IDOK));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

struct HistoryState {
    std::filesystem::path path;
    std::vector<HistoryRecord> records;
};

// Shows the selected run's backup folder in the system's file manager.
void OpenBackupFolder(HWND dialog, const HistoryState& state) {
    const int selected = ListView_GetNextItem(::GetDlgItem(dialog, IDC_HISTORY_LIST), -1, LVNI_SELECTED);
    if (selected < 0 || static_cast<size_t>(selected) >= state.records.size()) return;
    const auto folder = HistoryBackupFolder(state.records[static_cast<size_t>(selected)]);
    if (!folder) return;
    const std::wstring name = folder->wstring();
    const auto say = [dialog, &name](const wchar_t* text) {
        ::MessageBoxW(dialog, (L"The folder " + name + text).c_str(), L"Backup Folder", MB_OK | MB_ICONWARNING);
    };
    std::error_code ec;
    if (!std::filesystem::is_directory(*folder, ec)) return say(L" no longer exists.");
    if (reinterpret_cast<INT_PTR>(::ShellExecuteW(dialog, L"open", name.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) <= 32)
        say(L" could not be opened.");
}

INT_PTR CALLBACK HistoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = DialogState<HistoryState>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        HWND list = ::GetDlgItem(dialog, IDC_HISTORY_LIST);
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
        const int widths[] = {120, 60, 100, 70, 220, 200};
        for (size_t c = 0; c < kHistoryColumns.size(); ++c) {
            std::wstring name = Display(kHistoryColumns[c]);
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = name.data();
            column.cx = widths[c];
            ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
        }
        std::vector<std::string> warnings;
        const Result<> read = ReadHistoryRecordsNewestFirst(
            state->path,
            [state](std::string_view, HistoryRecord& record) {
                state->records.push_back(std::move(record));
                return true;
            },
            [&warnings](const std::string& warning) { warnings.push_back(warning); });
        for (size_t r = 0; r < state->records.size(); ++r)
            for (size_t c = 0; c < kHistoryColumns.size(); ++c) {
                std::wstring text = Display(HistoryColumnText(state->records[r], c));
                LVITEMW item{};
                item.mask = LVIF_TEXT;
                item.iItem = static_cast<int>(r);
                item.iSubItem = static_cast<int>(c);
                item.pszText = text.data();
                ::SendMessageW(list, c == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&item));
            }
        std::string note;
        if (!read) note = "The update history cannot be read: " + read.Reason();
        else if (state->records.empty()) note = NoHistoryText("", state->path) + ".";
        else note = "Select a run to see all it did. " + std::to_string(state->records.size()) + " run(s) in " + state->path.string();
        if (!warnings.empty()) note += "\n" + std::to_string(warnings.size()) + " damaged line(s) skipped: " + warnings.front();
        SetText(dialog, IDC_HISTORY_DETAILS, WithCrLf(Display(note)));
        ::SetFocus(list);
        return FALSE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
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
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

}  // namespace

bool RunWarningDialog(HWND owner, const std::string& heading, const std::string& message) {
    WarningState state{Display(heading), Display(message)};
    return ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_WARNING), owner, WarningProc,
                             reinterpret_cast<LPARAM>(&state)) == IDOK;
}

bool RunSummaryDialog(HWND owner, const std::string& text) {
    // The rich edit box's class lives in riched20.dll, loaded once.
    static HMODULE richEdit = ::LoadLibraryW(L"riched20.dll");
    (void)richEdit;
    SummaryState state{WithCrLf(Display(text))};
    return ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_INFO), owner, SummaryProc,
                             reinterpret_cast<LPARAM>(&state)) == IDOK;
}

void RunAboutDialog(HWND owner) { ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, 0); }

void RunHistoryDialog(HWND owner, const std::filesystem::path& path) {
    HistoryState state{path, {}};
    ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_HISTORY), owner, HistoryProc, reinterpret_cast<LPARAM>(&state));
}

WaitWindow::WaitWindow(const std::string& message, const std::string& detail) {
    m_window = ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(IDD_WAIT), nullptr, WaitProc, 0);
    if (!m_window) return;
    ::SetWindowTextW(m_window, L"Varnel");
    m_font = ::CreateFontW(20, 7, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH, L"Arial");
    ::SendDlgItemMessageW(m_window, IDC_WAIT_MESSAGE, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    SetText(m_window, IDC_WAIT_MESSAGE, Display(message.empty() ? std::string(" Please wait...") : message));
    SetText(m_window, IDC_WAIT_DETAIL, Display(detail));
    if (detail.empty()) ::ShowWindow(::GetDlgItem(m_window, IDC_WAIT_DETAIL), SW_HIDE);
    HWND bar = ::GetDlgItem(m_window, IDC_WAIT_PROGRESS);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(bar, PBM_SETPOS, 0, 0);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    CentreOn(m_window, POINT{(monitor.rcWork.left + monitor.rcWork.right) / 2, (monitor.rcWork.top + monitor.rcWork.bottom) / 2});
    ::SetWindowPos(m_window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
    ::UpdateWindow(m_window);
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
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void WaitWindow::SetRange(int low, int high) {
    HWND bar = ::GetDlgItem(m_window, IDC_WAIT_PROGRESS);
    ::SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(low), high);
    ::UpdateWindow(bar);
    Pump();
}

void WaitWindow::SetPosition(int position) {
    HWND bar = ::GetDlgItem(m_window, IDC_WAIT_PROGRESS);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    ::UpdateWindow(bar);
    if (m_observer) m_observer(bar);
    Pump();
}

}  // namespace varnel::win32ui
