#include "update/firmware_backup.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <sstream>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/srec_line.h"
#include "image/srec_writer.h"
#include "platform/file_digest.h"
#include "platform/input_file.h"

namespace varnel {

namespace {

// Header text keeps to printable ASCII: a byte outside it becomes '?'.
std::string Printable(std::string_view text) {
    std::string out;
    for (const char c : text) out += c >= 0x20 && c < 0x7F ? c : '?';
    return out;
}

void PutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
}

}  // namespace

uint64_t FirmwareBackup::ByteCount() const {
    uint64_t n = 0;
    for (const FlashRange& r : ranges) n += r.bytes.size();
    return n;
}

std::vector<FlashRange> MergeAdjacent(std::vector<FlashRange> ranges) {
    std::vector<FlashRange> merged;
    for (FlashRange& r : ranges) {
        if (r.bytes.empty()) continue;
        if (!merged.empty() && merged.back().End() == r.address && merged.back().End() != 0)
            merged.back().bytes.insert(merged.back().bytes.end(), r.bytes.begin(), r.bytes.end());
        else merged.push_back(std::move(r));
    }
    return merged;
}

std::optional<std::string> FirmwareBackupDigest(const std::vector<FlashRange>& ranges) {
    std::string data;
    for (const FlashRange& r : MergeAdjacent(ranges)) {
        PutBigEndian(data, r.address);
        PutBigEndian(data, static_cast<uint32_t>(r.bytes.size()));
        data.append(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size());
    }
    return Sha256(data);
}

std::optional<std::string> FirmwareBackupHeaderDigest(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return Sha256(text);
}

Result<std::string> FormatFirmwareBackup(const FirmwareBackup& backup) {
    const auto digest = FirmwareBackupDigest(backup.ranges);
    if (!digest) return Failure{"this system offers no SHA-256 for the backup's digest"};
    std::vector<std::string> lines = {kFirmwareBackupMagic,
                                      "MAC " + Printable(backup.mac),
                                      "SERIAL " + Printable(backup.serial),
                                      "PRIMARY " + Printable(backup.primary.value_or("unknown")),
                                      "STATION " + Printable(backup.station.value_or("unknown")),
                                      "READ " + Printable(backup.time),
                                      "SHA256 " + *digest};
    const auto headerDigest = FirmwareBackupHeaderDigest(lines);
    if (!headerDigest) return Failure{"this system offers no SHA-256 for the backup's digest"};
    lines.push_back("HEADER-SHA256 " + *headerDigest);
    std::ostringstream out;
    CSRecordWriter writer(out);
    for (const std::string& line : lines) writer.Header(line, 252);
    for (const FlashRange& r : MergeAdjacent(backup.ranges)) writer.Data(r.address, r.bytes);
    writer.Termination(0);
    return out.str();
}

namespace {

// Why a line of a backup is refused, as the user reads it. The last line
// of a file refused for its length is where a cut file shows.
std::string LineRefusal(const SRecordLine& record, std::string_view line, bool lastLine) {
    switch (record.refusal) {
    case SRecordRefusal::BadCharacter: return "not an S-record (a character that is no hex digit)";
    case SRecordRefusal::NoS: return "not an S-record";
    case SRecordRefusal::BadType:
        return "an S" + std::string(line.substr(1, 1)) + " record, which a firmware backup does not hold";
    case SRecordRefusal::BadLength:
        return std::string("its byte count does not match its length") + (lastLine ? " (the file was cut)" : "");
    case SRecordRefusal::BadChecksum: return "its checksum does not match: the record was altered";
    case SRecordRefusal::None: break;
    }
    return {};
}

// The records of a backup file: its header texts and data ranges, each
// line checked by the S-record decoder; the end record (S7) last.
Result<> ReadBackupRecords(std::string_view text, std::vector<std::string>& headers, std::vector<FlashRange>& ranges) {
    bool ended = false;
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        const bool lastLine = end == std::string_view::npos;
        if (lastLine) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::string at = "line " + std::to_string(lineNumber) + ": ";
        if (ended) return Failure{at + "a record after the end record (S7)"};
        const SRecordLine record = DecodeSRecordLine(line);
        if (!record.Accepted()) return Failure{at + LineRefusal(record, line, lastLine)};
        const std::span<const uint8_t> data = record.Data();
        // The first record names the format.
        if (headers.empty() &&
            (record.type != 0 || data.size() < 2 || std::string(data.begin() + 2, data.end()) != kFirmwareBackupMagic))
            return Failure{"not a Varnel firmware backup (its first record is not the header \"" +
                           std::string(kFirmwareBackupMagic) + "\")"};
        switch (record.type) {
        case 0:
            if (data.size() < 2) return Failure{at + "a header record without its address"};
            headers.emplace_back(data.begin() + 2, data.end());
            break;
        case 3:
            if (data.empty()) return Failure{at + "a data record without data"};
            if (record.address >= kImageAddressLimit || data.size() > kImageAddressLimit - record.address)
                return Failure{at + "data outside the card's flash"};
            // Records that follow on from each other form one range as they
            // are read: the bound is on ranges, whatever their records.
            if (!ranges.empty() && ranges.back().End() == record.address && ranges.back().End() != 0) {
                ranges.back().bytes.insert(ranges.back().bytes.end(), data.begin(), data.end());
                break;
            }
            if (ranges.size() >= kFirmwareBackupMaxRanges)
                return Failure{at + "more than " + std::to_string(kFirmwareBackupMaxRanges) +
                               " separate ranges of data, more than any backup holds"};
            ranges.push_back({record.address, std::vector<uint8_t>(data.begin(), data.end())});
            break;
        case 7: ended = true; break;
        default:
            return Failure{at + "an S" + std::string(line.substr(1, 1)) +
                           " record, which a firmware backup does not hold"};
        }
    }
    if (headers.empty()) return Failure{"the file is empty"};
    if (!ended) return Failure{"the file ends before its end record (S7): it was cut"};
    return {};
}

}  // namespace

Result<> ParseFirmwareBackup(std::string_view text, FirmwareBackup& backup) {
    backup = FirmwareBackup{};
    std::vector<std::string> headers;
    std::vector<FlashRange> ranges;
    if (Result<> read = ReadBackupRecords(text, headers, ranges); !read) return read;
    std::string digest;
    std::string headerDigest;
    size_t headerDigestAt = 0;
    bool haveMac = false;
    for (size_t i = 1; i < headers.size(); ++i) {
        const std::string& h = headers[i];
        const size_t space = h.find(' ');
        const std::string key = h.substr(0, space);
        const std::string value = space == std::string::npos ? "" : h.substr(space + 1);
        if (key == "MAC") {
            backup.mac = value;
            haveMac = true;
        } else if (key == "SERIAL") backup.serial = value;
        else if (key == "PRIMARY") backup.primary = value == "unknown" ? std::nullopt : std::optional(value);
        else if (key == "STATION") backup.station = value == "unknown" ? std::nullopt : std::optional(value);
        else if (key == "READ") backup.time = value;
        else if (key == "SHA256") digest = value;
        else if (key == "HEADER-SHA256" && headerDigestAt == 0) {
            headerDigest = value;
            headerDigestAt = i;
        }
    }
    if (!haveMac || digest.empty()) {
        return Failure{std::string("its header lacks the card's ") +
                       (haveMac ? "digest (SHA256)" : "MAC address (MAC)")};
    }
    if (ranges.empty()) {
        return Failure{"it holds no data"};
    }
    backup.ranges = MergeAdjacent(std::move(ranges));
    const auto computed = FirmwareBackupDigest(backup.ranges);
    if (!computed) {
        return Failure{"this system offers no SHA-256 to check the backup's digest"};
    }
    if (*computed != digest) {
        return Failure{"its data do not match the SHA-256 digest in its header: the file was altered or cut"};
    }
    // The header's text is proven by its own digest; a header line after
    // that digest is not covered, so the file is refused.
    backup.headerProven = false;
    if (headerDigestAt != 0) {
        const auto header =
            FirmwareBackupHeaderDigest({headers.begin(), headers.begin() + static_cast<long>(headerDigestAt)});
        if (!header || *header != headerDigest || headerDigestAt + 1 != headers.size())
            return Failure{"its header text does not match its HEADER-SHA256 digest: the header was altered"};
        backup.headerProven = true;
    }
    return {};
}

Result<> LoadFirmwareBackup(const std::string& path, FirmwareBackup& backup) {
    const Result<std::string> text = ReadRegularFile(path, kFirmwareBackupMaxBytes);
    // "is 67108865 bytes, more than ...": the file is its subject.
    if (!text) return Failure{(text.Reason().starts_with("is ") ? "the file " : "") + text.Reason()};
    return ParseFirmwareBackup(*text, backup);
}

bool FirmwareBackupImages(const FirmwareBackup& backup, std::vector<std::unique_ptr<CFirmwareImage>>& images) {
    // An image takes at most 100 chunks of data and 255 blocks: a new one
    // begins well before either.
    constexpr uint32_t kImageBytes = 96 * CFirmwareImage::kChunkSize;
    constexpr uint16_t kImageBlocks = 200;
    constexpr uint32_t kStep = 0x8000;
    images.clear();
    for (const FlashRange& r : backup.ranges) {
        for (size_t done = 0; done < r.bytes.size();) {
            const auto n = static_cast<uint16_t>(std::min<size_t>(kStep, r.bytes.size() - done));
            if (images.empty() || images.back()->ByteCount() + n > kImageBytes ||
                images.back()->BlockCount() >= kImageBlocks)
                images.push_back(std::make_unique<CFirmwareImage>());
            if (!images.back()->AppendData(r.bytes.data() + done, r.address + static_cast<uint32_t>(done), n))
                return false;
            done += n;
        }
    }
    return true;
}

std::string FirmwareBackupVersions(const FirmwareBackup& backup) {
    return "Primary " + backup.primary.value_or("unknown") + ", Station " + backup.station.value_or("unknown");
}

namespace {

// The version the identity block at `base` + 0x10 holds for `component`,
// when the data hold the block whole (the last range that holds it wins:
// it is the one written last).
std::optional<std::string> IdentityVersion(const std::vector<FlashRange>& ranges, uint32_t base, uint16_t component) {
    const uint32_t at = base + 0x10;
    std::optional<std::string> version;
    for (const FlashRange& r : ranges) {
        if (r.address > at || r.End() < at + 16 || r.End() < r.address) continue;
        const uint8_t* b = r.bytes.data() + (at - r.address);
        const auto word = [&](int i) { return static_cast<uint16_t>(b[i] | b[i + 1] << 8); };
        if (std::string(b, b + 4) != "VNID" || word(4) != component) {
            version.reset();
            continue;
        }
        version = std::to_string(word(8)) + "." + std::to_string(word(10)) + "." + std::to_string(word(6));
    }
    return version;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

DataVersions FirmwareDataVersions(const std::vector<FlashRange>& ranges) {
    return {IdentityVersion(ranges, 0x000000, CComponentVersion::kPrimaryId),
            IdentityVersion(ranges, 0x020000, CComponentVersion::kStationId)};
}

std::string DataVersionsText(const DataVersions& versions) {
    const auto one = [](const char* name, const std::optional<std::string>& v) {
        return std::string(name) + " " + (v ? *v : std::string("not in the data (the card keeps its own)"));
    };
    return one("Primary", versions.primary) + ", " + one("Station", versions.station);
}

Result<> CheckFirmwareBackupRanges(const FirmwareBackup& backup, uint32_t start, uint32_t end, uint32_t pdaSector,
                                   uint32_t flashEnd) {
    for (const FlashRange& r : backup.ranges) {
        const uint64_t rangeEnd = uint64_t{r.address} + r.bytes.size();
        if (r.address >= start && rangeEnd <= end) continue;
        const std::string range = "the range " + Hex(r.address) + "-" + Hex(static_cast<uint32_t>(rangeEnd - 1)) +
                                  " (" + std::to_string(r.bytes.size()) + " bytes)";
        if (rangeEnd > flashEnd)
            return Failure{range + " lies past the end of the card's flash (" + Hex(flashEnd) + ")"};
        if (rangeEnd > pdaSector && r.address < flashEnd)
            return Failure{range + " lies in the card's PDA sector (" + Hex(pdaSector) + "-" + Hex(flashEnd - 1) +
                           "), which a firmware restore never writes: restore the card's PDA from its PDA backup"};
        return Failure{range + " lies outside the card's firmware area (" + Hex(start) + "-" + Hex(end - 1) + ")"};
    }
    return {};
}

}  // namespace varnel
