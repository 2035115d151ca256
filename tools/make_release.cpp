// varnel-make-release: writes a sample firmware release into a directory.

#include <CLI/CLI.hpp>
#include <iostream>

#include "sample/sample_release.h"

namespace {

int Run(int argc, char** argv) {
    CLI::App app{"Writes a sample firmware release: primary.hex, station.hex, combined.hex, changes.pda,\n"
                 "card.pda and OEMRelease.oem (over primary.hex, station.hex and changes.pda).",
                 "varnel-make-release"};
    std::string directory;
    app.add_option("DIR", directory, "Output directory (created if missing)")->required();
    CLI11_PARSE(app, argc, argv);
    if (const varnel::Result<> written = varnel::sample::WriteRelease(directory); !written) {
        std::cerr << "varnel-make-release: " << written.Reason() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

// What nothing expected (the option parser's own faults included) ends the
// program with a message and exit 1, never an abort.
int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "varnel-make-release: internal error: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "varnel-make-release: internal error: an unknown exception\n";
    }
    return 1;
}
