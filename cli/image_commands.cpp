// varnel-cli image info / image dump

#include <sstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "image/srec_writer.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "platform/atomic_file.h"
#include "update/json_text.h"

namespace varnel::cli {

namespace {

using Json = nlohmann::ordered_json;

// One file loaded as the update run loads it: image and plug list.
struct LoadedImage {
    CFirmwareFile file;
    CFirmwareImage image;
    CPlugList plugs;
    uint16_t lines = 0;
};

// Loads `path`; on failure says why on stderr and returns null.
std::unique_ptr<LoadedImage> LoadImage(const std::string& path) {
    auto loaded = std::make_unique<LoadedImage>();
    loaded->lines = loaded->file.LoadFile(path, &loaded->image, &loaded->plugs);
    if (loaded->lines == 0) {
        Complain(path, loaded->file.InternalError() ? std::string(kMemoryErrorCaption) + " " + kMemoryErrorText
                                                    : loaded->file.LastFinding());
        return nullptr;
    }
    return loaded;
}

Json VersionJson(const CComponentVersion& v) {
    if (!v.present) return nullptr;
    return Json{{"id", v.id}, {"major", v.major}, {"minor", v.minor}, {"variant", v.variant}, {"text", v.Format()}};
}

std::string VersionText(const CComponentVersion& v) { return v.present ? v.Format() : "none"; }

}  // namespace

int ImageInfo(const GlobalOptions&, const ImageInfoOptions& options) {
    const std::string& path = options.file;
    const bool json = options.json;
    auto loaded = LoadImage(path);
    if (!loaded) return kExitRefused;
    const CFirmwareFile& f = loaded->file;
    const CFirmwareImage& image = loaded->image;

    if (json) {
        Json platforms = Json::array();
        for (const CPlatformRecord& p : f.m_platforms)
            if (p.present) platforms.push_back(p.id);
        Json blocks = Json::array();
        for (uint16_t n = 1; n <= image.BlockCount(); ++n)
            blocks.push_back({{"address", image.Block(n).address}, {"length", image.Block(n).length}});
        Json plugs = Json::array();
        for (const auto& [target, plug] : loaded->plugs.Records())
            plugs.push_back({{"code", plug.code}, {"address", plug.address}, {"length", plug.length}});
        const Json out{{"file", path},
                       {"lines", loaded->lines},
                       {"execution_address", image.m_startAddress},
                       {"primary", VersionJson(f.m_primary)},
                       {"station", VersionJson(f.m_station)},
                       {"build_sequence", f.m_buildSequence},
                       {"platforms", platforms},
                       {"blocks", blocks},
                       {"plugs", plugs}};
        std::cout << JsonText(out, 2) << "\n";
        return kExitDone;
    }

    std::cout << "File:              " << path << "\n"
              << "Lines read:        " << loaded->lines << "\n"
              << "Execution address: " << Hex(image.m_startAddress, 8) << "\n"
              << "Primary:           " << VersionText(f.m_primary) << "\n"
              << "Station:           " << VersionText(f.m_station) << "\n"
              << "Build sequence:    " << f.m_buildSequence << "\n"
              << "Platforms:        ";
    bool anyPlatform = false;
    for (const CPlatformRecord& p : f.m_platforms) {
        if (!p.present) continue;
        std::cout << " " << Hex(p.id, 4);
        anyPlatform = true;
    }
    std::cout << (anyPlatform ? "" : " none") << "\n";
    std::cout << "Blocks:            " << image.BlockCount() << " (" << image.ByteCount() << " bytes)\n";
    for (uint16_t n = 1; n <= image.BlockCount(); ++n)
        std::cout << "  " << Hex(image.Block(n).address, 8) << "  " << image.Block(n).length << " bytes\n";
    std::cout << "Plug records:      " << loaded->plugs.Size() << "\n";
    for (const auto& [target, plug] : loaded->plugs.Records()) {
        std::cout << "  code " << Hex(plug.code, 8) << "  target " << Hex(plug.address, 8) << "  length " << plug.length
                  << (plug.code == CPlugRecord::kFileNamePlug ? "  (file name)" : "") << "\n";
    }
    return kExitDone;
}

int ImageDump(const GlobalOptions&, const ImageDumpOptions& options) {
    const std::string& path = options.file;
    const std::string& outPath = options.out;
    const std::vector<std::string>& pdaFiles = options.pda;
    auto loaded = LoadImage(path);
    if (!loaded) return kExitRefused;
    if (!pdaFiles.empty()) {
        CPda pda;
        for (const std::string& pdaPath : pdaFiles) {
            if (const Result<> merged = MergePdaTextFile(pda, pdaPath); !merged) {
                Complain(pdaPath, merged.Reason());
                return kExitRefused;
            }
        }
        std::vector<PlugResult> report;
        loaded->file.PlugImage(loaded->image, loaded->plugs, pda, path, &report);
        std::cout << "Plug records of " << path << ":\n" << (report.empty() ? "  none\n" : FormatPlugReport(report));
    }
    // A failed write leaves what was there.
    std::ostringstream text;
    CSRecordWriter writer(text);
    writer.Image(loaded->image);
    writer.Termination(loaded->image.m_startAddress);
    if (const Result<> written = WriteFileAtomically(outPath, text.str()); !written) {
        Complain(outPath, written.Reason());
        return kExitRefused;
    }
    return kExitDone;
}

}  // namespace varnel::cli
