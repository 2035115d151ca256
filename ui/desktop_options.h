#pragma once
// The command line of the desktop programs (varnel and varnel.exe), parsed
// the same way in both:
//
//   varnel [--machine DIR] [FILE...]
//
// A front end says only what its window toolkit takes from the command line
// itself (Qt's -style, -platform ...), and what its --machine defaults to.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

struct DesktopOptions {
    std::optional<std::string> machine;
    std::vector<std::string> files;
    bool help = false;
    bool version = false;
    std::string error;  // set: the program says it and ends with exit 2
};

// What the toolkit reads from the command line. Where it takes every
// single-dash option ("-reverse"), those are its; elsewhere such an argument
// is a file. Its options with a value ("-style", also as "--style") take the
// next argument with them. "/?" asks for the help where that is the
// system's custom. Any other "--option" is an error.
struct ToolkitOptions {
    bool singleDash = false;
    std::span<const std::string_view> withValue = {};
    bool slashHelp = false;
};

// `args` as main() has them, the program's name first.
DesktopOptions ParseDesktopOptions(const std::vector<std::string>& args, const ToolkitOptions& toolkit = {});

// The help, with what --machine defaults to on this system
// ("$VARNEL_MACHINE, else ..."), its lines indented as the option's.
std::string DesktopHelp(std::string_view machineDefault);

}  // namespace varnel
