#pragma once
// Where the main window opens: where the user last had it, kept in the
// state folder, or in the middle of the screen on the first start and
// whenever that place is no longer on any screen. The front ends ask the
// window system for the screens and move the window; the choice is made
// here.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace varnel {

// The window frame's top-left corner, in the desktop's pixels.
struct WindowPlace {
    int x = 0;
    int y = 0;
    bool operator==(const WindowPlace&) const = default;
};

// A screen's work area (without task bars), right and bottom excluded.
struct ScreenArea {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// The stored text, "x y" and a line end; nothing for anything else.
std::optional<WindowPlace> ParseWindowPlace(std::string_view text);
std::string FormatWindowPlace(const WindowPlace& place);

// Where a window of this size (frame included) opens: the stored place when
// the user can still reach the window there, its title bar on a screen's
// work area (its top edge inside it and at least a third of its width, or
// 100 pixels, over it); else the middle of the first screen (the primary
// one). Nothing when no screen is known: the window system places it.
std::optional<WindowPlace> ChooseWindowPlace(const std::optional<WindowPlace>& stored, int width, int height,
                                             std::span<const ScreenArea> screens);

// The file it is kept in: "window-place" in the state folder.
std::string DefaultWindowPlaceFile();
// Reads it: nothing when it is missing, too large or not a place.
std::optional<WindowPlace> LoadWindowPlace(const std::string& file);
// Writes it whole (its folder made when missing), or fails saying why.
Result<> SaveWindowPlace(const std::string& file, const WindowPlace& place);

}  // namespace varnel
