#include "ui/win32/application.h"

#include "ui/main_window_commands.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/text.h"

namespace varnel::win32ui {

Application::Application(NdisLibrary& library, Registry& registry) : m_dialog(library, registry, m_host) {
    m_host.SetWindow(&m_window);
}

bool Application::Start(const std::vector<std::string>& files) {
    MainWindow::Commands commands;
    static_cast<MainWindowCommands&>(commands) = DialogCommands(m_dialog, [this] {
        m_exitCode = 1;
        m_closed = true;
        ::PostQuitMessage(1);
    });
    commands.history = [this] { RunHistoryDialog(m_host.Owner(), m_dialog.HistoryPath()); };
    commands.about = [this] { RunAboutDialog(m_host.Owner()); };
    commands.fileFromOutside = [this](const std::wstring& path) { AddFromOutside(path); };
    commands.closed = [this] {
        m_closed = true;
        ::PostQuitMessage(m_exitCode);
    };
    if (!m_window.Create(std::move(commands))) return false;
    m_dialog.OnInitDialog(files);
    ::ShowWindow(m_window.Handle(), SW_SHOW);
    ::UpdateWindow(m_window.Handle());
    return true;
}

int Application::Run() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(m_window.Handle(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return m_exitCode;
}

void Application::AddFromOutside(const std::wstring& path) {
    const std::optional<std::string> name = ProgramPath(path);
    if (!name) {
        m_host.ShowMessage({"The name of " + Narrow(path, CP_UTF8) +
                                " has characters this system's code page cannot hold: it was not added. Rename it, "
                                "or move it to a folder named in plain letters.",
                            "Varnel", MessageIcon::Error, MessageButtons::Ok, true});
        return;
    }
    m_dialog.OfferFile(*name);
}

}  // namespace varnel::win32ui
