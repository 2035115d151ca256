#pragma once
// What the main window's buttons, list and menu entries do, the same in
// every front end: a front end wires its controls to these and adds only
// what is its own (its history and About windows, files given from outside,
// the window closing).

#include <functional>

namespace varnel {

class CVarnelDlg;

struct MainWindowCommands {
    std::function<void(int)> selectAdapter;  // a click in the adapter list
    std::function<void()> catchAdapter;
    std::function<void()> closeAdapter;
    std::function<void()> download;
    std::function<void()> update;
    std::function<void()> queryFirmware;
    std::function<void()> queryDriver;
    std::function<void()> history;
    std::function<void()> restorePda;
    std::function<void()> restoreFirmware;
    std::function<void()> about;
    std::function<void()> closed;
    std::function<void(int)> removeFile;  // Delete in the file list
};

// The commands the dialog logic answers. After a run that writes to the
// card (an update, a PDA or firmware restore), a stop request the run
// waited for (Ctrl-C, SIGTERM, a logoff) ends the program through
// `endProgram`, now that the run has ended and is recorded.
MainWindowCommands DialogCommands(CVarnelDlg& dialog, std::function<void()> endProgram);

}  // namespace varnel
