#pragma once
// What the main window's buttons, list and menu entries do, the same in
// every front end: a front end wires its controls to these and adds only
// what is its own (its history and About windows, files given from outside,
// the window closing). A front end draws the controls and menus of
// ui/main_window_layout and runs ClickCommand(id) for a click, with no table
// of its own. The Windows resources (ui/win32/varnel.rc, ui/win32/resource.h)
// are checked against these tables by tests/ui/window_sources_test.cpp.

#include <functional>
#include <span>
#include <string>

#include "ui/main_window_layout.h"

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

// What an entry's tooltip and status line say ("" for nothing).
std::string MenuTip(const MenuEntry& entry);

// The command a click on the button or menu entry with this id runs; none
// for the other ids (the lists and fields, the buttons never shown that do
// nothing, Enter and Esc).
using ClickedCommand = std::function<void()> MainWindowCommands::*;
ClickedCommand ClickCommand(int id);

}  // namespace varnel
