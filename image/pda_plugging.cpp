// Plugging: writing a card's production data, and the image's file name,
// into a loaded image where its plug records say.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "log/flash_log.h"
#include "pda/pda.h"
#include "pda/pda_diff.h"

namespace varnel {

namespace {

constexpr uint16_t kFileNamePlugMax = 20;

// The part of a path after its last directory separator or drive colon.
std::string BaseName(const std::string& path) {
    const size_t cut = path.find_last_of("\\:/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

const char* PlugOutcomeKey(PlugResult::Outcome outcome) {
    switch (outcome) {
    case PlugResult::Outcome::Plugged: return "plugged";
    case PlugResult::Outcome::NotInPda: return "not_in_pda";
    case PlugResult::Outcome::LengthMismatch: return "length_mismatch";
    case PlugResult::Outcome::NoTarget: return "no_target";
    case PlugResult::Outcome::FileName: return "file_name";
    case PlugResult::Outcome::FileNameNoFit: return "file_name_no_fit";
    }
    return "";
}

std::string FormatPlugReport(const std::vector<PlugResult>& report) {
    std::string text;
    char line[96];
    for (const PlugResult& r : report) {
        const bool fileName = r.plug.code == CPlugRecord::kFileNamePlug;
        const std::string name = fileName ? "file name" : PdrName(static_cast<uint16_t>(r.plug.code & 0xFFFF));
        std::snprintf(line, sizeof line, "  0x%08x %-16s 0x%08x %4u bytes  ", r.plug.code, name.c_str(), r.plug.address,
                      unsigned{r.plug.length});
        text += line;
        switch (r.outcome) {
        case PlugResult::Outcome::Plugged: text += "plugged"; break;
        case PlugResult::Outcome::NotInPda: text += "not in the PDA: left as in the file"; break;
        case PlugResult::Outcome::LengthMismatch: text += "PDA record of another length: left as in the file"; break;
        case PlugResult::Outcome::NoTarget: text += "target not in this image"; break;
        case PlugResult::Outcome::FileName: text += "writes \"" + r.text + "\""; break;
        case PlugResult::Outcome::FileNameNoFit: text += "does not fit the image"; break;
        }
        text += "\n";
    }
    return text;
}

uint32_t CFirmwareFile::PlugImage(CFirmwareImage& image, CPlugList& plugs, const CPda& pda, const std::string& fileName,
                                  std::vector<PlugResult>* report) {
    const auto note = [report](const CPlugRecord& plug, PlugResult::Outcome outcome, std::string text = {}) {
        if (report) report->push_back({plug, outcome, std::move(text)});
    };
    LogMessage("Plugging:  ");
    plugs.Rewind();
    uint32_t pdrCount = 0;
    uint32_t plugged = 0;
    while (const CPlugRecord* plug = plugs.Next()) {
        if (plug->code == CPlugRecord::kFileNamePlug) {
            const uint16_t n = std::min(plug->length, kFileNamePlugMax);
            const std::string name = BaseName(fileName);
            std::vector<uint8_t> bytes(n, 0);
            const std::string upper = Upper(name.substr(0, n));
            std::copy(upper.begin(), upper.end(), bytes.begin());
            if (image.WriteData(bytes.data(), plug->address, n)) {
                LogMessage("[filename]  ");
                note(*plug, PlugResult::Outcome::FileName, upper);
            } else {
                LogMessage("Warning: file name plug does not fit!\n");
                note(*plug, PlugResult::Outcome::FileNameNoFit, upper);
            }
            continue;
        }
        ++pdrCount;
        const uint16_t* pdr = pda.FindRecord(static_cast<uint16_t>(plug->code & 0xFFFF));
        if (!pdr) {
            LogMessage("(Warning: PDR %x NOT in PDA)\n", plug->code);
            note(*plug, PlugResult::Outcome::NotInPda);
            continue;
        }
        const uint32_t dataBytes = 2 * (uint32_t{pdr[0]} - 1);
        if (dataBytes != plug->length) {
            LogMessage("(Warning: Length mismatch on PDR %x)", plug->code);
            note(*plug, PlugResult::Outcome::LengthMismatch);
            continue;
        }
        std::vector<uint8_t> bytes(dataBytes);
        for (uint32_t i = 0; i < dataBytes; ++i) bytes[i] = static_cast<uint8_t>(pdr[2 + i / 2] >> (8 * (i % 2)));
        if (image.WriteData(bytes.data(), plug->address, plug->length)) {
            LogMessage("(%x ok) ", plug->code);
            note(*plug, PlugResult::Outcome::Plugged);
            ++plugged;
        } else {
            LogMessage("Warning: Invalid plug record 0x%x. Target area does not exist.\n", plug->code);
            note(*plug, PlugResult::Outcome::NoTarget);
        }
    }
    if (plugged == pdrCount) LogMessage("All Entries Plugged!");
    LogMessage("\n");
    return plugged;
}

}  // namespace varnel
