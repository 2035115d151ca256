// The wide-character kernel32 functions the runtimes import, as the
// programs get them (platform/kernel32_compat_win32.cpp, linked ahead of
// kernel32): each call below goes through the import's pointer, as the
// runtime's own calls do. Run under wine by run.sh; one line per check,
// exit status 1 when any fails.

#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s - %s\n", ok ? "ok" : "not ok", what);
    if (!ok) ++failures;
}

std::string SystemFolder() {
    char folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder, n < MAX_PATH ? n : 0);
}

DWORD WINAPI ThrowAndCatch(void* counter) {
    for (int i = 0; i < 200; ++i) try {
            throw std::runtime_error("thrown");
        } catch (const std::runtime_error&) {
            ++*static_cast<int*>(counter);
        }
    return 0;
}

}  // namespace

int main() {
    Check(::GetModuleHandleW(L"kernel32.dll") == ::GetModuleHandleA("kernel32.dll") &&
              ::GetModuleHandleW(L"kernel32.dll") != nullptr,
          "GetModuleHandleW finds kernel32.dll, as GetModuleHandleA does");
    Check(::GetModuleHandleW(nullptr) == ::GetModuleHandleA(nullptr), "GetModuleHandleW(NULL) is the program");

    // A name the ANSI code page cannot hold is refused as such, never sent
    // on changed (a best-fit "?" or a near letter could name another file).
    ::SetLastError(0);
    Check(::GetModuleHandleW(L"\x4E2D\x6587.dll") == nullptr && ::GetLastError() == ERROR_INVALID_NAME,
          "GetModuleHandleW refuses a name outside the code page (ERROR_INVALID_NAME)");
    ::SetLastError(0);
    Check(::LoadLibraryW(L"\x4E2D\x6587.dll") == nullptr && ::GetLastError() == ERROR_INVALID_NAME,
          "LoadLibraryW refuses a name outside the code page (ERROR_INVALID_NAME)");

    // A bare name comes from the system folder, whatever the current folder holds.
    const HMODULE version = ::LoadLibraryW(L"version.dll");
    char path[MAX_PATH] = {};
    const DWORD n = version ? ::GetModuleFileNameA(version, path, MAX_PATH) : 0;
    const std::string expected = SystemFolder() + "\\version.dll";
    Check(n > 0 && lstrcmpiA(path, expected.c_str()) == 0,
          "LoadLibraryW of a bare name loads it from the system folder");
    if (version) ::FreeLibrary(version);
    Check(::LoadLibraryW(L"varnel-no-such-library.dll") == nullptr && ::GetLastError() == ERROR_MOD_NOT_FOUND,
          "LoadLibraryW of a missing library fails with ERROR_MOD_NOT_FOUND");

    const HANDLE anonymous = ::CreateSemaphoreW(nullptr, 0, 2, nullptr);
    Check(anonymous && ::ReleaseSemaphore(anonymous, 1, nullptr) &&
              ::WaitForSingleObject(anonymous, 0) == WAIT_OBJECT_0 &&
              ::WaitForSingleObject(anonymous, 0) == WAIT_TIMEOUT,
          "CreateSemaphoreW without a name: a working semaphore");
    if (anonymous) ::CloseHandle(anonymous);
    const HANDLE named = ::CreateSemaphoreW(nullptr, 1, 1, L"varnel-runtime-compat-test");
    const HANDLE opened = ::OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "varnel-runtime-compat-test");
    Check(named && opened, "CreateSemaphoreW with a name: the narrow name finds it");
    if (opened) ::CloseHandle(opened);
    if (named) ::CloseHandle(named);

    // The runtime's own users: exceptions thrown and caught in several
    // threads at once (libgcc's frame registry and its mutexes).
    HANDLE threads[8] = {};
    int caught[8] = {};
    for (int t = 0; t < 8; ++t) threads[t] = ::CreateThread(nullptr, 0, &ThrowAndCatch, &caught[t], 0, nullptr);
    bool all = true;
    for (int t = 0; t < 8; ++t) {
        all = all && threads[t] && ::WaitForSingleObject(threads[t], 60000) == WAIT_OBJECT_0 && caught[t] == 200;
        if (threads[t]) ::CloseHandle(threads[t]);
    }
    Check(all, "exceptions thrown and caught in 8 threads at once");
    return failures ? 1 : 0;
}
