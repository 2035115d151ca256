// varnel-cli update, files, query: the main dialog's commands, run by the
// very code the GUI runs.

#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/session.h"

namespace varnel::cli {

namespace {

using Json = nlohmann::ordered_json;

struct UpdateArgs {
    std::vector<std::string> files;
    std::string oem;
    bool yes = false;
    bool dryRun = false;
    std::vector<std::string> answers;
    bool verify = false;
    bool noForce = false;
};

std::unique_ptr<Session> Start(const GlobalOptions& options, const std::vector<std::string>& answers) {
    std::string error;
    auto session = Session::Open(options, &error);
    if (!session) {
        Complain("machine", error);
        return nullptr;
    }
    for (const std::string& rule : answers) {
        if (!session->Terminal().AddAnswer(rule, &error)) {
            Complain("--answer", error);
            return nullptr;
        }
    }
    return session;
}

int Update(const GlobalOptions& options, const UpdateArgs& args) {
    auto session = Start(options, args.answers);
    if (!session) return kExitUsage;
    TerminalHost& host = session->Terminal();
    host.SetConfirm(args.yes);
    host.SetDryRun(args.dryRun);
    CVarnelDlg& dialog = session->Dialog();
    if (!session->Start(options, args.files)) return kExitRefused;
    if (!args.oem.empty()) {
        host.SetOpenFile(args.oem);
        dialog.OnDownload();
    }
    // A FILE that is no file refuses the update: it would run without it.
    if (!dialog.m_refusedFiles.empty()) return kExitRefused;
    if (args.verify) dialog.m_bVerify = true;
    if (args.noForce) dialog.m_bForceAll = false;

    dialog.OnUpdate();
    if (!dialog.m_strStatus.empty()) std::cerr << "Status: " << dialog.m_strStatus << "\n";
    // A dry run always ends cancelled at the summary: reaching it is success.
    if (args.dryRun && host.SummaryShown()) return kExitDone;
    switch (dialog.m_lastRun) {
    case RunOutcome::Succeeded: return kExitDone;
    case RunOutcome::Cancelled: return kExitCancelled;
    default: return kExitRefused;
    }
}

int Files(const GlobalOptions& options, const std::vector<std::string>& files, const std::string& oem, bool json) {
    auto session = Start(options, {});
    if (!session) return kExitUsage;
    CVarnelDlg& dialog = session->Dialog();
    for (const std::string& file : files) dialog.AddFile(file);
    if (!oem.empty()) {
        session->Terminal().SetOpenFile(oem);
        dialog.OnDownload();
    }
    // A listed file that does not load is named with the reader's reason,
    // and the command fails: the update would refuse it.
    Json entries = Json::array();
    bool allLoad = true;
    for (const FileEntry& e : dialog.m_fileList.Entries()) {
        if (json) entries.push_back({{"type", e.type}, {"text", e.text}, {"path", e.path}, {"problem", e.problem}});
        else std::cout << e.type << "  " << e.text << "  " << e.path << "\n";
        if (!e.problem.empty()) {
            Complain(e.path, e.problem);
            allLoad = false;
        }
    }
    if (json) {
        Json messages = Json::array();
        for (const Message& m : session->Terminal().Shown())
            messages.push_back(DisplayCaption(m) + ": " + DisplayText(m.text));
        std::cout << Json{{"files", entries}, {"messages", messages}}.dump(2) << "\n";
    }
    return allLoad && dialog.m_refusedFiles.empty() ? kExitDone : kExitRefused;
}

int Query(const GlobalOptions& options, bool firmware) {
    auto session = Start(options, {});
    if (!session) return kExitUsage;
    if (!session->Start(options)) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    const char* caption = firmware ? "Current Firmware Versions" : "Driver Version for Selected Card";
    session->Terminal().SetStdoutCaption(caption);
    if (firmware) dialog.OnQueryFirmwareVersion();
    else dialog.OnQueryDriverVersion();
    return dialog.m_bAdapterSelected ? kExitDone : kExitRefused;
}

}  // namespace

void AddUpdateCommands(CLI::App& app, Outcome& outcome, const GlobalOptions& options) {
    auto update = std::make_shared<UpdateArgs>();
    CLI::App* command = app.add_subcommand(
        "update", "Update the card: the files (and the link file's three) go through the whole update run");
    command->add_option("FILE", update->files, "Firmware images (.hex) and .pda files, as on the program's command line");
    command->add_option("--oem", update->oem, "An OEMRelease.oem link file: its three files join the list");
    command->add_flag("--yes", update->yes, "Confirm the warning (\"Download\") and the summary (\"UPDATE\")");
    command->add_flag("--dry-run", update->dryRun,
                      "Run every check up to the summary, print it and answer CANCEL: nothing is written");
    // One value per --answer, so that the FILEs after it stay FILEs.
    command->add_option("--answer", update->answers, "Answer the question with this caption (repeat for more)")
        ->type_name("CAPTION=BUTTON")
        ->allow_extra_args(false);
    command->add_flag("--verify", update->verify, "Read back every piece written");
    command->add_flag("--no-force", update->noForce, "Write only the pieces that differ from the card");
    command->callback([&outcome, &options, update] { outcome.run = [&options, update] { return Update(options, *update); }; });

    struct FilesArgs {
        std::vector<std::string> files;
        std::string oem;
        bool json = false;
    };
    auto files = std::make_shared<FilesArgs>();
    CLI::App* filesCommand = app.add_subcommand("files", "Show the file list after adding these files");
    filesCommand->add_option("FILE", files->files, "Files to add, in order");
    filesCommand->add_option("--oem", files->oem, "An OEMRelease.oem link file, added after the files");
    filesCommand->add_flag("--json", files->json, "Print JSON");
    filesCommand->callback([&outcome, &options, files] {
        outcome.run = [&options, files] { return Files(options, files->files, files->oem, files->json); };
    });

    CLI::App* query = app.add_subcommand("query", "The Tools menu's queries");
    query->require_subcommand(1);
    query->add_subcommand("firmware", "The firmware versions on the card")->callback([&outcome, &options] {
        outcome.run = [&options] { return Query(options, true); };
    });
    query->add_subcommand("driver", "The driver version of the card")->callback([&outcome, &options] {
        outcome.run = [&options] { return Query(options, false); };
    });
}

}  // namespace varnel::cli
