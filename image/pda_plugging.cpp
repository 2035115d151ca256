// Plugging: writing a card's production data, and the image's file name,
// into a loaded image where its plug records say.

#include <algorithm>
#include <cctype>
#include <vector>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "log/flash_log.h"
#include "pda/pda.h"

namespace varnel {

namespace {

constexpr uint16_t kFileNamePlugMax = 20;

// The part of a path after its last directory separator or drive colon.
std::string BaseName(const std::string& path) {
    const size_t cut = path.find_last_of("\\:/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

uint32_t CFirmwareFile::PlugImage(CFirmwareImage& image, CPlugList& plugs, const CPda& pda,
                                  const std::string& fileName) {
    LogMessage("Plugging:  ");
    plugs.Rewind();
    uint32_t pdrCount = 0;
    uint32_t plugged = 0;
    while (const CPlugRecord* plug = plugs.Next()) {
        if (plug->code == CPlugRecord::kFileNamePlug) {
            const uint16_t n = std::min(plug->length, kFileNamePlugMax);
            const std::string name = BaseName(fileName);
            std::vector<uint8_t> bytes(n, 0);
            for (size_t i = 0; i < n && i < name.size(); ++i)
                bytes[i] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(name[i])));
            if (image.WriteData(bytes.data(), plug->address, n)) LogMessage("[filename]  ");
            else LogMessage("Warning: file name plug does not fit!\n");
            continue;
        }
        ++pdrCount;
        const uint16_t* pdr = pda.FindRecord(static_cast<uint16_t>(plug->code & 0xFFFF));
        if (!pdr) {
            LogMessage("(Warning: PDR %x NOT in PDA)\n", plug->code);
            continue;
        }
        const uint32_t dataBytes = 2 * (uint32_t{pdr[0]} - 1);
        if (dataBytes != plug->length) {
            LogMessage("(Warning: Length mismatch on PDR %x)", plug->code);
            continue;
        }
        std::vector<uint8_t> bytes(dataBytes);
        for (uint32_t i = 0; i < dataBytes; ++i) bytes[i] = static_cast<uint8_t>(pdr[2 + i / 2] >> (8 * (i % 2)));
        if (image.WriteData(bytes.data(), plug->address, plug->length)) {
            LogMessage("(%x ok) ", plug->code);
            ++plugged;
        } else {
            LogMessage("Warning: Invalid plug record 0x%x. Target area does not exist.\n", plug->code);
        }
    }
    if (plugged == pdrCount) LogMessage("All Entries Plugged!");
    LogMessage("\n");
    return plugged;
}

}  // namespace varnel
