// varnel-cli update, files, query: the main dialog's commands, run by the
// very code the GUI runs.

#include <cstdio>
#include <iostream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/session.h"
#include "platform/stop_request.h"
#include "update/history.h"
#include "update/history_text.h"
#include "update/json_text.h"

namespace varnel::cli {

namespace {

using Json = nlohmann::ordered_json;

// The session, or null with the reason on stderr and the exit code in
// `exit`: a machine that cannot be opened (a damaged machine file) is a
// failure, a bad --answer is bad usage.
std::unique_ptr<Session> Start(const GlobalOptions& options, const std::vector<std::string>& answers, int& exit) {
    auto opened = Session::Open(options);
    if (!opened) {
        Complain("machine", opened.Reason());
        exit = kExitRefused;
        return nullptr;
    }
    std::unique_ptr<Session> session = std::move(*opened);
    for (const std::string& rule : answers) {
        if (const Result<> added = session->Terminal().AddAnswer(rule); !added) {
            Complain("--answer", added.Reason());
            exit = kExitUsage;
            return nullptr;
        }
    }
    return session;
}

// The exit code of a run, from its report's outcome.
int ExitCodeOf(const std::string& outcome) {
    if (outcome == "succeeded") return kExitDone;
    if (outcome == "cancelled") return kExitCancelled;
    return kExitRefused;
}

// The run's end for scripts: its outcome ("checked" for a dry run that
// reached the summary), the status line, and the status on stderr.
struct RunEnd {
    std::string outcome;
    int exit = kExitRefused;
};

RunEnd EndOf(Session& session, bool dryRun) {
    const RunReport& report = session.Dialog().Report();
    if (!report.status.empty()) std::cerr << "Status: " << report.status << "\n";
    // A dry run always ends cancelled at the summary: reaching it is success.
    if (dryRun && session.Terminal().SummaryShown()) return {"checked", kExitDone};
    return {report.outcome, ExitCodeOf(report.outcome)};
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
                {"firmware_backup", text(r.firmwareBackup)},
                {"history", Json{{"id", text(r.historyId)}, {"error", text(r.historyError)}}},
                {"pda_diff", r.pdaWrite ? PdaChangesJson(r.pdaChanges) : Json(nullptr)},
                {"plugs", PlugsJson(r.plugs)}};
}

// A command refused before any run still answers a script in JSON.
int Refused(bool json, const char* action, int exit) {
    if (json) {
        RunReport report;
        report.action = action;
        std::cout << JsonText(RunJson(report, "", {"failed", exit}), 2) << "\n";
    }
    return exit;
}

// What a dry run shows after the summary (which lists the PDA changes): the
// plugging.
void PrintPlan(std::ostream& out, const RunReport& r) {
    for (const ImagePlugs& image : r.plugs)
        out << "Plug records of " << image.file << ":\n"
            << (image.plugs.empty() ? "  none\n" : FormatPlugReport(image.plugs));
}

// --verify, --no-force and --no-firmware-backup.
void Apply(const WriteOptions& write, CVarnelDlg& dialog) {
    if (write.verify) dialog.SetVerify(true);
    if (write.noForce) dialog.SetForceAll(false);
    if (write.noFirmwareBackup) dialog.SetFirmwareBackup(false);
}

// One update on the selected adapter.
RunEnd UpdateOnce(Session& session, const UpdateOptions& args) {
    CVarnelDlg& dialog = session.Dialog();
    session.Terminal().BeginRun();
    dialog.OnUpdate();
    const RunEnd end = EndOf(session, args.dryRun);
    if (args.dryRun && session.Terminal().SummaryShown()) PrintPlan(session.Terminal().Out(), dialog.Report());
    return end;
}

int UpdateAllAdapters(Session& session, const UpdateOptions& args);

}  // namespace

int Update(const GlobalOptions& options, const UpdateOptions& args) {
    if (args.allAdapters && options.adapter >= 0) {
        Complain("update", "--all-adapters and --adapter exclude each other");
        return kExitUsage;
    }
    const auto refused = [&args](int exit) { return Refused(args.json, "update", exit); };
    // Until a run begins writing, a stop request cancels the command.
    SetStopMode(StopMode::Cancel);
    int failed = kExitRefused;
    auto session = Start(options, args.answers, failed);
    if (!session) return refused(failed);
    TerminalHost& host = session->Terminal();
    host.SetConfirm(args.yes);
    host.SetDryRun(args.dryRun);
    host.SetJson(args.json);
    CVarnelDlg& dialog = session->Dialog();
    if (!session->Start(options, args.files)) return refused(kExitRefused);
    // A link file refused, or a FILE that is no file, refuses the update: it
    // would run without them.
    if (!args.oem.empty()) {
        host.SetOpenFile(args.oem);
        if (!dialog.OnDownload()) return refused(kExitRefused);
    }
    if (!dialog.RefusedFiles().empty()) return refused(kExitRefused);
    Apply(args, dialog);

    if (args.allAdapters) return UpdateAllAdapters(*session, args);
    const RunEnd end = UpdateOnce(*session, args);
    if (args.json) std::cout << JsonText(RunJson(dialog.Report(), dialog.FullStatus(), end), 2) << "\n";
    return end.exit;
}

namespace {

// Every valid adapter in turn; one failing does not stop the others.
int UpdateAllAdapters(Session& session, const UpdateOptions& args) {
    CVarnelDlg& dialog = session.Dialog();
    TerminalHost& host = session.Terminal();
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
            !dialog.AdapterSelected() || dialog.SelectedAdapter() != entry.index) {
            // The dialog could not take the card on: no run, a failure.
            end = {"failed", kExitRefused};
            const std::string why = dialog.Status().empty() ? "the adapter could not be selected" : dialog.Status();
            Complain("adapter " + std::to_string(entry.index), why);
            rows.push_back({entry, "", end.outcome, why});
            RunReport report;
            report.adapter = entry.index;
            report.adapterName = entry.name;
            runs.push_back(RunJson(report, why, end));
        } else {
            end = UpdateOnce(session, args);
            rows.push_back({entry, dialog.Report().mac, end.outcome, dialog.FullStatus()});
            runs.push_back(RunJson(dialog.Report(), dialog.FullStatus(), end));
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
        std::snprintf(line, sizeof line, "%-7d  %-17s  %-9s  ", row.adapter.index,
                      row.mac.empty() ? "-" : row.mac.c_str(), row.outcome.c_str());
        out << line << row.status << "\n";
    }
    if (args.json)
        std::cout << JsonText(
                         Json{{"outcome", anyFailed ? "failed" : "succeeded"}, {"exit_code", exit}, {"runs", runs}}, 2)
                  << "\n";
    return exit;
}

}  // namespace

int PdaRestore(const GlobalOptions& options, const PdaRestoreOptions& args) {
    const auto refused = [&args](int exit) { return Refused(args.json, "pda restore", exit); };
    SetStopMode(StopMode::Cancel);
    int exit = kExitRefused;
    auto session = Start(options, args.answers, exit);
    if (!session) return refused(exit);
    TerminalHost& host = session->Terminal();
    host.SetConfirm(args.yes);
    host.SetJson(args.json);
    if (!session->SelectAdapter(options)) return refused(kExitRefused);
    CVarnelDlg& dialog = session->Dialog();
    dialog.OnRestorePda(args.file, args.forceIncomplete);
    const RunEnd end = EndOf(*session, false);
    if (args.json) std::cout << JsonText(RunJson(dialog.Report(), dialog.FullStatus(), end), 2) << "\n";
    return end.exit;
}

int FirmwareRestore(const GlobalOptions& options, const FirmwareRestoreOptions& args) {
    const auto refused = [&args](int exit) { return Refused(args.json, "firmware restore", exit); };
    SetStopMode(StopMode::Cancel);
    int exit = kExitRefused;
    auto session = Start(options, args.answers, exit);
    if (!session) return refused(exit);
    TerminalHost& host = session->Terminal();
    host.SetConfirm(args.yes);
    host.SetJson(args.json);
    if (!session->SelectAdapter(options)) return refused(kExitRefused);
    CVarnelDlg& dialog = session->Dialog();
    Apply(args, dialog);
    dialog.OnRestoreFirmware(args.file);
    const RunEnd end = EndOf(*session, false);
    if (args.json) std::cout << JsonText(RunJson(dialog.Report(), dialog.FullStatus(), end), 2) << "\n";
    return end.exit;
}

int ShowHistory(const GlobalOptions&, const HistoryOptions& options) {
    const std::string& card = options.card;
    const bool json = options.json;
    const std::string cardKey = MacKey(card);
    if (!card.empty() && cardKey.size() != 12) {
        Complain("--card " + card, "not a MAC address (six bytes in hex, as 00-60-1D-12-34-56)");
        return kExitUsage;
    }
    const auto path = DefaultHistoryPath();
    // Newest first, each record printed as it is read: nothing but the line
    // in hand is kept, however long the history. --json prints each record
    // as it stands in the file.
    size_t shown = 0;
    const auto show = [&](std::string_view line, const HistoryRecord& record) {
        if (!IsRecordOfCard(record, cardKey)) return true;
        if (json) std::cout << (shown == 0 ? "[\n  " : ",\n  ") << line;
        else std::cout << (shown == 0 ? HistoryTableHeader() : std::string()) << HistoryTableLine(record);
        ++shown;
        return true;
    };
    const auto warn = [](const std::string& warning) { std::cerr << "varnel-cli: warning: " << warning << "\n"; };
    const Result<> read = ReadHistoryRecordsNewestFirst(path, show, warn);
    // A read that failed part way still closes the array it began.
    if (json && (read || shown > 0)) std::cout << (shown == 0 ? "[]\n" : "\n]\n");
    else if (!json && shown == 0 && read) std::cout << NoHistoryText(card, path) << "\n";
    if (!read) {
        Complain("history", read.Reason());
        return kExitRefused;
    }
    return kExitDone;
}

int Files(const GlobalOptions& options, const FilesOptions& args) {
    const std::string& oem = args.oem;
    const bool json = args.json;
    int exit = kExitRefused;
    auto session = Start(options, {}, exit);
    if (!session) return exit;
    CVarnelDlg& dialog = session->Dialog();
    for (const std::string& file : args.files) dialog.AddFile(file);
    // A link file refused fails the command, its reason said as a message.
    bool linkAdded = true;
    if (!oem.empty()) {
        session->Terminal().SetOpenFile(oem);
        linkAdded = dialog.OnDownload();
    }
    // A listed file that does not load is named with the reader's reason,
    // and the command fails: the update would refuse it.
    Json entries = Json::array();
    bool allLoad = true;
    for (const FileEntry& e : dialog.Files()) {
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
        std::cout << JsonText(Json{{"files", entries}, {"messages", messages}}, 2) << "\n";
    }
    return allLoad && linkAdded && dialog.RefusedFiles().empty() ? kExitDone : kExitRefused;
}

namespace {

// The query's answer prints on stdout; a card that cannot be opened fails.
int Query(const GlobalOptions& options, void (CVarnelDlg::*query)()) {
    int exit = kExitRefused;
    auto session = Start(options, {}, exit);
    if (!session) return exit;
    if (!session->Start(options)) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    (dialog.*query)();
    return dialog.AdapterSelected() ? kExitDone : kExitRefused;
}

}  // namespace

int QueryFirmware(const GlobalOptions& options, const NoOptions&) {
    return Query(options, &CVarnelDlg::OnQueryFirmwareVersion);
}

int QueryDriver(const GlobalOptions& options, const NoOptions&) {
    return Query(options, &CVarnelDlg::OnQueryDriverVersion);
}

}  // namespace varnel::cli
