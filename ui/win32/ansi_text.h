#pragma once
// Texts between the program and the narrow (ANSI) Windows API, which every
// Windows release has whole (the wide one is a stub on 95, 98 and ME). The
// program's paths are in the system's ANSI code page (the file functions it
// opens them with take them so); its other texts are UTF-8 or ASCII.

#include <optional>
#include <string>

namespace varnel::win32ui {

std::wstring Widen(const std::string& text, unsigned codePage);
std::string Narrow(const std::wstring& text, unsigned codePage);
// A text from the dialog logic, in the ANSI code page for the narrow
// functions: converted when it is valid UTF-8, as it is otherwise (a path,
// already in that code page). A character the code page lacks is shown as
// Windows' nearest or "?": a text to read, never a name to open.
std::string Display(const std::string& text);
// A path that came through the narrow functions (command line, file dialog,
// dropped files, a second start) as the program takes it, or nothing when
// Windows put "?" for a character the code page cannot hold: such a name
// would open no file, or another one.
std::optional<std::string> ProgramPath(const std::string& path);

}  // namespace varnel::win32ui
