// varnel-cli update, files, query: the main dialog's commands, run by the
// very code the GUI runs.

#include <cctype>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/session.h"
#include "platform/stop_request.h"
#include "update/history.h"

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
    bool json = false;
    bool allAdapters = false;
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

int ExitCodeOf(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Succeeded: return kExitDone;
    case RunOutcome::Cancelled: return kExitCancelled;
    default: return kExitRefused;
    }
}

// The run's end for scripts: its outcome ("checked" for a dry run that
// reached the summary), the status line, and the status on stderr.
struct RunEnd {
    std::string outcome;
    int exit = kExitRefused;
};

RunEnd EndOf(Session& session, bool dryRun) {
    const CVarnelDlg& dialog = session.Dialog();
    if (!dialog.m_strStatus.empty()) std::cerr << "Status: " << dialog.m_strStatus << "\n";
    // A dry run always ends cancelled at the summary: reaching it is success.
    if (dryRun && session.Terminal().SummaryShown()) return {"checked", kExitDone};
    return {dialog.m_runReport.outcome, ExitCodeOf(dialog.m_lastRun)};
}

// The JSON result of one run (docs/command-line.md lists every key).
Json RunJson(const RunReport& r, const std::string& status, const RunEnd& end) {
    const auto text = [](const std::string& value) { return value.empty() ? Json(nullptr) : Json(value); };
    return Json{{"action", r.action},
                {"outcome", end.outcome},
                {"exit_code", end.exit},
                {"status", status},
                {"adapter", r.adapter >= 0 ? Json{{"number", r.adapter}, {"name", r.adapterName}} : Json(nullptr)},
                {"card", Json{{"mac", text(r.mac)}, {"serial", text(r.serial)}}},
                {"files", FilesJson(r.files)},
                {"versions", Json{{"before", VersionsJson(r.before)}, {"after", VersionsJson(r.after)}}},
                {"backup", text(r.backup)},
                {"history", Json{{"id", text(r.historyId)}, {"error", text(r.historyError)}}},
                {"pda_diff", r.pdaWrite ? PdaChangesJson(r.pdaChanges) : Json(nullptr)},
                {"plugs", PlugsJson(r.plugs)}};
}

// A command refused before any run still answers a script in JSON.
int Refused(bool json, const char* action, int exit) {
    if (json) {
        RunReport report;
        report.action = action;
        std::cout << RunJson(report, "", {"failed", exit}).dump(2) << "\n";
    }
    return exit;
}

// What a dry run shows after the summary: the PDA changes and the plugging.
void PrintPlan(std::ostream& out, const RunReport& r) {
    if (r.pdaWrite) out << "PDA changes (the card's PDA to the PDA the update writes):\n" << FormatPdaDiff(r.pdaChanges);
    for (const ImagePlugs& image : r.plugs)
        out << "Plug records of " << image.file << ":\n" << (image.plugs.empty() ? "  none\n" : FormatPlugReport(image.plugs));
}

// One update on the selected adapter.
RunEnd UpdateOnce(Session& session, const UpdateArgs& args) {
    CVarnelDlg& dialog = session.Dialog();
    session.Terminal().BeginRun();
    dialog.OnUpdate();
    const RunEnd end = EndOf(session, args.dryRun);
    if (args.dryRun && session.Terminal().SummaryShown()) PrintPlan(session.Terminal().Out(), dialog.m_runReport);
    return end;
}

int Update(const GlobalOptions& options, const UpdateArgs& args) {
    if (args.allAdapters && options.adapter >= 0) {
        Complain("update", "--all-adapters and --adapter exclude each other");
        return kExitUsage;
    }
    const auto refused = [&args](int exit) { return Refused(args.json, "update", exit); };
    // Until a run begins writing, a stop request cancels the command.
    SetStopMode(StopMode::Cancel);
    auto session = Start(options, args.answers);
    if (!session) return refused(kExitUsage);
    TerminalHost& host = session->Terminal();
    host.SetConfirm(args.yes);
    host.SetDryRun(args.dryRun);
    host.SetJson(args.json);
    CVarnelDlg& dialog = session->Dialog();
    if (!session->Start(options, args.files)) return refused(kExitRefused);
    if (!args.oem.empty()) {
        host.SetOpenFile(args.oem);
        dialog.OnDownload();
    }
    // A FILE that is no file refuses the update: it would run without it.
    if (!dialog.m_refusedFiles.empty()) return refused(kExitRefused);
    if (args.verify) dialog.m_bVerify = true;
    if (args.noForce) dialog.m_bForceAll = false;

    if (!args.allAdapters) {
        const RunEnd end = UpdateOnce(*session, args);
        if (args.json) std::cout << RunJson(dialog.m_runReport, dialog.m_strStatus, end).dump(2) << "\n";
        return end.exit;
    }

    // Every valid adapter in turn; one failing does not stop the others.
    std::vector<AdapterEntry> adapters;
    for (const AdapterEntry& entry : dialog.AdapterList())
        if (dialog.FindAdapter(entry.index) >= 0) adapters.push_back(entry);
    if (adapters.empty()) {
        Complain("update --all-adapters", "no valid adapter (see varnel-cli adapters)");
        return kExitRefused;
    }
    Json runs = Json::array();
    struct Row {
        AdapterEntry adapter;
        std::string mac, outcome, status;
    };
    std::vector<Row> rows;
    bool anyFailed = false;
    for (const AdapterEntry& entry : adapters) {
        host.Out() << "== Adapter " << entry.index << ": " << entry.name << "\n" << std::flush;
        RunEnd end;
        if (dialog.FindAdapter(entry.index) < 0 || !dialog.SelectAdapter(dialog.FindAdapter(entry.index)) ||
            !dialog.m_bAdapterSelected || dialog.m_nAdapter != entry.index) {
            // The dialog could not take the card on: no run, a failure.
            end = {"failed", kExitRefused};
            const std::string why = dialog.m_strStatus.empty() ? "the adapter could not be selected" : dialog.m_strStatus;
            Complain("adapter " + std::to_string(entry.index), why);
            rows.push_back({entry, "", end.outcome, why});
            RunReport report;
            report.adapter = entry.index;
            report.adapterName = entry.name;
            runs.push_back(RunJson(report, why, end));
        } else {
            end = UpdateOnce(*session, args);
            rows.push_back({entry, dialog.m_runReport.mac, end.outcome, dialog.m_strStatus});
            runs.push_back(RunJson(dialog.m_runReport, dialog.m_strStatus, end));
        }
        if (end.exit != kExitDone) anyFailed = true;
        // A stop request ends the round after the card it came during.
        if (StopRequested()) {
            Complain("update --all-adapters", std::string("stopped by ") + StopName(RequestedStop()) +
                                                  ": the adapters after this one were not updated");
            anyFailed = true;
            break;
        }
    }
    const int exit = anyFailed ? kExitRefused : kExitDone;
    std::ostream& out = host.Out();
    out << "\nADAPTER  MAC                OUTCOME    STATUS\n";
    for (const Row& row : rows) {
        char line[64];
        std::snprintf(line, sizeof line, "%-7d  %-17s  %-9s  ", row.adapter.index, row.mac.empty() ? "-" : row.mac.c_str(),
                      row.outcome.c_str());
        out << line << row.status << "\n";
    }
    if (args.json)
        std::cout << Json{{"outcome", anyFailed ? "failed" : "succeeded"}, {"exit_code", exit}, {"runs", runs}}.dump(2)
                  << "\n";
    return exit;
}

struct RestoreArgs {
    std::string file;
    bool yes = false;
    bool forceIncomplete = false;
    bool json = false;
    std::vector<std::string> answers;
};

int PdaRestore(const GlobalOptions& options, const RestoreArgs& args) {
    const auto refused = [&args](int exit) { return Refused(args.json, "pda restore", exit); };
    SetStopMode(StopMode::Cancel);
    auto session = Start(options, args.answers);
    if (!session) return refused(kExitUsage);
    TerminalHost& host = session->Terminal();
    host.SetConfirm(args.yes);
    host.SetJson(args.json);
    if (!session->SelectAdapter(options)) return refused(kExitRefused);
    CVarnelDlg& dialog = session->Dialog();
    dialog.OnRestorePda(args.file, args.forceIncomplete);
    const RunEnd end = EndOf(*session, false);
    if (args.json) std::cout << RunJson(dialog.m_runReport, dialog.m_strStatus, end).dump(2) << "\n";
    return end.exit;
}

// "00:60:1d:12:34:56", "00601D123456" and "00-60-1D-12-34-56" alike.
std::string MacKey(const std::string& mac) {
    std::string key;
    for (char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c))) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

int ShowHistory(const std::string& card, bool json) {
    if (!card.empty() && MacKey(card).size() != 12) {
        Complain("--card " + card, "not a MAC address (six bytes in hex, as 00-60-1D-12-34-56)");
        return kExitUsage;
    }
    History history;
    std::string error;
    const auto path = DefaultHistoryPath();
    if (!ReadHistory(path, history, &error)) {
        Complain("history", error);
        return kExitRefused;
    }
    for (const std::string& warning : history.warnings) std::cerr << "varnel-cli: warning: " << warning << "\n";
    const auto field = [](const Json& record, const char* key) {
        const auto found = record.find(key);
        return found == record.end() || !found->is_string() ? std::string("-") : found->get<std::string>();
    };
    const auto version = [](const Json& record, const char* when, const char* which) {
        const Json* v = record.contains(when) && record[when].is_object() && record[when].contains(which)
                            ? &record[when][which]
                            : nullptr;
        return v && v->is_string() ? v->get<std::string>() : std::string("?");
    };
    Json list = Json::array();
    std::ostringstream table;
    table << "TIME                  ACTION       ADAPTER  MAC                OUTCOME    PRIMARY         STATION         "
             "PDA  STATUS\n";
    for (auto record = history.records.rbegin(); record != history.records.rend(); ++record) {
        if (!card.empty() && MacKey(field(*record, "mac")) != MacKey(card)) continue;
        list.push_back(*record);
        const auto changed = record->find("pda_changed");
        const size_t pdaChanges = changed != record->end() && changed->is_array() ? changed->size() : 0;
        const auto adapter = record->find("adapter");
        char line[200];
        std::snprintf(line, sizeof line, "%-20s  %-11s  %-7s  %-17s  %-9s  %-14s  %-14s  %-3zu  ",
                      field(*record, "time").c_str(), field(*record, "action").c_str(),
                      adapter != record->end() && adapter->is_number() ? adapter->dump().c_str() : "-",
                      field(*record, "mac").c_str(), field(*record, "outcome").c_str(),
                      (version(*record, "before", "primary") + ">" + version(*record, "after", "primary")).c_str(),
                      (version(*record, "before", "station") + ">" + version(*record, "after", "station")).c_str(),
                      pdaChanges);
        table << line << field(*record, "status") << "\n";
    }
    if (json) std::cout << list.dump(2) << "\n";
    else if (list.empty()) std::cout << "No update history" << (card.empty() ? "" : " for " + card) << " in " << path.string() << "\n";
    else std::cout << table.str();
    return kExitDone;
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
    command->add_flag("--json", update->json,
                      "Print one JSON object with the result on stdout at the end (all other text goes to stderr)");
    command->add_flag("--all-adapters", update->allAdapters,
                      "Update every valid adapter in turn, then print a table of results (exit 1 if any failed)");
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

    auto restore = std::make_shared<RestoreArgs>();
    CLI::App* restoreCommand = app.get_subcommand("pda")->add_subcommand(
        "restore", "Write exactly the PDA of a .pda file (such as a backup) to the card, after saving the card's own");
    restoreCommand->add_option("FILE", restore->file, "The .pda file")->required();
    restoreCommand->add_flag("--yes", restore->yes, "Confirm the summary of the changes");
    restoreCommand->add_flag("--force-incomplete", restore->forceIncomplete,
                             "Write a file that holds no MAC address record too");
    restoreCommand->add_flag("--json", restore->json, "Print one JSON object with the result on stdout at the end");
    restoreCommand->add_option("--answer", restore->answers, "Answer the question with this caption (repeat for more)")
        ->type_name("CAPTION=BUTTON")
        ->allow_extra_args(false);
    restoreCommand->callback([&outcome, &options, restore] {
        outcome.run = [&options, restore] { return PdaRestore(options, *restore); };
    });

    struct HistoryArgs {
        std::string card;
        bool json = false;
    };
    auto history = std::make_shared<HistoryArgs>();
    CLI::App* historyCommand = app.add_subcommand("history", "The update history: every run that wrote to a card, newest first");
    historyCommand->add_option("--card", history->card, "Only the runs on the card with this MAC address")->type_name("MAC");
    historyCommand->add_flag("--json", history->json, "Print the records as JSON");
    historyCommand->callback(
        [&outcome, history] { outcome.run = [history] { return ShowHistory(history->card, history->json); }; });

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
