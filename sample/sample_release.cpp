#include "sample/sample_release.h"

#include <filesystem>
#include <random>
#include <sstream>

#include "image/firmware_image.h"
#include "image/srec_writer.h"
#include "log/flash_log.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "sim/firmware_identity.h"
#include "update/oem_link_file.h"

namespace varnel::sample {

using sim::kPrimaryBase;
using sim::kStationBase;

namespace {

// Plug targets within a component, from its base address.
std::vector<CPlugRecord> ComponentPlugs(uint32_t base, bool setPoints) {
    std::vector<CPlugRecord> plugs = {
        {CPlugRecord::kFileNamePlug, base + 0x40, 16},
        {kPdrMacAddress, base + 0x60, 6},
        {kPdrDomain, base + 0x70, 12},
    };
    if (setPoints) {
        plugs.push_back({kPdrSetPoint1, base + 0x80, 28});
        plugs.push_back({kPdrSetPoint2, base + 0xA0, 34});
    }
    return plugs;
}

std::vector<uint16_t> TextWords(const std::string& text) {
    std::vector<uint16_t> words((text.size() + 1) / 2, 0);
    for (size_t i = 0; i < text.size(); ++i)
        words[i / 2] = static_cast<uint16_t>(words[i / 2] | static_cast<uint8_t>(text[i]) << (8 * (i % 2)));
    return words;
}

void SetRecord(CPda& pda, uint16_t code, const std::vector<uint16_t>& data) {
    std::vector<uint16_t> words{static_cast<uint16_t>(data.size() + 1), code};
    words.insert(words.end(), data.begin(), data.end());
    pda.SetRecord(words.data());
}

std::vector<uint16_t> Table(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint16_t> words(count);
    for (uint16_t& w : words) w = static_cast<uint16_t>(0x0100 + random() % 0x0E00);
    return words;
}

// Source tables of the set point and integrator values.
constexpr uint32_t kCardTableSeed = 0x5EED0900;
constexpr uint32_t kReleaseTableSeed = 0x5EED0174;

void PutIdentity(CFirmwareImage& image, uint32_t base, const CComponentVersion& v) {
    const sim::IdentityBlock block = sim::EncodeIdentity(v.id, {v.variant, v.major, v.minor});
    image.WriteData(block.data(), base + sim::kIdentityOffset, block.size());
}

}  // namespace

CComponentVersion MakeVersion(uint16_t id, uint16_t major, uint16_t minor, uint16_t variant) {
    CComponentVersion v;
    v.present = 1;
    v.id = id;
    v.major = major;
    v.minor = minor;
    v.variant = variant;
    return v;
}

CComponentVersion ReleasePrimary() { return MakeVersion(CComponentVersion::kPrimaryId, 1, 4, 2); }
CComponentVersion ReleaseStation() { return MakeVersion(CComponentVersion::kStationId, 1, 7, 4); }
uint16_t ReleaseBuildSequence() { return 23; }
std::vector<uint16_t> ReleasePlatforms() { return {0x0003, 0x0005, 0x000a}; }
uint16_t CardPlatform() { return 0x0005; }

namespace {

// What every component image of the release shares; the data's seed comes
// from the component and its version, so each version has its own bytes.
ImageLayout ComponentImage(const char* component, const CComponentVersion& version) {
    ImageLayout layout;
    layout.title = std::string(component) + " firmware " + version.Format();
    layout.buildSequence = ReleaseBuildSequence();
    layout.platforms = ReleasePlatforms();
    layout.seed = (uint32_t{version.id} << 24) + version.major * 0x10000u + version.minor * 0x100u + version.variant;
    return layout;
}

}  // namespace

ImageLayout PrimaryImage(const CComponentVersion& version) {
    ImageLayout layout = ComponentImage("Primary", version);
    layout.primary = version;
    layout.blocks = {{kPrimaryBase, 0x6000}, {kPrimaryBase + 0xF000, 0x1800}};  // the second crosses 64 KiB
    layout.plugs = ComponentPlugs(kPrimaryBase, false);
    layout.markers = {kPrimaryBase + 0x90};
    return layout;
}

ImageLayout StationImage(const CComponentVersion& version) {
    ImageLayout layout = ComponentImage("Station", version);
    layout.station = version;
    layout.blocks = {{kStationBase, 0x20000}, {kStationBase + 0x40000, 0x6000}};
    layout.plugs = ComponentPlugs(kStationBase, true);
    layout.markers = {kStationBase + 0xD0};
    return layout;
}

ImageLayout CombinedImage(const CComponentVersion& primary, const CComponentVersion& station) {
    ImageLayout p = PrimaryImage(primary);
    const ImageLayout s = StationImage(station);
    p.title = "Primary " + primary.Format() + " and Station firmware " + station.Format();
    p.station = station;
    p.blocks.insert(p.blocks.end(), s.blocks.begin(), s.blocks.end());
    p.plugs.insert(p.plugs.end(), s.plugs.begin(), s.plugs.end());
    p.markers.insert(p.markers.end(), s.markers.begin(), s.markers.end());
    p.seed ^= s.seed;
    return p;
}

ImageLayout MaximumImage() {
    ImageLayout layout;
    layout.title = "Maximum image";
    layout.blocks = {{0x000000, CFirmwareImage::kAppendChunkLimit * CFirmwareImage::kChunkSize}};
    layout.seed = 0xB16;
    return layout;
}

std::string ImageText(const ImageLayout& layout) {
    // Build the image in memory first, so that identity blocks and markers
    // land in the data as the card will hold it.
    CFirmwareImage image;
    std::mt19937 random(layout.seed);
    for (const Block& block : layout.blocks) {
        std::vector<uint8_t> bytes(block.length);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        for (uint32_t done = 0; done < block.length; done += 0x8000) {
            const uint32_t n = std::min<uint32_t>(0x8000, block.length - done);
            image.AppendData(bytes.data() + done, block.address + done, static_cast<uint16_t>(n));
        }
    }
    // Plug targets start zeroed, as a linker leaves them.
    for (const CPlugRecord& plug : layout.plugs) {
        const std::vector<uint8_t> zeros(plug.length, 0);
        image.WriteData(zeros.data(), plug.address, plug.length);
    }
    if (layout.primary) PutIdentity(image, kPrimaryBase, *layout.primary);
    if (layout.station) PutIdentity(image, kStationBase, *layout.station);

    std::ostringstream text;
    CSRecordWriter writer(text, layout.dataBytesPerRecord);
    writer.Header(layout.title);
    if (layout.primary) writer.Version(*layout.primary);
    if (layout.station) writer.Version(*layout.station);
    if (layout.primary || layout.station) writer.BuildSequence(layout.buildSequence);
    for (const uint16_t id : layout.platforms) {
        CPlatformRecord platform;
        platform.present = 1;
        platform.id = id;
        platform.words = {1, 1, 3};
        writer.Platform(platform);
    }
    for (const CPlugRecord& plug : layout.plugs) writer.Plug(plug);
    writer.Image(image);
    for (const uint32_t marker : layout.markers) writer.Marker(marker, 1);
    writer.Termination(0);
    return text.str();
}

void FillCardPda(CPda& pda, const CardIdentity& card) {
    pda.Clear();
    SetRecord(pda, kPdrPartNumber, TextWords(card.partNumber));
    SetRecord(pda, kPdrRelease, {0x0001});
    SetRecord(pda, kPdrSerialNumber, TextWords(card.serialNumber));
    SetRecord(pda, kPdrPlatform, {card.platform, 0x0001, 0x0001, 0x0003});
    SetRecord(
        pda, kPdrMacAddress,
        {static_cast<uint16_t>(card.mac[0] | card.mac[1] << 8), static_cast<uint16_t>(card.mac[2] | card.mac[3] << 8),
         static_cast<uint16_t>(card.mac[4] | card.mac[5] << 8)});
    SetRecord(pda, kPdrDomain, {0x0001, card.domain, 0x0000, 0x0000, 0x0000, 0x0000});
    SetRecord(pda, 0x0104, {0x0016, 0x0000});  // a record the program carries through
    SetRecord(pda, kPdrSetPointSource1, Table(30, kCardTableSeed));
    SetRecord(pda, kPdrSetPointSource2, Table(33, kCardTableSeed + 1));
    ConfigureSetPointAndIntegrator(pda);
}

std::string ChangeFileText() {
    const auto line = [](uint16_t code, const std::vector<uint16_t>& data) {
        std::string text = FormatText("%x %04x", unsigned(data.size() + 1), unsigned{code});
        for (size_t i = 0; i < data.size(); ++i)
            text += FormatText(i % 8 == 0 ? "\n    %04x" : " %04x", unsigned{data[i]});
        return text + "\n";
    };
    std::string text;
    text += "; Release 1.7.4 production data changes.\n";
    text += "; Records in this file replace the card's records of the same code;\n";
    text += "; a record of length 1 deletes that record.\n";
    text += "\n# Release word\n";
    text += line(kPdrRelease, {0x0174});
    text += "\n# Set-point source table 1 (0x0900): domains below 0x40, replacements, domains 0x40/0x41\n";
    text += line(kPdrSetPointSource1, Table(30, kReleaseTableSeed));
    text += "\n# Set-point source table 2 (0x0901)\n";
    text += line(kPdrSetPointSource2, Table(33, kReleaseTableSeed + 1));
    return text;
}

std::string LinkFileText(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string text;
    uint32_t sum = 0;
    for (const auto& [name, contents] : files) {
        text += name;
        sum += static_cast<uint32_t>(ByteSum(contents));
    }
    return text + " " + std::to_string(sum);
}

Result<> WriteRelease(const std::string& directory) {
    std::error_code ec;
    files::CreateDirectories(directory, ec);
    const std::filesystem::path dir(directory);
    const std::string primary = ImageText(PrimaryImage(ReleasePrimary()));
    const std::string station = ImageText(StationImage(ReleaseStation()));
    const std::string combined = ImageText(CombinedImage(ReleasePrimary(), ReleaseStation()));
    const std::string changes = ChangeFileText();
    CPda card;
    FillCardPda(card);
    const std::string link =
        LinkFileText({{"primary.hex", primary}, {"station.hex", station}, {"changes.pda", changes}});
    const std::pair<const char*, const std::string*> files[] = {{"primary.hex", &primary},
                                                                {"station.hex", &station},
                                                                {"combined.hex", &combined},
                                                                {"changes.pda", &changes},
                                                                {"OEMRelease.oem", &link}};
    for (const auto& [name, contents] : files)
        if (Result<> written = WriteFileAtomically((dir / name).string(), *contents, false); !written) return written;
    return WriteFileAtomically((dir / "card.pda").string(),
                               FormatPdaText(card, "A card's full PDA as it leaves the factory."), false);
}

}  // namespace varnel::sample
