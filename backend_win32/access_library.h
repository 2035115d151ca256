#pragma once
// NdisLibrary over the real access library, loaded at run time. A library
// that cannot be loaded, or lacks one of its functions, is not used at all:
// it then answers like a library whose driver does not load (no adapter
// opens, GetLastError gives the Windows error of the failed load), and
// Problem() says what is missing.

#include <string>

#include "platform/ndis_library.h"
#include "backend_win32/access_library_abi.h"

namespace varnel::win32 {

class AccessLibrary final : public NdisLibrary {
public:
    explicit AccessLibrary(const char* file = kAccessLibraryFile);
    ~AccessLibrary() override;
    AccessLibrary(const AccessLibrary&) = delete;
    AccessLibrary& operator=(const AccessLibrary&) = delete;

    bool Loaded() const { return m_module != nullptr; }
    // Why the library is not used; empty when it is.
    const std::string& Problem() const { return m_problem; }

    bool IsWindowsNT() override;
    uint32_t OSGetPlatformVersion(uint32_t which) override;
    uint32_t GetAdapterRegistryInfo(AdapterRegistryInfo& info, const char* subkeyName) override;
    AdapterHandle OpenAdapterA(const char* name) override;
    void CloseAdapter(AdapterHandle handle) override;
    uint32_t GetLastError() override;
    NdisStatus MakeNdisRequest(AdapterHandle handle, DriverRequest& request, Overlapped& overlapped,
                               uint32_t wait) override;

    EventHandle CreateEvent() override;
    void ResetEvent(EventHandle event) override;
    void CloseEvent(EventHandle event) override;

private:
    static HMODULE LoadFromItsPlace(const char* file);
    HMODULE m_module = nullptr;
    DWORD m_loadError = 0;
    std::string m_problem;
    IsWindowsNTFn m_isWindowsNT = nullptr;
    OSGetPlatformVersionFn m_osGetPlatformVersion = nullptr;
    GetAdapterRegistryInfoFn m_getAdapterRegistryInfo = nullptr;
    OpenAdapterAFn m_openAdapterA = nullptr;
    CloseAdapterFn m_closeAdapter = nullptr;
    GetLastErrorFn m_getLastError = nullptr;
    MakeNdisRequestFn m_makeNdisRequest = nullptr;
};

}  // namespace varnel::win32
