#pragma once
// One S-record line decoded: its kind, address and data bytes, or the
// reason the line is refused. The decoder is a function of the text alone;
// what a record does to an image is the firmware file's business.
//
// A line is "S", a type digit, then hex digit pairs: the count (the bytes
// that follow), the address (4, 6 or 8 digits by type; none in header and
// count records, whose bytes are all data), the data and a
// checksum that makes the bytes from the count on add up to 0xFF.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace varnel {

// The longest line read: a count of 255 with its digits, "S", the type
// digit and one digit more.
inline constexpr size_t kSRecordMaxLineLength = 519;

// What a record is, by its type digit.
enum class SRecordKind : uint8_t {
    Header,       // S0 header, S5 count: checked, then ignored
    Data,         // S1, S2, S3: data at a 16-, 24- or 32-bit address
    Termination,  // S7, S8, S9: the execution address, and no data
};

// Why a line is refused, in the order the checks run.
enum class SRecordRefusal : uint8_t {
    None,
    BadCharacter,  // a character after the first is no hex digit
    NoS,           // the line does not begin with an upper-case 'S'
    BadType,       // no type digit, or 4, 6, or A to F
    BadLength,     // the line does not match its count, or is too short for its type
    BadChecksum,
};

struct SRecordLine {
    SRecordRefusal refusal = SRecordRefusal::None;
    // Read from the type digit: known for an accepted line and for one
    // refused for its length or checksum.
    bool kindKnown = false;
    SRecordKind kind = SRecordKind::Header;
    uint8_t type = 0;
    uint32_t address = 0;
    uint16_t size = 0;  // data bytes
    std::array<uint8_t, 256> bytes{};

    bool Accepted() const { return refusal == SRecordRefusal::None; }
    std::span<const uint8_t> Data() const { return {bytes.data(), size}; }
};

// Decodes one line, its line end removed.
SRecordLine DecodeSRecordLine(std::string_view text);

}  // namespace varnel
