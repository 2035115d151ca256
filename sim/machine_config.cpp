#include "sim/machine_config.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace varnel::sim {

namespace {

using Json = nlohmann::ordered_json;

// The parse below stops at the first fault it finds, deep in the JSON, by
// throwing Bad; ParseMachineConfig turns it into its failure. Nothing else
// sees it.
struct Bad {
    Bad(const std::string& where, const std::string& why) : reason("machine.json: " + where + ": " + why) {}
    std::string reason;
};

// A number written as a JSON number or as a decimal or "0x..." string.
int64_t Number(const Json& value, const std::string& where) {
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        try {
            size_t used = 0;
            const int64_t n = std::stoll(text, &used, 0);
            if (used == text.size()) return n;
        } catch (const std::exception&) {
        }
    }
    throw Bad(where, "expected a number, got " + value.dump());
}

template <typename T>
T Unsigned(const Json& value, const std::string& where) {
    const int64_t n = Number(value, where);
    if (n < 0 || static_cast<uint64_t>(n) > std::numeric_limits<T>::max())
        throw Bad(where, "out of range: " + value.dump());
    return static_cast<T>(n);
}

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

template <typename F>
void Optional(const Json& object, const char* key, F&& read) {
    if (object.contains(key) && !object[key].is_null()) read(object[key]);
}

bool Bool(const Json& value, const std::string& where) {
    if (!value.is_boolean()) throw Bad(where, "expected true or false");
    return value.get<bool>();
}

std::string String(const Json& value, const std::string& where) {
    if (!value.is_string()) throw Bad(where, "expected a string");
    return value.get<std::string>();
}

std::array<uint8_t, 6> ParseMac(const Json& value, const std::string& where) {
    const std::string text = String(value, where);
    std::array<uint8_t, 6> mac{};
    unsigned b[6];
    char tail;
    if (std::sscanf(text.c_str(), "%2x-%2x-%2x-%2x-%2x-%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6)
        throw Bad(where, "expected a MAC address like 00-60-1D-12-34-56");
    for (int i = 0; i < 6; ++i) mac[static_cast<size_t>(i)] = static_cast<uint8_t>(b[i]);
    return mac;
}

FirmwareIdentity ParseIdentity(const Json& value, const std::string& where) {
    FirmwareIdentity id;
    Optional(value, "variant", [&](const Json& v) { id.variant = Unsigned<uint16_t>(v, where + ".variant"); });
    Optional(value, "major", [&](const Json& v) { id.major = Unsigned<uint16_t>(v, where + ".major"); });
    Optional(value, "minor", [&](const Json& v) { id.minor = Unsigned<uint16_t>(v, where + ".minor"); });
    return id;
}

std::vector<AddressRange> ParseRanges(const Json& value, const std::string& where) {
    std::vector<AddressRange> ranges;
    for (const Json& r : value) {
        AddressRange range{Unsigned<uint32_t>(r.at("from"), where + ".from"),
                           Unsigned<uint32_t>(r.at("to"), where + ".to")};
        if (range.to <= range.from) throw Bad(where, "\"to\" must lie above \"from\"");
        ranges.push_back(range);
    }
    return ranges;
}

CardFaults ParseFaults(const Json& value, const std::string& where) {
    CardFaults f;
    Optional(value, "oid_status", [&](const Json& list) {
        for (const Json& entry : list) {
            OidFault fault;
            fault.oid = Unsigned<uint32_t>(entry.at("oid"), where + ".oid_status.oid");
            fault.status = Unsigned<uint32_t>(entry.at("status"), where + ".oid_status.status");
            Optional(entry, "from_request", [&](const Json& v) {
                fault.fromRequest = Unsigned<uint32_t>(v, where + ".oid_status.from_request");
            });
            f.oidStatus.push_back(fault);
        }
    });
    Optional(value, "unreadable_rids", [&](const Json& list) {
        for (const Json& rid : list) f.unreadableRids.push_back(Unsigned<uint16_t>(rid, where + ".unreadable_rids"));
    });
    Optional(value, "write_protected",
             [&](const Json& v) { f.writeProtected = ParseRanges(v, where + ".write_protected"); });
    Optional(value, "corrupt_reads", [&](const Json& v) { f.corruptReads = ParseRanges(v, where + ".corrupt_reads"); });
    Optional(value, "no_support_check",
             [&](const Json& v) { f.noSupportCheck = Bool(v, where + ".no_support_check"); });
    Optional(value, "dies_after_requests",
             [&](const Json& v) { f.diesAfterRequests = Unsigned<uint32_t>(v, where + ".dies_after_requests"); });
    return f;
}

CardConfig ParseCard(const Json& value, const std::string& where) {
    CardConfig card;
    Optional(value, "type", [&](const Json& v) { card.type = Unsigned<uint16_t>(v, where + ".type"); });
    Optional(value, "primary", [&](const Json& v) { card.primary = ParseIdentity(v, where + ".primary"); });
    Optional(value, "station", [&](const Json& v) { card.station = ParseIdentity(v, where + ".station"); });
    Optional(value, "firmware_text", [&](const Json& v) { card.firmwareText = String(v, where + ".firmware_text"); });
    Optional(value, "flash_size",
             [&](const Json& v) { card.flashSize = Unsigned<uint32_t>(v, where + ".flash_size"); });
    Optional(value, "ram_pda", [&](const Json& v) {
        if (v.is_array()) {
            card.ramPda = "words";
            for (const Json& w : v) card.ramPdaWords.push_back(Unsigned<uint16_t>(w, where + ".ram_pda"));
        } else {
            card.ramPda = String(v, where + ".ram_pda");
            if (card.ramPda != "loaded" && card.ramPda != "erased")
                throw Bad(where + ".ram_pda", "expected \"loaded\", \"erased\" or a list of words");
        }
    });
    Optional(value, "faults", [&](const Json& v) { card.faults = ParseFaults(v, where + ".faults"); });
    if (card.flashSize == 0 || card.flashSize > 0x4000000) throw Bad(where + ".flash_size", "must be 1 byte to 64 MiB");
    return card;
}

Json IdentityJson(const FirmwareIdentity& id) {
    return Json{{"major", id.major}, {"minor", id.minor}, {"variant", id.variant}};
}

Json RangesJson(const std::vector<AddressRange>& ranges) {
    Json list = Json::array();
    for (const AddressRange& r : ranges) list.push_back({{"from", Hex(r.from, 8)}, {"to", Hex(r.to, 8)}});
    return list;
}

}  // namespace

std::string SystemName(System system) {
    switch (system) {
    case System::Windows95: return "windows95";
    case System::WindowsNT4: return "windowsnt4";
    case System::Windows2000: break;
    }
    return "windows2000";
}

std::string FormatMac(const std::array<uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

Result<MachineConfig> ParseMachineConfig(const std::string& text) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::parse_error& e) {
        return Failure{std::string("machine.json: not valid JSON: ") + e.what()};
    }
    if (!root.is_object()) return Failure{Bad("top level", "expected an object").reason};
    MachineConfig config;
    try {
        Optional(root, "system", [&](const Json& v) {
            const std::string name = String(v, "system");
            if (name == "windows95") config.system = System::Windows95;
            else if (name == "windowsnt4") config.system = System::WindowsNT4;
            else if (name == "windows2000") config.system = System::Windows2000;
            else throw Bad("system", "expected windows95, windowsnt4 or windows2000");
        });
        Optional(root, "startup_error",
                 [&](const Json& v) { config.startupError = Unsigned<uint32_t>(v, "startup_error"); });
        Optional(root, "event_creation_fails",
                 [&](const Json& v) { config.eventCreationFails = Bool(v, "event_creation_fails"); });
        Optional(root, "latency", [&](const Json& v) {
            Optional(v, "enabled", [&](const Json& e) { config.latencyEnabled = Bool(e, "latency.enabled"); });
            Optional(v, "per_request_us", [&](const Json& e) {
                config.latency.perRequestMicroseconds = Unsigned<uint32_t>(e, "latency.per_request_us");
            });
            Optional(v, "per_byte_ns", [&](const Json& e) {
                config.latency.perByteNanoseconds = Unsigned<uint32_t>(e, "latency.per_byte_ns");
            });
        });
        Optional(root, "flash_timing", [&](const Json& v) {
            FlashTiming& t = config.flashTiming;
            Optional(v, "enabled", [&](const Json& e) { config.flashTimingEnabled = Bool(e, "flash_timing.enabled"); });
            Optional(v, "per_request_us", [&](const Json& e) {
                t.perRequestMicroseconds = Unsigned<uint32_t>(e, "flash_timing.per_request_us");
            });
            Optional(v, "per_byte_read_ns", [&](const Json& e) {
                t.perByteReadNanoseconds = Unsigned<uint32_t>(e, "flash_timing.per_byte_read_ns");
            });
            Optional(v, "per_byte_programmed_ns", [&](const Json& e) {
                t.perByteProgrammedNanoseconds = Unsigned<uint32_t>(e, "flash_timing.per_byte_programmed_ns");
            });
            Optional(v, "per_sector_erased_us", [&](const Json& e) {
                t.perSectorErasedMicroseconds = Unsigned<uint32_t>(e, "flash_timing.per_sector_erased_us");
            });
        });
        Optional(root, "registry", [&](const Json& keys) {
            for (const auto& [key, values] : keys.items())
                for (const auto& [name, value] : values.items())
                    config.registry[key][name] = String(value, "registry." + key + "." + name);
        });
        Optional(root, "adapters", [&](const Json& list) {
            for (size_t i = 0; i < list.size(); ++i) {
                const Json& a = list[i];
                const std::string where = "adapters[" + std::to_string(i) + "]";
                AdapterConfig adapter;
                char subkey[24];
                std::snprintf(subkey, sizeof subkey, "%04zu", i);
                adapter.subkey = subkey;
                Optional(a, "subkey", [&](const Json& v) { adapter.subkey = String(v, where + ".subkey"); });
                Optional(a, "display_name",
                         [&](const Json& v) { adapter.displayName = String(v, where + ".display_name"); });
                Optional(a, "device_name",
                         [&](const Json& v) { adapter.deviceName = String(v, where + ".device_name"); });
                Optional(a, "registry_info",
                         [&](const Json& v) { adapter.registryInfo = Bool(v, where + ".registry_info"); });
                Optional(a, "driver_opens",
                         [&](const Json& v) { adapter.driverOpens = Bool(v, where + ".driver_opens"); });
                Optional(a, "answers_private",
                         [&](const Json& v) { adapter.answersPrivate = Bool(v, where + ".answers_private"); });
                Optional(a, "mac", [&](const Json& v) { adapter.mac = ParseMac(v, where + ".mac"); });
                Optional(a, "driver_version", [&](const Json& v) {
                    const int64_t n = Number(v, where + ".driver_version");
                    if (n < INT32_MIN || n > UINT32_MAX) throw Bad(where + ".driver_version", "out of range");
                    adapter.driverVersion = static_cast<int32_t>(static_cast<uint32_t>(n));
                });
                Optional(a, "card", [&](const Json& v) { adapter.card = ParseCard(v, where + ".card"); });
                config.adapters.push_back(std::move(adapter));
            }
        });
    } catch (const Bad& bad) {
        return Failure{bad.reason};
    } catch (const Json::exception& e) {
        return Failure{std::string("machine.json: ") + e.what()};
    }
    return config;
}

std::string FormatMachineConfig(const MachineConfig& config) {
    Json root;
    root["system"] = SystemName(config.system);
    root["startup_error"] = config.startupError;
    root["event_creation_fails"] = config.eventCreationFails;
    root["latency"] = {{"enabled", config.latencyEnabled},
                       {"per_request_us", config.latency.perRequestMicroseconds},
                       {"per_byte_ns", config.latency.perByteNanoseconds}};
    root["flash_timing"] = {{"enabled", config.flashTimingEnabled},
                            {"per_request_us", config.flashTiming.perRequestMicroseconds},
                            {"per_byte_read_ns", config.flashTiming.perByteReadNanoseconds},
                            {"per_byte_programmed_ns", config.flashTiming.perByteProgrammedNanoseconds},
                            {"per_sector_erased_us", config.flashTiming.perSectorErasedMicroseconds}};
    root["registry"] = Json::object();
    for (const auto& [key, values] : config.registry)
        for (const auto& [name, value] : values) root["registry"][key][name] = value;
    root["adapters"] = Json::array();
    for (const AdapterConfig& a : config.adapters) {
        Json adapter{{"subkey", a.subkey},
                     {"display_name", a.displayName},
                     {"device_name", a.deviceName},
                     {"registry_info", a.registryInfo},
                     {"driver_opens", a.driverOpens},
                     {"answers_private", a.answersPrivate},
                     {"mac", FormatMac(a.mac)},
                     {"driver_version", a.driverVersion < 0 ? Json(a.driverVersion)
                                                            : Json(Hex(static_cast<uint32_t>(a.driverVersion), 8))}};
        if (a.card) {
            const CardConfig& c = *a.card;
            Json faults{{"oid_status", Json::array()},
                        {"unreadable_rids", Json::array()},
                        {"write_protected", RangesJson(c.faults.writeProtected)},
                        {"corrupt_reads", RangesJson(c.faults.corruptReads)},
                        {"no_support_check", c.faults.noSupportCheck},
                        {"dies_after_requests", c.faults.diesAfterRequests}};
            for (const OidFault& f : c.faults.oidStatus)
                faults["oid_status"].push_back(
                    {{"oid", Hex(f.oid, 8)}, {"status", Hex(f.status, 8)}, {"from_request", f.fromRequest}});
            for (const uint16_t rid : c.faults.unreadableRids) faults["unreadable_rids"].push_back(Hex(rid, 4));
            Json card{{"type", c.type},
                      {"primary", IdentityJson(c.primary)},
                      {"station", IdentityJson(c.station)},
                      {"firmware_text", c.firmwareText},
                      {"flash_size", Hex(c.flashSize, 8)}};
            if (c.ramPda == "words") {
                card["ram_pda"] = Json::array();
                for (const uint16_t w : c.ramPdaWords) card["ram_pda"].push_back(Hex(w, 4));
            } else {
                card["ram_pda"] = c.ramPda;
            }
            card["faults"] = faults;
            adapter["card"] = card;
        } else {
            adapter["card"] = nullptr;
        }
        root["adapters"].push_back(adapter);
    }
    return root.dump(2) + "\n";
}

}  // namespace varnel::sim
