#include "image/firmware_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "log/flash_log.h"
#include "platform/input_file.h"

namespace varnel {

namespace {

// Hex digit values; 0xFF for every other character.
constexpr std::array<uint8_t, 256> kHexTable = [] {
    std::array<uint8_t, 256> table{};
    table.fill(0xFF);
    for (int c = 0; c < 10; ++c) table['0' + c] = static_cast<uint8_t>(c);
    for (int c = 0; c < 6; ++c) table['a' + c] = table['A' + c] = static_cast<uint8_t>(10 + c);
    return table;
}();

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
        if (!line.empty() && ParseLine(image, plugs, line, n) == 0) return kFailed;
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

int CFirmwareFile::ParseLine(CFirmwareImage* image, CPlugList* plugs, std::string_view line, uint16_t n) {
    const size_t L = line.size();
    if (L > kMaxLineLength) return Fail(FormatText("ERROR: Line %u: line length invalid.\n", n));

    // Every character after the first must be a hex digit. The digits after
    // the type form bytes: the count, address, data and checksum.
    uint8_t bytes[kMaxLineLength / 2 + 1];
    unsigned invalid = 0;
    if (L > 1) invalid |= kHexTable[static_cast<uint8_t>(line[1])];
    size_t byteCount = 0;
    size_t i = 2;
    for (; i + 1 < L; i += 2) {
        const uint8_t high = kHexTable[static_cast<uint8_t>(line[i])];
        const uint8_t low = kHexTable[static_cast<uint8_t>(line[i + 1])];
        invalid |= high | low;
        bytes[byteCount++] = static_cast<uint8_t>(high << 4 | (low & 0x0F));
    }
    if (i < L) invalid |= kHexTable[static_cast<uint8_t>(line[i])];
    if (invalid & 0xF0) return Fail(FormatText("Error: Line %u: Bad character found. Cannot process file.\n", n));
    if (L == 0 || line[0] != 'S') return Fail(FormatText("Error: Line %u: record does not begin with 'S'\n", n));

    const int type = L >= 2 ? kHexTable[static_cast<uint8_t>(line[1])] : -1;
    const int A = type >= 0 ? kAddressDigits[static_cast<size_t>(type)] : -1;
    if (A < 0) return Fail(FormatText("ERROR: Line %u: record type invalid or unsupported.\n", n));
    if (IsHeaderOrCount(type)) LogMessage("Info records ignored.\n");

    const size_t C = L >= 4 ? bytes[0] : 0;
    const size_t minimum = static_cast<size_t>(A) + 6;
    if (L < 4 || L != 2 * C + 4 || (IsTermination(type) && L != minimum) ||
        (!IsTermination(type) && !IsHeaderOrCount(type) && L < minimum))
        return Fail(FormatText("ERROR: Line %u: line length invalid.\n", n));

    // The bytes from the count through the checksum add up to 0xFF.
    unsigned sum = 0;
    for (size_t k = 0; k <= C; ++k) sum += bytes[k];
    if ((sum & 0xFF) != 0xFF) return Fail(FormatText("ERROR: Line %d: Checksum failed.\n", int{n}));

    if (IsHeaderOrCount(type)) return 3;

    const size_t addressBytes = static_cast<size_t>(A) / 2;
    uint32_t address = 0;
    for (size_t k = 0; k < addressBytes; ++k) address = address << 8 | bytes[1 + k];
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
        // The data must end below the record ranges too.
        if (data.size > kImageAddressLimit - address)
            return Fail(FormatText("Line %u: Record data runs past address %X.\n", n, unsigned{kImageAddressLimit}));
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
        } else if (third != 0) {
            // The marker word 0xC0DE goes just before address X, and only
            // where image data may go: below the record ranges, never with
            // the NVRAM select bit, never wrapped below address 0.
            if (first < 2 || first > kImageAddressLimit)
                return Fail(FormatText("Line %u: Marker address %08X is outside the image area.\n", n,
                                       unsigned{first}));
            const uint8_t marker[2] = {0xDE, 0xC0};
            if (image && !image->WriteData(marker, first - 2, 2) && !image->AppendData(marker, first - 2, 2)) {
                m_internalError = true;
                return Fail(std::string(kMemoryErrorText) + "\n");
            }
        }
        return 1;
    }

    if (address >= kInfoRecordFirst && address <= kInfoRecordLast) {
        const uint16_t S = data.Word(0);
        if (2 * size_t{S} + 2 != data.size)
            return Fail(FormatText("Line %u: Record length does not correspond to size field.\n", n));
        if (S > kInfoMaxSize) return Fail(FormatText("Line %u: Record length too long.\n", n));
        const uint16_t infoType = data.Word(1);
        const auto invalidFormat = [&] { return Fail(FormatText("Line %u: Invalid record format. \n", n)); };
        switch (infoType) {
        case kInfoComponent: {
            if (S != 5) return invalidFormat();
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
            if (S != 6 || data.Word(3) > 4) return invalidFormat();
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
            if (S != 5) return invalidFormat();
            size_t slot = 0;
            while (slot + 1 < kPlatformCount && m_platforms[slot].present) ++slot;
            CPlatformRecord& platform = m_platforms[slot];
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
