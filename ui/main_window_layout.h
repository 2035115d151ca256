#pragma once
// The main window's controls as data, for every front end that draws the
// window: each control's id, name, kind, text, rectangle in dialog units
// and when it is shown. The Qt window builds itself from this table in one
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
    Never,            // present, never shown
    WithAdapter,      // while an adapter is selected
    WithoutAdapter,   // while none is
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
