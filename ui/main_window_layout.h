#pragma once
// The main window's controls and menus as data, for every front end that
// draws the window: each control's id, name, kind, text, rectangle in dialog
// units and when it is shown; each menu entry's text, name and command id
// (what the ids run: ui/main_window_commands). The Qt window builds itself from this table in one
// loop; its tests read the same table.

#include <span>
#include <string>

namespace varnel {

// How big the main window's client area is, in dialog units.
inline constexpr int kMainWindowWidth = 248;
inline constexpr int kMainWindowHeight = 220;

enum class ControlKind {
    GroupBox,
    Label,
    ListBox,       // the adapter list
    ReadOnlyEdit,  // one line
    StatusEdit,    // read-only, several centred lines
    FileList,      // the file list view, report style
    Button,
    CheckBox,
};

enum class Shown {
    Always,
    Never,           // present, never shown
    WithAdapter,     // while an adapter is selected
    WithoutAdapter,  // while none is
};

struct ControlLayout {
    int id;            // a ControlId (ui/varnel_dlg.h); kIdcStatic for the frames and labels
    const char* name;  // the control's name in the window (and its tests)
    ControlKind kind;
    const char* text;  // its fixed text ("" for none)
    int x, y, width, height;
    Shown shown;
};

// In the order the window makes them: frames first, so that they lie under
// the controls they hold.
std::span<const ControlLayout> MainWindowControls();

// The menu entries' command ids (the Windows resources' ID_ names). Query
// Firmware Version has the control id kIdcQueryFirmware (ui/varnel_dlg.h).
enum MenuCommandId : int {
    kIdMenuQueryFirmware = 1046,
    kIdMenuQueryDriver = 32780,
    kIdMenuAbout = 32784,
    kIdMenuHistory = 32790,
    kIdMenuRestorePda = 32791,
    kIdMenuRestoreFirmware = 32792,
};

// One entry of the main window's menu bar.
struct MenuEntry {
    const char* menu;      // the menu's title ("&Tools")
    const char* menuName;  // the menu's name in the window (and its tests)
    const char* text;      // the entry's text ("Query &Firmware Version")
    const char* name;      // the entry's name in the window (and its tests)
    int id;                // its MenuCommandId
    bool separatorBefore;
};

// The menu bar's entries, menu by menu, in the order shown.
std::span<const MenuEntry> MainWindowMenu();

// What a screen reader says for a control: the name a sighted user reads
// beside it (its own text, its label's, or its frame's title), and for the
// lists and the status box what they hold ("" for nothing more).
struct AccessibleText {
    std::string name;
    std::string description;
};
AccessibleText ControlAccessibleText(const ControlLayout& control);

// The frame whose rectangle holds the control, or nothing.
const ControlLayout* ControlFrame(const ControlLayout& control);

}  // namespace varnel
