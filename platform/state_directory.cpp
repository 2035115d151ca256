#include "platform/state_directory.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include <string>
#endif

namespace varnel {

#ifdef _WIN32
namespace {

using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);

constexpr int kLocalAppData = 0x001c;  // CSIDL_LOCAL_APPDATA: Windows 2000 and later, and shfolder.dll
constexpr int kAppData = 0x001a;       // CSIDL_APPDATA: every release with profiles
constexpr int kCreate = 0x8000;        // CSIDL_FLAG_CREATE

std::string SystemFile(const char* name) {
    char folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryA(folder, sizeof folder);
    if (n == 0 || n >= sizeof folder) return {};
    return std::string(folder, n) + "\\" + name;
}

// SHGetFolderPathA from the shell (Windows 2000 and later, and 98 or NT 4.0
// with a later Internet Explorer), else from shfolder.dll (its
// redistributable for the older releases). Loaded from the system folder
// only, never from the current one.
GetFolderPath FolderPathCall() {
    for (const char* library : {"shell32.dll", "shfolder.dll"}) {
        HMODULE module = ::GetModuleHandleA(library);
        if (!module) {
            const std::string path = SystemFile(library);
            if (!path.empty()) module = ::LoadLibraryA(path.c_str());
        }
        if (!module) continue;
        if (const FARPROC call = ::GetProcAddress(module, "SHGetFolderPathA"))
            return reinterpret_cast<GetFolderPath>(reinterpret_cast<void*>(call));
    }
    return nullptr;
}

std::string KnownFolder(GetFolderPath call, int folder) {
    char path[MAX_PATH] = {};
    if (!call || FAILED(call(nullptr, folder | kCreate, nullptr, 0, path)) || !path[0]) return {};
    return path;
}

}  // namespace
#endif

std::filesystem::path StateDirectory() {
#ifdef _WIN32
    // Where the release keeps a user's own application data, not roaming:
    // %LOCALAPPDATA%\Varnel on Windows 2000 and later, the roaming
    // Application Data folder where there is no local one, and the Windows
    // folder's Application Data on a Windows 95 without profiles.
    const GetFolderPath call = FolderPathCall();
    std::string base = KnownFolder(call, kLocalAppData);
    if (base.empty()) base = KnownFolder(call, kAppData);
    if (base.empty())
        if (const char* local = std::getenv("LOCALAPPDATA"); local && *local) base = local;
    if (base.empty())
        if (const char* roaming = std::getenv("APPDATA"); roaming && *roaming) base = roaming;
    if (base.empty()) {
        char windows[MAX_PATH];
        const UINT n = ::GetWindowsDirectoryA(windows, sizeof windows);
        base = n > 0 && n < sizeof windows ? std::string(windows, n) + "\\Application Data" : std::string(".");
    }
    return std::filesystem::path(base + "\\Varnel");
#else
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::filesystem::path(state) / "varnel";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "state" / "varnel";
#endif
}

}  // namespace varnel
