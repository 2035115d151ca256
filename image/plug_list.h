#pragma once
// The plug records of an update run: where card-specific production data is
// to be written into the images. Ordered by target address, one record per
// target address; a later record for the same target replaces the earlier.

#include <cstdint>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace varnel {

struct CPlugRecord {
    static constexpr uint32_t kFileNamePlug = 0xFFFFFFFF;

    uint32_t code = 0;     // PDR code; kFileNamePlug asks for the file name
    uint32_t address = 0;  // target card address in the image
    uint16_t length = 0;   // bytes to write
};

// What plugging did with one plug record of an image.
struct PlugResult {
    enum class Outcome {
        Plugged,         // the PDA record was written into the image
        NotInPda,        // the PDA has no such record: the image keeps what the file holds
        LengthMismatch,  // the record's length differs from the plug's: left as in the file
        NoTarget,        // the image holds no data at the target (a plug of another file)
        FileName,        // the file-name plug: `text` is what it writes
        FileNameNoFit,   // the file-name plug does not fit the image
    };
    CPlugRecord plug;
    Outcome outcome = Outcome::NotInPda;
    std::string text;
};

// "plugged", "not_in_pda", "length_mismatch", "no_target", "file_name",
// "file_name_no_fit": the outcome's key in JSON.
const char* PlugOutcomeKey(PlugResult::Outcome outcome);

// The plug report of one image, one line a plug record:
//   0x00000101 MAC address      0x00000060   6 bytes  plugged
//   0xffffffff file name        0x00000040  20 bytes  writes "STATION.HEX"
std::string FormatPlugReport(const std::vector<PlugResult>& report);

class CPlugList {
public:
    CPlugList() = default;
    CPlugList(const CPlugList&) = delete;
    CPlugList& operator=(const CPlugList&) = delete;

    // 0 = replaced the record with the same target, 1 = inserted before a
    // record (or into an empty list), 2 = appended at the end.
    int Add(uint32_t code, uint32_t address, uint16_t length);
    void Clear();
    void Rewind();
    // The record at the cursor, or null at the end; the cursor moves on.
    const CPlugRecord* Next();

    size_t Size() const { return m_records.size(); }
    const std::map<uint32_t, CPlugRecord>& Records() const { return m_records; }

private:
    std::map<uint32_t, CPlugRecord> m_records;  // by target address
    std::map<uint32_t, CPlugRecord>::const_iterator m_cursor = m_records.end();
};

}  // namespace varnel
