#include "sim/sim_card.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "image/firmware_file.h"
#include "platform/atomic_file.h"
#include "sim/firmware_identity.h"

namespace varnel::sim {

namespace {

constexpr uint32_t kPdaAddressType1 = 0x003F0000;
constexpr uint32_t kPdaAddressType2 = 0x007F0000;
constexpr uint32_t kPdaBytes = 0x400;

std::string ReadWholeFile(const std::filesystem::path& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream text;
    if (found) text << in.rdbuf();
    return text.str();
}

std::string HexBytes(const uint8_t* bytes, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

nlohmann::json IdentityJson(const FirmwareIdentity& id) {
    return {{"major", id.major}, {"minor", id.minor}, {"variant", id.variant}};
}

FirmwareIdentity IdentityFromJson(const nlohmann::json& j) {
    return {j.value<uint16_t>("variant", 0), j.value<uint16_t>("major", 0), j.value<uint16_t>("minor", 0)};
}

}  // namespace

SimCard::SimCard(const CardConfig& config, std::filesystem::path directory)
    : m_config(config), m_directory(std::move(directory)) {
    m_primary = m_config.primary;
    m_station = m_config.station;
    bool found = false;
    const std::string text = ReadWholeFile(m_directory / "state.json", found);
    if (found) {
        try {
            const auto state = nlohmann::json::parse(text);
            const std::string ram = state.at("ram_pda").get<std::string>();
            for (size_t i = 0; i < kPdaBytes && 2 * i + 1 < ram.size(); ++i)
                m_ramPda[i] = static_cast<uint8_t>(std::stoul(ram.substr(2 * i, 2), nullptr, 16));
            m_primary = IdentityFromJson(state.at("primary"));
            m_station = IdentityFromJson(state.at("station"));
            return;
        } catch (const std::exception&) {
            // A damaged state file: the card resets, as after a power cycle.
        }
    }
    std::string error;
    Reset(&error);
}

uint32_t SimCard::PdaAddress() const {
    return Decode(m_config.type == 1 ? kPdaAddressType1 : kPdaAddressType2);
}

uint32_t SimCard::Decode(uint32_t address) const {
    address &= 0x7FFFFFFF;
    return m_config.type == 1 ? address & 0xFFF9FFFF : address;
}

std::filesystem::path SimCard::SectorPath(uint32_t base) const {
    char name[24];
    std::snprintf(name, sizeof name, "%08X.bin", base);
    return m_directory / "flash" / name;
}

std::vector<uint8_t>& SimCard::Sector(uint32_t base) {
    auto found = m_sectors.find(base);
    if (found != m_sectors.end()) return found->second;
    std::vector<uint8_t> sector(kSectorSize, 0xFF);
    bool exists = false;
    const std::string bytes = ReadWholeFile(SectorPath(base), exists);
    std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), kSectorSize), sector.begin());
    return m_sectors.emplace(base, std::move(sector)).first->second;
}

bool SimCard::ReadFlash(uint32_t address, uint8_t* out, uint32_t count) {
    if (uint64_t{address} + count > m_config.flashSize) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t a = address + i;
        out[i] = Sector(a & ~(kSectorSize - 1))[a & (kSectorSize - 1)];
    }
    return true;
}

bool SimCard::ReadRam(uint32_t address, uint8_t* out, uint32_t count) {
    if (!ReadFlash(address, out, count)) return false;
    const uint32_t pda = PdaAddress();
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t a = address + i;
        if (a < pda || a >= pda + kPdaBytes) continue;
        if (m_config.ramPda == "erased") out[i] = 0xFF;
        else if (m_config.ramPda == "words") {
            const uint32_t offset = a - pda;
            const uint16_t word = offset / 2 < m_config.ramPdaWords.size() ? m_config.ramPdaWords[offset / 2] : 0xFFFF;
            out[i] = static_cast<uint8_t>(offset % 2 ? word >> 8 : word);
        } else {
            out[i] = m_ramPda[a - pda];
        }
    }
    return true;
}

bool SimCard::WriteFlash(uint32_t address, const uint8_t* data, uint32_t count, std::string* error) {
    if (uint64_t{address} + count > m_config.flashSize) {
        if (error) *error = "past the end of the flash";
        return false;
    }
    // Each sector touched is changed and saved in turn (pieces never cross one).
    uint32_t done = 0;
    while (done < count) {
        const uint32_t a = address + done;
        const uint32_t base = a & ~(kSectorSize - 1);
        const uint32_t n = std::min(count - done, base + kSectorSize - a);
        std::vector<uint8_t> sector = Sector(base);
        std::memcpy(sector.data() + (a - base), data + done, n);
        std::error_code ignored;
        std::filesystem::create_directories(m_directory / "flash", ignored);
        // A killed process leaves the old sector or the new one, never a mix;
        // a sector that could not be saved is not changed.
        if (!WriteFileAtomically(SectorPath(base).string(),
                                 std::string_view(reinterpret_cast<const char*>(sector.data()), sector.size()), error,
                                 false))
            return false;
        m_sectors[base] = std::move(sector);
        done += n;
    }
    return true;
}

FirmwareIdentity SimCard::IdentityAt(uint32_t address, uint16_t id, const FirmwareIdentity& fallback) {
    IdentityBlock block;
    if (!ReadFlash(Decode(address), block.data(), block.size())) return fallback;
    return DecodeIdentity(block, id).value_or(fallback);
}

std::string SimCard::FirmwareText() const {
    // The configured text is that of the configured Station firmware; any
    // other Station firmware programmed reports its own version.
    if (m_station == m_config.station) return m_config.firmwareText;
    return "WLAN STA firmware " + std::to_string(m_station.major) + "." + std::to_string(m_station.minor) + "." +
           std::to_string(m_station.variant);
}

bool SimCard::Reset(std::string* error) {
    ReadFlash(PdaAddress(), m_ramPda.data(), kPdaBytes);
    m_primary = IdentityAt(kPrimaryBase + kIdentityOffset, CComponentVersion::kPrimaryId, m_config.primary);
    m_station = IdentityAt(kStationBase + kIdentityOffset, CComponentVersion::kStationId, m_config.station);
    std::error_code ignored;
    std::filesystem::create_directories(m_directory, ignored);
    const nlohmann::json state{{"ram_pda", HexBytes(m_ramPda.data(), m_ramPda.size())},
                               {"primary", IdentityJson(m_primary)},
                               {"station", IdentityJson(m_station)}};
    return WriteFileAtomically((m_directory / "state.json").string(), state.dump(2) + "\n", error, false);
}

}  // namespace varnel::sim
