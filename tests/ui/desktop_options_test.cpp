// The desktop programs' command line: one parser for varnel and varnel.exe,
// which differ only in what their toolkit takes.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "ui/desktop_options.h"

namespace varnel {
namespace {

constexpr std::string_view kWithValue[] = {"-style", "-platform"};
const ToolkitOptions kQt{.singleDash = true, .withValue = kWithValue};
const ToolkitOptions kWindows{.slashHelp = true};

std::string Describe(const DesktopOptions& o) {
    std::string text = o.error.empty() ? "" : "error: " + o.error;
    if (!o.error.empty()) return text;
    if (o.help) text += "help ";
    if (o.version) text += "version ";
    if (o.machine) text += "machine=" + *o.machine + " ";
    for (const std::string& file : o.files) text += "[" + file + "]";
    return text;
}

TEST(DesktopOptions, BothProgramsReadTheirCommandLineAlike) {
    struct Case {
        std::vector<std::string> args;
        std::string qt, windows;
    };
    const Case cases[] = {
        {{"a.hex", "b.pda"}, "[a.hex][b.pda]", "[a.hex][b.pda]"},
        {{"--machine", "m", "a.hex"}, "machine=m [a.hex]", "machine=m [a.hex]"},
        {{"--machine=m"}, "machine=m ", "machine=m "},
        {{"--machine="}, "machine= ", "machine= "},  // refused when the machine is opened
        {{"--machine"}, "error: --machine needs a directory", "error: --machine needs a directory"},
        {{"--help"}, "help ", "help "},
        {{"-h"}, "help ", "help "},
        {{"/?"}, "[/?]", "help "},
        {{"--version"}, "version ", "version "},
        {{"--frobnicate", "a.hex"}, "error: unknown option --frobnicate", "error: unknown option --frobnicate"},
        {{"--", "--version", "-h"}, "[--version][-h]", "[--version][-h]"},
        // The toolkit's own: Qt takes them (with their values, with one dash
        // or two); without a toolkit of such options they are files.
        {{"-style", "fusion", "a.hex"}, "[a.hex]", "[-style][fusion][a.hex]"},
        {{"--platform", "offscreen"}, "", "error: unknown option --platform"},
        {{"-reverse", "a.hex"}, "[a.hex]", "[-reverse][a.hex]"},
        {{"-"}, "[-]", "[-]"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"varnel"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Describe(ParseDesktopOptions(args, kQt)), c.qt) << c.args.front();
        EXPECT_EQ(Describe(ParseDesktopOptions(args, kWindows)), c.windows) << c.args.front();
    }
}

TEST(DesktopOptions, TheHelpNamesEachOptionAndTheSystemsDefault) {
    const std::string help = DesktopHelp("$VARNEL_MACHINE");
    EXPECT_EQ(help.rfind("Usage: varnel [--machine DIR] [FILE...]\n", 0), 0u);
    EXPECT_NE(help.find("--machine DIR  the simulated machine (default: $VARNEL_MACHINE)\n"), std::string::npos);
    EXPECT_NE(help.find("--version"), std::string::npos);
}

}  // namespace
}  // namespace varnel
