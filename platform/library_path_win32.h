#pragma once
// Where the program's libraries come from: by full path from the folders
// they belong in, never from the current folder or PATH (a folder the user
// opened a file from could otherwise run its own code inside the program).

#include <windows.h>

#include <string>

namespace varnel::win32 {

// Takes the current folder (and PATH) out of the DLL search of this process
// where the system can: SetDefaultDllDirectories (Windows 7 with KB2533623 and
// later: the program's folder and the system folder only), SetDllDirectoryA("")
// (XP SP1 and later). Both are looked up at run time; older systems have
// neither, and the program loads its libraries by full path anyway.
void RestrictDllSearch();

// The folder of this program's own file and the system folder, each ending in
// a backslash; empty when the system does not say.
std::string ProgramFolder();
std::string SystemFolder();

// A system DLL (riched20.dll, ...) from the system folder, by full path.
HMODULE LoadSystemLibrary(const char* name);

}  // namespace varnel::win32
