// The update run ("Update!"): from the file list to a programmed card.

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
#include "platform/utc_stamp.h"
#include "ui/varnel_dlg.h"
#include "update/compatibility.h"
#include "update/history.h"

namespace varnel {

namespace {

constexpr size_t kImageSlots = 10;
constexpr const char* kDashes = "---------------------\n";

struct ImageSlot {
    CFirmwareFile file;
    CFirmwareImage image;
};

// A backup name no earlier backup has taken, for STEM.pda and STEM.bin
// alike (or the extensions given): STEM, else STEM-2, STEM-3...
std::filesystem::path FreeBackupStem(const std::filesystem::path& directory, const std::string& stem,
                                     const std::vector<std::string>& extensions = {".pda", ".bin"}) {
    std::error_code ec;
    const auto taken = [&](const std::filesystem::path& p) {
        return std::any_of(extensions.begin(), extensions.end(),
                           [&](const std::string& e) { return std::filesystem::exists(p.string() + e, ec); });
    };
    std::filesystem::path path = directory / stem;
    for (int n = 2; taken(path); ++n) path = directory / (stem + "-" + std::to_string(n));
    return path;
}

const char* FileKind(int type) {
    switch (type) {
    case kFilePda: return "pda";
    case kFilePrimary: return "primary";
    case kFileStation: return "station";
    case kFilePrimaryStation: return "primary+station";
    default: return "image";
    }
}

std::string ImageVersions(const CFirmwareFile& file) {
    std::string text;
    if (file.m_primary.present) text = "Primary " + file.m_primary.Format();
    if (file.m_station.present) text += (text.empty() ? "" : ", ") + std::string("Station ") + file.m_station.Format();
    return text;
}

// The card's firmware versions: the text the dialog shows, and each version
// read into `versions`.
std::string ReadVersions(CAdapter& adapter, int index, CardVersions& versions) {
    std::string text;
    CComponentVersion primary, station;
    if (adapter.GetFirmwareVersions(text, index, &primary, &station)) {
        versions.primary = primary.Format();
        versions.station = station.Format();
    }
    return text;
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

// A PDA that gives the card another MAC address or serial number is written
// only when the user asks for it by name: Enter, Esc and --yes answer No.
constexpr const char* kIdentityCaption = "Replace the Card's Identity?";

std::string IdentityLine(const std::string& change) {
    return change.empty() ? std::string() : "This replaces the card's identity: " + change + "\n";
}

bool ConfirmIdentity(Host& host, const std::string& change) {
    if (change.empty()) return true;
    Message question{"This replaces the card's identity: " + change +
                         ".\n\nA MAC address belongs to one card: two cards with the same address cannot work on "
                         "one network.\n\nAnswer Yes only when this card is to take this identity (for example its "
                         "own PDA, saved before a repair).",
                     kIdentityCaption, MessageIcon::Warning, MessageButtons::YesNo, true};
    question.safeDefault = true;  // Enter answers No
    return host.ShowMessage(question) == MessageAnswer::Yes;
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

CardLock::Result CVarnelDlg::ClaimCard(int index, long* holder) {
    if (m_cardLock.Held()) return CardLock::Result::Taken;  // this program's run or claim has it
    const std::string card = CardName(m_adapter, m_library, index);
    if (card.empty()) return CardLock::Result::Taken;  // no such adapter: opening it says so
    std::string error;
    const CardLock::Result result = m_cardLock.Take(m_lockDirectory, card, holder, &error);
    m_bCardClaimed = result == CardLock::Result::Taken;
    return result;
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
    long holder = 0;
    std::string error;
    switch (m_cardLock.Take(m_lockDirectory, card, &holder, &error)) {
    case CardLock::Result::Taken: return true;
    case CardLock::Result::Held:
        Ask(CardInUseText(holder), "Card In Use", MessageIcon::Error);
        EndRun(RunOutcome::Failed, "Card in use by another run! Nothing was written.");
        return false;
    case CardLock::Result::Failed: break;
    }
    Ask("The card could not be reserved for this run, so nothing was written to it.\n" + error, "Cannot Continue",
        MessageIcon::Error);
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
    RunAndFinish([this] { RunUpdate(); });
}

void CVarnelDlg::RunAndFinish(const std::function<void()>& run) {
    try {
        run();
    } catch (...) {
        CloseAdapterHandle();
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

void CVarnelDlg::FinishRun() {
    m_runReport.outcome = RunOutcomeKey(m_lastRun);
    m_runReport.status = FullStatus();
    m_runReport.requests = m_adapter.m_requestsSent;
    if (!m_runReport.writingBegan) return;
    // The versions the card runs now: only a card that got its closing
    // request has restarted with what was written.
    // Nothing that goes wrong from here on changes the run's outcome: the
    // card holds what was written, and the record is still made.
    if (m_lastRun == RunOutcome::Succeeded) {
        try {
            ReadVersions(m_adapter, m_nAdapter, m_runReport.after);
        } catch (const std::exception&) {
            m_runReport.after = {};
        }
        CloseAdapterHandle();
    }
    // The time to the microsecond and the adapter: no two runs share it.
    const auto now = std::chrono::system_clock::now();
    const long micro = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06ldZ-", micro);
    const std::string id = UtcStamp("%Y%m%dT%H%M%S", now) + fraction + std::to_string(m_nAdapter);
    std::string error;
    try {
        if (Succeeded(AppendHistoryLine(m_historyPath, HistoryRecordJson(m_runReport, id, UtcTimeText(now))), &error)) {
            m_runReport.historyId = id;
            return;
        }
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

bool CVarnelDlg::PlanBackup(const std::string& mac, const CPda& cardPda, BackupPlan& plan, std::string& why) {
    AuxRecord flash{};
    if (!m_adapter.ReadFlashPda(flash)) {
        why = "The card's PDA in flash could not be read for its backup.";
        return false;
    }
    CPda flashPda;
    const bool valid = LoadPdaCopy(flashPda, flash);
    const std::filesystem::path stem =
        FreeBackupStem(m_backupDirectory, "pda-" + mac + "-" + UtcStamp("%Y%m%dT%H%M%SZ"));
    plan.path = stem.string() + ".pda";
    std::string comment = "Varnel backup of the card's PDA in flash, read before " +
                          std::string(m_runReport.action == "update" ? "an update" : "a PDA restore") + "\nAdapter " +
                          std::to_string(m_nAdapter) + ", MAC address " + mac + "\nRead " +
                          UtcTimeText();
    if (valid) {
        plan.text = FormatPdaText(flashPda, comment);
        plan.raw.clear();
        plan.rawPath.clear();
    } else {
        // The flash copy is not a valid PDA: its bytes are kept as they are,
        // and the .pda holds the PDA the card runs with (if it could be read).
        plan.rawPath = stem.string() + ".bin";
        plan.raw.assign(reinterpret_cast<const char*>(flash.data), kPdaBytes);
        comment += "\nThe PDA in flash was not valid; its 1024 bytes are in " + plan.rawPath +
                   "\nThe records below are the card's PDA as it was running";
        plan.text = FormatPdaText(cardPda, comment);
    }
    return true;
}

void CVarnelDlg::NameBackup(const BackupPlan& plan) {
    std::string status = m_strStatus;
    if (!status.empty() && status.back() != '!' && status.back() != '.') status += ".";
    m_strStatusFull = status + " Card PDA saved to " + plan.path;
    // The status box has two lines: it names the file alone, or, after a
    // long status, only that the PDA was saved, or nothing more; its tooltip
    // has the whole path.
    std::string box = status + " Card PDA saved to " + std::filesystem::path(plan.path).filename().string();
    if (box.size() > kStatusBoxChars) box = status + " Card PDA saved.";
    if (box.size() > kStatusBoxChars) box = status;
    m_strStatus = m_strStatusShort = box;
    UpdateData();
}

bool CVarnelDlg::SaveBackup(BackupPlan& plan, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(m_backupDirectory, ec);
    // Each file takes a name no file has (another run may have taken the
    // planned one since): STEM.pda, and STEM.bin with it, else STEM-2...
    const std::string planned = plan.path.substr(0, plan.path.size() - 4);
    std::string stem = planned;
    for (int n = 2;; ++n) {
        bool taken = false;
        if (Succeeded(WriteNewFile(stem + ".pda", plan.text, &taken), error)) {
            if (plan.rawPath.empty()) break;
            if (Succeeded(WriteNewFile(stem + ".bin", plan.raw, &taken), error)) break;
            std::filesystem::remove(stem + ".pda", ec);
        }
        if (!taken) return false;
        stem = planned + "-" + std::to_string(n);
    }
    plan.path = stem + ".pda";
    if (!plan.rawPath.empty()) plan.rawPath = stem + ".bin";
    return true;
}

std::string CVarnelDlg::PlanFirmwareBackup(const std::string& mac, const std::string& serial) {
    m_firmwareBackup = FirmwareBackupPlan{};
    if (!m_bFirmwareBackup) return "The card's firmware will not be saved before writing (no firmware backup).\n";
    m_firmwareBackup.wanted = true;
    FirmwareBackup& data = m_firmwareBackup.data;
    data.mac = mac;
    data.serial = serial;
    data.primary = m_runReport.before.primary;
    data.station = m_runReport.before.station;
    data.time = UtcTimeText();
    m_firmwareBackup.path =
        FreeBackupStem(m_backupDirectory, "flash-" + (mac.empty() ? std::string("unknown-mac") : mac) + "-" +
                                              UtcStamp("%Y%m%dT%H%M%SZ"),
                       {".srec"})
            .string() +
        ".srec";
    return "Card firmware will be saved before writing, to: " + m_firmwareBackup.path + "\n";
}

bool CVarnelDlg::SaveFirmwareBackup(std::string* error) {
    const Result<std::string> formatted = FormatFirmwareBackup(m_firmwareBackup.data);
    if (!Succeeded(formatted, error)) return false;
    const std::string& text = *formatted;
    std::error_code ec;
    std::filesystem::create_directories(m_backupDirectory, ec);
    // A name no file has, as the PDA backup takes one: STEM.srec, else STEM-2...
    const std::string planned = m_firmwareBackup.path.substr(0, m_firmwareBackup.path.size() - 5);
    std::string stem = planned;
    for (int n = 2;; ++n) {
        bool taken = false;
        if (Succeeded(WriteNewFile(stem + ".srec", text, &taken), error)) break;
        if (!taken) return false;
        stem = planned + "-" + std::to_string(n);
    }
    m_firmwareBackup.path = stem + ".srec";
    m_firmwareBackup.saved = true;
    m_runReport.firmwareBackup = m_firmwareBackup.path;
    return true;
}

void CVarnelDlg::NameFirmwareBackup() {
    if (!m_firmwareBackup.saved) return;
    // The whole path in the full status (the terminal, the history, the
    // box's tooltip); the box says it only when two lines still hold it.
    const auto sentence = [](std::string text) {
        if (!text.empty() && text.back() != '!' && text.back() != '.') text += ".";
        return text;
    };
    m_strStatusFull = sentence(FullStatus()) + " Card firmware saved to " + m_firmwareBackup.path;
    std::string box = sentence(m_strStatus) + " Card firmware saved.";
    if (box.size() > kStatusBoxChars) box = m_strStatus;
    m_strStatus = m_strStatusShort = box;
    UpdateData();
}

void CVarnelDlg::EndRun(RunOutcome outcome, const std::string& status) {
    m_lastRun = outcome;
    if (!status.empty()) {
        m_strStatus = status;
        UpdateData();
    }
}

void CVarnelDlg::RunUpdate() {
    // 1. Something to do.
    if (m_fileList.GetCount() == 0) {
        Ask("You must select at least one file to update card", "No files selected", MessageIcon::Information);
        return;
    }
    // 2. The warning.
    if (!m_host.ConfirmWarning("Warning !!",
                               "Do not detach the STA in the period of firmware downloaded.  If you do, that might "
                               "cause a serious damage!"))
        return EndRun(RunOutcome::Cancelled);

    // 3. Station-code rule.
    if (m_fileList.FindFirstOfType(kFileStation) < 0 && m_fileList.FindFirstOfType(kFilePrimaryStation) < 0) {
        if (m_fileList.FindFirstOfType(kFilePda) >= 0 &&
            Ask("Warning - PDA changes will not take effect without station code. ", "Warning", MessageIcon::Warning,
                MessageButtons::OkCancel) != MessageAnswer::Ok)
            return EndRun(RunOutcome::Cancelled, "User cancelled download.");
        if (m_fileList.FindFirstOfType(kFilePrimary) >= 0) {
            Ask("Error - Card requires Station code when updating Primary.", "Error", MessageIcon::Error);
            return EndRun(RunOutcome::Failed, "Add Station code to the list.");
        }
    }

    // 4. Open the card, which is this run's alone from here on.
    if (!TakeCard()) return;
    if (ReopenAdapter(true)) {
        const auto stop = [this](RunOutcome outcome = RunOutcome::Failed) {
            CloseAdapterHandle();
            EndRun(outcome);
        };
        // The card's PDA as read (empty when it could not be read). Unless a
        // new PDA reaches the card, the run ends with the dialog holding the
        // card's own again, never the merge of a run that stopped.
        CPda cardPda;
        bool pdaWritten = false;
        struct KeepCardPda {
            CVarnelDlg& dialog;
            const CPda& card;
            const bool& written;
            ~KeepCardPda() {
                if (written) return;
                dialog.m_pda.CopyFrom(card);
                dialog.RefreshCardFields();
            }
        } keepCardPda{*this, cardPda, pdaWritten};

        // 5. The card's PDA, and the summary's card lines.
        std::string summary;
        std::string backupMac = "unknown-mac";
        const bool pdaRead = m_adapter.ReadCardPda(m_pda);
        if (pdaRead) {
            cardPda.CopyFrom(m_pda);
            RefreshCardFields();
            const std::string versions = ReadVersions(m_adapter, m_nAdapter, m_runReport.before);
            summary = "Product Part Number: " + m_strPartNumber + "\n  Serial Number: " + m_strPdaSerial +
                      "\n  MAC Address: " + m_strPdaMac + "\n  Current firmware version: " + versions + "\n";
            if (!m_strPdaMac.empty()) backupMac = m_strPdaMac;
            m_runReport.mac = m_strPdaMac;
            m_runReport.serial = m_strPdaSerial;
        } else {
            m_pda.Clear();
        }

        // 6. PDA files (they come first in the list).
        int i = 0;
        bool pdaFilesLoaded = false;
        std::string path;
        while (m_fileList.GetPath(i, path) && IsPdaPath(path)) {
            if (!LoadPdaFile(path, &m_fileList.Entries()[static_cast<size_t>(i)])) {
                CloseAdapterHandle();
                Ask("Error loading " + path, "Error", MessageIcon::Error);
                return EndRun(RunOutcome::Failed);
            }
            pdaFilesLoaded = true;
            ++i;
        }

        // Where the card keeps its PDA is known only from its type: with
        // the type assumed, no PDA is written.
        if (pdaFilesLoaded && m_adapter.m_bCardTypeAssumed) {
            Ask("The card's type could not be read, so where its PDA lies in flash is not known. Nothing was "
                "written to the card.",
                "Cannot Continue", MessageIcon::Error);
            m_strStatus = "Card type unknown! Nothing was written.";
            return stop();
        }
        // Without the card's PDA nothing is written and no image is plugged,
        // unless the .pda files hold a whole PDA and the user asks, in so
        // many words, to put it in place of whatever the card holds.
        if (!pdaRead) {
            const bool wholePda = pdaFilesLoaded && m_pda.FindRecord(kPdrMacAddress) != nullptr;
            if (!wholePda) {
                Ask("The card's production data (PDA) could not be read, so nothing was written to the card.",
                    "Cannot Continue", MessageIcon::Error);
                m_strStatus = "PDA read error! Nothing was written.";
                return stop();
            }
            RefreshCardFields();
            Message question{"The card's production data (PDA) could not be read.\n\nThe .pda files hold a whole "
                             "PDA, with MAC address " + m_strPdaMac +
                                 ". Write it as the card's PDA? It replaces all the card's production data: MAC "
                                 "address, serial number, part number, platform and calibration tables.\n\nAnswer "
                                 "Yes only when these files are this card's own PDA.",
                             "Replace the Card's PDA?", MessageIcon::Warning, MessageButtons::YesNo, true};
            question.safeDefault = true;  // Enter answers No
            if (m_host.ShowMessage(question) != MessageAnswer::Yes) {
                m_strStatus = "PDA read error! Nothing was written.";
                return stop(RunOutcome::Cancelled);
            }
            m_strStatus = "PDA read error! User chose to continue.";
            summary = "Card PDA could not be read: it is replaced by the PDA of the .pda files.\n"
                      "  MAC Address: " + m_strPdaMac + "\n";
            // The backup of what the card held is named by the card's own
            // address, not by the files'.
            if (!m_strNdisMac.empty()) backupMac = m_strNdisMac;
        }

        // 7. Set point and integrator values; the PDA must fit the card; the
        // copy in flash, which the write replaces, is read for its backup.
        BackupPlan backup;
        std::string identityChange;
        if (i > 0) {
            summary += std::string(kDashes) + std::to_string(i) + " PDA file(s) Loaded OK\n";
            const int setPoint = ConfigureSetPointAndIntegrator(m_pda);
            if (setPoint < 0) {
                CloseAdapterHandle();
                Ask(SetPointText(setPoint), "ERROR", MessageIcon::Error);
                return EndRun(RunOutcome::Failed);
            }
            summary += std::string(SetPointText(setPoint)) + "\n";
            if (m_pda.ToWords().empty()) {
                CloseAdapterHandle();
                Ask("The merged PDA is too large for the card: its records take more than " +
                        std::to_string(PdaMaxWords) + " words. Nothing was written to the card.",
                    "Cannot Continue", MessageIcon::Error);
                return EndRun(RunOutcome::Failed);
            }
            std::vector<PdaChange> changes = DiffPda(cardPda, m_pda);
            summary += "Changes to the card's PDA:\n" + FormatPdaDiff(changes);
            // A card whose PDA could not be read was asked about above.
            if (pdaRead) {
                identityChange = FormatIdentityChange(IdentityOf(cardPda), IdentityOf(m_pda));
                summary = IdentityLine(identityChange) + summary;
            }
            std::string why;
            if (!PlanBackup(backupMac, cardPda, backup, why)) {
                Ask(why + " Nothing was written to the card.", "Cannot Continue", MessageIcon::Error);
                m_strStatus = "PDA backup failed! Nothing was written.";
                return stop();
            }
            summary += "Card PDA will be saved before writing, to: " + backup.path + "\n";
            if (!backup.raw.empty())
                summary += "  The PDA in flash is not valid: its raw bytes will be saved to: " + backup.rawPath + "\n";
            m_runReport.pdaWrite = true;
            m_runReport.pdaChanges = std::move(changes);
        }

        // 8-10. Load and plug every image.
        std::array<std::unique_ptr<ImageSlot>, kImageSlots> slots;
        CPlugList plugs;
        std::vector<std::string> imagePaths;
        bool loadOk = true;
        for (int k = i; k < m_fileList.GetCount() && static_cast<size_t>(k - i) < kImageSlots; ++k) {
            m_fileList.GetPath(k, path);
            auto& slot = slots[static_cast<size_t>(k - i)] = std::make_unique<ImageSlot>();
            if (slot->file.LoadFile(path, &slot->image, &plugs) == 0) {
                CloseAdapterHandle();
                if (slot->file.InternalError())
                    m_host.ShowMessage({kMemoryErrorText, kMemoryErrorCaption, MessageIcon::None, MessageButtons::Ok, false});
                // The reader's own reason, with its line number, follows.
                const std::string& reason = slot->file.LastFinding();
                Ask("Error in file " + path + (slot->file.InternalError() || reason.empty() ? "" : "\n" + reason),
                    "Cannot Continue", MessageIcon::Error);
                loadOk = false;
                break;
            }
            ImagePlugs& report = m_runReport.plugs.emplace_back(ImagePlugs{path, {}});
            slot->file.PlugImage(slot->image, plugs, m_pda, path, &report.plugs);
            imagePaths.push_back(path);
            for (RunFile& file : m_runReport.files)
                if (file.path == path) file.version = ImageVersions(slot->file);
        }
        if (!loadOk) {
            CloseAdapterHandle();
            Ask("Error Loading Files. Update will not start.", "Cannot Continue", MessageIcon::Error);
            return EndRun(RunOutcome::Failed);
        }

        // 11. The checks. An image for the card's RAM is refused here,
        // before anything is written.
        bool checksOk = true;
        RunOutcome declined = RunOutcome::Failed;
        for (size_t j = 0; j < imagePaths.size() && checksOk; ++j) {
            summary += std::string(kDashes) + "Source File: \"" + imagePaths[j] + "\"\n";
            bool cancelled = false;
            if (slots[j]->image.m_startAddress != 0) {
                Ask("Sorry, RAM downloads are not supported.", "Cannot Continue", MessageIcon::Error);
                checksOk = false;
            } else if (!CheckImage(slots[j]->file, m_pda, m_adapter, m_host, summary, &cancelled)) {
                checksOk = false;
                if (cancelled) declined = RunOutcome::Cancelled;
            }
            if (!checksOk) CloseAdapterHandle();
        }

        // 12. Confirmation.
        if (checksOk && !imagePaths.empty())
            summary += std::string(kDashes) +
                       PlanFirmwareBackup(backupMac == "unknown-mac" ? "" : backupMac, pdaRead ? m_strPdaSerial : "");
        if (checksOk) {
            m_host.SetMainWindow(true, false);
            if (!m_host.ConfirmSummary(summary) || !ConfirmIdentity(m_host, identityChange)) {
                checksOk = false;
                declined = RunOutcome::Cancelled;
            }
            m_host.SetMainWindow(true, true);
        }

        // 13. Writing.
        if (checksOk) {
            std::vector<CFirmwareImage*> images;
            for (size_t j = 0; j < imagePaths.size(); ++j) images.push_back(&slots[j]->image);
            if (!WriteCard(pdaFilesLoaded ? &backup : nullptr, images, pdaWritten)) return;
        } else {
            m_lastRun = declined;
        }
        // 14. The slots and the plug list go with this scope.
    }
    // 15.
    CloseAdapterHandle();
    RefreshCardFields();
}

bool CVarnelDlg::WriteCard(BackupPlan* backup, const std::vector<CFirmwareImage*>& images, bool& pdaWritten) {
    // From here on a stop request waits for the piece in flight.
    SetStopMode(StopMode::Defer);
    if (StopRequested()) {
        StopBeforeWriting();
        return false;
    }
    // What the backup read stands for the card only in this run.
    struct ForgetKnownFlash {
        CAdapter& adapter;
        ~ForgetKnownFlash() { adapter.m_knownFlash = nullptr; }
    } forgetKnownFlash{m_adapter};
    // The firmware the images overwrite is read first (and saved beside the
    // PDA's backup).
    if (m_firmwareBackup.wanted && !images.empty() && !BackUpFirmware(images, backup != nullptr)) return false;
    if (backup) {
        // Nothing the card had is lost: the PDA the write replaces is saved
        // first.
        std::string error;
        if (!SaveBackup(*backup, &error)) {
            Ask("The card's PDA could not be saved before writing a new one, so nothing was written to "
                "the card.\n" + error,
                "Cannot Continue", MessageIcon::Error);
            CloseAdapterHandle();
            EndRun(RunOutcome::Failed);
            return false;
        }
        m_strBackupFile = backup->path;
        m_runReport.backup = backup->path;
        if (!StoreFirmwareBackup()) return false;
        if (StopRequested()) {
            StopBeforeWriting();
            return false;
        }
        m_runReport.writingBegan = true;
        const bool written = WritePdaToCard();
        if (!written && m_adapter.m_bStopped) {
            // Only the card's setup requests went out: nothing was written.
            m_runReport.writingBegan = false;
            StopBeforeWriting();
            return false;
        }
        if (!written) {
            m_strStatus = "PDA Update FAILED";
            NameBackup(*backup);
            NameFirmwareBackup();
            CloseAdapterHandle();
            EndRun(RunOutcome::Failed);
            return false;
        }
        pdaWritten = true;
    }
    if (!StoreFirmwareBackup()) return false;
    m_adapter.CheckDriverSupport();
    for (size_t j = 0; j < images.size(); ++j) {
        // Written so far: the PDA, the images before this one.
        const bool wrote = pdaWritten || j > 0;
        if (StopRequested()) {
            if (wrote) StopWhileWriting(backup, pdaWritten, j, images.size(), false);
            else StopBeforeWriting();
            return false;
        }
        m_runReport.writingBegan = true;
        if (!FlashImage(*images[j],
                        ImageLine(j < m_runReport.plugs.size() ? m_runReport.plugs[j].file : "", j, images.size()))) {
            if (m_adapter.m_bStopped) {
                if (wrote || m_adapter.m_nPiecesWritten > 0) {
                    StopWhileWriting(backup, pdaWritten, j, images.size(), true);
                } else {
                    m_runReport.writingBegan = false;
                    StopBeforeWriting();
                }
                return false;
            }
            if (backup) NameBackup(*backup);
            NameFirmwareBackup();
            CloseAdapterHandle();
            Ask("Update failed while writing to card!", "", MessageIcon::None);
            RefreshCardFields();
            EndRun(RunOutcome::Failed);
            return false;
        }
    }
    m_adapter.CheckDriverSupport();
    m_adapter.BlockProtocols(false);
    m_adapter.EndCardAccess();
    CloseAdapterHandle();
    if (backup) {
        if (images.empty()) m_strStatus = "Update Successful!";
        NameBackup(*backup);
    }
    NameFirmwareBackup();
    // The box says where the card's PDA and firmware were saved, with the
    // whole paths.
    std::string saved;
    if (backup) saved += "\nCard PDA saved to " + backup->path;
    if (m_firmwareBackup.saved) saved += "\nCard firmware saved to " + m_firmwareBackup.path;
    Ask("Update Successful!   " + (saved.empty() ? "" : "\n" + saved), "Update Complete", MessageIcon::Information);
    m_lastRun = RunOutcome::Succeeded;
    return true;
}

void CVarnelDlg::OnRestorePda(const std::string& path, bool forceIncomplete) {
    BeginRun("pda restore");
    m_runReport.files.push_back({path, "pda", std::nullopt, FileSha256(path)});
    RunAndFinish([this, &path, forceIncomplete] { RunRestore(path, forceIncomplete); });
}

void CVarnelDlg::RunRestore(const std::string& path, bool forceIncomplete) {
    // The file first: nothing reaches the card unless it is a PDA the card
    // can hold.
    CPda restored;
    if (const Result<> merged = MergePdaTextFile(restored, path); !merged) {
        Ask("Error loading " + path + "\n" + merged.Reason(), "Error", MessageIcon::Error);
        return EndRun(RunOutcome::Failed, "Nothing was written.");
    }
    if (!forceIncomplete && restored.FindRecord(kPdrMacAddress) == nullptr) {
        Ask(path + " holds no MAC address record (0x0101), so it is not a whole PDA. Nothing was written to the card.",
            "Cannot Continue", MessageIcon::Error);
        return EndRun(RunOutcome::Failed, "Nothing was written.");
    }
    if (restored.ToWords().empty()) {
        Ask(path + " is too large for the card: its records take more than " + std::to_string(PdaMaxWords) +
                " words. Nothing was written to the card.",
            "Cannot Continue", MessageIcon::Error);
        return EndRun(RunOutcome::Failed, "Nothing was written.");
    }
    if (!TakeCard()) return;
    if (!ReopenAdapter(true)) {
        CloseAdapterHandle();
        return EndRun(RunOutcome::Failed);
    }
    const auto stop = [this](RunOutcome outcome = RunOutcome::Failed) {
        CloseAdapterHandle();
        EndRun(outcome);
    };
    if (m_adapter.m_bCardTypeAssumed) {
        Ask("The card's type could not be read, so where its PDA lies in flash is not known. Nothing was "
            "written to the card.",
            "Cannot Continue", MessageIcon::Error);
        m_strStatus = "Card type unknown! Nothing was written.";
        return stop();
    }
    // The card's PDA, for the summary and the backup; a card whose PDA
    // cannot be read is what a restore is for, so the run goes on without.
    CPda cardPda;
    const bool pdaRead = m_adapter.ReadCardPda(cardPda);
    if (!pdaRead) cardPda.Clear();
    std::string mac = pdaRead ? "" : m_strNdisMac;
    if (pdaRead) {
        m_pda.CopyFrom(cardPda);
        RefreshCardFields();
        mac = m_strPdaMac;
        m_runReport.mac = m_strPdaMac;
        m_runReport.serial = m_strPdaSerial;
        ReadVersions(m_adapter, m_nAdapter, m_runReport.before);
    }
    BackupPlan backup;
    std::string why;
    if (!PlanBackup(mac.empty() ? "unknown-mac" : mac, cardPda, backup, why)) {
        Ask(why + " Nothing was written to the card.", "Cannot Continue", MessageIcon::Error);
        m_strStatus = "PDA backup failed! Nothing was written.";
        return stop();
    }
    m_runReport.pdaWrite = true;
    m_runReport.pdaChanges = DiffPda(cardPda, restored);

    // The identity the card has: its PDA's, else the address its driver
    // reports (a card whose PDA cannot be read keeps that one).
    PdaIdentity identity = IdentityOf(restored);
    if (pdaRead) identity = IdentityOf(cardPda);
    else if (!m_strNdisMac.empty() && m_strNdisMac != "00-00-00-00-00-00") identity.mac = m_strNdisMac;
    const std::string identityChange = FormatIdentityChange(identity, IdentityOf(restored));

    std::string summary = IdentityLine(identityChange) +
                          "PDA restore: the card's PDA is replaced by exactly the records of\n  " + path + "\n";
    summary += pdaRead ? "  Card MAC Address: " + m_strPdaMac + "\n" : "  The card's PDA could not be read.\n";
    if (restored.FindRecord(kPdrMacAddress) == nullptr)
        summary += "  The file holds no MAC address record: the card will have none.\n";
    summary += std::string(kDashes) + "Changes to the card's PDA:\n" + FormatPdaDiff(m_runReport.pdaChanges);
    summary += std::string(kDashes) + "Card PDA will be saved before writing, to: " + backup.path + "\n";
    if (!backup.raw.empty())
        summary += "  The PDA in flash is not valid: its raw bytes will be saved to: " + backup.rawPath + "\n";

    m_host.SetMainWindow(true, false);
    const bool confirmed = m_host.ConfirmSummary(summary) && ConfirmIdentity(m_host, identityChange);
    m_host.SetMainWindow(true, true);
    if (!confirmed) {
        m_pda.CopyFrom(cardPda);
        RefreshCardFields();
        return stop(RunOutcome::Cancelled);
    }
    m_pda.CopyFrom(restored);
    bool pdaWritten = false;
    if (!WriteCard(&backup, {}, pdaWritten) && !pdaWritten) {
        m_pda.CopyFrom(cardPda);
        RefreshCardFields();
        return;
    }
    RefreshCardFields();
}

void CVarnelDlg::StopBeforeWriting() {
    const std::string by = StopName(RequestedStop());
    CloseAdapterHandle();
    Ask("Stopped by " + by + " before anything was written to the card. Nothing was written.", "Update Cancelled",
        MessageIcon::Information);
    EndRun(RunOutcome::Cancelled, "Stopped by " + by + ". Nothing was written.");
}

void CVarnelDlg::StopWhileWriting(const BackupPlan* backup, bool pdaWritten, size_t image, size_t images,
                                  bool inImage) {
    const std::string by = StopName(RequestedStop());
    CloseAdapterHandle();
    // What reached the card, in the order it was written.
    std::string holds;
    if (pdaWritten) holds += "  the new PDA (its old PDA is saved in " + backup->path + ")\n";
    for (size_t j = 0; j < images; ++j) {
        const std::string name =
            j < m_runReport.plugs.size() ? m_runReport.plugs[j].file : "image " + std::to_string(j + 1);
        if (j < image) holds += "  all of " + name + "\n";
        else if (j == image && inImage && m_adapter.m_nPiecesWritten > 0)
            holds += "  " + std::to_string(m_adapter.m_nPiecesWritten) + " of the " + std::to_string(m_adapter.m_nPieces) +
                     " pieces of " + name + "\n";
        else holds += "  nothing of " + name + "\n";
    }
    Ask("The update was stopped by " + by + " after writing to the card had begun. The card now holds:\n" + holds +
            "and the rest of its flash as it was. Its firmware is part old, part new, and it may not start with "
            "it.\n\nTo repair the card, run the same update again, to its end, before the card is removed or the "
            "computer shut down." +
            (m_firmwareBackup.saved ? "\n\nThe firmware it held before is saved in " + m_firmwareBackup.path + "."
                                    : std::string()),
        "Update Stopped", MessageIcon::Error);
    m_strStatus = "Update STOPPED by " + by + "! Card half-written: run the update again.";
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

bool CVarnelDlg::FlashImage(CFirmwareImage& image, const std::string& detail) {
    if (!m_adapter.IsOpen()) {
        Ask("Error: Adapter is not open.", "", MessageIcon::None);
        return false;
    }
    if (image.m_startAddress != 0) {
        Ask("Sorry, RAM downloads are not supported.", "Cannot Continue", MessageIcon::Error);
        return false;
    }
    m_host.SetMainWindow(false, false);
    ProgressBar& progress = m_host.ShowWaitWindow("Flash update in progress...", detail);
    SetCursorShape(Cursor::Wait);
    const bool ok = m_adapter.ProgramImage(image, &progress, m_bForceAll, m_bVerify, true);
    m_host.HideWaitWindow();
    SetCursorShape(Cursor::Arrow);
    m_host.SetMainWindow(true, true);
    m_strStatus = ok ? "Update Successful!" : "Update FAILED";
    RefreshCardFields();
    return ok;
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
