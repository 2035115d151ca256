#include "ui/win32/win32_host.h"

#include <commdlg.h>

#include "ui/win32/ansi_text.h"

namespace varnel::win32ui {

HWND Win32Host::Owner() const {
    return m_window && m_window->Handle() && ::IsWindowVisible(m_window->Handle()) ? m_window->Handle() : nullptr;
}

MessageAnswer Win32Host::ShowMessage(const Message& message) {
    FinishWait();
    UINT flags = MB_SETFOREGROUND;
    switch (message.icon) {
    case MessageIcon::Error: flags |= MB_ICONSTOP; break;
    case MessageIcon::Warning: flags |= MB_ICONEXCLAMATION; break;
    case MessageIcon::Question: flags |= MB_ICONQUESTION; break;
    case MessageIcon::Information: flags |= MB_ICONINFORMATION; break;
    case MessageIcon::None: break;
    }
    switch (message.buttons) {
    case MessageButtons::Ok: flags |= MB_OK; break;
    case MessageButtons::OkCancel: flags |= MB_OKCANCEL; break;
    case MessageButtons::YesNo: flags |= MB_YESNO; break;
    }
    if (message.safeDefault && message.buttons != MessageButtons::Ok) flags |= MB_DEFBUTTON2;
    HWND owner = message.owned ? Owner() : nullptr;
    if (!owner) flags |= MB_TASKMODAL;
    // A box without a caption of its own carries the program's name (the
    // system's default would be "Error").
    const std::string caption = message.caption.empty() ? std::string("Varnel") : Display(message.caption);
    HWND over = m_window ? m_window->Handle() : nullptr;
    const std::string text = Display(message.text);
    if (message.buttons == MessageButtons::Ok && NeedsWideMessage(text)) {
        LPCSTR icon = nullptr;
        switch (message.icon) {
        case MessageIcon::Error: icon = IDI_HAND; break;
        case MessageIcon::Warning: icon = IDI_EXCLAMATION; break;
        case MessageIcon::Question: icon = IDI_QUESTION; break;
        case MessageIcon::Information: icon = IDI_ASTERISK; break;
        case MessageIcon::None: break;
        }
        RunWideMessage(owner, over, text, caption, icon);
        Redraw(Owner());
        return MessageAnswer::Ok;
    }
    const int answer = RunMessageBox(owner, over, text, caption, flags);
    Redraw(Owner());
    switch (answer) {
    case IDOK: return MessageAnswer::Ok;
    case IDYES: return MessageAnswer::Yes;
    case IDNO: return MessageAnswer::No;
    case IDCANCEL: return MessageAnswer::Cancel;
    default: return SafeAnswer(message.buttons);
    }
}

bool Win32Host::ConfirmWarning(const std::string& heading, const std::string& message) {
    FinishWait();
    const bool confirmed = RunWarningDialog(Owner(), heading, message);
    Redraw(Owner());
    return confirmed;
}

bool Win32Host::ConfirmSummary(const std::string& text) {
    FinishWait();
    const bool confirmed = RunSummaryDialog(Owner(), text);
    Redraw(Owner());
    return confirmed;
}

ProgressBar& Win32Host::ShowWaitWindow(const std::string& message, const std::string& detail) {
    if (m_wait) {
        // The previous wait is still up (ending, or kept up between the
        // images of one run): it takes the new work's texts.
        m_waitEnding = false;
        m_wait->Reset(message, detail);
    } else {
        m_wait.reset();
        m_wait = std::make_unique<WaitWindow>(message, detail, m_window ? m_window->Handle() : nullptr);
        m_wait->SetObserver(m_observer);
    }
    if (m_window && !m_mainVisible) m_window->SetWorking(false, m_mainEnabled);
    Notify("wait window shown");
    return *m_wait;
}

void Win32Host::HideWaitWindow() {
    if (!m_wait) return;
    m_waitEnding = true;
    // Closed when the loop is idle again, unless a window takes over first.
    if (m_window && m_window->Handle()) ::PostMessageA(m_window->Handle(), kFinishWaitMessage, 0, 0);
    else FinishWait();
    Notify("wait window done");
}

void Win32Host::FinishWait() {
    if (!m_waitEnding) return;
    m_waitEnding = false;
    // The main window up and drawn first, then the wait window goes.
    if (m_window) m_window->SetWorking(m_mainVisible, m_mainEnabled);
    m_wait.reset();
    Notify("wait window closed");
}

std::optional<std::string> Win32Host::OpenFile(const OpenFileRequest& request) {
    FinishWait();
    // "Link File (*.oem)|*.oem|" as the dialog's pairs of zero-ended texts.
    std::string filter = Display(request.filter);
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter += '\0';
    // The initial "DIR\Firmware\*.oem": its folder when that exists.
    std::string initial = Display(request.initialFile);
    std::string folder;
    if (const size_t slash = initial.find_last_of("\\/"); slash != std::string::npos) {
        folder = initial.substr(0, slash);
        const DWORD attributes = ::GetFileAttributesA(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) folder.clear();
    }
    std::string extension = Display(request.defaultExtension);
    // Titled for its command ("Download", "Restore PDA"), else the system's "Open".
    const std::string title = Display(request.title);
    std::string file(32768, '\0');
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Owner();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameA(&dialog)) return std::nullopt;
    file.resize(strlen(file.c_str()));
    const std::optional<std::string> path = ProgramPath(file);
    if (!path) {
        ShowMessage({"The name of " + file +
                         " has characters this system's code page cannot hold: rename it, or move it to a folder "
                         "named in plain letters.",
                     "Varnel", MessageIcon::Error, MessageButtons::Ok, true});
        return std::nullopt;
    }
    return path;
}

void Win32Host::SetCursor(Cursor cursor) {
    if (m_window) m_window->SetCursorShape(cursor);
    else ::SetCursor(::LoadCursorA(nullptr, cursor == Cursor::Wait ? IDC_WAIT : IDC_ARROW));
}

void Win32Host::SetMainWindow(bool visible, bool enabled) {
    m_mainVisible = visible;
    m_mainEnabled = enabled;
    // Disabled and shown: the card is busy with the main window as the one
    // shown, so it takes the wait window's place now.
    if (m_waitEnding && visible && !enabled) FinishWait();
    // Shown to stay: only when the wait window closes (a next image's wait
    // may follow at once). Hidden: only once the wait window stands in its
    // place.
    if (m_window) m_window->SetWorking(m_waitEnding ? false : visible || !m_wait, enabled);
    Notify(visible ? (enabled ? "main window shown" : "main window shown disabled") : "main window hidden");
}

void Win32Host::Refresh(const DialogView& view) {
    if (m_window && m_window->Handle()) m_window->Show(view);
}

}  // namespace varnel::win32ui
