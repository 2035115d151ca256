#include "update/firmware_backup.h"

#include <algorithm>
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

Result<std::string> FormatFirmwareBackup(const FirmwareBackup& backup) {
    const auto digest = FirmwareBackupDigest(backup.ranges);
    if (!digest) return Failure{"this system offers no SHA-256 for the backup's digest"};
    std::ostringstream out;
    CSRecordWriter writer(out);
    const auto header = [&](const std::string& line) { writer.Header(line, 252); };
    header(kFirmwareBackupMagic);
    header("MAC " + Printable(backup.mac));
    header("SERIAL " + Printable(backup.serial));
    header("PRIMARY " + Printable(backup.primary.value_or("unknown")));
    header("STATION " + Printable(backup.station.value_or("unknown")));
    header("READ " + Printable(backup.time));
    header("SHA256 " + *digest);
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
        if (headers.empty() && (record.type != 0 || data.size() < 2 ||
                                std::string(data.begin() + 2, data.end()) != kFirmwareBackupMagic))
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
    }
    if (!haveMac || digest.empty()) {
        return Failure{std::string("its header lacks the card's ") + (haveMac ? "digest (SHA256)" : "MAC address (MAC)")};
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
    return {};
}

Result<> LoadFirmwareBackup(const std::string& path, FirmwareBackup& backup) {
    const Result<std::string> text = ReadRegularFile(path, kFirmwareBackupMaxBytes);
    if (!text) return text.Error();
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
            if (!images.back()->AppendData(r.bytes.data() + done, r.address + static_cast<uint32_t>(done), n)) return false;
            done += n;
        }
    }
    return true;
}

std::string FirmwareBackupVersions(const FirmwareBackup& backup) {
    return "Primary " + backup.primary.value_or("unknown") + ", Station " + backup.station.value_or("unknown");
}

}  // namespace varnel
