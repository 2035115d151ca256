#pragma once
// One firmware file: its info records (component versions, slots, build
// sequence, platforms) and the S-record reader that loads it into an image
// and a plug list.
//
// Besides ordinary data records, a file carries special records at reserved
// addresses: plug records (0xFF000000), marker records (0xFF100000) and
// firmware info records (0xFF200000 to 0xFF2FFFFF).

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "image/plug_list.h"
#include "image/srec_line.h"

namespace varnel {

class CFirmwareImage;
class CInputFile;
class CPlugList;
class CPda;

struct CComponentVersion {
    static constexpr uint16_t kPrimaryId = 0x15;
    static constexpr uint16_t kStationId = 0x1F;

    uint8_t present = 0;
    uint16_t id = 0;
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t variant = 0;

    // Negative when this version is older than `other`.
    int Compare(const CComponentVersion& other) const;
    // major.minor.variant in decimal, e.g. 1.2.3
    std::string Format() const;
};

struct CSlotRecord {
    uint8_t present = 0;
    uint16_t first = 0;
    uint16_t slot = 0;
    std::array<uint16_t, 3> words{};
};

struct CPlatformRecord {
    uint8_t present = 0;
    uint16_t id = 0;
    std::array<uint16_t, 3> words{};
};

// Reserved addresses of the special records.
inline constexpr uint32_t kImageAddressLimit = 0xF00000;  // data lies below
inline constexpr uint32_t kPlugRecordAddress = 0xFF000000;
inline constexpr uint32_t kMarkerRecordAddress = 0xFF100000;
inline constexpr uint32_t kInfoRecordFirst = 0xFF200000;
inline constexpr uint32_t kInfoRecordLast = 0xFF2FFFFF;

// Info record types.
inline constexpr uint16_t kInfoComponent = 1;
inline constexpr uint16_t kInfoSlot = 2;
inline constexpr uint16_t kInfoBuildSequence = 3;
inline constexpr uint16_t kInfoPlatform = 4;
inline constexpr uint16_t kInfoMaxSize = 20;

// The one failure that is not a format error: the image refused data.
inline constexpr const char* kMemoryErrorText = "Memory allocation error. Cannot continue";
inline constexpr const char* kMemoryErrorCaption = "Internal Error.";

class CFirmwareFile {
public:
    static constexpr size_t kSlotCount = 5;
    static constexpr size_t kPlatformCount = 30;
    static constexpr size_t kMaxLineLength = kSRecordMaxLineLength;
    static constexpr uint16_t kMaxLines = 32000;
    // The longest text the format allows: every line at its longest, with
    // CR LF line ends. A longer file is refused unread.
    static constexpr uint64_t kMaxBytes = uint64_t{kMaxLines} * (kMaxLineLength + 2);

    CFirmwareFile() { Reset(); }

    void Reset();

    // Loads an S-record file (a regular file of at most kMaxBytes bytes;
    // anything else is refused unread). With no image, data, marker and termination
    // records are only checked; with no plug list, plug records are checked
    // and dropped. Returns the number of lines read (the final read at end of
    // file counts), or 0 on failure; LastFinding() then says why.
    uint16_t LoadFile(const std::string& path, CFirmwareImage* image, CPlugList* plugs);
    // The same over any stream of S-record text.
    uint16_t Load(std::istream& in, CFirmwareImage* image, CPlugList* plugs);

    // Writes the PDA's records and the file name into the image where the
    // plug list says; returns the number of PDR plugs written. With
    // `report`, what became of each plug record is appended to it.
    uint32_t PlugImage(CFirmwareImage& image, CPlugList& plugs, const CPda& pda, const std::string& fileName,
                       std::vector<PlugResult>* report = nullptr);

    // The reason the last load failed, as logged without its line end
    // (e.g. "ERROR: Line 3: Checksum failed.").
    const std::string& LastFinding() const { return m_lastFinding; }
    // True when the last load failed because the image refused data: that
    // failure is shown as kMemoryErrorText / kMemoryErrorCaption.
    bool InternalError() const { return m_internalError; }

    CComponentVersion m_primary;
    CComponentVersion m_station;
    std::array<CSlotRecord, kSlotCount> m_slots{};
    uint16_t m_buildSequence = 0;
    std::array<CPlatformRecord, kPlatformCount> m_platforms{};

private:
    struct RecordData;

    // Decodes one line (line end removed) and applies its record by kind;
    // false when the line stops the load (the finding says why).
    bool ReadLine(CFirmwareImage* image, CPlugList* plugs, std::string_view line, uint16_t lineNumber);
    static std::string RefusalFinding(SRecordRefusal refusal, uint16_t lineNumber);
    bool ApplyTermination(CFirmwareImage* image, uint32_t address, uint16_t lineNumber);
    bool ApplyImageData(CFirmwareImage* image, uint32_t address, const RecordData& data, uint16_t lineNumber);
    bool ApplyPlug(CPlugList* plugs, const RecordData& data, uint16_t lineNumber);
    bool ApplyMarker(CFirmwareImage* image, const RecordData& data, uint16_t lineNumber);
    bool ApplyInfo(const RecordData& data, uint16_t lineNumber);
    void ApplyComponent(const RecordData& data);
    void ApplySlot(const RecordData& data);
    void ApplyPlatform(const RecordData& data);
    static void LogUnknownInfo(const RecordData& data);
    // Fail, for the functions that answer whether the load goes on.
    bool Refuse(std::string text);
    // Logs a finding that ends the load and keeps it as the reason.
    int Fail(std::string text);
    // The finding for a file refused unread, or cut at kMaxBytes.
    static std::string RefusalText(const std::string& reason);
    // Loads the text `read` gives, chunk by chunk (-1: the read failed;
    // `file`, when given, says why).
    uint16_t LoadFrom(const std::function<std::ptrdiff_t(char*, size_t)>& read, const CInputFile* file,
                      CFirmwareImage* image, CPlugList* plugs);

    std::string m_lastFinding;
    bool m_internalError = false;
};

}  // namespace varnel
