#pragma once
// Writes firmware files as S-records: data as S3 records, the special
// records (info, plug, marker) at their reserved addresses, and an S7
// termination record with the execution address.

#include <cstdint>
#include <ostream>
#include <span>
#include <string_view>

#include "image/firmware_file.h"
#include "image/plug_list.h"

namespace varnel {

class CFirmwareImage;

class CSRecordWriter {
public:
    static constexpr size_t kDefaultDataBytes = 32;

    explicit CSRecordWriter(std::ostream& out, size_t dataBytesPerRecord = kDefaultDataBytes);

    // S0, its text cut at `maxBytes` (at most 252, what one record holds).
    void Header(std::string_view text, size_t maxBytes = 64);
    void Data(uint32_t address, std::span<const uint8_t> bytes);  // S3 records
    void Image(const CFirmwareImage& image);                      // every block, in block order
    void Plug(const CPlugRecord& plug);
    void Marker(uint32_t address, uint32_t flag);
    // An info record: size word, type word, payload.
    void Info(uint16_t type, std::span<const uint16_t> payload);
    void Version(const CComponentVersion& version);
    void BuildSequence(uint16_t sequence);
    void Platform(const CPlatformRecord& platform);
    void Termination(uint32_t executionAddress);  // S7

private:
    void Record(char type, uint32_t address, size_t addressBytes, std::span<const uint8_t> data);

    std::ostream& m_out;
    size_t m_dataBytes;
};

}  // namespace varnel
