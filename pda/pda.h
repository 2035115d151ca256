#pragma once
// The Production Data Area: the card's per-card values (MAC address, serial
// number, part number, calibration tables) as production data records
// (PDRs) of 16-bit words.
//
// Word image, as on the card: each PDR is a length word L (the code word
// plus the data words), the code word, then L - 1 data words. The end record
// (L = 2, code 0x0000) carries the CRC-16 of the image up to and including
// its code word. In an image applied to a PDA, a record of L = 1 deletes the
// PDR with that code.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace varnel {

inline constexpr uint16_t PdaMaxWords = 512;

// PDR codes the program interprets; all others are carried through.
inline constexpr uint16_t kPdrEnd = 0x0000;
inline constexpr uint16_t kPdrPartNumber = 0x0001;
inline constexpr uint16_t kPdrRelease = 0x0002;
inline constexpr uint16_t kPdrSerialNumber = 0x0003;
inline constexpr uint16_t kPdrPlatform = 0x0008;
inline constexpr uint16_t kPdrMacAddress = 0x0101;
inline constexpr uint16_t kPdrDomain = 0x0103;
inline constexpr uint16_t kPdrSetPoint1 = 0x0300;
inline constexpr uint16_t kPdrSetPoint2 = 0x0301;
inline constexpr uint16_t kPdrSetPointSource1 = 0x0900;
inline constexpr uint16_t kPdrSetPointSource2 = 0x0901;

class CPda {
public:
    // A record's words: length word, code word, data words.
    using Records = std::map<uint16_t, std::vector<uint16_t>>;

    CPda() = default;
    CPda(const CPda&) = delete;
    CPda& operator=(const CPda&) = delete;

    void Clear();
    // Takes the records and CRCs of `other` (a PDA kept aside and restored).
    void CopyFrom(const CPda& other);
    // Applies a word image on top of the records present; returns the number
    // of records processed (delete records and the end record included).
    // Stops at the end record, at a record that would run past `count`, and
    // at a record whose length word is 0.
    int LoadFromWords(const uint16_t* words, uint16_t count);
    // Inserts or replaces a PDR, or takes the CRC of an end record. 0 =
    // replaced, 1 = inserted before a larger code, into an empty PDA, or an
    // end record, 2 = appended after the last record.
    int SetRecord(const uint16_t* pdr);
    // Returns the code when a record was removed, else 0.
    uint16_t RemoveRecord(uint16_t code);
    // The record's words, valid until it is replaced or removed; or null.
    const uint16_t* FindRecord(uint16_t code) const;

    // CRC of the image ToWords writes, up to the end record's code word.
    uint16_t ComputeCrc() const;
    // CRC of the records in the order they were set since the PDA was last
    // empty, closed like an image; for a PDA loaded from a read image, the
    // CRC of that image as read.
    uint16_t InputCrc() const;
    // The CRC of the last end record set.
    uint16_t StoredCrc() const { return m_storedCrc; }

    // Writes the word image with its end record into `out` (room for
    // PdaMaxWords); returns the words written, or 0 when it does not fit.
    uint16_t ToWords(uint16_t* out) const;
    // The same as a vector (empty when it does not fit).
    std::vector<uint16_t> ToWords() const;

    const Records& GetRecords() const { return m_records; }
    bool Empty() const { return m_records.empty(); }

private:
    Records m_records;  // sorted by code, one record per code
    uint16_t m_storedCrc = 0;
    uint16_t m_inputCrc = 0;
};

// CRC-16/ARC (reflected 0xA001), no final XOR; starts from the caller's value.
uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length);
// The same over words, each fed low byte first.
uint16_t Crc16UpdateWords(uint16_t crc, const uint16_t* words, size_t count);

// Six bytes as lower-case hex joined by "-": 02-11-22-33-44-55 for the words
// 0x1102, 0x3322, 0x5544.
std::string FormatMacAddress(const uint16_t in[3]);
// Two characters a word, low byte first; characters before the first NUL
// that are not printable become blanks; the text ends at the first NUL.
std::string UnpackPdrText(const uint16_t* in, int wordCount);

}  // namespace varnel
