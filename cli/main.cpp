// varnel-cli: the command-line front end of Varnel.

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "log/flash_log.h"
#include "platform/stop_request.h"

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

// Every command's help ends with the global options, which the command takes
// too (they fall through to the program).
class HelpFormatter : public CLI::Formatter {
public:
    void SetGlobals(std::vector<const CLI::Option*> globals) { m_globals = std::move(globals); }

    std::string make_footer(const CLI::App* app) const override {
        const std::string footer = CLI::Formatter::make_footer(app);
        if (app->get_parent() == nullptr) return footer;
        return make_group("Global options", false, m_globals).substr(1) + footer;
    }

private:
    std::vector<const CLI::Option*> m_globals;
};

// An adapter number is decimal: "012" is 12, never octal, and "0x0A" is no
// number. The registry numbers adapters with four digits.
constexpr int kMaxAdapter = 9999;

CLI::Validator AdapterNumber() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const std::string why = "not an adapter number (a decimal number from 0 to " + std::to_string(kMaxAdapter) + ")";
            if (value.empty() || value.size() > 16 ||
                !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return why;
            const size_t first = std::min(value.find_first_not_of('0'), value.size() - 1);
            value.erase(0, first);
            if (value.size() > 4 || std::stoi(value) > kMaxAdapter) return why;
            return {};
        },
        "N");
}

// The command groups, each registering its top-level commands. The pda
// group comes before the card and update groups, which add to it.
enum Group : unsigned {
    kImageGroup = 1,
    kPdaGroup = 2,
    kCardGroup = 4,
    kUpdateGroup = 8,
    kAllGroups = 15,
};

// The groups a top-level command needs. A command missing here still runs,
// from the whole tree: this table only saves building the rest of it.
unsigned GroupsOf(const std::string& command) {
    static const struct {
        const char* name;
        unsigned groups;
    } kCommands[] = {
        {"image", kImageGroup},
        {"pda", kPdaGroup | kCardGroup | kUpdateGroup},
        {"machine", kPdaGroup | kCardGroup},
        {"adapters", kPdaGroup | kCardGroup},
        {"info", kPdaGroup | kCardGroup},
        {"card", kPdaGroup | kCardGroup},
        {"update", kPdaGroup | kUpdateGroup},
        {"files", kPdaGroup | kUpdateGroup},
        {"firmware", kPdaGroup | kUpdateGroup},
        {"history", kPdaGroup | kUpdateGroup},
        {"query", kPdaGroup | kUpdateGroup},
    };
    for (const auto& c : kCommands)
        if (command == c.name) return c.groups;
    return kAllGroups;
}

// The groups of the command named on the command line: the first argument
// that is neither a global option nor its value. None for the bare global
// options (--version); all when in doubt.
unsigned GroupsNamed(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return kAllGroups;
        if (arg == "--machine" || arg == "--trace" || arg == "--adapter") {
            ++i;
            continue;
        }
        if (arg.starts_with("-")) continue;
        return GroupsOf(arg);
    }
    return 0;
}

// The command tree of some groups, its options and the command it parsed.
struct CommandLine {
    CLI::App app{"Varnel updates the firmware and the production data of 802.11 WLAN cards.", "varnel-cli"};
    bool log = false;
    GlobalOptions options;
    CLI::Option* machine = nullptr;
    Outcome outcome;

    explicit CommandLine(unsigned groups) {
        app.require_subcommand(1);
        app.fallthrough();
        app.set_version_flag("--version", "varnel-cli " VARNEL_VERSION);
        // Set before the commands are added: they take the formatter over.
        auto help = std::make_shared<HelpFormatter>();
        app.formatter(help);
        help->SetGlobals({
            app.add_flag("--log", log, "Append the update log to flash.log in the current directory"),
            machine = app.add_option("--machine", options.machine,
                                     "The simulated machine's directory (default: $VARNEL_MACHINE, else "
                                     "$XDG_STATE_HOME/varnel/machine)")
                          ->type_name("DIR"),
            app.add_option("--trace", options.trace,
                           "Append every driver request to FILE as a JSON line (or $VARNEL_TRACE)")
                ->type_name("FILE"),
            app.add_option("--adapter", options.adapter,
                           "Adapter number as 'adapters' lists it (default: the first valid one)")
                ->transform(AdapterNumber()),
        });
        if (groups & kImageGroup) AddImageCommands(app, outcome);
        if (groups & kPdaGroup) AddPdaCommands(app, outcome);
        if (groups & kCardGroup) AddCardCommands(app, outcome, options);
        if (groups & kUpdateGroup) AddUpdateCommands(app, outcome, options);
    }

    int RunCommand() {
        options.machineGiven = machine->count() > 0;
        if (log) varnel::FlashLog().Enable();
        // Ctrl-C, SIGTERM and SIGHUP end the program as ever, except while a
        // run writes to a card (see platform/stop_request.h).
        varnel::InstallStopHandlers();
        return outcome.run ? outcome.run() : kExitUsage;
    }
};

// The whole tree, as the help and every error show it.
int RunWholeTree(int argc, char** argv) {
    CommandLine line(kAllGroups);
    CLI::App& app = line.app;
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

// Only the named command's groups are built, and used when they parse the
// command line to a command (or the version); the help, an error or anything
// else is left to the whole tree, which shows it as ever. Once a command is
// chosen, no other top-level name can take part in its parsing, so the
// command parses the same in either tree.
int Run(int argc, char** argv) {
    const unsigned groups = GroupsNamed(argc, argv);
    if (groups == kAllGroups) return RunWholeTree(argc, argv);
    CommandLine line(groups);
    try {
        line.app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        return line.app.exit(e);
    } catch (const CLI::Error&) {
        return RunWholeTree(argc, argv);
    }
    return line.outcome.run ? line.RunCommand() : RunWholeTree(argc, argv);
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
