#include "image/srec_writer.h"

#include <algorithm>
#include <vector>

#include "image/firmware_image.h"

namespace varnel {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void PutLong(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

CSRecordWriter::CSRecordWriter(std::ostream& out, size_t dataBytesPerRecord)
    : m_out(out), m_dataBytes(std::clamp<size_t>(dataBytesPerRecord, 1, 250)) {}

void CSRecordWriter::Record(char type, uint32_t address, size_t addressBytes, std::span<const uint8_t> data) {
    char line[2 + 2 + 2 * 255 + 1];
    size_t n = 0;
    const auto put = [&](uint8_t byte) {
        line[n++] = kHex[byte >> 4];
        line[n++] = kHex[byte & 0xF];
    };
    line[n++] = 'S';
    line[n++] = type;
    const auto count = static_cast<uint8_t>(addressBytes + data.size() + 1);
    unsigned sum = count;
    put(count);
    for (size_t i = addressBytes; i-- > 0;) {
        const auto byte = static_cast<uint8_t>(address >> (8 * i));
        sum += byte;
        put(byte);
    }
    for (const uint8_t byte : data) {
        sum += byte;
        put(byte);
    }
    put(static_cast<uint8_t>(~sum & 0xFF));
    line[n++] = '\n';
    m_out.write(line, static_cast<std::streamsize>(n));
}

void CSRecordWriter::Header(std::string_view text, size_t maxBytes) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    Record('0', 0, 2, std::span(bytes, std::min({text.size(), maxBytes, size_t{252}})));
}

void CSRecordWriter::Data(uint32_t address, std::span<const uint8_t> bytes) {
    for (size_t done = 0; done < bytes.size(); done += m_dataBytes) {
        const size_t n = std::min(m_dataBytes, bytes.size() - done);
        Record('3', address + static_cast<uint32_t>(done), 4, bytes.subspan(done, n));
    }
}

void CSRecordWriter::Image(const CFirmwareImage& image) {
    for (uint16_t n = 1; n <= image.BlockCount(); ++n) Data(image.Block(n).address, image.BlockBytes(n));
}

void CSRecordWriter::Plug(const CPlugRecord& plug) {
    std::vector<uint8_t> data;
    PutLong(data, plug.code);
    PutLong(data, plug.address);
    PutLong(data, plug.length);
    Record('3', kPlugRecordAddress, 4, data);
}

void CSRecordWriter::Marker(uint32_t address, uint32_t flag) {
    std::vector<uint8_t> data;
    PutLong(data, address);
    PutLong(data, 0);
    PutLong(data, flag);
    Record('3', kMarkerRecordAddress, 4, data);
}

void CSRecordWriter::Info(uint16_t type, std::span<const uint16_t> payload) {
    std::vector<uint16_t> words{static_cast<uint16_t>(payload.size() + 1), type};
    words.insert(words.end(), payload.begin(), payload.end());
    std::vector<uint8_t> data;
    for (const uint16_t w : words) {
        data.push_back(static_cast<uint8_t>(w & 0xFF));
        data.push_back(static_cast<uint8_t>(w >> 8));
    }
    Record('3', kInfoRecordFirst, 4, data);
}

void CSRecordWriter::Version(const CComponentVersion& v) {
    const uint16_t payload[] = {v.id, v.variant, v.major, v.minor};
    Info(kInfoComponent, payload);
}

void CSRecordWriter::BuildSequence(uint16_t sequence) {
    const uint16_t payload[] = {sequence};
    Info(kInfoBuildSequence, payload);
}

void CSRecordWriter::Platform(const CPlatformRecord& p) {
    const uint16_t payload[] = {p.id, p.words[0], p.words[1], p.words[2]};
    Info(kInfoPlatform, payload);
}

void CSRecordWriter::Termination(uint32_t executionAddress) { Record('7', executionAddress, 4, {}); }

}  // namespace varnel
