#include "sim/sim_machine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/file_system.h"
#include "sim/driver_protocol.h"

namespace varnel::sim {

using namespace protocol;

namespace {

constexpr const char* kProbeName = "Check for VXD...";
constexpr uint32_t kErrorFileNotFound = 2;

bool SameKey(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string HiveName(RegistryHive hive) {
    return hive == RegistryHive::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\";
}

void PutWord(uint8_t* bytes, size_t word, uint16_t value) {
    bytes[2 * word] = static_cast<uint8_t>(value);
    bytes[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

bool IsPrivate(uint32_t oid) { return (oid & kPrivateOidMask) == kPrivateOidMask; }

}  // namespace

// The JSON value's members are what clang-tidy takes for a throwing
// destructor; they never throw there.
struct SimMachine::Trace {  // NOLINT(bugprone-exception-escape)
    nlohmann::ordered_json line;
};

SimMachine::SimMachine(std::filesystem::path directory, MachineConfig config)
    : m_directory(std::move(directory)), m_config(std::move(config)) {
    for (const AdapterConfig& adapter : m_config.adapters)
        m_cards.push_back(
            adapter.card ? std::make_unique<SimCard>(*adapter.card, m_directory / "cards" / adapter.subkey) : nullptr);
}

SimMachine::~SimMachine() = default;

Result<std::unique_ptr<SimMachine>> SimMachine::Open(std::filesystem::path directory) {
    std::ifstream in(directory / "machine.json", std::ios::binary);
    if (!in) return Failure{"no machine.json in " + directory.string()};
    std::ostringstream text;
    text << in.rdbuf();
    Result<MachineConfig> config = ParseMachineConfig(text.str());
    if (!config) return config.Error();
    auto machine = std::make_unique<SimMachine>(std::move(directory), std::move(*config));
    // A flash file that cannot be a sector makes the machine unusable: it is
    // refused before anything reads it.
    for (const auto& card : machine->m_cards)
        if (card)
            if (Result<> checked = card->CheckFlashFiles(); !checked) return checked.Error();
    return machine;
}

SimCard* SimMachine::Card(size_t adapter) { return adapter < m_cards.size() ? m_cards[adapter].get() : nullptr; }

std::map<uint32_t, uint32_t> SimMachine::RequestCounts(size_t adapter) const {
    std::map<uint32_t, uint32_t> counts;
    for (const auto& [key, count] : m_oidCounts)
        if (key.first == adapter) counts[key.second] = count;
    return counts;
}

std::string SimMachine::AdapterKey() const {
    switch (m_config.system) {
    case System::Windows95: return "System\\CurrentControlSet\\Services\\Class\\Net";
    case System::WindowsNT4: return "Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
    case System::Windows2000: break;
    }
    return "System\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
}

// --- the access library -------------------------------------------------

bool SimMachine::IsWindowsNT() { return m_config.system != System::Windows95; }

uint32_t SimMachine::OSGetPlatformVersion(uint32_t) { return m_config.system == System::Windows2000 ? 5 : 4; }

uint32_t SimMachine::GetAdapterRegistryInfo(AdapterRegistryInfo& info, const char* subkeyName) {
    for (const AdapterConfig& adapter : m_config.adapters) {
        if (!SameKey(adapter.subkey, subkeyName)) continue;
        if (!adapter.registryInfo) return 1;
        std::memset(&info, 0, sizeof info);
        std::strncpy(info.displayName, adapter.displayName.c_str(), sizeof info.displayName - 1);
        std::strncpy(info.deviceName, adapter.deviceName.c_str(), sizeof info.deviceName - 1);
        return 0;
    }
    return 1;
}

AdapterHandle SimMachine::OpenAdapterA(const char* name) {
    const std::string wanted = name ? name : "";
    if (wanted == kProbeName) {
        // The library has loaded its driver; no adapter has this name.
        m_lastError = m_config.startupError;
        return kInvalidAdapter;
    }
    for (size_t i = 0; i < m_config.adapters.size(); ++i) {
        const AdapterConfig& adapter = m_config.adapters[i];
        const std::string openName = IsWindowsNT() ? "\\Device\\" + adapter.deviceName : adapter.subkey;
        if (!SameKey(openName, wanted)) continue;
        if (!adapter.driverOpens) break;
        const AdapterHandle handle = m_nextHandle++;
        m_open[handle] = OpenAdapter{i};
        return handle;
    }
    m_lastError = kErrorFileNotFound;
    return kInvalidAdapter;
}

void SimMachine::CloseAdapter(AdapterHandle handle) { m_open.erase(handle); }

uint32_t SimMachine::GetLastError() { return m_lastError; }

EventHandle SimMachine::CreateEvent() { return m_config.eventCreationFails ? 0 : m_nextEvent++; }

void SimMachine::ResetEvent(EventHandle) {}

void SimMachine::CloseEvent(EventHandle) {}

std::string SimMachine::MachineName() {
    // The same machine under any of its paths.
    std::error_code ec;
    const std::string canonical = files::CanonicalOrAbsolute(m_directory.string(), ec);
    return "simulated machine " + (ec ? m_directory.string() : canonical);
}

// The machine's cards are locked inside its folder: every user and every
// program working on this machine meets the same lock.
std::filesystem::path SimMachine::LockDirectory() { return std::filesystem::path(m_directory) / "locks"; }

NdisStatus SimMachine::MakeNdisRequest(AdapterHandle handle, DriverRequest& request, Overlapped&, uint32_t) {
    Trace trace;
    trace.line["seq"] = ++m_sequence;
    trace.line["oid"] = request.oid;
    trace.line["type"] = request.requestType == kNdisSet ? "set" : "query";
    trace.line["length"] = request.bufferLength;

    NdisStatus status = kNdisFailure;
    auto open = m_open.find(handle);
    if (open != m_open.end()) {
        if (m_config.latencyEnabled) {
            const auto cost =
                std::chrono::microseconds(m_config.latency.perRequestMicroseconds) +
                std::chrono::nanoseconds(uint64_t{m_config.latency.perByteNanoseconds} * request.bufferLength);
            std::this_thread::sleep_for(cost);
        }
        status = Handle(open->second, request, trace);
        const FlashWork work = FlashWorkOf(open->second, request, status);
        m_flashWork[open->second.adapter] += work;
        if (m_config.flashTimingEnabled) std::this_thread::sleep_for(FlashCost(m_config.flashTiming, work));
    }
    trace.line["status"] = status;
    WriteTrace(trace);
    return status;
}

FlashWork SimMachine::FlashWorkDone(size_t adapter) const {
    const auto done = m_flashWork.find(adapter);
    return done == m_flashWork.end() ? FlashWork{} : done->second;
}

FlashWork SimMachine::FlashWorkOf(const OpenAdapter& open, const DriverRequest& request, NdisStatus status) {
    FlashWork work;
    SimCard* card = Card(open.adapter);
    if (!card || status != kNdisSuccess) return work;
    if (request.oid == kOidEndCardAccess) {
        m_eraseLogs[open.adapter].EndRun();
        return work;
    }
    if ((request.oid != kOidReadAux && request.oid != kOidWriteAux) || request.bufferLength < 6 || !request.buffer)
        return work;
    uint32_t address;
    uint16_t count;
    std::memcpy(&address, request.buffer, 4);
    std::memcpy(&count, static_cast<const uint8_t*>(request.buffer) + 4, 2);
    if (request.oid == kOidReadAux) {
        work.bytesRead = count;
    } else {
        work.bytesProgrammed = count;
        work.sectorsErased = m_eraseLogs[open.adapter].Write(card->Decode(address), count);
    }
    return work;
}

Result<> SimMachine::OpenTrace(const std::string& path) {
    if (!path.empty()) {
        std::ofstream out(path, std::ios::app | std::ios::binary);
        if (!out) return Failure{path + ": cannot be opened for writing: " + std::strerror(errno)};
    }
    SetTrace(path);
    return {};
}

void SimMachine::WriteTrace(const Trace& trace) {
    if (m_tracePath.empty()) return;
    // Opened for each request, so the file may be read, moved away or
    // removed between requests.
    std::ofstream out(m_tracePath, std::ios::app | std::ios::binary);  // LF lines on every system
    out << trace.line.dump() << "\n";
}

NdisStatus SimMachine::Handle(OpenAdapter& open, DriverRequest& request, Trace& trace) {
    const AdapterConfig& adapter = m_config.adapters[open.adapter];
    SimCard* card = Card(open.adapter);

    if (card) {
        // A card that has died (pulled out) fails every later request.
        const uint32_t dies = card->Config().faults.diesAfterRequests;
        if (dies && ++m_requestCounts[open.adapter] > dies) return kNdisAdapterRemoved;
        const uint32_t count = ++m_oidCounts[{open.adapter, request.oid}];
        for (const OidFault& fault : card->Config().faults.oidStatus)
            if (fault.oid == request.oid && count >= fault.fromRequest) return fault.status;
    }

    const auto needs = [&](uint32_t type, uint32_t length) {
        return request.requestType == type && request.bufferLength >= length && (length == 0 || request.buffer);
    };
    switch (request.oid) {
    case kOidPermanentAddress:
        if (!needs(kNdisQuery, kPermanentAddressBytes)) return kNdisInvalidLength;
        std::memcpy(request.buffer, adapter.mac.data(), kPermanentAddressBytes);
        return kNdisSuccess;
    case kOidDriverVersion: {
        if (!needs(kNdisQuery, kDriverVersionBytes)) return kNdisInvalidLength;
        const auto version = static_cast<uint32_t>(adapter.driverVersion);
        std::memcpy(request.buffer, &version, kDriverVersionBytes);
        return kNdisSuccess;
    }
    default: break;
    }
    if (!IsPrivate(request.oid) || !adapter.answersPrivate || !card) return kNdisInvalidOid;
    return HandleCard(open, *card, request, trace);
}

NdisStatus SimMachine::HandleCard(OpenAdapter& open, SimCard& card, DriverRequest& request, Trace& trace) {
    const CardConfig& config = card.Config();
    auto* bytes = static_cast<uint8_t*>(request.buffer);
    const auto needs = [&](uint32_t type, uint32_t length) {
        return request.requestType == type && request.bufferLength >= length && (length == 0 || bytes);
    };

    switch (request.oid) {
    case kOidReadRid: {
        if (!needs(kNdisQuery, kRidBufferBytes)) return kNdisInvalidLength;
        const auto rid = static_cast<uint16_t>(bytes[kRidWordOffset] | bytes[kRidWordOffset + 1] << 8);
        trace.line["rid"] = rid;
        if (std::count(config.faults.unreadableRids.begin(), config.faults.unreadableRids.end(), rid))
            return kNdisFailure;
        uint8_t* payload = bytes + kRidPayloadOffset;
        uint16_t words = 0;
        // The identities are those the card loaded at its last reset.
        SimCard::LoadedState loaded;
        if (rid == kRidPrimaryIdentity || rid == kRidStationIdentity || rid == kRidFirmwareText) {
            const Result<SimCard::LoadedState> state = card.State();
            if (!state) return kNdisFailure;
            loaded = *state;
        }
        const auto identity = [&](uint16_t id, const FirmwareIdentity& v) {
            PutWord(payload, 0, id);
            PutWord(payload, 1, v.variant);
            PutWord(payload, 2, v.major);
            PutWord(payload, 3, v.minor);
            words = 4;
        };
        switch (rid) {
        case kRidCardType:
            PutWord(payload, 0, 0);
            PutWord(payload, 1, 0);
            PutWord(payload, 2, config.type);
            PutWord(payload, 3, 0);
            words = 4;
            break;
        case kRidPrimaryIdentity: identity(kComponentPrimary, loaded.primary); break;
        case kRidStationIdentity: identity(kComponentStation, loaded.station); break;
        case kRidFirmwareText: {
            std::memset(payload, 0, kFirmwareTextBytes);
            const std::string text = card.FirmwareText(loaded.station);
            std::memcpy(payload, text.data(), std::min(text.size(), kFirmwareTextBytes));
            words = kFirmwareTextBytes / 2;
            break;
        }
        default: break;  // no such record: the length word stays 0
        }
        PutWord(bytes, 0, words ? static_cast<uint16_t>(words + 1) : 0);
        return kNdisSuccess;
    }
    case kOidCheckSupport:
        if (config.faults.noSupportCheck) return kNdisInvalidOid;
        if (!needs(kNdisQuery, kSupportCheckBytes)) return kNdisInvalidLength;
        PutWord(bytes, 0, 1);
        return kNdisSuccess;
    case kOidEnableAux:
        if (request.requestType != kNdisSet) return kNdisNotAccepted;
        open.auxEnabled = true;
        return kNdisSuccess;
    case kOidBlockProtocols:
    case kOidUnblockProtocols:
        if (request.requestType != kNdisSet) return kNdisNotAccepted;
        open.protocolsBlocked = request.oid == kOidBlockProtocols;
        return kNdisSuccess;
    case kOidEndCardAccess: {
        if (request.requestType != kNdisSet) return kNdisNotAccepted;
        // The card resets: it loads its PDA and firmware anew.
        open.auxEnabled = false;
        open.protocolsBlocked = false;
        return card.Reset() ? kNdisSuccess : kNdisFailure;
    }
    case kOidReadAux:
    case kOidWriteAux: {
        const bool write = request.oid == kOidWriteAux;
        if (!needs(write ? kNdisSet : kNdisQuery, kAuxHeaderBytes)) return kNdisInvalidLength;
        uint32_t address;
        uint16_t count;
        std::memcpy(&address, bytes, 4);
        std::memcpy(&count, bytes + kAuxCountOffset, 2);
        trace.line["address"] = address;
        trace.line["count"] = count;
        if (count > kAuxMaxData || request.bufferLength != count + kAuxHeaderBytes) return kNdisInvalidLength;
        // The Aux Port must be enabled; writes need the protocols blocked.
        if (!open.auxEnabled || (write && !open.protocolsBlocked)) return kNdisNotAccepted;
        const uint32_t target = card.Decode(address);
        if (write) {
            if (address & kAuxNvramBit) return kNdisFailure;
            for (const AddressRange& r : config.faults.writeProtected)
                if (r.Overlaps(target, count)) return kNdisFailure;
            return card.WriteFlash(target, bytes + kAuxHeaderBytes, count) ? kNdisSuccess : kNdisFailure;
        }
        const Result<> read = (address & kAuxNvramBit) ? card.ReadFlash(target, bytes + kAuxHeaderBytes, count)
                                                       : card.ReadRam(target, bytes + kAuxHeaderBytes, count);
        if (!read) return kNdisFailure;
        for (const AddressRange& r : config.faults.corruptReads)
            for (uint32_t i = 0; i < count; ++i)
                if (r.Overlaps(target + i, 1)) bytes[kAuxHeaderBytes + i] ^= 0x5A;
        return kNdisSuccess;
    }
    default: return kNdisInvalidOid;
    }
}

// --- the registry -------------------------------------------------------

bool SimMachine::KeyExists(RegistryHive hive, const std::string& key) {
    if (hive == RegistryHive::LocalMachine && SameKey(key, AdapterKey())) return true;
    const std::string full = HiveName(hive) + key;
    return std::any_of(m_config.registry.begin(), m_config.registry.end(),
                       [&](const auto& entry) { return SameKey(entry.first, full); });
}

std::optional<std::string> SimMachine::SubkeyName(RegistryHive hive, const std::string& key, uint32_t index) {
    if (hive != RegistryHive::LocalMachine || !SameKey(key, AdapterKey()) || index >= m_config.adapters.size())
        return std::nullopt;
    return m_config.adapters[index].subkey;
}

std::optional<std::string> SimMachine::StringValue(RegistryHive hive, const std::string& key, const std::string& name) {
    const std::string full = HiveName(hive) + key;
    for (const auto& [k, values] : m_config.registry) {
        if (!SameKey(k, full)) continue;
        for (const auto& [n, value] : values)
            if (SameKey(n, name)) return value;
    }
    return std::nullopt;
}

}  // namespace varnel::sim
