// varnel-make-release: writes a sample firmware release into a directory.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "tools/sample_release.h"

namespace {

bool WriteFile(const std::filesystem::path& path, const std::string& contents) {
    const std::filesystem::path temporary = path.string() + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    std::error_code error;
    if (out) std::filesystem::rename(temporary, path, error);
    if (!out || error) {
        std::filesystem::remove(temporary, error);
        std::cerr << "varnel-make-release: " << path.string() << ": cannot write the file\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace varnel;
    CLI::App app{"Writes a sample firmware release: primary.hex, station.hex, combined.hex, changes.pda,\n"
                 "card.pda and OEMRelease.oem (over primary.hex, station.hex and changes.pda).",
                 "varnel-make-release"};
    std::string directory;
    app.add_option("DIR", directory, "Output directory (created if missing)")->required();
    CLI11_PARSE(app, argc, argv);

    std::error_code error;
    std::filesystem::create_directories(directory, error);
    const std::filesystem::path dir(directory);

    const std::string primary = sample::ImageText(sample::PrimaryImage(sample::ReleasePrimary()));
    const std::string station = sample::ImageText(sample::StationImage(sample::ReleaseStation()));
    const std::string combined =
        sample::ImageText(sample::CombinedImage(sample::ReleasePrimary(), sample::ReleaseStation()));
    const std::string changes = sample::ChangeFileText();
    CPda card;
    sample::FillCardPda(card);
    const std::string cardText = FormatPdaText(card, "A card's full PDA as it leaves the factory.");
    const std::string link =
        sample::LinkFileText({{"primary.hex", primary}, {"station.hex", station}, {"changes.pda", changes}});

    const bool ok = WriteFile(dir / "primary.hex", primary) && WriteFile(dir / "station.hex", station) &&
                    WriteFile(dir / "combined.hex", combined) && WriteFile(dir / "changes.pda", changes) &&
                    WriteFile(dir / "card.pda", cardText) && WriteFile(dir / "OEMRelease.oem", link);
    return ok ? 0 : 1;
}
