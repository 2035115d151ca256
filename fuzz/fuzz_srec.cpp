// Fuzzes the S-record reader: each line through the line decoder, whose
// accepted records must encode back to their line; then the bytes as a
// firmware file, loaded with an image and a plug list as an update loads
// it, plugged and read out.

#include <cstddef>
#include <cctype>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "image/srec_line.h"
#include "pda/pda.h"

namespace {

// An accepted line, written back from its record: the same text but for
// the case of its hex digits.
void CheckRecordMatchesLine(const varnel::SRecordLine& record, std::string_view line) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr size_t kAddressBytes[10] = {0, 2, 3, 4, 0, 0, 0, 4, 3, 2};
    const size_t addressBytes = kAddressBytes[record.type];
    std::string text = "S";
    text += kHex[record.type];
    const auto put = [&text](uint8_t byte) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
    };
    const auto count = static_cast<uint8_t>(addressBytes + record.size + 1);
    unsigned sum = count;
    put(count);
    for (size_t i = addressBytes; i-- > 0;) {
        sum += static_cast<uint8_t>(record.address >> (8 * i));
        put(static_cast<uint8_t>(record.address >> (8 * i)));
    }
    for (const uint8_t byte : record.Data()) {
        sum += byte;
        put(byte);
    }
    put(static_cast<uint8_t>(~sum));
    if (text.size() != line.size()) __builtin_trap();
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != std::toupper(static_cast<unsigned char>(line[i]))) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const SRecordLine record = DecodeSRecordLine(line);
        if (record.Accepted()) CheckRecordMatchesLine(record, line);
        if (record.Accepted() && !record.kindKnown) __builtin_trap();
        start = end + 1;
    }

    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    CFirmwareFile file;
    CFirmwareImage image;
    CPlugList plugs;
    if (file.Load(in, &image, &plugs) == 0) return 0;

    CPda pda;
    const uint16_t mac[] = {4, kPdrMacAddress, 0x1102, 0x3322, 0x5544};
    pda.SetRecord(mac);
    file.PlugImage(image, plugs, pda, "C:\\FW\\fuzz.hex");

    uint8_t piece[2042];
    uint32_t address;
    uint16_t length;
    const uint16_t expected = image.CountPieces(2042, 0x10000);
    uint16_t pieces = 0;
    image.Rewind();
    while (image.ReadNext(piece, address, length, 2042, 0x10000)) ++pieces;
    if (pieces != expected) __builtin_trap();
    return 0;
}
