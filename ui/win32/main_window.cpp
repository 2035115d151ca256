#include "ui/win32/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include "platform/stop_request.h"
#include "ui/main_window_layout.h"
#include "ui/varnel_dlg.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/resource.h"
#include "ui/win32/ansi_text.h"

namespace varnel::win32ui {

// The template's ids are the dialog logic's.
static_assert(IDC_QUIT == kIdcQuit && IDC_TEST_COMMAND == kIdcTestCommand && IDC_UPDATE == kIdcUpdate &&
              IDC_STATUS == kIdcStatus && IDC_CLOSE == kIdcClose && IDC_ADAPTER_LIST == kIdcAdapterList &&
              IDC_PDA_MAC == kIdcPdaMac && IDC_PDA_SERIAL == kIdcPdaSerial && IDC_NDIS_MAC == kIdcNdisMac &&
              IDC_OPENED == kIdcOpened && IDC_VERSION == kIdcVersion && IDC_FILE_LIST == kIdcFileList &&
              IDC_CATCH_ADAPTER == kIdcCatchAdapter && IDC_FORCE_ALL == kIdcForceAll && IDC_VERIFY == kIdcVerify &&
              IDC_DOWNLOAD == kIdcDownload && ID_QUERY_FIRMWARE == kIdcQueryFirmware && IDC_STATIC == kIdcStatic);

namespace {

constexpr int kTypeColumnWidth = 90;
constexpr int kPathColumnWidth = 250;
constexpr int kRemoveFileCommand = 1;  // the file list's context menu

std::string WindowText(HWND window) {
    std::string text(static_cast<size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void SetTextIfChanged(HWND window, const std::string& text) {
    if (WindowText(window) != text) ::SetWindowTextA(window, text.c_str());
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

MainWindow::~MainWindow() {
    if (m_window) ::DestroyWindow(m_window);
    if (m_types) ImageList_Destroy(m_types);
    if (m_icon) ::DestroyIcon(m_icon);
    if (m_smallIcon) ::DestroyIcon(m_smallIcon);
}

void MainWindow::RegisterWindowClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    // A dialog's window class of our own name: a second start finds this
    // window, never a dialog that shares its caption.
    ::GetClassInfoExA(nullptr, MAKEINTRESOURCEA(0x8002), &wc);
    wc.cbSize = sizeof wc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "" VARNEL_MAIN_CLASS;
    wc.hIcon =
        static_cast<HICON>(::LoadImageA(wc.hInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    wc.hCursor = nullptr;  // the program's own cursor (WM_SETCURSOR)
    registered = ::RegisterClassExA(&wc) != 0;
}

bool MainWindow::Create(Commands commands) {
    m_commands = std::move(commands);
    RegisterWindowClass();
    m_window = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, Proc,
                                    reinterpret_cast<LPARAM>(this));
    return m_window != nullptr;
}

INT_PTR CALLBACK MainWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<MainWindow*>(lParam);
        self->m_window = window;
        self->Init();
        return FALSE;  // the focus is set by Init
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrA(window, DWLP_USER));
    return self ? self->Handle(message, wParam, lParam) : FALSE;
}

void MainWindow::Init() {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    m_icon = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    ::SendMessageA(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageA(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));

    // The file list: two columns, the 16-pixel type icons.
    HWND files = ::GetDlgItem(m_window, IDC_FILE_LIST);
    ListView_SetExtendedListViewStyle(files, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    m_types = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 5, 10);
    for (int type = 0; type < 5; ++type) {
        HICON icon =
            static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(IDI_TYPE0 + type), IMAGE_ICON, 16, 16, 0));
        ImageList_AddIcon(m_types, icon);
        ::DestroyIcon(icon);
    }
    ListView_SetImageList(files, m_types, LVSIL_SMALL);
    const struct {
        const char* name;
        int width;
    } columns[] = {{"Type / Version", kTypeColumnWidth}, {"File Path", kPathColumnWidth}};
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<char*>(columns[i].name);
        column.cx = columns[i].width;
        ::SendMessageA(files, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }

    // Tooltips: the dialog logic's text for each control (asked when shown).
    m_tooltip = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, instance, nullptr);
    ::SendMessageA(m_tooltip, TTM_SETMAXTIPWIDTH, 0, 400);
    for (HWND child = ::GetWindow(m_window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetDlgCtrlID(child) == IDC_STATIC || CVarnelDlg::ToolTipText(::GetDlgCtrlID(child)).empty()) continue;
        TTTOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_window;
        tool.uId = reinterpret_cast<UINT_PTR>(child);
        tool.lpszText = LPSTR_TEXTCALLBACKA;
        ::SendMessageA(m_tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
    // A label is never narrower than its text needs (at a high DPI the font
    // grows a little faster than the dialog units).
    HDC dc = ::GetDC(m_window);
    HGDIOBJ font = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(m_window, WM_GETFONT, 0, 0)));
    for (HWND child = ::GetWindow(m_window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char name[16] = {};
        ::GetClassNameA(child, name, 16);
        const std::string text = WindowText(child);
        if (lstrcmpiA(name, "Static") != 0 || text.empty()) continue;
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        RECT rect;
        ::GetWindowRect(child, &rect);
        if (size.cx > rect.right - rect.left)
            ::SetWindowPos(child, nullptr, 0, 0, size.cx, rect.bottom - rect.top,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::SelectObject(dc, font);
    ::ReleaseDC(m_window, dc);
    // The controls without a text of their own are named for screen readers
    // as the Qt window names them: the lists and fields by their label's or
    // their frame's title.
    for (const ControlLayout& control : MainWindowControls()) switch (control.kind) {
        case ControlKind::ListBox:
        case ControlKind::ReadOnlyEdit:
        case ControlKind::StatusEdit:
        case ControlKind::FileList:
            NameForScreenReaders(::GetDlgItem(m_window, control.id), ControlAccessibleText(control).name);
            break;
        default: break;
        }
    ::DragAcceptFiles(m_window, TRUE);
    // First shown in the middle of the work area.
    CentreOver(m_window, nullptr);
    ::SetFocus(::GetDlgItem(m_window, IDC_CATCH_ADAPTER));
}

INT_PTR MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        // The status box is read and copied, never typed in: no caret.
        if (LOWORD(wParam) == IDC_STATUS && HIWORD(wParam) == EN_SETFOCUS) ::DestroyCaret();
        Command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case kFinishWaitMessage:
        if (m_commands.finishWait) m_commands.finishWait();
        return TRUE;
    case WM_CLOSE:
        if (m_commands.closed) m_commands.closed();
        return TRUE;
    case WM_QUERYENDSESSION:
        // Logoff or shutdown during a run: the run stops after the piece in
        // flight and the program ends once it is recorded; the session
        // waits for that.
        if (CurrentStopMode() != StopMode::Default) {
            RequestStop(StopKind::Terminate);
            ::SetWindowLongPtrA(m_window, DWLP_MSGRESULT, FALSE);
        } else {
            ::SetWindowLongPtrA(m_window, DWLP_MSGRESULT, TRUE);
        }
        return TRUE;
    case WM_ENDSESSION:
        if (wParam && m_commands.closed) m_commands.closed();
        return TRUE;
    case WM_SETCURSOR:
        // The wait cursor stays over the window until the work ends.
        if (m_cursor == Cursor::Wait) {
            ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
            ::SetWindowLongPtrA(m_window, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_COPYDATA: {
        // One file of a second start: the argument's bytes (ANSI code page) and a zero.
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data && data->lpData && data->cbData > 0) {
            const char* bytes = static_cast<const char*>(data->lpData);
            std::string text(bytes, strnlen(bytes, data->cbData));
            if (m_commands.fileFromOutside) m_commands.fileFromOutside(text);
        }
        ::SetWindowLongPtrA(m_window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_CONTEXTMENU:
        // The file list's context menu: "Remove File" for the selected file.
        if (reinterpret_cast<HWND>(wParam) == ::GetDlgItem(m_window, IDC_FILE_LIST) && !m_working) {
            HWND files = reinterpret_cast<HWND>(wParam);
            const int selected = ListView_GetNextItem(files, -1, LVNI_SELECTED);
            POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (at.x == -1 && at.y == -1) {  // from the keyboard: at the selected row
                RECT row{};
                if (selected >= 0) ListView_GetItemRect(files, selected, &row, LVIR_LABEL);
                at = POINT{row.left, row.bottom};
                ::ClientToScreen(files, &at);
            }
            HMENU menu = ::CreatePopupMenu();
            ::AppendMenuA(menu, MF_STRING | (selected >= 0 ? MF_ENABLED : MF_GRAYED), kRemoveFileCommand,
                          "&Remove File");
            const int chosen =
                ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, m_window, nullptr);
            ::DestroyMenu(menu);
            if (chosen == kRemoveFileCommand) RemoveSelectedFile();
            return TRUE;
        }
        return FALSE;
    case WM_DROPFILES: {
        auto drop = reinterpret_cast<HDROP>(wParam);
        const UINT count = ::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
        std::vector<std::string> paths;
        for (UINT i = 0; i < count; ++i) {
            std::string path(::DragQueryFileA(drop, i, nullptr, 0) + 1, '\0');
            path.resize(::DragQueryFileA(drop, i, path.data(), static_cast<UINT>(path.size())));
            paths.push_back(path);
        }
        ::DragFinish(drop);
        for (const std::string& path : paths)
            if (m_commands.fileFromOutside) m_commands.fileFromOutside(path);
        return TRUE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == TTN_GETDISPINFOA) {
            auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
            const int id = (info->uFlags & TTF_IDISHWND) ? ::GetDlgCtrlID(reinterpret_cast<HWND>(header->idFrom)) : 0;
            if (id == 0) return FALSE;
            // Kept here: the tooltip reads it after this returns.
            m_tipText = Display(CVarnelDlg::ToolTipText(id));
            info->lpszText = m_tipText.data();
            return TRUE;
        }
        if (header->idFrom == IDC_FILE_LIST && header->code == LVN_KEYDOWN) {
            // Delete or Backspace takes the selected file off the list.
            const WORD key = reinterpret_cast<NMLVKEYDOWN*>(lParam)->wVKey;
            if (key == VK_DELETE || key == VK_BACK) RemoveSelectedFile();
            return TRUE;
        }
        if (header->idFrom == IDC_FILE_LIST && header->code == LVN_GETINFOTIPA) {
            auto* tip = reinterpret_cast<NMLVGETINFOTIPA*>(lParam);
            if (tip->iItem >= 0 && static_cast<size_t>(tip->iItem) < m_files.size() && tip->cchTextMax > 0) {
                const std::string path = Display(m_files[static_cast<size_t>(tip->iItem)].path);
                lstrcpynA(tip->pszText, path.c_str(), tip->cchTextMax);
            }
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

void MainWindow::RemoveSelectedFile() {
    if (m_working) return;
    const int selected = ListView_GetNextItem(::GetDlgItem(m_window, IDC_FILE_LIST), -1, LVNI_SELECTED);
    if (selected >= 0 && m_commands.removeFile) m_commands.removeFile(selected);
}

void MainWindow::Command(int id, int code) {
    const auto run = [](const std::function<void()>& command) {
        if (command) command();
    };
    // Nothing runs from a control or menu that is disabled (around long
    // work, or "Update!" without a card), however the command came.
    if (HWND control = ::GetDlgItem(m_window, id); control && !::IsWindowEnabled(control)) return;
    if (m_working) return;
    if (id == IDC_ADAPTER_LIST) {
        if (code == LBN_SELCHANGE && m_commands.selectAdapter) {
            const auto position = ::SendDlgItemMessageA(m_window, IDC_ADAPTER_LIST, LB_GETCURSEL, 0, 0);
            if (position != LB_ERR) m_commands.selectAdapter(static_cast<int>(position));
        }
        return;
    }
    // The buttons and menu entries of ui/main_window_commands. Enter and
    // Esc (IDOK, IDCANCEL): no button of the main window answers them.
    if (const ClickedCommand command = ClickCommand(id)) run(m_commands.*command);
}

void MainWindow::Show(const DialogView& view) {
    SetTextIfChanged(m_window, Display(view.title));

    HWND adapters = ::GetDlgItem(m_window, IDC_ADAPTER_LIST);
    std::vector<std::string> entries;
    for (const std::string& name : view.adapters) entries.push_back(Display(name));
    bool same = ::SendMessageA(adapters, LB_GETCOUNT, 0, 0) == static_cast<LRESULT>(entries.size());
    for (size_t i = 0; same && i < entries.size(); ++i) {
        std::string text(static_cast<size_t>(::SendMessageA(adapters, LB_GETTEXTLEN, i, 0)) + 1, '\0');
        text.resize(
            static_cast<size_t>(::SendMessageA(adapters, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        same = text == entries[i];
    }
    if (!same) {
        ::SendMessageA(adapters, LB_RESETCONTENT, 0, 0);
        for (const std::string& entry : entries)
            ::SendMessageA(adapters, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    // "<No adapters detected>" is never shown selected.
    const bool selectable = view.selectedAdapter >= 0 &&
                            static_cast<size_t>(view.selectedAdapter) < view.adapters.size() &&
                            view.adapters[static_cast<size_t>(view.selectedAdapter)] != CVarnelDlg::kNoAdapters;
    ::SendMessageA(adapters, LB_SETCURSEL,
                   selectable ? static_cast<WPARAM>(view.selectedAdapter) : static_cast<WPARAM>(-1), 0);
    ::ShowWindow(adapters, view.adapterListVisible ? SW_SHOWNA : SW_HIDE);
    HWND opened = ::GetDlgItem(m_window, IDC_OPENED);
    ::ShowWindow(opened, view.openedVisible ? SW_SHOWNA : SW_HIDE);
    SetTextIfChanged(opened, Display(view.opened));
    m_updateWanted = view.updateEnabled;
    if (!m_working) ::EnableWindow(::GetDlgItem(m_window, IDC_UPDATE), view.updateEnabled);

    SetTextIfChanged(::GetDlgItem(m_window, IDC_STATUS), WithCrLf(Display(view.status)));
    SetTextIfChanged(::GetDlgItem(m_window, IDC_PDA_MAC), Display(view.pdaMac));
    SetTextIfChanged(::GetDlgItem(m_window, IDC_PDA_SERIAL), Display(view.pdaSerial));
    SetTextIfChanged(::GetDlgItem(m_window, IDC_NDIS_MAC), Display(view.ndisMac));
    SetTextIfChanged(::GetDlgItem(m_window, IDC_VERSION), Display(view.version));

    // The list is rebuilt only when it changed: a refresh keeps the selection.
    bool sameFiles = m_files.size() == view.files.size();
    for (size_t i = 0; sameFiles && i < m_files.size(); ++i)
        sameFiles = m_files[i].type == view.files[i].type && m_files[i].text == view.files[i].text &&
                    m_files[i].path == view.files[i].path;
    if (sameFiles) return;
    m_files = view.files;
    HWND files = ::GetDlgItem(m_window, IDC_FILE_LIST);
    ::SendMessageA(files, LVM_DELETEALLITEMS, 0, 0);
    for (size_t i = 0; i < m_files.size(); ++i) {
        std::string text = Display(m_files[i].text);
        std::string path = Display(m_files[i].path);
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = static_cast<int>(i);
        item.pszText = text.data();
        item.iImage = m_files[i].type >= 0 && m_files[i].type < 5 ? m_files[i].type : 1;
        ::SendMessageA(files, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        item.mask = LVIF_TEXT;
        item.iSubItem = 1;
        item.pszText = path.data();
        ::SendMessageA(files, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
    }
}

void MainWindow::SetWorking(bool visible, bool enabled) {
    if (!enabled && !m_working) {
        m_working = true;
        HWND focus = ::GetFocus();
        m_focusBeforeWork = focus && ::IsChild(m_window, focus) ? focus : nullptr;
        m_disabled.clear();
        for (HWND child = ::GetWindow(m_window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            if (::IsWindowEnabled(child)) {
                ::EnableWindow(child, FALSE);
                m_disabled.push_back(child);
            }
        HMENU menu = ::GetMenu(m_window);
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
            ::EnableMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | MF_GRAYED);
        ::DrawMenuBar(m_window);
    }
    if (!visible && ::IsWindowVisible(m_window)) {
        m_hiddenForWork = true;
        ::ShowWindow(m_window, SW_HIDE);
    } else if (visible && m_hiddenForWork) {
        m_hiddenForWork = false;
        ::ShowWindow(m_window, SW_SHOW);
    }
    if (enabled && m_working) {
        m_working = false;
        for (HWND child : m_disabled) ::EnableWindow(child, TRUE);
        m_disabled.clear();
        ::EnableWindow(::GetDlgItem(m_window, IDC_UPDATE), m_updateWanted);
        HMENU menu = ::GetMenu(m_window);
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
            ::EnableMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | MF_ENABLED);
        ::DrawMenuBar(m_window);
        if (visible && m_focusBeforeWork && ::IsWindowVisible(m_focusBeforeWork) &&
            ::IsWindowEnabled(m_focusBeforeWork))
            ::SendMessageA(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_focusBeforeWork), TRUE);
        m_focusBeforeWork = nullptr;
    }
    // Drawn at once, whatever the card keeps the thread busy with next.
    Redraw(m_window);
}

void MainWindow::SetCursorShape(Cursor cursor) {
    m_cursor = cursor;
    ::SetCursor(::LoadCursorA(nullptr, cursor == Cursor::Wait ? IDC_WAIT : IDC_ARROW));
}

void MainWindow::BringToFront() {
    if (!::IsWindowVisible(m_window)) return;  // hidden while the card is programmed
    if (::IsIconic(m_window)) ::ShowWindow(m_window, SW_RESTORE);
    ::SetForegroundWindow(m_window);
}

}  // namespace varnel::win32ui
