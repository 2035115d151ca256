#include "ui/win32/application.h"

#include "ui/main_window_commands.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/ansi_text.h"

namespace varnel::win32ui {

namespace {

// DPI awareness, asked for at run time (the manifest stays in the form
// Windows XP accepts, without the <application> element that carried it):
// per monitor (v2) on Windows 10 1703 and later, for the whole system on
// Vista and later; older systems draw at their one DPI anyway.
void DeclareDpiAware() {
    const HMODULE user = ::GetModuleHandleA("user32.dll");
    if (!user) return;
    using ContextFn = BOOL(WINAPI*)(HANDLE);
    using AwareFn = BOOL(WINAPI*)();
    if (const auto context = reinterpret_cast<ContextFn>(
            reinterpret_cast<void*>(::GetProcAddress(user, "SetProcessDpiAwarenessContext"))))
        if (context(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4))))  // per monitor v2
            return;
    if (const auto aware = reinterpret_cast<AwareFn>(reinterpret_cast<void*>(::GetProcAddress(user, "SetProcessDPIAware"))))
        aware();
}

}  // namespace

Application::Application(NdisLibrary& library, Registry& registry) : m_dialog(library, registry, m_host) {
    DeclareDpiAware();
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
    commands.fileFromOutside = [this](const std::string& path) { AddFromOutside(path); };
    commands.finishWait = [this] { m_host.FinishWait(); };
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
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageA(m_window.Handle(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return m_exitCode;
}

void Application::AddFromOutside(const std::string& path) {
    const std::optional<std::string> name = ProgramPath(path);
    if (!name) {
        m_host.ShowMessage({"The name of " + path +
                                " has characters this system's code page cannot hold: it was not added. Rename it, "
                                "or move it to a folder named in plain letters.",
                            "Varnel", MessageIcon::Error, MessageButtons::Ok, true});
        return;
    }
    m_dialog.OfferFile(*name);
}

}  // namespace varnel::win32ui
