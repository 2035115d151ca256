#pragma once
// An NdisLibrary that passes every call on to another, for tests and
// benchmarks that watch the calls (override what you watch).

#include "platform/ndis_library.h"

namespace varnel::test {

class ForwardingLibrary : public NdisLibrary {
public:
    explicit ForwardingLibrary(NdisLibrary& inner) : m_inner(inner) {}
    bool IsWindowsNT() override { return m_inner.IsWindowsNT(); }
    uint32_t OSGetPlatformVersion(uint32_t which) override { return m_inner.OSGetPlatformVersion(which); }
    uint32_t GetAdapterRegistryInfo(AdapterRegistryInfo& info, const char* subkey) override {
        return m_inner.GetAdapterRegistryInfo(info, subkey);
    }
    AdapterHandle OpenAdapterA(const char* name) override { return m_inner.OpenAdapterA(name); }
    void CloseAdapter(AdapterHandle handle) override { m_inner.CloseAdapter(handle); }
    uint32_t GetLastError() override { return m_inner.GetLastError(); }
    NdisStatus MakeNdisRequest(AdapterHandle handle, DriverRequest& request, Overlapped& overlapped,
                               uint32_t wait) override {
        return m_inner.MakeNdisRequest(handle, request, overlapped, wait);
    }
    EventHandle CreateEvent() override { return m_inner.CreateEvent(); }
    void ResetEvent(EventHandle event) override { m_inner.ResetEvent(event); }
    void CloseEvent(EventHandle event) override { m_inner.CloseEvent(event); }
    std::string MachineName() override { return m_inner.MachineName(); }
    std::filesystem::path LockDirectory() override { return m_inner.LockDirectory(); }

private:
    NdisLibrary& m_inner;
};

}  // namespace varnel::test
