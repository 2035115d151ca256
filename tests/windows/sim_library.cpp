// ZRW32N50.dll made of the simulated machine: a test fixture that offers the
// access library's seven functions, so that varnel-cli.exe can be run through
// its real loading path without a card. It serves the machine directory named
// by VARNEL_SIM_LIBRARY_MACHINE (not VARNEL_MACHINE, which would switch
// varnel-cli.exe to its own simulated machine), and with VARNEL_TRACE=FILE
// appends every request to FILE as varnel-cli --machine does. Never installed.
//
// As the real library, it answers the platform queries from the system it
// runs on (GetVersionExA): NT or not, and the major version; under wine, the
// Windows version wine is set to. A machine kept as another family keeps its
// adapters (their key, their names) would not match those answers: the
// library then refuses it, saying why, and answers as a machine without a
// driver.

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <type_traits>

#include "sim/sim_machine.h"
#include "backend_win32/access_library_abi.h"

namespace {

using varnel::sim::SimMachine;

// What GetLastError says while there is no machine: its "driver" is missing.
constexpr DWORD kNoMachineError = ERROR_FILE_NOT_FOUND;

// The system this library runs on, as GetVersionExA tells it.
struct System {
    bool nt = true;
    DWORD major = 5;
    DWORD minor = 0;
};

System RunningSystem() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    System system;
    if (::GetVersionExA(&info)) {
        system.nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        system.major = info.dwMajorVersion;
        system.minor = info.dwMinorVersion;
    }
    return system;
}

// The family a system or a machine belongs to, as the program tells them
// apart: not NT, NT below 5, NT 5 or later.
const char* FamilyName(bool nt, DWORD major) {
    return !nt ? "Windows 95, 98 or ME" : major < 5 ? "Windows NT 4.0" : "Windows 2000 or later";
}

SimMachine* Machine() {
    static const std::unique_ptr<SimMachine> machine = []() -> std::unique_ptr<SimMachine> {
        const char* directory = std::getenv("VARNEL_SIM_LIBRARY_MACHINE");
        if (!directory || !*directory) {
            std::cerr << "ZRW32N50.dll (simulated): VARNEL_SIM_LIBRARY_MACHINE names no machine directory\n";
            return nullptr;
        }
        varnel::Result<std::unique_ptr<SimMachine>> loaded = SimMachine::Open(directory);
        if (!loaded) {
            std::cerr << "ZRW32N50.dll (simulated): " << loaded.Reason() << "\n";
            return nullptr;
        }
        const System system = RunningSystem();
        const char* running = FamilyName(system.nt, system.major);
        const char* kept = FamilyName((*loaded)->IsWindowsNT(), (*loaded)->OSGetPlatformVersion(2));
        if (std::string(running) != kept) {
            std::cerr << "ZRW32N50.dll (simulated): the machine in " << directory << " keeps its adapters as " << kept
                      << " does, but this system is " << running << " (Windows " << system.major << "." << system.minor
                      << ")\n";
            return nullptr;
        }
        if (const char* trace = std::getenv("VARNEL_TRACE"); trace && *trace) (*loaded)->SetTrace(trace);
        return std::move(*loaded);
    }();
    return machine.get();
}

HANDLE ToHandle(varnel::AdapterHandle handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }
varnel::AdapterHandle FromHandle(HANDLE handle) {
    return static_cast<varnel::AdapterHandle>(reinterpret_cast<intptr_t>(handle));
}

}  // namespace

extern "C" {

BOOL VARNEL_W32N_CALL W32N_IsWindowsNT() { return Machine() && RunningSystem().nt ? TRUE : FALSE; }

// The system's major version (4 on 95, 98, ME and NT 4.0; 5 on 2000 and XP).
DWORD VARNEL_W32N_CALL W32N_OSGetPlatformVersion(DWORD) { return Machine() ? RunningSystem().major : 0; }

DWORD VARNEL_W32N_CALL W32N_GetAdapterRegistryInfo(void* info, LPCSTR subkeyName) {
    SimMachine* machine = Machine();
    if (!machine || !info || !subkeyName) return 1;
    return machine->GetAdapterRegistryInfo(*static_cast<varnel::AdapterRegistryInfo*>(info), subkeyName);
}

HANDLE VARNEL_W32N_CALL W32N_OpenAdapterA(LPCSTR name) {
    SimMachine* machine = Machine();
    if (!machine) return INVALID_HANDLE_VALUE;
    return ToHandle(machine->OpenAdapterA(name));
}

BOOL VARNEL_W32N_CALL W32N_CloseAdapter(HANDLE adapter) {
    SimMachine* machine = Machine();
    if (!machine) return FALSE;
    machine->CloseAdapter(FromHandle(adapter));
    return TRUE;
}

DWORD VARNEL_W32N_CALL W32N_GetLastError() {
    SimMachine* machine = Machine();
    return machine ? machine->GetLastError() : kNoMachineError;
}

DWORD VARNEL_W32N_CALL W32N_MakeNdisRequest(HANDLE adapter, void* request, OVERLAPPED* overlapped, BOOL wait) {
    SimMachine* machine = Machine();
    if (!machine || !request) return varnel::kNdisFailure;
    // As a driver would, the request completes through the caller's event:
    // a block without a live event is refused before anything happens.
    if (!overlapped || !overlapped->hEvent || ::WaitForSingleObject(overlapped->hEvent, 0) == WAIT_FAILED)
        return varnel::kNdisFailure;
    varnel::Overlapped unused;
    const varnel::NdisStatus status = machine->MakeNdisRequest(
        FromHandle(adapter), *static_cast<varnel::DriverRequest*>(request), unused, wait ? 1 : 0);
    ::SetEvent(overlapped->hEvent);
    return status;
}

}  // extern "C"

// The exports have the very types the loader takes them as.
static_assert(std::is_same_v<decltype(&W32N_IsWindowsNT), varnel::win32::IsWindowsNTFn>);
static_assert(std::is_same_v<decltype(&W32N_OSGetPlatformVersion), varnel::win32::OSGetPlatformVersionFn>);
static_assert(std::is_same_v<decltype(&W32N_GetAdapterRegistryInfo), varnel::win32::GetAdapterRegistryInfoFn>);
static_assert(std::is_same_v<decltype(&W32N_OpenAdapterA), varnel::win32::OpenAdapterAFn>);
static_assert(std::is_same_v<decltype(&W32N_CloseAdapter), varnel::win32::CloseAdapterFn>);
static_assert(std::is_same_v<decltype(&W32N_GetLastError), varnel::win32::GetLastErrorFn>);
static_assert(std::is_same_v<decltype(&W32N_MakeNdisRequest), varnel::win32::MakeNdisRequestFn>);
static_assert(sizeof(varnel::DriverRequest) == 4136 + sizeof(void*));
