#include "backend_win32/access_library.h"

#include <cstddef>
#include <cstring>

#include "platform/library_path_win32.h"

namespace varnel::win32 {

// The records cross into the library as they are: on this build they must
// have the library's layout byte for byte. The shipped build is 32-bit, as the
// library is; the 64-bit test build (run under wine64 where 32-bit programs
// cannot run) has the same layout with 8-byte pointers and handles.
#ifndef _WIN64
static_assert(sizeof(void*) == 4, "the access library is a 32-bit library");
#endif
static_assert(sizeof(DriverRequest) == 4136 + sizeof(void*));  // 4140 bytes on the shipped build
static_assert(offsetof(DriverRequest, requestType) == 20);
static_assert(offsetof(DriverRequest, oid) == 24);
static_assert(offsetof(DriverRequest, buffer) == 28);
static_assert(offsetof(DriverRequest, bufferLength) == 28 + sizeof(void*));
static_assert(offsetof(DriverRequest, bytesWritten) == 32 + sizeof(void*));
static_assert(offsetof(DriverRequest, bytesNeeded) == 36 + sizeof(void*));
static_assert(sizeof(AdapterRegistryInfo) == 780);
static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, event) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(Overlapped::reserved) == offsetof(OVERLAPPED, hEvent));
// A handle travels as the adapter's 32-bit number: Windows keeps the handles
// of a 64-bit process within 32 significant bits (sign-extended), so that
// 32-bit and 64-bit processes can share them.
static_assert(sizeof(AdapterHandle) == 4 && sizeof(HANDLE) >= sizeof(AdapterHandle));

namespace {

HANDLE ToHandle(AdapterHandle handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }

template <typename Fn>
bool Find(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return fn != nullptr;
}

}  // namespace

// The library is loaded by full path from where it belongs: beside the
// program, or else the system folder the card's driver installs it to. A bare
// name would let Windows search the current folder and PATH as well.
HMODULE AccessLibrary::LoadFromItsPlace(const char* file) {
    const std::string name(file);
    if (name.find_first_of("\\/:") != std::string::npos)
        return ::LoadLibraryExA(file, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (const std::string folder = ProgramFolder(); !folder.empty()) {
        const std::string beside = folder + name;
        if (::GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES)
            return ::LoadLibraryExA(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    const std::string system = SystemFolder();
    if (system.empty()) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return ::LoadLibraryExA((system + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

AccessLibrary::AccessLibrary(const char* file) {
    m_module = LoadFromItsPlace(file);
    if (!m_module) {
        m_loadError = ::GetLastError();
        m_problem = std::string(file) + ": cannot be loaded (Windows error " + std::to_string(m_loadError) + ")";
        return;
    }
    const char* missing = nullptr;
    for (const auto& [name, found] :
         {std::pair{"W32N_IsWindowsNT", Find(m_module, "W32N_IsWindowsNT", m_isWindowsNT)},
          std::pair{"W32N_OSGetPlatformVersion", Find(m_module, "W32N_OSGetPlatformVersion", m_osGetPlatformVersion)},
          std::pair{"W32N_GetAdapterRegistryInfo",
                    Find(m_module, "W32N_GetAdapterRegistryInfo", m_getAdapterRegistryInfo)},
          std::pair{"W32N_OpenAdapterA", Find(m_module, "W32N_OpenAdapterA", m_openAdapterA)},
          std::pair{"W32N_CloseAdapter", Find(m_module, "W32N_CloseAdapter", m_closeAdapter)},
          std::pair{"W32N_GetLastError", Find(m_module, "W32N_GetLastError", m_getLastError)},
          std::pair{"W32N_MakeNdisRequest", Find(m_module, "W32N_MakeNdisRequest", m_makeNdisRequest)}}) {
        if (!found && !missing) missing = name;
    }
    if (missing) {
        m_loadError = ERROR_PROC_NOT_FOUND;
        m_problem = std::string(file) + ": has no function " + missing;
        ::FreeLibrary(m_module);
        m_module = nullptr;
    }
}

AccessLibrary::~AccessLibrary() {
    if (m_module) ::FreeLibrary(m_module);
}

bool AccessLibrary::IsWindowsNT() { return Loaded() && m_isWindowsNT(); }

uint32_t AccessLibrary::OSGetPlatformVersion(uint32_t which) { return Loaded() ? m_osGetPlatformVersion(which) : 0; }

uint32_t AccessLibrary::GetAdapterRegistryInfo(AdapterRegistryInfo& info, const char* subkeyName) {
    return Loaded() ? m_getAdapterRegistryInfo(&info, subkeyName) : 1;
}

AdapterHandle AccessLibrary::OpenAdapterA(const char* name) {
    if (!Loaded()) return kInvalidAdapter;
    return static_cast<AdapterHandle>(reinterpret_cast<intptr_t>(m_openAdapterA(name)));
}

void AccessLibrary::CloseAdapter(AdapterHandle handle) {
    if (Loaded()) m_closeAdapter(ToHandle(handle));
}

uint32_t AccessLibrary::GetLastError() { return Loaded() ? m_getLastError() : m_loadError; }

NdisStatus AccessLibrary::MakeNdisRequest(AdapterHandle handle, DriverRequest& request, Overlapped& overlapped,
                                          uint32_t wait) {
    if (!Loaded()) return kNdisFailure;
    // The adapter's overlapped block, as the OVERLAPPED it is on this build.
    OVERLAPPED block;
    std::memcpy(&block, overlapped.reserved, sizeof overlapped.reserved);
    block.hEvent = reinterpret_cast<HANDLE>(overlapped.event);
    const NdisStatus status = m_makeNdisRequest(ToHandle(handle), &request, &block, wait ? TRUE : FALSE);
    std::memcpy(overlapped.reserved, &block, sizeof overlapped.reserved);
    overlapped.event = reinterpret_cast<EventHandle>(block.hEvent);
    return status;
}

EventHandle AccessLibrary::CreateEvent() {
    // Automatic reset, not signalled, no name, default security.
    return reinterpret_cast<EventHandle>(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void AccessLibrary::ResetEvent(EventHandle event) { ::ResetEvent(reinterpret_cast<HANDLE>(event)); }

void AccessLibrary::CloseEvent(EventHandle event) { ::CloseHandle(reinterpret_cast<HANDLE>(event)); }

}  // namespace varnel::win32
