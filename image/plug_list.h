#pragma once
// The plug records of an update run: where card-specific production data is
// to be written into the images. Ordered by target address, one record per
// target address; a later record for the same target replaces the earlier.

#include <cstdint>
#include <cstddef>
#include <map>

namespace varnel {

struct CPlugRecord {
    static constexpr uint32_t kFileNamePlug = 0xFFFFFFFF;

    uint32_t code = 0;     // PDR code; kFileNamePlug asks for the file name
    uint32_t address = 0;  // target card address in the image
    uint16_t length = 0;   // bytes to write
};

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
