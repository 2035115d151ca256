#pragma once
// The NDIS access library: what it offers the program, call for call. The
// card is reached only through MakeNdisRequest on an adapter handle; every
// result is an NDIS status, 0 meaning success.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace varnel {

using NdisStatus = uint32_t;
inline constexpr NdisStatus kNdisSuccess = 0x00000000;
inline constexpr NdisStatus kNdisFailure = 0xC0000001;
inline constexpr NdisStatus kNdisInvalidOid = 0xC0010017;

// Handles returned by OpenAdapterA; -1 is a failed open.
using AdapterHandle = int32_t;
inline constexpr AdapterHandle kInvalidAdapter = -1;

// An event created for an open adapter's overlapped requests; 0 = none.
using EventHandle = uintptr_t;

// The 780-byte record GetAdapterRegistryInfo fills: three NUL-terminated
// texts of 260 bytes.
struct AdapterRegistryInfo {
    char displayName[260];
    char unused[260];
    char deviceName[260];
};
static_assert(sizeof(AdapterRegistryInfo) == 780);

inline constexpr uint32_t kNdisQuery = 0;  // the driver fills the buffer
inline constexpr uint32_t kNdisSet = 1;    // the driver takes the buffer

// The request record handed to MakeNdisRequest, built afresh for every
// request. The byte layout is fixed; only the buffer pointer is as wide as
// the platform's pointers.
#pragma pack(push, 1)
struct DriverRequest {
    uint8_t reserved[20];
    uint32_t requestType;
    uint32_t oid;
    void* buffer;  // null when the length is 0
    uint32_t bufferLength;
    uint32_t bytesWritten;  // set to 0; never examined
    uint32_t bytesNeeded;   // set to 0; never examined
    uint8_t reserved2[4096];
};
#pragma pack(pop)
static_assert(offsetof(DriverRequest, requestType) == 20);
static_assert(offsetof(DriverRequest, oid) == 24);
static_assert(offsetof(DriverRequest, buffer) == 28);
static_assert(offsetof(DriverRequest, bufferLength) == 28 + sizeof(void*));

// The overlapped block passed with every request; only its event is set.
// Before it: two pointer-sized fields and two 32-bit offsets.
struct Overlapped {
    uint8_t reserved[2 * sizeof(void*) + 8] = {};
    EventHandle event = 0;
};

class NdisLibrary {
public:
    virtual ~NdisLibrary() = default;

    virtual bool IsWindowsNT() = 0;
    virtual uint32_t OSGetPlatformVersion(uint32_t which) = 0;
    // Fills `info` for the adapter of one registry subkey; 0 = success.
    virtual uint32_t GetAdapterRegistryInfo(AdapterRegistryInfo& info, const char* subkeyName) = 0;
    virtual AdapterHandle OpenAdapterA(const char* name) = 0;
    virtual void CloseAdapter(AdapterHandle handle) = 0;
    // The error code of the last failed call.
    virtual uint32_t GetLastError() = 0;
    // Returns when the request has completed, with its NDIS status.
    virtual NdisStatus MakeNdisRequest(AdapterHandle handle, DriverRequest& request, Overlapped& overlapped,
                                       uint32_t wait) = 0;

    // The per-adapter event: automatic reset, not signalled; 0 on failure.
    virtual EventHandle CreateEvent() = 0;
    virtual void ResetEvent(EventHandle event) = 0;
    virtual void CloseEvent(EventHandle event) = 0;

    // Which machine the adapters belong to, so that two machines' cards are
    // told apart: "" for this computer; a simulated machine names its
    // directory.
    virtual std::string MachineName() { return {}; }
    // Where the card locks of this machine's cards are kept: "" for this
    // computer (CardLock::SystemDirectory), a simulated machine's own folder.
    virtual std::filesystem::path LockDirectory() { return {}; }
};

}  // namespace varnel
