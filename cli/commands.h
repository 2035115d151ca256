#pragma once
// varnel-cli's commands: each a function of the global options and its own
// typed options, returning the process's exit code. cli/command_tree.cpp
// builds the command line that fills the options and picks the function.

#include <optional>
#include <string>
#include <vector>

namespace varnel::cli {

// Exit codes of every command.
enum ExitCode : int {
    kExitDone = 0,
    kExitRefused = 1,  // a file was refused, or the work failed
    kExitUsage = 2,

    kExitCancelled = 3,  // cancelled by the user, or a question got its safe answer
};

// Options every command takes.
struct GlobalOptions {
    std::string machine;        // --machine DIR
    bool machineGiven = false;  // --machine was given (an empty DIR is refused)
    std::optional<std::string> Machine() const { return machineGiven ? std::optional(machine) : std::nullopt; }
    std::string trace;  // --trace FILE
    int adapter = -1;   // --adapter N; -1: the first valid adapter
};

// A command without options of its own.
struct NoOptions {};

// image info, image dump (cli/image_commands.cpp)
struct ImageInfoOptions {
    std::string file;
    bool json = false;
};
int ImageInfo(const GlobalOptions& globals, const ImageInfoOptions& options);

struct ImageDumpOptions {
    std::string file;
    std::string out;
    std::vector<std::string> pda;  // merged in order into an empty PDA, to plug the image
};
int ImageDump(const GlobalOptions& globals, const ImageDumpOptions& options);

// pda show (cli/pda_commands.cpp)
struct PdaShowOptions {
    std::vector<std::string> files;
    bool setPoint = false;
    bool json = false;
};
int PdaShow(const GlobalOptions& globals, const PdaShowOptions& options);

// The card and the simulated machine (cli/card_commands.cpp): machine init
// and show, adapters, info, pda backup, pda diff, card read.
struct MachineInitOptions {
    bool force = false;
    bool latency = false;
    bool realisticTiming = false;
    int cards = 1;
};
int MachineInit(const GlobalOptions& globals, const MachineInitOptions& options);
int MachineShow(const GlobalOptions& globals, const NoOptions& options);

struct JsonOption {
    bool json = false;
};
int Adapters(const GlobalOptions& globals, const JsonOption& options);
int Info(const GlobalOptions& globals, const JsonOption& options);

struct PdaBackupOptions {
    std::string out;
};
int PdaBackup(const GlobalOptions& globals, const PdaBackupOptions& options);

struct PdaDiffOptions {
    std::string a, b;  // a .pda file, or "card" for the card's PDA
    bool json = false;
};
int PdaDiff(const GlobalOptions& globals, const PdaDiffOptions& options);

struct CardReadOptions {
    std::optional<std::string> range;  // START:END; none: the flash below the PDA area
    std::string out;
};
int CardRead(const GlobalOptions& globals, const CardReadOptions& options);

// The main dialog's commands (cli/update_commands.cpp): update, files, pda
// restore, firmware restore, history, query.
// What the commands that run the update's questions share.
struct RunOptions {
    bool yes = false;                  // confirm the questions
    bool json = false;                 // one JSON object with the result on stdout
    std::vector<std::string> answers;  // CAPTION=BUTTON
};
// How a run writes the card's flash.
struct WriteOptions {
    bool verify = false;
    bool noForce = false;
    bool noFirmwareBackup = false;
};

struct UpdateOptions : RunOptions, WriteOptions {
    std::vector<std::string> files;
    std::string oem;
    bool dryRun = false;
    bool allAdapters = false;
};
int Update(const GlobalOptions& globals, const UpdateOptions& options);

struct FilesOptions {
    std::vector<std::string> files;
    std::string oem;
    bool json = false;
};
int Files(const GlobalOptions& globals, const FilesOptions& options);

struct PdaRestoreOptions : RunOptions {
    std::string file;
    bool forceIncomplete = false;
};
int PdaRestore(const GlobalOptions& globals, const PdaRestoreOptions& options);

struct FirmwareRestoreOptions : RunOptions, WriteOptions {
    std::string file;
};
int FirmwareRestore(const GlobalOptions& globals, const FirmwareRestoreOptions& options);

struct HistoryOptions {
    std::string card;  // a MAC address; empty: every card
    bool json = false;
};
int ShowHistory(const GlobalOptions& globals, const HistoryOptions& options);

int QueryFirmware(const GlobalOptions& globals, const NoOptions& options);
int QueryDriver(const GlobalOptions& globals, const NoOptions& options);

// Prints "varnel-cli: WHAT: WHY" on stderr.
void Complain(const std::string& what, const std::string& why);

// Hex text: 0x plus `digits` lower-case digits.
std::string Hex(unsigned long value, int digits);

}  // namespace varnel::cli
