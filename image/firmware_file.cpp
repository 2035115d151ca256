#include "image/firmware_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "image/srec_line.h"
#include "log/flash_log.h"
#include "platform/input_file.h"

namespace varnel {

int CComponentVersion::Compare(const CComponentVersion& other) const {
    if (major != other.major) return int{major} - int{other.major};
    if (minor != other.minor) return int{minor} - int{other.minor};
    return int{variant} - int{other.variant};
}

std::string CComponentVersion::Format() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(variant);
}

void CFirmwareFile::Reset() {
    m_primary.present = 0;
    m_station.present = 0;
    for (CSlotRecord& slot : m_slots) slot.present = 0;
    for (CPlatformRecord& platform : m_platforms) platform.present = 0;
    m_buildSequence = 0;
}

int CFirmwareFile::Fail(std::string text) {
    LogMessage("%s", text.c_str());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    m_lastFinding = std::move(text);
    return 0;
}

uint16_t CFirmwareFile::LoadFile(const std::string& path, CFirmwareImage* image, CPlugList* plugs) {
    CInputFile file;
    if (!file.Open(path, kMaxBytes)) {
        Reset();
        if (image) image->m_hasStartAddress = 0;
        m_internalError = false;
        // A folder opens as a stream on some systems; it is no file to read,
        // and is refused as a missing file is.
        if (file.Refusal() == InputRefusal::Missing || file.Refusal() == InputRefusal::Folder)
            return static_cast<uint16_t>(Fail("File not found. "));
        return static_cast<uint16_t>(Fail(RefusalText(file.Reason())));
    }
    return LoadFrom([&file](char* buffer, size_t size) { return file.Read(buffer, size); }, &file, image, plugs);
}

uint16_t CFirmwareFile::Load(std::istream& in, CFirmwareImage* image, CPlugList* plugs) {
    return LoadFrom(
        [&in](char* buffer, size_t size) -> std::ptrdiff_t {
            in.read(buffer, static_cast<std::streamsize>(size));
            return in.gcount() > 0 ? static_cast<std::ptrdiff_t>(in.gcount()) : in.bad() ? -1 : 0;
        },
        nullptr, image, plugs);
}

std::string CFirmwareFile::RefusalText(const std::string& reason) { return "ERROR: The file " + reason + ".\n"; }

uint16_t CFirmwareFile::LoadFrom(const std::function<std::ptrdiff_t(char*, size_t)>& read, const CInputFile* file,
                                 CFirmwareImage* image, CPlugList* plugs) {
    Reset();
    if (image) image->m_hasStartAddress = 0;
    m_lastFinding.clear();
    m_internalError = false;

    // The text is split at line feeds: a file of n lines that ends with a
    // line feed reads as n + 1 lines, the last one empty.
    // Lines past the limit are refused, never cut off: an image read only
    // up to the limit would be programmed incomplete. Empty lines after the
    // limit (the end of the text) do no harm.
    uint64_t lineNumber = 0;
    enum { kGoOn, kFailed };
    const auto handle = [&](std::string_view line) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // text mode: CR LF ends a line too
        if (lineNumber > kMaxLines) {
            if (line.empty()) return kGoOn;
            Fail(FormatText("ERROR: Line %llu: the file has more than %u lines.\n",
                            static_cast<unsigned long long>(lineNumber), unsigned{kMaxLines}));
            return kFailed;
        }
        const auto n = static_cast<uint16_t>(lineNumber);
        if (line.size() > kMaxLineLength) {
            Fail(FormatText("ERROR: Line %u: line length invalid.\n", unsigned{n}));
            return kFailed;
        }
        if (!line.empty() && !ReadLine(image, plugs, line, n)) return kFailed;
        return kGoOn;
    };

    std::vector<char> chunk(1 << 16);
    std::string partial;  // a line that runs on into the next chunk; kept short
    constexpr size_t kKeep = kMaxLineLength + 2;
    int state = kGoOn;
    // No text of the format is longer than its lines allow: a longer one
    // (an endless source, a file of NUL bytes) is refused at that bound.
    uint64_t total = 0;
    while (state == kGoOn) {
        const std::ptrdiff_t got = read(chunk.data(), chunk.size());
        if (got < 0) {
            Fail(file ? RefusalText(file->Reason()) : std::string("ERROR: The file cannot be read.\n"));
            return 0;
        }
        if (got == 0) break;
        const auto n = static_cast<size_t>(got);
        total += n;
        if (total > kMaxBytes) {
            Fail(RefusalText("is longer than the " + std::to_string(kMaxBytes) + " bytes such a file can hold"));
            return 0;
        }
        const char* p = chunk.data();
        const char* const end = p + n;
        while (state == kGoOn) {
            const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!lf) {
                partial.append(p, std::min(static_cast<size_t>(end - p), kKeep - std::min(kKeep, partial.size())));
                break;
            }
            if (partial.empty()) {
                state = handle(std::string_view(p, static_cast<size_t>(lf - p)));
            } else {
                partial.append(p, std::min(static_cast<size_t>(lf - p), kKeep - std::min(kKeep, partial.size())));
                state = handle(partial);
                partial.clear();
            }
            p = lf + 1;
        }
    }
    if (state == kGoOn) state = handle(partial);
    if (state == kFailed) return 0;
    const auto lines = static_cast<uint16_t>(std::min<uint64_t>(lineNumber, kMaxLines));
    if (!image || image->m_hasStartAddress) return lines;
    return static_cast<uint16_t>(
        Fail(FormatText("Error: Line %u: End reached without an execution address record.\n", unsigned{lines})));
}

// Little-endian values from a record's data; bytes past its end read as 0.
struct CFirmwareFile::RecordData {
    const uint8_t* bytes;
    size_t size;
    uint8_t Byte(size_t i) const { return i < size ? bytes[i] : 0; }
    uint16_t Word(size_t i) const { return static_cast<uint16_t>(Byte(2 * i) | Byte(2 * i + 1) << 8); }
    uint32_t Long(size_t i) const {
        return uint32_t{Byte(4 * i)} | uint32_t{Byte(4 * i + 1)} << 8 | uint32_t{Byte(4 * i + 2)} << 16 |
               uint32_t{Byte(4 * i + 3)} << 24;
    }
};

// The finding for a line the decoder refused.
std::string CFirmwareFile::RefusalFinding(SRecordRefusal refusal, uint16_t n) {
    switch (refusal) {
    case SRecordRefusal::BadCharacter:
        return FormatText("Error: Line %u: Bad character found. Cannot process file.\n", unsigned{n});
    case SRecordRefusal::NoS: return FormatText("Error: Line %u: record does not begin with 'S'\n", unsigned{n});
    case SRecordRefusal::BadType:
        return FormatText("ERROR: Line %u: record type invalid or unsupported.\n", unsigned{n});
    case SRecordRefusal::BadLength: return FormatText("ERROR: Line %u: line length invalid.\n", unsigned{n});
    case SRecordRefusal::BadChecksum: return FormatText("ERROR: Line %d: Checksum failed.\n", int{n});
    case SRecordRefusal::None: break;
    }
    return {};
}

bool CFirmwareFile::Refuse(std::string text) {
    Fail(std::move(text));
    return false;
}

bool CFirmwareFile::ReadLine(CFirmwareImage* image, CPlugList* plugs, std::string_view line, uint16_t n) {
    const SRecordLine record = DecodeSRecordLine(line);
    if (record.kindKnown && record.kind == SRecordKind::Header) LogMessage("Info records ignored.\n");
    if (!record.Accepted()) return Refuse(RefusalFinding(record.refusal, n));
    switch (record.kind) {
    case SRecordKind::Header: return true;
    case SRecordKind::Termination: return ApplyTermination(image, record.address, n);
    case SRecordKind::Data: break;
    }
    const RecordData data{record.bytes.data(), record.size};
    if (record.address < kImageAddressLimit) return ApplyImageData(image, record.address, data, n);
    if (record.address == kPlugRecordAddress) return ApplyPlug(plugs, data, n);
    if (record.address == kMarkerRecordAddress) return ApplyMarker(image, data, n);
    if (record.address >= kInfoRecordFirst && record.address <= kInfoRecordLast) return ApplyInfo(data, n);
    return Refuse(FormatText("Line %u: Unknown record type\n", unsigned{n}));
}

bool CFirmwareFile::ApplyTermination(CFirmwareImage* image, uint32_t address, uint16_t n) {
    if (!image) return true;
    if (!image->m_hasStartAddress) {
        image->m_startAddress = address;
        image->m_hasStartAddress = 1;
    } else if (image->m_startAddress != address) {
        return Refuse(FormatText("ERROR: Line %u: 2nd execution address found!\n", unsigned{n}));
    }
    return true;
}

bool CFirmwareFile::ApplyImageData(CFirmwareImage* image, uint32_t address, const RecordData& data, uint16_t n) {
    // The data must end below the record ranges too.
    if (data.size > kImageAddressLimit - address)
        return Refuse(
            FormatText("Line %u: Record data runs past address %X.\n", unsigned{n}, unsigned{kImageAddressLimit}));
    if (data.size > 0 && image && !image->AppendData(data.bytes, address, static_cast<uint16_t>(data.size))) {
        m_internalError = true;
        return Refuse(std::string(kMemoryErrorText) + "\n");
    }
    return true;
}

// A plug or marker record holds three 32-bit values; a shorter one is
// refused rather than read past its end.
bool CFirmwareFile::ApplyPlug(CPlugList* plugs, const RecordData& data, uint16_t n) {
    if (data.size < 12) return Refuse(FormatText("Line %u: Invalid record format. \n", unsigned{n}));
    if (plugs) plugs->Add(data.Long(0), data.Long(1), static_cast<uint16_t>(data.Long(2)));
    return true;
}

bool CFirmwareFile::ApplyMarker(CFirmwareImage* image, const RecordData& data, uint16_t n) {
    if (data.size < 12) return Refuse(FormatText("Line %u: Invalid record format. \n", unsigned{n}));
    const uint32_t address = data.Long(0);
    if (data.Long(2) == 0) return true;
    // The marker word 0xC0DE goes just before the address, and only where
    // image data may go: below the record ranges, never with the NVRAM
    // select bit, never wrapped below address 0.
    if (address < 2 || address > kImageAddressLimit)
        return Refuse(
            FormatText("Line %u: Marker address %08X is outside the image area.\n", unsigned{n}, unsigned{address}));
    const uint8_t marker[2] = {0xDE, 0xC0};
    if (image && !image->WriteData(marker, address - 2, 2) && !image->AppendData(marker, address - 2, 2)) {
        m_internalError = true;
        return Refuse(std::string(kMemoryErrorText) + "\n");
    }
    return true;
}

// An info record: a size word (the words after it), a type word, then the
// type's words.
bool CFirmwareFile::ApplyInfo(const RecordData& data, uint16_t n) {
    const uint16_t size = data.Word(0);
    if (2 * size_t{size} + 2 != data.size)
        return Refuse(FormatText("Line %u: Record length does not correspond to size field.\n", unsigned{n}));
    if (size > kInfoMaxSize) return Refuse(FormatText("Line %u: Record length too long.\n", unsigned{n}));
    const uint16_t infoType = data.Word(1);
    bool wellFormed = true;
    switch (infoType) {
    case kInfoComponent:
        wellFormed = size == 5;
        if (wellFormed) ApplyComponent(data);
        break;
    case kInfoSlot:
        wellFormed = size == 6 && data.Word(3) < kSlotCount;
        if (wellFormed) ApplySlot(data);
        break;
    case kInfoBuildSequence:
        m_buildSequence = data.Word(2);
        LogMessage("Build sequence: %u\n", unsigned{m_buildSequence});
        break;
    case kInfoPlatform:
        wellFormed = size == 5;
        if (wellFormed) ApplyPlatform(data);
        break;
    default: LogUnknownInfo(data); break;
    }
    return wellFormed || Refuse(FormatText("Line %u: Invalid record format. \n", unsigned{n}));
}

void CFirmwareFile::ApplyComponent(const RecordData& data) {
    CComponentVersion version;
    version.present = 1;
    version.id = data.Word(2);
    version.variant = data.Word(3);
    version.major = data.Word(4);
    version.minor = data.Word(5);
    if (version.id == CComponentVersion::kPrimaryId) m_primary = version;
    else if (version.id == CComponentVersion::kStationId) m_station = version;
}

void CFirmwareFile::ApplySlot(const RecordData& data) {
    CSlotRecord& slot = m_slots[data.Word(3)];
    slot.present = 1;
    slot.first = data.Word(2);
    slot.slot = data.Word(3);
    slot.words = {data.Word(4), data.Word(5), data.Word(6)};
}

// Platforms fill the list in order; past its end the last entry is
// overwritten.
void CFirmwareFile::ApplyPlatform(const RecordData& data) {
    size_t slot = 0;
    while (slot + 1 < kPlatformCount && m_platforms[slot].present) ++slot;
    CPlatformRecord& platform = m_platforms[slot];
    platform.present = 1;
    platform.id = data.Word(2);
    platform.words = {data.Word(3), data.Word(4), data.Word(5)};
}

void CFirmwareFile::LogUnknownInfo(const RecordData& data) {
    if (!FlashLog().Wanted()) return;
    const uint16_t size = data.Word(0);
    std::string text =
        FormatText("Unknown firmware info record - size: %x, type %x; ", unsigned{size}, unsigned{data.Word(1)});
    text += "Data:  ";
    for (size_t w = 2; w <= size; ++w) text += FormatText("%x ", unsigned{data.Word(w)});
    text += "\n";
    LogMessage("%s", text.c_str());
}

}  // namespace varnel
