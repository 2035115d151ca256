#include "platform/library_path_win32.h"

namespace varnel::win32 {

namespace {

// LOAD_LIBRARY_SEARCH_DEFAULT_DIRS: the program's folder, the system folder
// and folders added with AddDllDirectory; not the current folder, not PATH.
constexpr DWORD kSearchDefaultDirs = 0x00001000;

std::string WithBackslash(std::string folder) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder;
}

}  // namespace

void RestrictDllSearch() {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryAFn = BOOL(WINAPI*)(LPCSTR);
    if (auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories"))))
        setDefault(kSearchDefaultDirs);
    if (auto setDirectory =
            reinterpret_cast<SetDllDirectoryAFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDllDirectoryA"))))
        setDirectory("");
}

std::string ProgramFolder() {
    char path[MAX_PATH + 1];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string file(path, length);
    const size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string SystemFolder() {
    char path[MAX_PATH + 1];
    const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return WithBackslash(std::string(path, length));
}

HMODULE LoadSystemLibrary(const char* name) {
    const std::string folder = SystemFolder();
    if (folder.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    return ::LoadLibraryExA((folder + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace varnel::win32
