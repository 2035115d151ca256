#pragma once
// Texts between the program and the wide Windows API. The program's paths
// are in the system's ANSI code page (the file functions it opens them with
// take them so); its other texts are UTF-8 or ASCII.

#include <optional>
#include <string>

namespace varnel::win32ui {

std::wstring Widen(const std::string& text, unsigned codePage);
std::string Narrow(const std::wstring& text, unsigned codePage);
// A text from the dialog logic: UTF-8 when it is valid UTF-8, else ANSI.
std::wstring Display(const std::string& text);
// A path the user gave as the program takes it: the ANSI code page's bytes,
// or nothing when a character has no place in that code page.
std::optional<std::string> ProgramPath(const std::wstring& path);

}  // namespace varnel::win32ui
