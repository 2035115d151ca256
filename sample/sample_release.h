#pragma once
// Sample firmware releases, built the way a firmware vendor ships them:
// Primary, Station and combined images with info, plug and marker records
// and deterministic pseudo-random data; a card's full PDA; a release's
// change file; and the OEMRelease.oem link file over three of them.
// Every sample image carries, for each component it holds, the identity
// block from which the simulated card takes its firmware versions.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/firmware_file.h"
#include "image/plug_list.h"
#include "platform/result.h"

namespace varnel {

class CPda;

namespace sample {

struct Block {
    uint32_t address;
    uint32_t length;
};

struct ImageLayout {
    std::string title;  // S0 header text
    std::optional<CComponentVersion> primary;
    std::optional<CComponentVersion> station;
    uint16_t buildSequence = 0;
    std::vector<uint16_t> platforms;
    std::vector<Block> blocks;
    std::vector<CPlugRecord> plugs;
    std::vector<uint32_t> markers;  // marker word goes before each address
    uint32_t seed = 1;
    size_t dataBytesPerRecord = 32;
};

// A present component version.
CComponentVersion MakeVersion(uint16_t id, uint16_t major, uint16_t minor, uint16_t variant);

// The versions and platforms of the checked-in release.
CComponentVersion ReleasePrimary();
CComponentVersion ReleaseStation();
uint16_t ReleaseBuildSequence();
std::vector<uint16_t> ReleasePlatforms();
// The platform of the sample card (one the release lists).
uint16_t CardPlatform();

ImageLayout PrimaryImage(const CComponentVersion& version);
ImageLayout StationImage(const CComponentVersion& version);
ImageLayout CombinedImage(const CComponentVersion& primary, const CComponentVersion& station);
// Data records only, filled to the image's capacity (for benchmarks).
ImageLayout MaximumImage();

// The S-record text of an image.
std::string ImageText(const ImageLayout& layout);

struct CardIdentity {
    std::string partNumber = "PN 7741-0203";
    std::string serialNumber = "SN 99A01234";
    uint8_t mac[6] = {0x00, 0x60, 0x1D, 0x12, 0x34, 0x56};
    uint16_t platform = CardPlatform();
    uint8_t domain = 0x10;
};

// A card's full PDA as it leaves the factory (set-point records derived).
void FillCardPda(CPda& pda, const CardIdentity& card = {});
// The release's change file: records that are the same for every card of
// the model (new set-point source tables, a release word); never a MAC
// address or a serial number.
std::string ChangeFileText();

// OEMRelease.oem over three named files and their contents.
std::string LinkFileText(const std::vector<std::pair<std::string, std::string>>& files);

// Writes the sample release into `directory`: primary.hex, station.hex,
// combined.hex, changes.pda, card.pda, and OEMRelease.oem over primary.hex,
// station.hex and changes.pda. A failure names the file that could not be
// written.
Result<> WriteRelease(const std::string& directory);

}  // namespace sample
}  // namespace varnel
