#pragma once
// The firmware backup: the bytes an update is about to overwrite in the
// card's flash, read from the card piece by piece before the first write,
// kept as one S-record file (flash-<MAC>-<time>.srec in the backups
// folder). Its S0 records name the card, the firmware it held and a SHA-256
// of the whole data; its S3 records hold the data; an S7 record ends it.
// A restore writes the data back exactly.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace varnel {

class CFirmwareImage;

// One run of consecutive flash addresses.
struct FlashRange {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
    uint32_t End() const { return address + static_cast<uint32_t>(bytes.size()); }
};

struct FirmwareBackup {
    std::string mac;                     // "00-60-1D-12-34-56"; "" when not known
    std::string serial;                  // "" when not known
    std::optional<std::string> primary;  // "1.3.6"; null when not read
    std::optional<std::string> station;
    std::string time;                // when it was read, "2024-05-01T12:00:00Z"
    std::vector<FlashRange> ranges;  // in the order they were read (and are written back)
    // Whether the header's text is proven by its own digest (HEADER-SHA256);
    // a backup written before that digest has a header nothing proves.
    bool headerProven = true;

    uint64_t ByteCount() const;
};

// The first header line, which names the format.
inline constexpr const char* kFirmwareBackupMagic = "VARNEL FIRMWARE BACKUP 1";
// The longest backup file read: the whole flash below the record ranges as
// text is well below it.
inline constexpr uint64_t kFirmwareBackupMaxBytes = uint64_t{64} << 20;
// The most ranges (after merging those that follow on from each other) a
// backup holds: an update's images write a few dozen.
inline constexpr size_t kFirmwareBackupMaxRanges = 4096;

// Ranges that follow on from each other, merged (the order kept).
std::vector<FlashRange> MergeAdjacent(std::vector<FlashRange> ranges);
// The digest the header keeps: the SHA-256 of, for each range of the merged
// ranges in order, its address and length (4 bytes each, big-endian) and its
// bytes. Nothing when the system offers no SHA-256.
std::optional<std::string> FirmwareBackupDigest(const std::vector<FlashRange>& ranges);

// The digest of the header's text (HEADER-SHA256): the SHA-256 of the header
// lines before it, each followed by a line break.
std::optional<std::string> FirmwareBackupHeaderDigest(const std::vector<std::string>& lines);

// The S-record text of a backup; a failure when no digest can be made.
Result<std::string> FormatFirmwareBackup(const FirmwareBackup& backup);
// A backup file's text, whole or refused with the reason: a record that is
// no S-record or fails its checksum (with its line number), a file that is
// not a firmware backup, a file cut before its end record, data that do not
// match the header's digest.
Result<> ParseFirmwareBackup(std::string_view text, FirmwareBackup& backup);
// The same for a file (a regular file of at most kFirmwareBackupMaxBytes).
Result<> LoadFirmwareBackup(const std::string& path, FirmwareBackup& backup);

// The backup's data as images for programming, in order: as many images as
// their size limits need. False when an image refuses data.
bool FirmwareBackupImages(const FirmwareBackup& backup, std::vector<std::unique_ptr<CFirmwareImage>>& images);

// "Primary 1.3.6, Station 1.5.0" ("unknown" for a version not read).
std::string FirmwareBackupVersions(const FirmwareBackup& backup);

// The versions the data themselves hold: each component's identity block
// (16 bytes at its base address + 0x10: "VNID", component id, variant,
// major, minor as 16-bit little-endian words). Nothing for a component
// whose block the data do not hold whole, or hold no valid block for.
struct DataVersions {
    std::optional<std::string> primary;
    std::optional<std::string> station;
};
DataVersions FirmwareDataVersions(const std::vector<FlashRange>& ranges);
// "Primary 1.3.6, Station not in the data (the card keeps its own)".
std::string DataVersionsText(const DataVersions& versions);

// Whether every range lies in `start`..`end` (the card's flash below the
// sector that holds its PDA): a failure naming the first range that does
// not, and where it lies (past the flash, or in the PDA sector from
// `pdaSector`).
Result<> CheckFirmwareBackupRanges(const FirmwareBackup& backup, uint32_t start, uint32_t end, uint32_t pdaSector,
                                   uint32_t flashEnd);

}  // namespace varnel
