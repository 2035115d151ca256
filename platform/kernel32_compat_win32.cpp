// Three wide-character kernel32 functions that the C and C++ runtimes call
// and that Windows 95, 98 and ME only pretend to have (exported, but every
// call fails there):
// - CreateSemaphoreW: libgcc's Win32 thread model, for the mutexes of the
//   exception unwinder's frame registry, of emulated thread-local storage
//   and of the C++ runtime's own locks (always without a name);
// - GetModuleHandleW and LoadLibraryW: mingw-w64's C runtime, to find in
//   msvcrt.dll the functions older copies of it lack (the locale's code page,
//   rand_s, _gmtime32_s) and RtlGenRandom in advapi32.dll.
// On 9x the runtime's mutexes would have no semaphore and its lookups would
// always fall back. Given here over their narrow twins, which every release
// has whole, in place of the imports: names pass through the system's code
// page, and a name it cannot hold is refused, never changed.

#include <windows.h>

namespace {

// `wide` in the ANSI code page, in `narrow` (MAX_PATH bytes); false, with
// the reason set as the last error, when it does not fit or has a character
// the code page cannot hold (the conversion back would differ).
bool Narrow(LPCWSTR wide, char* narrow) {
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, MAX_PATH, nullptr, nullptr);
    if (bytes <= 0) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WCHAR back[MAX_PATH];
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, narrow, -1, back, MAX_PATH);
    bool same = chars > 0;
    for (int i = 0; same; ++i) {
        if (back[i] != wide[i]) same = false;
        if (!wide[i]) break;
    }
    if (!same) ::SetLastError(ERROR_INVALID_NAME);
    return same;
}

HANDLE WINAPI CreateSemaphoreNarrow(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name && !Narrow(name, narrow)) return nullptr;
    return ::CreateSemaphoreA(attributes, initial, maximum, name ? narrow : nullptr);
}

HMODULE WINAPI GetModuleHandleNarrow(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name && !Narrow(name, narrow)) return nullptr;
    return ::GetModuleHandleA(name ? narrow : nullptr);
}

// A bare name (the runtime asks for "advapi32.dll" and "msvcrt.dll") is
// taken from the system folder by full path, never from the current folder.
HMODULE WINAPI LoadLibraryNarrow(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (!name || !Narrow(name, narrow)) {
        if (!name) ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool bare = true;
    for (const char* c = narrow; *c; ++c)
        if (*c == '\\' || *c == '/' || *c == ':') bare = false;
    if (!bare) return ::LoadLibraryA(narrow);
    char path[MAX_PATH];
    const UINT folder = ::GetSystemDirectoryA(path, MAX_PATH);
    const int length = ::lstrlenA(narrow);
    if (folder == 0 || folder + 1 + length >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    path[folder] = '\\';
    ::lstrcpyA(path + folder + 1, narrow);
    return ::LoadLibraryA(path);
}

}  // namespace

// The imports' own pointers, which the runtimes call through.
#if defined(__i386__)
#define VARNEL_IMPORT(name, bytes) __asm__("__imp__" #name "@" #bytes)
#else
#define VARNEL_IMPORT(name, bytes) __asm__("__imp_" #name)
#endif
extern "C" HANDLE(WINAPI* const varnel_create_semaphore_import)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR)
    VARNEL_IMPORT(CreateSemaphoreW, 16) = CreateSemaphoreNarrow;
extern "C" HMODULE(WINAPI* const varnel_get_module_handle_import)(LPCWSTR)
    VARNEL_IMPORT(GetModuleHandleW, 4) = GetModuleHandleNarrow;
extern "C" HMODULE(WINAPI* const varnel_load_library_import)(LPCWSTR)
    VARNEL_IMPORT(LoadLibraryW, 4) = LoadLibraryNarrow;
