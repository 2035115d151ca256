#include "ui/win32/application.h"

#include <vector>

#include "ui/main_window_commands.h"
#include "ui/window_place.h"
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
    if (const auto aware =
            reinterpret_cast<AwareFn>(reinterpret_cast<void*>(::GetProcAddress(user, "SetProcessDPIAware"))))
        aware();
}

using MonitorInfoFn = BOOL(WINAPI*)(HMONITOR, LPMONITORINFO);
MonitorInfoFn g_monitorInfo = nullptr;

BOOL CALLBACK AddScreen(HMONITOR monitor, HDC, LPRECT, LPARAM found) {
    MONITORINFO m{};
    m.cbSize = sizeof m;
    if (g_monitorInfo && g_monitorInfo(monitor, &m)) {
        auto& list = *reinterpret_cast<std::vector<ScreenArea>*>(found);
        const ScreenArea area{m.rcWork.left, m.rcWork.top, m.rcWork.right, m.rcWork.bottom};
        if (m.dwFlags & MONITORINFOF_PRIMARY) list.insert(list.begin(), area);
        else list.push_back(area);
    }
    return TRUE;
}

// The screens' work areas, the primary one first: EnumDisplayMonitors and
// GetMonitorInfoA where the system has them (98, 2000 and later: looked
// up), else the one screen's work area.
std::vector<ScreenArea> Screens() {
    std::vector<ScreenArea> screens;
    const HMODULE user = ::GetModuleHandleA("user32.dll");
    using EnumFn = BOOL(WINAPI*)(HDC, LPCRECT, MONITORENUMPROC, LPARAM);
    const auto enumerate =
        reinterpret_cast<EnumFn>(reinterpret_cast<void*>(::GetProcAddress(user, "EnumDisplayMonitors")));
    g_monitorInfo = reinterpret_cast<MonitorInfoFn>(reinterpret_cast<void*>(::GetProcAddress(user, "GetMonitorInfoA")));
    if (enumerate && g_monitorInfo) enumerate(nullptr, nullptr, AddScreen, reinterpret_cast<LPARAM>(&screens));
    if (screens.empty()) {
        RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        screens.push_back({area.left, area.top, area.right, area.bottom});
    }
    return screens;
}

}  // namespace

Application::Application(NdisLibrary& library, Registry& registry)
    : m_dialog(library, registry, m_host), m_placeFile(DefaultWindowPlaceFile()) {
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
        RememberPlace();
        m_closed = true;
        ::PostQuitMessage(m_exitCode);
    };
    if (!m_window.Create(std::move(commands))) return false;
    m_dialog.OnInitDialog(files);
    PlaceWindow();
    ::ShowWindow(m_window.Handle(), SW_SHOW);
    ::UpdateWindow(m_window.Handle());
    return true;
}

void Application::PlaceWindow() {
    RECT rect;
    ::GetWindowRect(m_window.Handle(), &rect);
    const std::vector<ScreenArea> screens = Screens();
    if (const auto place =
            ChooseWindowPlace(LoadWindowPlace(m_placeFile), rect.right - rect.left, rect.bottom - rect.top, screens))
        ::SetWindowPos(m_window.Handle(), nullptr, place->x, place->y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Application::RememberPlace() {
    HWND window = m_window.Handle();
    if (!window || !::IsWindowVisible(window) || ::IsIconic(window)) return;
    RECT rect;
    ::GetWindowRect(window, &rect);
    // A place that cannot be kept costs only the next start's centring.
    (void)SaveWindowPlace(m_placeFile, WindowPlace{rect.left, rect.top});
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
