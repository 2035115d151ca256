#pragma once
// The program's one look, set once before its first window: one typeface
// (the dialog font) in windows, menus and boxes; the application icon on
// every window, parentless ones included; the program's own vector
// pictures in message boxes and the menu bar in place of the style's
// bitmaps.

namespace varnel::qt {

void ApplyLook();

}  // namespace varnel::qt
