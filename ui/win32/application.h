#pragma once
// The Windows desktop program's parts put together: the main dialog's
// logic on the Win32 host and the main window, and the files that join the
// list from outside (a second start, a drop).

#include <string>
#include <vector>

#include "platform/ndis_library.h"
#include "platform/registry.h"
#include "ui/varnel_dlg.h"
#include "ui/win32/main_window.h"
#include "ui/win32/win32_host.h"

namespace varnel::win32ui {

class Application {
public:
    Application(NdisLibrary& library, Registry& registry);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Makes the window, runs the dialog's initialisation with the
    // command-line files, and shows it. False when the window cannot be made.
    bool Start(const std::vector<std::string>& files);
    // The window's message loop, until it closes: the program's exit code.
    int Run();
    // A file from outside: joins the list now, or at the end of a run.
    void AddFromOutside(const std::string& path);

    // Where the main window's place is kept (DefaultWindowPlaceFile() unless
    // set before Start).
    void SetWindowPlaceFile(std::string file) { m_placeFile = std::move(file); }

    MainWindow& Window() { return m_window; }
    Win32Host& Host() { return m_host; }
    CVarnelDlg& Dialog() { return m_dialog; }
    bool Closed() const { return m_closed; }

private:
    // Opens the window where the user last had it, else centred.
    void PlaceWindow();
    void RememberPlace();

    Win32Host m_host;
    MainWindow m_window;
    CVarnelDlg m_dialog;
    std::string m_placeFile;
    bool m_closed = false;
    int m_exitCode = 0;
};

}  // namespace varnel::win32ui
