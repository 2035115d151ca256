#pragma once
// varnel-cli's command line: the global options and the tree of commands,
// each command a function of the options (cli/commands.h).

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"

namespace varnel::cli {

class CommandLine {
public:
    // The whole tree, as the help and every error show it; or, with
    // `command`, only that top-level command, so that a short command does
    // not pay for building the rest ("": no command, for the bare global
    // options such as --version). A name the tree does not hold builds the
    // whole tree.
    explicit CommandLine(std::optional<std::string_view> command = std::nullopt);
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    CLI::App& App() { return m_app; }
    // Whether the parsing chose a command.
    bool Chosen() const { return bool(m_run); }
    // Runs the chosen command, once the whole command line is parsed.
    int RunCommand();

private:
    CLI::App m_app{"Varnel updates the firmware and the production data of 802.11 WLAN cards.", "varnel-cli"};
    bool m_log = false;
    GlobalOptions m_globals;
    CLI::Option* m_machine = nullptr;
    std::function<int()> m_run;  // the chosen command, bound to its options
};

}  // namespace varnel::cli
