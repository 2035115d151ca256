#pragma once
// varnel-cli's command groups. Each registers its subcommands on the app;
// a subcommand's callback sets the process's exit code.

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>

namespace varnel::cli {

// Exit codes of every command.
enum ExitCode : int {
    kExitDone = 0,
    kExitRefused = 1,  // a file was refused, or the work failed
    kExitUsage = 2,

    kExitCancelled = 3,  // cancelled by the user, or a question got its safe answer
};

// The parsed command: a subcommand's callback sets `run`, and main calls it
// once the whole command line is parsed.
struct Outcome {
    std::function<int()> run;
};

// Options every command takes.
struct GlobalOptions {
    std::string machine;  // --machine DIR
    bool machineGiven = false;  // --machine was given (an empty DIR is refused)
    std::optional<std::string> Machine() const { return machineGiven ? std::optional(machine) : std::nullopt; }
    std::string trace;    // --trace FILE
    int adapter = -1;     // --adapter N; -1: the first valid adapter
};

void AddImageCommands(CLI::App& app, Outcome& outcome);
void AddPdaCommands(CLI::App& app, Outcome& outcome);
void AddCardCommands(CLI::App& app, Outcome& outcome, const GlobalOptions& options);
void AddUpdateCommands(CLI::App& app, Outcome& outcome, const GlobalOptions& options);

// Prints "varnel-cli: WHAT: WHY" on stderr.
void Complain(const std::string& what, const std::string& why);

// Hex text: 0x plus `digits` lower-case digits.
std::string Hex(unsigned long value, int digits);

}  // namespace varnel::cli
