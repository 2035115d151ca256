#include "pda/pda.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "log/flash_log.h"

namespace varnel {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

constexpr uint16_t kEndRecordHead[2] = {0x0002, 0x0000};

size_t RecordWords(const uint16_t* pdr) { return size_t{pdr[0]} + 1; }

}  // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

uint16_t Crc16UpdateWords(uint16_t crc, const uint16_t* words, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(words[i] & 0xFF), static_cast<uint8_t>(words[i] >> 8)};
        crc = Crc16Update(crc, bytes, 2);
    }
    return crc;
}

void CPda::CopyFrom(const CPda& other) {
    m_records = other.m_records;
    m_storedCrc = other.m_storedCrc;
    m_inputCrc = other.m_inputCrc;
}

void CPda::Clear() {
    m_records.clear();
    m_storedCrc = 0;
    m_inputCrc = 0;
}

int CPda::SetRecord(const uint16_t* pdr) {
    const uint16_t length = pdr[0];
    if (length == 2 && pdr[1] == kPdrEnd) {
        m_storedCrc = pdr[2];
        return 1;
    }
    const uint16_t code = pdr[1];
    std::vector<uint16_t> words(pdr, pdr + RecordWords(pdr));
    int result;
    if (m_records.empty()) {
        m_inputCrc = 0;
        result = 1;
    } else if (m_records.count(code)) {
        result = 0;
    } else {
        result = m_records.rbegin()->first < code ? 2 : 1;
    }
    m_records[code] = std::move(words);
    m_inputCrc = Crc16UpdateWords(m_inputCrc, pdr, RecordWords(pdr));
    return result;
}

uint16_t CPda::RemoveRecord(uint16_t code) { return m_records.erase(code) ? code : 0; }

const uint16_t* CPda::FindRecord(uint16_t code) const {
    auto found = m_records.find(code);
    return found == m_records.end() ? nullptr : found->second.data();
}

int CPda::LoadFromWords(const uint16_t* words, uint16_t count) {
    size_t idx = 0;
    int n = 0;
    // Only whole records inside the image are applied; nothing at or past
    // `count` is read. A length word of 0 (no code word) ends the load.
    while (idx < count && idx + words[idx] < count && words[idx] != 0) {
        if (words[idx] == 1) RemoveRecord(words[idx + 1]);
        else SetRecord(&words[idx]);
        ++n;
        if (words[idx] == 2 && words[idx + 1] == kPdrEnd) return n;
        idx += size_t{words[idx]} + 1;
    }
    return n;
}

uint16_t CPda::ComputeCrc() const {
    uint16_t crc = 0;
    for (const auto& [code, words] : m_records) crc = Crc16UpdateWords(crc, words.data(), words.size());
    return Crc16UpdateWords(crc, kEndRecordHead, 2);
}

uint16_t CPda::InputCrc() const { return Crc16UpdateWords(m_inputCrc, kEndRecordHead, 2); }

std::vector<uint16_t> CPda::ToWords() const {
    size_t total = 3;
    for (const auto& [code, words] : m_records) total += words.size();
    if (total > PdaMaxWords) {
        LogMessage("PDA OVERFLOW. PDA EXCEEDS %ud WORD LIMIT.\n", unsigned{PdaMaxWords});
        return {};
    }
    std::vector<uint16_t> out;
    out.reserve(total);
    for (const auto& [code, words] : m_records) out.insert(out.end(), words.begin(), words.end());
    out.insert(out.end(), {kEndRecordHead[0], kEndRecordHead[1], ComputeCrc()});
    return out;
}

uint16_t CPda::ToWords(uint16_t* out) const {
    const std::vector<uint16_t> words = ToWords();
    std::copy(words.begin(), words.end(), out);
    return static_cast<uint16_t>(words.size());
}

std::string FormatMacAddress(const uint16_t in[3]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", in[0] & 0xFF, in[0] >> 8, in[1] & 0xFF,
                  in[1] >> 8, in[2] & 0xFF, in[2] >> 8);
    return text;
}

std::string UnpackPdrText(const uint16_t* in, int wordCount) {
    std::string text;
    for (int i = 0; i < wordCount; ++i) {
        for (const uint8_t byte : {static_cast<uint8_t>(in[i] & 0xFF), static_cast<uint8_t>(in[i] >> 8)}) {
            if (byte == 0) return text;
            text += std::isprint(byte) ? static_cast<char>(byte) : ' ';
        }
    }
    return text;
}

}  // namespace varnel
