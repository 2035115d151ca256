#pragma once
// The NDIS access library ZRW32N50.dll as a binary interface: its file name,
// its seven functions and their calling convention. The loader takes the
// functions through these pointer types, and the simulated library defines
// its exports with them, so the two cannot drift apart.

#include <windows.h>
#undef CreateEvent  // windows.h would rename NdisLibrary::CreateEvent

namespace varnel::win32 {

inline constexpr const char* kAccessLibraryFile = "ZRW32N50.dll";

// Every function of the library is stdcall. A pointer type without it
// compiles, and corrupts the stack on the first call.
#define VARNEL_W32N_CALL WINAPI

using IsWindowsNTFn = BOOL(VARNEL_W32N_CALL*)();
using OSGetPlatformVersionFn = DWORD(VARNEL_W32N_CALL*)(DWORD which);
// Fills the 780-byte AdapterRegistryInfo; 0 = success.
using GetAdapterRegistryInfoFn = DWORD(VARNEL_W32N_CALL*)(void* info, LPCSTR subkeyName);
// The adapter's handle, or INVALID_HANDLE_VALUE.
using OpenAdapterAFn = HANDLE(VARNEL_W32N_CALL*)(LPCSTR name);
using CloseAdapterFn = BOOL(VARNEL_W32N_CALL*)(HANDLE adapter);
using GetLastErrorFn = DWORD(VARNEL_W32N_CALL*)();
// Returns the NDIS status once the request has completed (wait = TRUE).
using MakeNdisRequestFn = DWORD(VARNEL_W32N_CALL*)(HANDLE adapter, void* request, OVERLAPPED* overlapped, BOOL wait);

}  // namespace varnel::win32
