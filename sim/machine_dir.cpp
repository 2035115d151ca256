#include "sim/machine_dir.h"

#include <cstdlib>
#include <sstream>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/state_directory.h"
#include "sim/sim_card.h"

namespace varnel::sim {

namespace {

// Loads an image's text, plugs it with the card's PDA and writes it into
// the card's flash, as a factory would have programmed it.
Result<> ProgramFactoryImage(SimCard& card, const std::string& text, const std::string& name, const CPda& pda) {
    CFirmwareFile file;
    CFirmwareImage image;
    CPlugList plugs;
    std::istringstream in(text);
    if (file.Load(in, &image, &plugs) == 0) return Failure{"factory image: " + file.LastFinding()};
    file.PlugImage(image, plugs, pda, name);
    for (uint16_t n = 1; n <= image.BlockCount(); ++n) {
        const std::vector<uint8_t> bytes = image.BlockBytes(n);
        const uint32_t address = card.Decode(image.Block(n).address);
        if (Result<> written = card.WriteFlash(address, bytes.data(), static_cast<uint32_t>(bytes.size())); !written)
            return written;
    }
    return {};
}

}  // namespace

Result<std::filesystem::path> ResolveMachineDirectory(const std::optional<std::string>& option) {
    const char* env = std::getenv("VARNEL_MACHINE");
    if (option ? option->empty() : env && !*env)
        return Failure{option ? "--machine: an empty name is no directory"
                              : "VARNEL_MACHINE: an empty name is no directory"};
    if (option) return std::filesystem::path(*option);
    if (env) return std::filesystem::path(env);
    return StateDirectory() / "machine";
}

MachineConfig DefaultMachineConfig() {
    MachineConfig config;
    config.system = System::Windows2000;
    config.startupError = 6;
    config.latency = {3000, 4000};
    config.registry["HKEY_CURRENT_USER\\Software\\Varnel"]["Path"] = "C:\\Program Files\\Varnel";

    AdapterConfig wired;
    wired.subkey = "0000";
    wired.displayName = "Wired Ethernet Adapter";
    wired.deviceName = "{6C3F2E10-7A41-4E21-9A1B-2F0C5D8E1A30}";
    wired.answersPrivate = false;
    wired.mac = {0x00, 0x10, 0xA4, 0x7B, 0x11, 0x02};
    wired.driverVersion = 0x00040002;
    config.adapters.push_back(wired);

    AdapterConfig wlan;
    wlan.subkey = "0001";
    wlan.displayName = "802.11b Wireless LAN PC Card";
    wlan.deviceName = "{8D2A4C61-1B7E-4F0B-9C3D-5E6F70819203}";
    wlan.mac = {0x00, 0x60, 0x1D, 0x12, 0x34, 0x56};
    wlan.driverVersion = 0x00070104;
    CardConfig card;
    card.type = 2;
    card.primary = {6, 1, 3};
    card.station = {0, 1, 5};
    card.firmwareText = "WLAN STA firmware 1.5.0";
    card.flashSize = 0x800000;
    wlan.card = card;
    config.adapters.push_back(wlan);
    return config;
}

Result<> InitMachine(const std::filesystem::path& directory, const MachineConfig& config,
                     const FactoryFirmwareOf& factory, bool force) {
    std::error_code ec;
    const bool machine = files::Exists((directory / "machine.json").string(), ec);
    if (machine && !force) return Failure{"a machine exists in " + directory.string() + " (use --force to replace it)"};
    if (!machine && files::IsDirectory(directory.string(), ec) && !files::IsEmpty(directory.string(), ec))
        return Failure{directory.string() +
                       " is not a simulated machine (no machine.json) and is not empty: nothing was "
                       "written into it (name a new or empty folder)"};
    files::CreateDirectories(directory.string(), ec);
    files::RemoveAll((directory / "cards").string(), ec);

    for (const AdapterConfig& adapter : config.adapters) {
        if (!adapter.card) continue;
        FactoryFirmware firmware;
        if (Result<> made = factory(adapter, firmware); !made) return made;
        SimCard card(*adapter.card, directory / "cards" / adapter.subkey);
        std::vector<uint8_t> bytes;
        for (const uint16_t w : firmware.pda.ToWords()) {
            bytes.push_back(static_cast<uint8_t>(w));
            bytes.push_back(static_cast<uint8_t>(w >> 8));
        }
        if (Result<> written = card.WriteFlash(card.PdaAddress(), bytes.data(), static_cast<uint32_t>(bytes.size()));
            !written)
            return written;
        for (const auto& [name, text] : firmware.images)
            if (Result<> programmed = ProgramFactoryImage(card, text, name, firmware.pda); !programmed)
                return programmed;
        if (Result<> reset = card.Reset(); !reset) return reset;
    }
    return WriteFileAtomically((directory / "machine.json").string(), FormatMachineConfig(config));
}

}  // namespace varnel::sim
