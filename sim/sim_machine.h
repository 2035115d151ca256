#pragma once
// The simulated machine: the access library, the card drivers and the
// cards, and the registry, from a machine directory:
//   machine.json    the configuration (docs/simulated-machine.md)
//   cards/SUBKEY/   each card's state (see SimCard)
// The cards are one device for every process: each request reads the card's
// files as they are then, and every change is saved before the request
// returns, so another process sees it at once and never undoes it. The
// configuration is read once, when the machine is loaded. Counters (request
// numbers for faults) belong to the process.

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ndis_library.h"
#include "platform/registry.h"
#include "platform/result.h"
#include "sim/machine_config.h"
#include "sim/sim_card.h"

namespace varnel::sim {

inline constexpr NdisStatus kNdisAdapterRemoved = 0xC0010018;
inline constexpr NdisStatus kNdisInvalidLength = 0xC0010014;
inline constexpr NdisStatus kNdisNotAccepted = 0xC0010003;

class SimMachine : public NdisLibrary, public Registry {
public:
    // Loads the machine, or says why it cannot be loaded: machine.json is
    // missing or malformed, or a card's flash holds a file that cannot be a
    // sector (named in the reason).
    static Result<std::unique_ptr<SimMachine>> Open(std::filesystem::path directory);
    // The machine of `config` over the cards' files in `directory`, which
    // Open has read the configuration from and checked.
    SimMachine(std::filesystem::path directory, MachineConfig config);
    ~SimMachine() override;

    const MachineConfig& Config() const { return m_config; }
    const std::filesystem::path& Directory() const { return m_directory; }
    // Appends one JSON line per request to this file ("" = no trace).
    void SetTrace(const std::string& path) { m_tracePath = path; }
    // SetTrace, once the file is known to take lines: a failure when it
    // cannot be opened for appending (it is created if missing).
    Result<> OpenTrace(const std::string& path);
    // The adapter key of the emulated system, under HKEY_LOCAL_MACHINE.
    std::string AdapterKey() const;
    // The card behind an adapter, or null.
    SimCard* Card(size_t adapter);
    // The requests of this process that reached the card behind an adapter,
    // by OID (what the faults count).
    std::map<uint32_t, uint32_t> RequestCounts(size_t adapter) const;
    // The flash work of this process's requests to the card behind an
    // adapter, as the flash timing charges it (counted also while the
    // timing is off).
    FlashWork FlashWorkDone(size_t adapter) const;
    // Adapter handles opened and not yet closed.
    size_t OpenHandles() const { return m_open.size(); }

    // NdisLibrary
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
    std::string MachineName() override;
    std::filesystem::path LockDirectory() override;

    // Registry
    bool KeyExists(RegistryHive hive, const std::string& key) override;
    std::optional<std::string> SubkeyName(RegistryHive hive, const std::string& key, uint32_t index) override;
    std::optional<std::string> StringValue(RegistryHive hive, const std::string& key, const std::string& name) override;

private:
    struct OpenAdapter {
        size_t adapter;
        bool auxEnabled = false;
        bool protocolsBlocked = false;
    };
    struct Trace;

    NdisStatus Handle(OpenAdapter& open, DriverRequest& request, Trace& trace);
    NdisStatus HandleCard(OpenAdapter& open, SimCard& card, DriverRequest& request, Trace& trace);
    void WriteTrace(const Trace& trace);
    // What a request answered with `status` made the card's flash do, for
    // the flash timing; the end of card access ends the card's run.
    FlashWork FlashWorkOf(const OpenAdapter& open, const DriverRequest& request, NdisStatus status);

    std::filesystem::path m_directory;
    MachineConfig m_config;
    std::vector<std::unique_ptr<SimCard>> m_cards;  // by adapter, null for none
    std::map<AdapterHandle, OpenAdapter> m_open;
    AdapterHandle m_nextHandle = 1;
    uint32_t m_lastError = 0;
    EventHandle m_nextEvent = 1;
    std::string m_tracePath;
    uint64_t m_sequence = 0;
    std::map<std::pair<size_t, uint32_t>, uint32_t> m_oidCounts;  // per adapter and OID
    std::map<size_t, uint32_t> m_requestCounts;                   // per adapter
    std::map<size_t, SectorEraseLog> m_eraseLogs;                 // per adapter: the sectors its run erased
    std::map<size_t, FlashWork> m_flashWork;                      // per adapter
};

}  // namespace varnel::sim
