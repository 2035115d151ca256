#include "sim/sim_card.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "sim/driver_protocol.h"
#include "sim/firmware_identity.h"

namespace varnel::sim {

namespace {

constexpr uint32_t kPdaAddressType1 = 0x003F0000;
constexpr uint32_t kPdaAddressType2 = 0x007F0000;
constexpr uint32_t kPdaBytes = 0x400;
// A state file is about 2 KiB; a longer one is damaged and not read.
constexpr uintmax_t kMaxStateBytes = 0x4000;

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

// A sector file's name: its base address as eight hex digits, then ".bin".
bool IsSectorFileName(const std::string& name) {
    if (name.size() != 12) return false;
    std::string extension = name.substr(8);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".bin" &&
           std::all_of(name.begin(), name.begin() + 8, [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// Why a sector file cannot be a sector ("" when it can), from the file
// system alone: a file of another size is never read.
std::string SectorFileProblem(const std::string& path, files::FileType type, std::error_code ec) {
    if (ec) return "flash sector file " + path + " cannot be read: " + ec.message();
    if (type != files::FileType::Regular) return "flash sector file " + path + " is not a regular file";
    const uint64_t size = files::SizeOf(path, ec);
    if (ec) return "flash sector file " + path + " cannot be read: " + ec.message();
    if (size != kSectorSize)
        return "flash sector file " + path + " is " + std::to_string(size) + " bytes, not the " +
               std::to_string(kSectorSize) + " of a sector";
    return "";
}

}  // namespace

SimCard::SimCard(const CardConfig& config, std::filesystem::path directory)
    : m_config(config), m_directory(std::move(directory)) {}

uint32_t SimCard::PdaAddress() const { return Decode(m_config.type == 1 ? kPdaAddressType1 : kPdaAddressType2); }

uint32_t SimCard::Decode(uint32_t address) const {
    address &= 0x7FFFFFFF;
    return m_config.type == 1 ? address & 0xFFF9FFFF : address;
}

Result<> SimCard::CheckFlashFiles() const {
    std::error_code ec;
    const std::string flash = (m_directory / "flash").string();
    if (!files::Exists(flash, ec)) return {};
    // Sorted, so that the file named is the same on every system.
    std::vector<std::string> sectors;
    for (const std::string& entry : files::ListDirectory(flash, ec))
        if (IsSectorFileName(files::FileNameOf(entry))) sectors.push_back(entry);
    if (ec) return Failure{"the card's flash " + flash + " cannot be read: " + ec.message()};
    std::sort(sectors.begin(), sectors.end());
    for (const std::string& file : sectors) {
        const files::FileType type = files::TypeOf(file, ec);
        if (const std::string problem = SectorFileProblem(file, type, ec); !problem.empty()) return Failure{problem};
    }
    return {};
}

std::filesystem::path SimCard::SectorPath(uint32_t base) const {
    char name[24];
    std::snprintf(name, sizeof name, "%08X.bin", base);
    return m_directory / "flash" / name;
}

Result<> SimCard::ReadSector(uint32_t base, uint32_t offset, uint8_t* out, uint32_t count) const {
    const std::string path = SectorPath(base).string();
    std::error_code ec;
    const files::FileType type = files::TypeOf(path, ec);
    if (!ec && type == files::FileType::NotFound) {
        std::fill_n(out, count, uint8_t{0xFF});  // erased flash
        return {};
    }
    if (const std::string problem = SectorFileProblem(path, type, ec); !problem.empty()) return Failure{problem};
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    in.read(reinterpret_cast<char*>(out), count);
    if (!in || in.gcount() != static_cast<std::streamsize>(count))
        return Failure{"flash sector file " + path + " cannot be read"};
    return {};
}

Result<> SimCard::ReadFlash(uint32_t address, uint8_t* out, uint32_t count) {
    if (uint64_t{address} + count > m_config.flashSize) return Failure{"past the end of the flash"};
    uint32_t done = 0;
    while (done < count) {
        const uint32_t a = address + done;
        const uint32_t base = a & ~(kSectorSize - 1);
        const uint32_t n = std::min(count - done, base + kSectorSize - a);
        if (Result<> read = ReadSector(base, a - base, out + done, n); !read) return read;
        done += n;
    }
    return {};
}

Result<> SimCard::ReadRam(uint32_t address, uint8_t* out, uint32_t count) {
    if (Result<> read = ReadFlash(address, out, count); !read) return read;
    const uint32_t pda = PdaAddress();
    if (uint64_t{address} + count <= pda || address >= pda + kPdaBytes) return {};
    LoadedState state;
    if (m_config.ramPda == "loaded") {
        Result<LoadedState> loaded = State();
        if (!loaded) return loaded.Error();
        state = *loaded;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t a = address + i;
        if (a < pda || a >= pda + kPdaBytes) continue;
        if (m_config.ramPda == "erased") out[i] = 0xFF;
        else if (m_config.ramPda == "words") {
            const uint32_t offset = a - pda;
            const uint16_t word = offset / 2 < m_config.ramPdaWords.size() ? m_config.ramPdaWords[offset / 2] : 0xFFFF;
            out[i] = static_cast<uint8_t>(offset % 2 ? word >> 8 : word);
        } else {
            out[i] = state.ramPda[a - pda];
        }
    }
    return {};
}

Result<> SimCard::WriteFlash(uint32_t address, const uint8_t* data, uint32_t count) {
    if (uint64_t{address} + count > m_config.flashSize) return Failure{"past the end of the flash"};
    // Each sector touched is read as it is now (another process may have
    // written it), changed and saved in turn (pieces never cross one).
    uint32_t done = 0;
    std::vector<uint8_t> sector(kSectorSize);
    while (done < count) {
        const uint32_t a = address + done;
        const uint32_t base = a & ~(kSectorSize - 1);
        const uint32_t n = std::min(count - done, base + kSectorSize - a);
        if (Result<> read = ReadSector(base, 0, sector.data(), kSectorSize); !read) return read;
        std::memcpy(sector.data() + (a - base), data + done, n);
        std::error_code ignored;
        files::CreateDirectories((m_directory / "flash").string(), ignored);
        // A killed process leaves the old sector or the new one, never a mix;
        // a sector that could not be saved is not changed.
        const std::string_view bytes(reinterpret_cast<const char*>(sector.data()), sector.size());
        if (Result<> written = WriteFileAtomically(SectorPath(base).string(), bytes, false); !written) return written;
        done += n;
    }
    return {};
}

std::string SimCard::FirmwareText(const FirmwareIdentity& station) const {
    // The configured text is that of the configured Station firmware; any
    // other Station firmware programmed reports its own version.
    if (station == m_config.station) return m_config.firmwareText;
    return "WLAN STA firmware " + std::to_string(station.major) + "." + std::to_string(station.minor) + "." +
           std::to_string(station.variant);
}

Result<> SimCard::Reset() {
    if (Result<LoadedState> loaded = Load(); !loaded) return loaded.Error();
    return {};
}

Result<SimCard::LoadedState> SimCard::Load() {
    LoadedState state;
    // A flash too small to hold the PDA area loads nothing.
    state.ramPda.fill(0xFF);
    if (uint64_t{PdaAddress()} + kPdaBytes <= m_config.flashSize)
        if (Result<> read = ReadFlash(PdaAddress(), state.ramPda.data(), kPdaBytes); !read) return read.Error();
    const auto identity = [&](uint32_t address, uint16_t id, const FirmwareIdentity& fallback,
                              FirmwareIdentity* out) -> Result<> {
        IdentityBlock block;
        if (uint64_t{Decode(address)} + block.size() > m_config.flashSize) {  // a flash too small to hold one
            *out = fallback;
            return {};
        }
        if (Result<> read = ReadFlash(Decode(address), block.data(), block.size()); !read) return read;
        *out = DecodeIdentity(block, id).value_or(fallback);
        return {};
    };
    if (Result<> primary =
            identity(kPrimaryBase + kIdentityOffset, protocol::kComponentPrimary, m_config.primary, &state.primary);
        !primary)
        return primary.Error();
    if (Result<> station =
            identity(kStationBase + kIdentityOffset, protocol::kComponentStation, m_config.station, &state.station);
        !station)
        return station.Error();
    std::error_code ignored;
    files::CreateDirectories(m_directory.string(), ignored);
    const nlohmann::json saved{{"ram_pda", HexBytes(state.ramPda.data(), state.ramPda.size())},
                               {"primary", IdentityJson(state.primary)},
                               {"station", IdentityJson(state.station)}};
    const std::string path = (m_directory / "state.json").string();
    if (Result<> written = WriteFileAtomically(path, saved.dump(2) + "\n", false); !written) return written.Error();
    return state;
}

Result<SimCard::LoadedState> SimCard::State() {
    const std::string path = (m_directory / "state.json").string();
    std::error_code ec;
    const files::FileType type = files::TypeOf(path, ec);
    const uint64_t size = type == files::FileType::Regular ? files::SizeOf(path, ec) : 0;
    if (type == files::FileType::Regular && !ec && size <= kMaxStateBytes) {
        std::ifstream in(path, std::ios::binary);
        std::string text(static_cast<size_t>(size), '\0');
        if (in.read(text.data(), static_cast<std::streamsize>(text.size()))) {
            try {
                LoadedState state;
                const auto saved = nlohmann::json::parse(text);
                const std::string ram = saved.at("ram_pda").get<std::string>();
                if (ram.size() != 2 * kPdaBytes) throw std::runtime_error("short PDA copy");
                for (size_t i = 0; i < kPdaBytes; ++i)
                    state.ramPda[i] = static_cast<uint8_t>(std::stoul(ram.substr(2 * i, 2), nullptr, 16));
                state.primary = IdentityFromJson(saved.at("primary"));
                state.station = IdentityFromJson(saved.at("station"));
                return state;
            } catch (const std::exception&) {
            }
        }
    }
    // No state, or a damaged one: the card resets, as after a power cycle.
    return Load();
}

FirmwareIdentity SimCard::Primary() {
    const Result<LoadedState> state = State();
    return state ? state->primary : m_config.primary;
}

FirmwareIdentity SimCard::Station() {
    const Result<LoadedState> state = State();
    return state ? state->station : m_config.station;
}

}  // namespace varnel::sim
