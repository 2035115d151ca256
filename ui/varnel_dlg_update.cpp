// The main dialog's update ("Update!": from the file list to a programmed
// card) and what every run shares: its start and end, the card's lock, the
// history records, the stops, and the programming of an image. The steps
// of the runs are in ui/update_run.cpp. The dialog is split by job, one
// file each (ui/varnel_dlg.h lists them).

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda.h"
#include "pda/pda_diff.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "platform/atomic_file.h"
#include "platform/file_digest.h"
#include "platform/file_system.h"
#include "ui/update_run.h"
#include "platform/utc_stamp.h"
#include "ui/varnel_dlg.h"
#include "update/compatibility.h"
#include "update/history.h"
#include "update/visible_text.h"

namespace varnel {

namespace {

const char* FileKind(int type) {
    switch (type) {
    case kFilePda: return "pda";
    case kFilePrimary: return "primary";
    case kFileStation: return "station";
    case kFilePrimaryStation: return "primary+station";
    default: return "image";
    }
}

std::string RunOutcomeKey(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Succeeded: return "succeeded";
    case RunOutcome::Cancelled: return "cancelled";
    case RunOutcome::Interrupted: return "interrupted";
    case RunOutcome::None:
    case RunOutcome::Failed: break;
    }
    return "failed";
}

}  // namespace

void CVarnelDlg::BeginRun(const std::string& action) {
    m_bRunning = true;
    m_lastRun = RunOutcome::Failed;
    // A status left by an earlier run never speaks for this one.
    m_strStatus.clear();
    m_strStatusFull.clear();
    UpdateData();
    m_runReport = RunReport{};
    m_runReport.action = action;
    m_firmwareBackup = FirmwareBackupPlan{};
    m_runReport.adapter = m_nAdapter;
    if (const int position = FindAdapter(m_nAdapter); position >= 0 && m_bAdapterSelected)
        m_runReport.adapterName = m_adapterList[static_cast<size_t>(position)].name;
    m_adapter.m_requestsSent.clear();
    // Until writing begins, a stop request cancels the run (a program that
    // lets requests end it at once gets that for the run's length).
    // The program's own mode is the one before its first run: a run that
    // began writing leaves varnel-cli deferring, and the next card of
    // --all-adapters cancels again until it writes.
    if (!m_bStopModeKnown) {
        m_stopModeBefore = CurrentStopMode();
        m_bStopModeKnown = true;
    }
    if (m_stopModeBefore == StopMode::Default || m_stopModeBefore == StopMode::Cancel) SetStopMode(StopMode::Cancel);
}

std::string CVarnelDlg::CardInUseText(long holder) {
    return "Another Varnel run is updating this card" +
           (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) + ". Nothing was written.";
}

namespace {

// The card is the adapter's device on this machine: all that is known of it
// before it is read. Empty when there is no such adapter.
std::string CardName(CAdapter& adapter, NdisLibrary& library, int index) {
    const std::string device = adapter.OpenName(index);
    if (device.empty()) return {};
    const std::string machine = library.MachineName();
    return machine.empty() ? device : machine + ": " + device;
}

}  // namespace

CardLock::Attempt CVarnelDlg::ClaimCard(int index, bool probe) {
    if (m_cardLock.Held()) return {CardLock::Outcome::Taken, 0, {}};  // this program's run or claim has it
    const std::string card = CardName(m_adapter, m_library, index);
    if (card.empty()) return {CardLock::Outcome::Taken, 0, {}};  // no such adapter: opening it says so
    CardLock::Attempt attempt = m_cardLock.Take(m_lockDirectory, card, probe);
    m_bCardClaimed = attempt.outcome == CardLock::Outcome::Taken;
    return attempt;
}

void CVarnelDlg::UnclaimCard() {
    if (!m_bCardClaimed) return;
    m_cardLock.Release();
    m_bCardClaimed = false;
}

bool CVarnelDlg::TakeCard() {
    UnclaimCard();
    const std::string card = CardName(m_adapter, m_library, m_nAdapter);
    if (card.empty()) return true;  // no such adapter: opening it says so
    const CardLock::Attempt attempt = m_cardLock.Take(m_lockDirectory, card);
    switch (attempt.outcome) {
    case CardLock::Outcome::Taken: return true;
    case CardLock::Outcome::Held:
        Ask(CardInUseText(attempt.holder), "Card In Use", MessageIcon::Error);
        EndRun(RunOutcome::Failed, "Card in use by another run! Nothing was written.");
        return false;
    case CardLock::Outcome::Failed: break;
    }
    Ask("The card could not be reserved for this run, so nothing was written to it.\n" + attempt.error,
        "Cannot Continue", MessageIcon::Error);
    EndRun(RunOutcome::Failed, "Card lock failed! Nothing was written.");
    return false;
}

void CVarnelDlg::ReleaseCard() {
    m_bCardClaimed = false;
    m_cardLock.Release();
    // Back to what the program had; but once a run began writing, a program
    // that cancelled on a request (varnel-cli) now lets it wait: the run's
    // outcome stands.
    SetStopMode(m_stopModeBefore == StopMode::Cancel && m_runReport.writingBegan ? StopMode::Defer : m_stopModeBefore);
}

void CVarnelDlg::OnUpdate() {
    BeginRun("update");
    for (const FileEntry& entry : m_fileList.Entries())
        m_runReport.files.push_back({entry.path, FileKind(entry.type), std::nullopt, FileSha256(entry.path)});
    RunAndFinish([this] { UpdateRun(RunAccess(*this)).Update(); });
}

void CVarnelDlg::RunAndFinish(const std::function<void()>& run) {
    try {
        run();
    } catch (...) {
        EndRun(RunOutcome::Failed, "Internal error! The run was stopped.");
        FinishRun();
        ReleaseCard();
        m_bRunning = false;
        throw;
    }
    FinishRun();
    ReleaseCard();
    m_bRunning = false;
    // What was handed over during the run joins the list now; but not when
    // a stop request waits for the run's end to end the program.
    if (!StopRequested()) TakeWaitingFiles();
}

namespace {

// The time to the microsecond and the adapter: no two runs share it.
std::string RunId(std::chrono::system_clock::time_point now, int adapter) {
    const long micro = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06ldZ-", micro);
    return UtcStamp("%Y%m%dT%H%M%S", now) + fraction + std::to_string(adapter);
}

}  // namespace

void CVarnelDlg::RecordBegun() {
    // A run killed while writing leaves this record: `history` shows it
    // unfinished and names its backups. The run's own record at its end
    // takes the same id, and readers show that one instead.
    const auto now = std::chrono::system_clock::now();
    const std::string id = RunId(now, m_nAdapter);
    RunReport begun = m_runReport;
    begun.outcome = "unfinished";
    begun.status = "The run began writing to the card and did not end: the card may hold part of what it wrote. "
                   "Restore it from the backups this record names.";
    try {
        if (AppendHistoryLine(m_historyPath, HistoryRecordJson(begun, id, UtcTimeText(now)))) m_begunId = id;
    } catch (const std::exception&) {
        // The run's record at its end says what became of the history.
    }
}

void CVarnelDlg::FinishRun() {
    m_runReport.outcome = RunOutcomeKey(m_lastRun);
    m_runReport.status = FullStatus();
    m_runReport.requests = m_adapter.m_requestsSent;
    if (!m_runReport.writingBegan && !m_begunId.empty()) {
        // Only the card's setup requests went out: the mark left before the
        // first write is withdrawn (readers show neither).
        RunReport withdrawn = m_runReport;
        withdrawn.outcome = "withdrawn";
        try {
            static_cast<void>(AppendHistoryLine(m_historyPath, HistoryRecordJson(withdrawn, m_begunId, UtcTimeText())));
        } catch (const std::exception&) {
        }
        m_begunId.clear();
    }
    if (!m_runReport.writingBegan) return;
    // The versions the card runs now: only a card that got its closing
    // request has restarted with what was written.
    // Nothing that goes wrong from here on changes the run's outcome: the
    // card holds what was written, and the record is still made.
    if (m_lastRun == RunOutcome::Succeeded) {
        const OpenedAdapter closed(*this, false, false);
        try {
            ReadCardVersions(m_adapter, m_nAdapter, m_runReport.after);
        } catch (const std::exception&) {
            m_runReport.after = {};
        }
    }
    const auto now = std::chrono::system_clock::now();
    const std::string id = m_begunId.empty() ? RunId(now, m_nAdapter) : m_begunId;
    m_begunId.clear();
    std::string error;
    try {
        const Result<> appended =
            AppendHistoryLine(m_historyPath, HistoryRecordJson(m_runReport, id, UtcTimeText(now)));
        if (appended) {
            m_runReport.historyId = id;
            return;
        }
        error = appended.Reason();
    } catch (const std::exception& e) {
        error = m_historyPath.string() + ": internal error: " + e.what();
    }
    // The card holds what the run wrote, whatever the history says: the run
    // keeps its outcome, and the lost record is reported.
    m_runReport.historyError = error;
    Ask("The update history could not be written, so this run is not recorded in it.\n" + error +
            (m_lastRun == RunOutcome::Succeeded ? "\n\nThe card itself was updated as reported."
                                                : "\n\nThe run itself ended as reported."),
        "History Not Written", MessageIcon::Warning);
}

void CVarnelDlg::EndRun(RunOutcome outcome, const std::string& status) {
    m_lastRun = outcome;
    if (!status.empty()) {
        m_strStatus = status;
        UpdateData();
    }
}

void CVarnelDlg::StopBeforeWriting() {
    const std::string by = StopName(RequestedStop());
    Ask("Stopped by " + by + " before anything was written to the card. Nothing was written.", "Update Cancelled",
        MessageIcon::Information);
    EndRun(RunOutcome::Cancelled, "Stopped by " + by + ". Nothing was written.");
}

void CVarnelDlg::StopWhileWriting(const BackupPlan* backup, bool pdaWritten, size_t image, size_t images,
                                  bool inImage) {
    const std::string by = StopName(RequestedStop());
    // What reached the card, in the order it was written.
    std::string holds;
    if (pdaWritten) holds += "  the new PDA (its old PDA is saved in " + backup->path + ")\n";
    for (size_t j = 0; j < images; ++j) {
        const std::string name =
            j < m_runReport.plugs.size() ? m_runReport.plugs[j].file : "image " + std::to_string(j + 1);
        if (j < image) holds += "  all of " + name + "\n";
        else if (j == image && inImage && m_adapter.m_nPiecesWritten > 0)
            holds += "  " + std::to_string(m_adapter.m_nPiecesWritten) + " of the " +
                     std::to_string(m_adapter.m_nPieces) + " pieces of " + name + "\n";
        else holds += "  nothing of " + name + "\n";
    }
    // What to run again: the same run, named as the user started it.
    const std::string run = m_runReport.action == "update" ? "update" : m_runReport.action;
    const std::string file = m_runReport.files.empty() ? std::string() : VisibleText(m_runReport.files[0].path);
    const std::string again =
        run == "update" ? "run the same update again" : "run the same " + run + " again (of " + file + ")";
    Ask("The " + run + " was stopped by " + by + " after writing to the card had begun. The card now holds:\n" + holds +
            "and the rest of its flash as it was. Its firmware may be part old, part new, and it may not "
            "start with it.\n\nTo repair the card, " +
            again +
            ", to its end, before the card is removed or the "
            "computer shut down." +
            (m_firmwareBackup.saved ? "\n\nThe firmware it held before is saved in " + m_firmwareBackup.path + "."
                                    : std::string()),
        run == "update" ? "Update Stopped" : "Restore Stopped", MessageIcon::Error);
    m_strStatus = (run == "update" ? std::string("Update") : std::string("Restore")) + " STOPPED by " + by +
                  "! Card half-written: " + (run == "update" ? "run the update again." : "run the restore again.");
    if (backup) NameBackup(*backup);
    NameFirmwareBackup();
    RefreshCardFields();
    EndRun(RunOutcome::Interrupted);
}

std::string CVarnelDlg::ImageLine(const std::string& path, size_t index, size_t count) {
    std::string line = "Image " + std::to_string(index + 1) + " of " + std::to_string(count);
    const std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? line : line + ": " + name;
}

bool CVarnelDlg::FlashImage(CFirmwareImage& image, const std::string& detail, bool more) {
    if (!m_adapter.IsOpen()) {
        EndWaiting();
        Ask("Error: Adapter is not open.", "", MessageIcon::None);
        return false;
    }
    if (image.m_startAddress != 0) {
        EndWaiting();
        Ask("Sorry, RAM downloads are not supported.", "Cannot Continue", MessageIcon::Error);
        return false;
    }
    // One wait window from the first image to the last: the next image's
    // takes the place of this one's, so the program never leaves the screen.
    // The wait window is up before the main window goes.
    if (!m_waiting) m_host.SetMainWindow(true, false);
    ProgressBar& progress = m_host.ShowWaitWindow("Flash update in progress...", detail);
    if (!m_waiting) m_host.SetMainWindow(false, false);
    m_waiting = true;
    SetCursorShape(Cursor::Wait);
    const bool ok = m_adapter.ProgramImage(image, &progress, m_bForceAll, m_bVerify, true);
    if (!ok || !more) EndWaiting();
    m_strStatus = ok ? "Update Successful!" : "Update FAILED";
    RefreshCardFields();
    return ok;
}

void CVarnelDlg::EndWaiting() {
    if (!m_waiting) return;
    m_waiting = false;
    // The main window is back, drawn, before the wait window goes.
    m_host.SetMainWindow(true, false);
    m_host.HideWaitWindow();
    SetCursorShape(Cursor::Arrow);
    m_host.SetMainWindow(true, true);
}

bool CVarnelDlg::WritePdaToCard() {
    SetCursorShape(Cursor::Wait);
    m_host.SetMainWindow(true, false);
    const bool ok = m_adapter.WriteCardPda(m_pda, m_bForceAll, m_bVerify);
    m_adapter.EndCardAccess();
    if (!ok && !m_adapter.m_bStopped) Ask("PDA Update FAILED", "PDA Update Complete", MessageIcon::None);
    m_host.SetMainWindow(true, true);
    SetCursorShape(Cursor::Arrow);
    return ok;
}

}  // namespace varnel
