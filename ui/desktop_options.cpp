#include "ui/desktop_options.h"

#include <algorithm>

namespace varnel {

namespace {

bool Listed(std::span<const std::string_view> names, std::string_view option) {
    return std::find(names.begin(), names.end(), option) != names.end();
}

}  // namespace

DesktopOptions ParseDesktopOptions(const std::vector<std::string>& args, const ToolkitOptions& toolkit) {
    DesktopOptions options;
    bool filesOnly = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (filesOnly) {
            options.files.push_back(arg);
            continue;
        }
        // The toolkit's own, as "-style" or "--style".
        const std::string_view single =
            arg.rfind("--", 0) == 0 ? std::string_view(arg).substr(1) : std::string_view(arg);
        if (arg == "--") {
            filesOnly = true;
        } else if (arg == "--help" || arg == "-h" || (toolkit.slashHelp && arg == "/?")) {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--machine") {
            if (i + 1 == args.size()) {
                options.error = "--machine needs a directory";
                return options;
            }
            options.machine = args[++i];
        } else if (arg.rfind("--machine=", 0) == 0) {
            options.machine = arg.substr(10);
        } else if (Listed(toolkit.withValue, single)) {
            ++i;
        } else if (arg.size() > 2 && arg.rfind("--", 0) == 0) {
            options.error = "unknown option " + arg;
            return options;
        } else if (toolkit.singleDash && arg.size() > 1 && arg[0] == '-') {
            // The toolkit's own.
        } else {
            options.files.push_back(arg);
        }
    }
    return options;
}

std::string DesktopHelp(std::string_view machineDefault) {
    return "Usage: varnel [--machine DIR] [FILE...]\n"
           "Updates the firmware and the production data of 802.11 WLAN cards.\n"
           "FILE: firmware images (.hex) and .pda files for the file list. When varnel already runs,\n"
           "the files go to its list and this start ends; after --, every argument is a file.\n"
           "--machine DIR  the simulated machine (default: " +
           std::string(machineDefault) +
           ")\n"
           "--version      print the version\n";
}

}  // namespace varnel
