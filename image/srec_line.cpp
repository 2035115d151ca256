#include "image/srec_line.h"

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

uint8_t HexValue(char c) { return kHexTable[static_cast<uint8_t>(c)]; }

// Address digits by record type; -1 = the type is refused.
constexpr std::array<int, 16> kAddressDigits = {0, 4, 6, 8, -1, 0, -1, 8, 6, 4, -1, -1, -1, -1, -1, -1};

SRecordKind KindOf(uint8_t type) {
    if (type == 0 || type == 5) return SRecordKind::Header;
    if (type >= 7) return SRecordKind::Termination;
    return SRecordKind::Data;
}

// The checks in their order; fills `record` as far as they get.
SRecordRefusal Decode(std::string_view text, SRecordLine& record) {
    const size_t length = text.size();
    if (length > kSRecordMaxLineLength) return SRecordRefusal::BadLength;

    // Every character after the first must be a hex digit. The digits after
    // the type form bytes: the count, address, data and checksum.
    uint8_t bytes[kSRecordMaxLineLength / 2 + 1];
    unsigned invalid = 0;
    if (length > 1) invalid |= HexValue(text[1]);
    size_t byteCount = 0;
    size_t i = 2;
    for (; i + 1 < length; i += 2) {
        const uint8_t high = HexValue(text[i]);
        const uint8_t low = HexValue(text[i + 1]);
        invalid |= high | low;
        bytes[byteCount++] = static_cast<uint8_t>(high << 4 | (low & 0x0F));
    }
    if (i < length) invalid |= HexValue(text[i]);
    if (invalid & 0xF0) return SRecordRefusal::BadCharacter;
    if (length == 0 || text[0] != 'S') return SRecordRefusal::NoS;

    const int addressDigits = length >= 2 ? kAddressDigits[HexValue(text[1])] : -1;
    if (addressDigits < 0) return SRecordRefusal::BadType;
    record.type = HexValue(text[1]);
    record.kind = KindOf(record.type);
    record.kindKnown = true;

    const size_t count = length >= 4 ? bytes[0] : 0;
    const size_t minimum = static_cast<size_t>(addressDigits) + 6;
    if (length < 4 || length != 2 * count + 4 || (record.kind == SRecordKind::Termination && length != minimum) ||
        (record.kind == SRecordKind::Data && length < minimum))
        return SRecordRefusal::BadLength;

    unsigned sum = 0;
    for (size_t k = 0; k <= count; ++k) sum += bytes[k];
    if ((sum & 0xFF) != 0xFF) return SRecordRefusal::BadChecksum;

    // Header and count records have no address: all their bytes are data.
    // (None is shorter than the minimum: a count of 0 fails its checksum.)
    if (length < minimum) return SRecordRefusal::None;
    const size_t addressBytes = static_cast<size_t>(addressDigits) / 2;
    for (size_t k = 0; k < addressBytes; ++k) record.address = record.address << 8 | bytes[1 + k];
    record.size = static_cast<uint16_t>((length - minimum) / 2);
    for (size_t k = 0; k < record.size; ++k) record.bytes[k] = bytes[1 + addressBytes + k];
    return SRecordRefusal::None;
}

}  // namespace

SRecordLine DecodeSRecordLine(std::string_view text) {
    SRecordLine record;
    record.refusal = Decode(text, record);
    return record;
}

}  // namespace varnel
