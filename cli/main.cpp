// varnel-cli: the command-line front end of Varnel.

#include <cstdio>
#include <iostream>

#include "cli/command_tree.h"

namespace varnel::cli {

void Complain(const std::string& what, const std::string& why) {
    std::cerr << "varnel-cli: " << what << ": " << why << "\n";
}

std::string Hex(unsigned long value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*lx", digits, value);
    return text;
}

namespace {

// The command named on the command line: the first argument that is neither
// a global option nor its value. "" for the bare global options (--version);
// none when in doubt.
std::optional<std::string_view> NamedCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") return std::nullopt;
        if (arg == "--machine" || arg == "--trace" || arg == "--adapter") {
            ++i;
            continue;
        }
        if (arg.starts_with("-")) continue;
        return arg;
    }
    return "";
}

// The whole tree, as the help and every error show it.
int RunWholeTree(int argc, char** argv) {
    CommandLine line;
    CLI::App& app = line.App();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return line.RunCommand();
}

// Only the named command is built, and used when it parses the command line
// to a command (or the version); the help, an error or anything else is left
// to the whole tree, which shows it as ever. Once a command is chosen, no
// other top-level name can take part in its parsing, so the command parses
// the same in either tree.
int Run(int argc, char** argv) {
    const std::optional<std::string_view> command = NamedCommand(argc, argv);
    if (!command) return RunWholeTree(argc, argv);
    CommandLine line(command);
    try {
        line.App().parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        return line.App().exit(e);
    } catch (const CLI::Error&) {
        return RunWholeTree(argc, argv);
    }
    return line.Chosen() ? line.RunCommand() : RunWholeTree(argc, argv);
}

}  // namespace

}  // namespace varnel::cli

// What no command expected ends the program as an internal error, never as
// an abort: exit 1 with what it was.
int main(int argc, char** argv) {
    try {
        return varnel::cli::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnel-cli: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "varnel-cli: internal error: an unknown exception\n");
    }
    std::fflush(stdout);
    return varnel::cli::kExitRefused;
}
