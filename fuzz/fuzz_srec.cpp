// Fuzzes the S-record reader: any bytes as a firmware file, loaded with an
// image and a plug list as an update loads it, then plugged and read out.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnel;
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
