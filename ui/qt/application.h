#pragma once
// The desktop program's parts put together: the main dialog's logic on the
// Qt host and the main window, and the way files join the list from outside
// (a second start, a drop): added at once, or once the run or the adding of
// another file that is on has ended (the dialog logic decides).

#include <functional>
#include <string>
#include <vector>

#include "platform/ndis_library.h"
#include "platform/registry.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_host.h"
#include "ui/qt/single_instance.h"
#include "ui/varnel_dlg.h"

namespace varnel::qt {

class Application {
public:
    Application(NdisLibrary& library, Registry& registry);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The dialog's initialisation with the command-line files, then the
    // window shown.
    void Start(const std::vector<std::string>& files);

    // A file from outside; done() runs once it is in the list. True when it
    // waits for the end of a run.
    bool AddFromOutside(const std::string& path, std::function<void()> done = {});
    // Takes the files a later start hands over, and raises the window.
    void Serve(SingleInstance& instance);
    size_t Waiting() const { return m_dialog.WaitingFiles(); }

    // Where the main window's place is kept (DefaultWindowPlaceFile() unless
    // set before Start).
    void SetWindowPlaceFile(std::string file) { m_placeFile = std::move(file); }

    MainWindow& Window() { return m_window; }
    QtHost& Host() { return m_host; }
    CVarnelDlg& Dialog() { return m_dialog; }

private:
    // Opens the window where the user last had it, else centred.
    void PlaceWindow();
    void RememberPlace();

    QtHost m_host;
    MainWindow m_window;
    CVarnelDlg m_dialog;
    std::string m_placeFile;
};

}  // namespace varnel::qt
