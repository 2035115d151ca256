#include "image/firmware_file.h"

#include <fstream>

#include "image/firmware_image.h"
#include "image/flash_log.h"
#include "image/plug_list.h"

namespace varnel {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Address digits by record type; -1 = the type is refused.
constexpr std::array<int, 16> kAddressDigits = {0, 4, 6, 8, -1, 0, -1, 8, 6, 4, -1, -1, -1, -1, -1, -1};

bool IsTermination(int type) { return type >= 7 && type <= 9; }
bool IsHeaderOrCount(int type) { return type == 0 || type == 5; }

// Little-endian values from a record's data; bytes past its end read as 0.
struct RecordData {
    const uint8_t* bytes;
    size_t size;
    uint8_t Byte(size_t i) const { return i < size ? bytes[i] : 0; }
    uint16_t Word(size_t i) const { return static_cast<uint16_t>(Byte(2 * i) | Byte(2 * i + 1) << 8); }
    uint32_t Long(size_t i) const {
        return uint32_t{Byte(4 * i)} | uint32_t{Byte(4 * i + 1)} << 8 | uint32_t{Byte(4 * i + 2)} << 16 |
               uint32_t{Byte(4 * i + 3)} << 24;
    }
};

}  // namespace

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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Reset();
        if (image) image->m_hasStartAddress = 0;
        m_internalError = false;
        return static_cast<uint16_t>(Fail("File not found. "));
    }
    return Load(in, image, plugs);
}

uint16_t CFirmwareFile::Load(std::istream& in, CFirmwareImage* image, CPlugList* plugs) {
    Reset();
    if (image) image->m_hasStartAddress = 0;
    m_lastFinding.clear();
    m_internalError = false;

    char buffer[kMaxLineLength + 2];  // one more than a line may hold, to see an over-long one
    uint16_t lineNumber = 0;
    while (in.good()) {
        in.getline(buffer, sizeof buffer);
        ++lineNumber;
        size_t length = static_cast<size_t>(in.gcount());
        if (in.fail() && !in.eof()) {
            // No line end within the longest line accepted.
            return static_cast<uint16_t>(Fail(FormatText("ERROR: Line %u: line length invalid.\n", lineNumber)));
        }
        if (!in.eof() && length > 0) --length;  // the line feed
        if (length > 0 && buffer[length - 1] == '\r') --length;  // text mode: CR LF ends a line too
        if (length > kMaxLineLength)
            return static_cast<uint16_t>(Fail(FormatText("ERROR: Line %u: line length invalid.\n", lineNumber)));
        if (length > 0 && ParseLine(image, plugs, std::string_view(buffer, length), lineNumber) == 0) return 0;
        if (lineNumber > kMaxLines) break;
    }
    if (!image || image->m_hasStartAddress) return lineNumber;
    return static_cast<uint16_t>(
        Fail(FormatText("Error: Line %u: End reached without an execution address record.\n", lineNumber)));
}

int CFirmwareFile::ParseLine(CFirmwareImage* image, CPlugList* plugs, std::string_view line, uint16_t n) {
    const size_t L = line.size();
    uint8_t digits[kMaxLineLength + 1];
    if (L > kMaxLineLength) return Fail(FormatText("ERROR: Line %u: line length invalid.\n", n));

    for (size_t i = 1; i < L; ++i) {
        const int v = HexValue(line[i]);
        if (v < 0) return Fail(FormatText("Error: Line %u: Bad character found. Cannot process file.\n", n));
        digits[i] = static_cast<uint8_t>(v);
    }
    if (L == 0 || line[0] != 'S') return Fail(FormatText("Error: Line %u: record does not begin with 'S'\n", n));

    const int type = L >= 2 ? digits[1] : -1;
    const int A = type >= 0 ? kAddressDigits[static_cast<size_t>(type)] : -1;
    if (A < 0) return Fail(FormatText("ERROR: Line %u: record type invalid or unsupported.\n", n));
    if (IsHeaderOrCount(type)) LogMessage("Info records ignored.\n");

    const size_t C = L >= 4 ? size_t{digits[2]} * 16 + digits[3] : 0;
    const size_t minimum = static_cast<size_t>(A) + 6;
    if (L < 4 || L != 2 * C + 4 || (IsTermination(type) && L != minimum) ||
        (!IsTermination(type) && !IsHeaderOrCount(type) && L < minimum))
        return Fail(FormatText("ERROR: Line %u: line length invalid.\n", n));

    // Bytes from the count through the checksum: C + 1 of them.
    uint8_t bytes[kMaxLineLength / 2 + 1];
    unsigned sum = 0;
    for (size_t i = 0; i <= C; ++i) {
        bytes[i] = static_cast<uint8_t>(digits[2 + 2 * i] << 4 | digits[3 + 2 * i]);
        sum += bytes[i];
    }
    if ((sum & 0xFF) != 0xFF) return Fail(FormatText("ERROR: Line %d: Checksum failed.\n", int{n}));

    if (IsHeaderOrCount(type)) return 3;

    const size_t addressBytes = static_cast<size_t>(A) / 2;
    uint32_t address = 0;
    for (size_t i = 0; i < addressBytes; ++i) address = address << 8 | bytes[1 + i];
    const RecordData data{bytes + 1 + addressBytes, (L - minimum) / 2};

    if (IsTermination(type)) {
        if (image) {
            if (!image->m_hasStartAddress) {
                image->m_startAddress = address;
                image->m_hasStartAddress = 1;
            } else if (image->m_startAddress != address) {
                return Fail(FormatText("ERROR: Line %u: 2nd execution address found!\n", n));
            }
        }
        return 2;
    }

    if (address < kImageAddressLimit) {
        if (data.size > 0 && image &&
            !image->AppendData(data.bytes, address, static_cast<uint16_t>(data.size))) {
            m_internalError = true;
            return Fail(std::string(kMemoryErrorText) + "\n");
        }
        return 1;
    }

    if (address == kPlugRecordAddress || address == kMarkerRecordAddress) {
        // A plug or marker record holds three 32-bit values; a shorter one
        // is refused rather than read past its end.
        if (data.size < 12) return Fail(FormatText("Line %u: Invalid record format. \n", n));
        const uint32_t first = data.Long(0);
        const uint32_t second = data.Long(1);
        const uint32_t third = data.Long(2);
        if (address == kPlugRecordAddress) {
            if (plugs) plugs->Add(first, second, static_cast<uint16_t>(third));
        } else if (third != 0 && image) {
            // The marker word 0xC0DE goes just before address X.
            const uint8_t marker[2] = {0xDE, 0xC0};
            if (!image->WriteData(marker, first - 2, 2)) image->AppendData(marker, first - 2, 2);
        }
        return 1;
    }

    if (address >= kInfoRecordFirst && address <= kInfoRecordLast) {
        const uint16_t S = data.Word(0);
        if (2 * size_t{S} + 2 != data.size)
            return Fail(FormatText("Line %u: Record length does not correspond to size field.\n", n));
        if (S > kInfoMaxSize) return Fail(FormatText("Line %u: Record length too long.\n", n));
        const uint16_t infoType = data.Word(1);
        const auto invalid = [&] { return Fail(FormatText("Line %u: Invalid record format. \n", n)); };
        switch (infoType) {
        case kInfoComponent: {
            if (S != 5) return invalid();
            CComponentVersion version;
            version.present = 1;
            version.id = data.Word(2);
            version.variant = data.Word(3);
            version.major = data.Word(4);
            version.minor = data.Word(5);
            if (version.id == CComponentVersion::kPrimaryId) m_primary = version;
            else if (version.id == CComponentVersion::kStationId) m_station = version;
            break;
        }
        case kInfoSlot: {
            if (S != 6 || data.Word(3) > 4) return invalid();
            CSlotRecord& slot = m_slots[data.Word(3)];
            slot.present = 1;
            slot.first = data.Word(2);
            slot.slot = data.Word(3);
            slot.words = {data.Word(4), data.Word(5), data.Word(6)};
            break;
        }
        case kInfoBuildSequence:
            m_buildSequence = data.Word(2);
            LogMessage("Build sequence: %u\n", unsigned{m_buildSequence});
            break;
        case kInfoPlatform: {
            if (S != 5) return invalid();
            size_t i = 0;
            while (i + 1 < kPlatformCount && m_platforms[i].present) ++i;
            CPlatformRecord& platform = m_platforms[i];
            platform.present = 1;
            platform.id = data.Word(2);
            platform.words = {data.Word(3), data.Word(4), data.Word(5)};
            break;
        }
        default:
            if (FlashLog().Wanted()) {
                std::string text = FormatText("Unknown firmware info record - size: %x, type %x; ", unsigned{S},
                                              unsigned{infoType});
                text += "Data:  ";
                for (size_t w = 2; w <= S; ++w) text += FormatText("%x ", unsigned{data.Word(w)});
                text += "\n";
                LogMessage("%s", text.c_str());
            }
            break;
        }
        return 1;
    }

    return Fail(FormatText("Line %u: Unknown record type\n", n));
}

}  // namespace varnel
