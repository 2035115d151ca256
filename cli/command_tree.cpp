// varnel-cli's command tree: every command, its options and its help, in
// the order the help lists them. Each top-level command is built by its own
// function, whole, so that any one of them can be built alone.

#include "cli/command_tree.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "log/flash_log.h"
#include "platform/stop_request.h"
#include "sample/default_machine.h"

namespace varnel::cli {

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
            const std::string why =
                "not an adapter number (a decimal number from 0 to " + std::to_string(kMaxAdapter) + ")";
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

// What a command is added with: the global options it runs with, and where
// the command the parsing chose goes.
struct Tree {
    const GlobalOptions& globals;
    std::function<int()>& run;

    // Adds the command NAME under `parent`, with options of its own for the
    // caller to bind; once parsed, it is the command to run, with the global
    // options and its own.
    template <class Options>
    std::pair<CLI::App*, Options*> Command(CLI::App& parent, const char* name, const char* about,
                                           int (*command)(const GlobalOptions&, const Options&)) const {
        auto options = std::make_shared<Options>();
        CLI::App* app = parent.add_subcommand(name, about);
        app->callback([&globals = globals, &run = run, options, command] {
            run = [&globals, options, command] { return command(globals, *options); };
        });
        return {app, options.get()};
    }
};

// A command that only holds commands.
CLI::App& Group(CLI::App& parent, const char* name, const char* about) {
    CLI::App* group = parent.add_subcommand(name, about);
    group->require_subcommand(1);
    return *group;
}

void AddJson(CLI::App* command, bool& json, const char* about = "Print JSON") {
    command->add_flag("--json", json, about);
}

// One value per --answer, so that the FILEs after it stay FILEs.
void AddAnswers(CLI::App* command, std::vector<std::string>& answers) {
    command->add_option("--answer", answers, "Answer the question with this caption (repeat for more)")
        ->type_name("CAPTION=BUTTON")
        ->allow_extra_args(false);
}

void AddImage(CLI::App& app, const Tree& tree) {
    CLI::App& image = Group(app, "image", "Firmware image files (S-records)");
    auto [info, infoOptions] =
        tree.Command(image, "info", "Load an image as an update does and show what it holds", ImageInfo);
    info->add_option("FILE", infoOptions->file, "S-record file")->required();
    AddJson(info, infoOptions->json);

    auto [dump, dumpOptions] =
        tree.Command(image, "dump", "Write the loaded image as S-records (S3 data in block order, then S7)", ImageDump);
    dump->add_option("FILE", dumpOptions->file, "S-record file")->required();
    dump->add_option("-o,--output", dumpOptions->out, "Output file")->required();
    dump->add_option("--pda", dumpOptions->pda,
                     "Plug the image first with this .pda file (repeat for more; merged in order into an empty PDA)")
        ->allow_extra_args(false);
}

void AddPda(CLI::App& app, const Tree& tree) {
    CLI::App& pda = Group(app, "pda", "Production data (.pda files)");
    auto [show, showOptions] = tree.Command(
        pda, "show", "Merge .pda files into an empty PDA, in order, and show its records and word image", PdaShow);
    show->add_option("FILE", showOptions->files, ".pda files")->required();
    show->add_flag("--setpoint", showOptions->setPoint, "Derive the set point and integrator records first");
    AddJson(show, showOptions->json);

    auto [backup, backupOptions] =
        tree.Command(pda, "backup", "Read the card's PDA and save it as a .pda file", PdaBackup);
    backup->add_option("-o,--output", backupOptions->out, "The .pda file to write")->required();

    auto [diff, diffOptions] = tree.Command(
        pda, "diff", "The records B adds to, removes from and changes in A (each a .pda file or 'card')", PdaDiff);
    diff->add_option("A", diffOptions->a, ".pda file, or card for the card's PDA")->required();
    diff->add_option("B", diffOptions->b, ".pda file, or card for the card's PDA")->required();
    AddJson(diff, diffOptions->json);

    auto [restore, restoreOptions] = tree.Command(
        pda, "restore",
        "Write exactly the PDA of a .pda file (such as a backup) to the card, after saving the card's own", PdaRestore);
    restore->add_option("FILE", restoreOptions->file, "The .pda file")->required();
    restore->add_flag("--yes", restoreOptions->yes, "Confirm the summary of the changes");
    restore->add_flag("--force-incomplete", restoreOptions->forceIncomplete,
                      "Write a file that holds no MAC address record too");
    AddJson(restore, restoreOptions->json, "Print one JSON object with the result on stdout at the end");
    AddAnswers(restore, restoreOptions->answers);
}

void AddMachine(CLI::App& app, const Tree& tree) {
    CLI::App& machine = Group(app, "machine", "The simulated machine");
    auto [init, options] = tree.Command(machine, "init", "Create the default machine", MachineInit);
    init->add_flag("--force", options->force, "Replace an existing machine");
    CLI::Option* latency = init->add_flag("--latency", options->latency,
                                          "Switch the request latency on, so that progress shows as on a real card");
    init->add_flag("--realistic-timing", options->realisticTiming,
                   "Make the cards answer like flash: reads, programming and sector erases take their own time")
        ->excludes(latency);
    init->add_option("--cards", options->cards, "WLAN cards on the machine (adapters 1 to N; default 1)")
        ->check(CLI::Range(1, sample::kMaxCards))
        ->type_name("N");
    tree.Command(machine, "show", "Print the machine's configuration and its cards' state", MachineShow);
}

void AddAdapters(CLI::App& app, const Tree& tree) {
    auto [adapters, options] =
        tree.Command(app, "adapters", "List the valid adapters, as the adapter list shows them", Adapters);
    AddJson(adapters, options->json);
}

void AddInfo(CLI::App& app, const Tree& tree) {
    auto [info, options] = tree.Command(app, "info", "Open the adapter as the dialog does and show the card", Info);
    AddJson(info, options->json);
}

void AddCard(CLI::App& app, const Tree& tree) {
    CLI::App& card = Group(app, "card", "The card's flash");
    auto [read, options] = tree.Command(
        card, "read", "Read the card's flash (default: all of it below the PDA area) into an S-record file", CardRead);
    read->add_option("--range", options->range,
                     "The flash from START up to, not including, END (hex with 0x, or decimal)")
        ->type_name("START:END");
    read->add_option("-o,--output", options->out, "The S-record file to write")->required();
}

void AddUpdate(CLI::App& app, const Tree& tree) {
    auto [update, options] =
        tree.Command(app, "update",
                     "Update the card: the files (and the link file's three) go through the whole update run", Update);
    update->add_option("FILE", options->files,
                       "Firmware images (.hex) and .pda files, as on the program's command line");
    update->add_option("--oem", options->oem, "An OEMRelease.oem link file: its three files join the list");
    update->add_flag("--yes", options->yes, "Confirm the warning (\"Download\") and the summary (\"UPDATE\")");
    update->add_flag("--dry-run", options->dryRun,
                     "Run every check up to the summary, print it and answer CANCEL: nothing is written");
    AddAnswers(update, options->answers);
    update->add_flag("--verify", options->verify, "Read back every piece written");
    update->add_flag("--no-force", options->noForce, "Write only the pieces that differ from the card");
    update->add_flag("--no-firmware-backup", options->noFirmwareBackup,
                     "Do not read and save the card's firmware that the images overwrite");
    AddJson(update, options->json,
            "Print one JSON object with the result on stdout at the end (all other text goes to stderr)");
    update->add_flag("--all-adapters", options->allAdapters,
                     "Update every valid adapter in turn, then print a table of results (exit 1 if any failed)");
}

void AddFiles(CLI::App& app, const Tree& tree) {
    auto [files, options] = tree.Command(app, "files", "Show the file list after adding these files", Files);
    files->add_option("FILE", options->files, "Files to add, in order");
    files->add_option("--oem", options->oem, "An OEMRelease.oem link file, added after the files");
    AddJson(files, options->json);
}

void AddFirmware(CLI::App& app, const Tree& tree) {
    CLI::App& firmware = Group(app, "firmware", "The card's firmware backups (an update saves one before it writes)");
    auto [restore, options] =
        tree.Command(firmware, "restore",
                     "Return the card's flash to the bytes of a firmware backup (.srec), after saving the card's own",
                     FirmwareRestore);
    restore->add_option("FILE", options->file, "The firmware backup (flash-MAC-TIME.srec)")->required();
    restore->add_flag("--yes", options->yes, "Confirm the summary");
    restore->add_flag("--verify", options->verify, "Read back every piece written");
    restore->add_flag("--no-force", options->noForce, "Write only the pieces that differ from the card");
    restore->add_flag("--no-firmware-backup", options->noFirmwareBackup,
                      "Do not save the firmware the restore overwrites");
    AddJson(restore, options->json, "Print one JSON object with the result on stdout at the end");
    AddAnswers(restore, options->answers);
}

void AddHistory(CLI::App& app, const Tree& tree) {
    auto [history, options] =
        tree.Command(app, "history", "The update history: every run that wrote to a card, newest first", ShowHistory);
    history->add_option("--card", options->card, "Only the runs on the card with this MAC address")->type_name("MAC");
    AddJson(history, options->json, "Print the records as JSON");
}

void AddQuery(CLI::App& app, const Tree& tree) {
    CLI::App& query = Group(app, "query", "The Tools menu's queries");
    tree.Command(query, "firmware", "The firmware versions on the card", QueryFirmware);
    tree.Command(query, "driver", "The driver version of the card", QueryDriver);
}

// The top-level commands, in the order the help lists them.
constexpr struct {
    std::string_view name;
    void (*add)(CLI::App& app, const Tree& tree);
} kCommands[] = {
    {"image", AddImage},       {"pda", AddPda},         {"machine", AddMachine}, {"adapters", AddAdapters},
    {"info", AddInfo},         {"card", AddCard},       {"update", AddUpdate},   {"files", AddFiles},
    {"firmware", AddFirmware}, {"history", AddHistory}, {"query", AddQuery},
};

}  // namespace

CommandLine::CommandLine(std::optional<std::string_view> command) {
    m_app.require_subcommand(1);
    m_app.fallthrough();
    m_app.set_version_flag("--version", "varnel-cli " VARNEL_VERSION);
    // Set before the commands are added: they take the formatter over.
    auto help = std::make_shared<HelpFormatter>();
    m_app.formatter(help);
    help->SetGlobals({
        m_app.add_flag("--log", m_log, "Append the update log to flash.log in the current directory"),
        m_machine = m_app
                        .add_option("--machine", m_globals.machine,
                                    "The simulated machine's directory (default: $VARNEL_MACHINE, else "
                                    "$XDG_STATE_HOME/varnel/machine)")
                        ->type_name("DIR"),
        m_app
            .add_option("--trace", m_globals.trace,
                        "Append every driver request to FILE as a JSON line (or $VARNEL_TRACE)")
            ->type_name("FILE"),
        m_app
            .add_option("--adapter", m_globals.adapter,
                        "Adapter number as 'adapters' lists it (default: the first valid one)")
            ->transform(AdapterNumber()),
    });
    const Tree tree{m_globals, m_run};
    const auto named = [&](const auto& c) { return command && c.name == *command; };
    const bool one = std::any_of(std::begin(kCommands), std::end(kCommands), named);
    const bool none = command && command->empty();
    for (const auto& c : kCommands)
        if (one ? named(c) : !none) c.add(m_app, tree);
}

int CommandLine::RunCommand() {
    m_globals.machineGiven = m_machine->count() > 0;
    if (m_log) varnel::FlashLog().Enable();
    // Ctrl-C, SIGTERM and SIGHUP end the program as ever, except while a
    // run writes to a card (see platform/stop_request.h).
    varnel::InstallStopHandlers();
    return m_run ? m_run() : kExitUsage;
}

}  // namespace varnel::cli
