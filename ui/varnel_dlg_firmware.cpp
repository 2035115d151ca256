// The firmware backup of an update run, and putting such a backup back
// ("Restore Firmware..."): the card's flash returned to the saved bytes.

#include <cctype>
#include <memory>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "pda/pda.h"
#include "pda/pda_diff.h"
#include "platform/file_digest.h"
#include "platform/stop_request.h"
#include "ui/varnel_dlg.h"
#include "update/compatibility.h"

namespace varnel {

namespace {

constexpr const char* kDashes = "---------------------\n";

// A backup from another card is written only when the user asks for it by
// name: Enter, Esc and --yes answer No.
constexpr const char* kOtherCardCaption = "Restore Another Card's Firmware?";

// "00:60:1d:12:34:56" and "00-60-1D-12-34-56" alike; "" for no address.
std::string MacKey(const std::string& mac) {
    std::string key;
    for (const char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c))) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key == "000000000000" ? std::string() : key;
}

bool Overlap(uint32_t a, uint32_t aEnd, uint32_t b, uint32_t bEnd) { return a < bEnd && b < aEnd; }

// The summary's downgrade line for one component, when both versions are known.
std::string Downgrade(const char* component, const std::optional<std::string>& card,
                      const std::optional<std::string>& restored) {
    CComponentVersion now, then;
    if (!card || !restored || !ParseComponentVersion(*card, now) || !ParseComponentVersion(*restored, then)) return {};
    return DowngradeLine(component, now, then);
}

}  // namespace

bool CVarnelDlg::BackUpFirmware(const std::vector<CFirmwareImage*>& images, bool pdaWrite) {
    FirmwareBackupPlan& plan = m_firmwareBackup;
    plan.data.ranges.clear();
    plan.pieces.clear();
    int total = 0;
    for (const CFirmwareImage* image : images) total += image->CountPieces(kPieceMax, kPieceBoundary);
    m_host.SetMainWindow(false, false);
    ProgressBar& progress = m_host.ShowWaitWindow("Reading the card's firmware for its backup...", "");
    progress.SetRange(0, total);
    SetCursorShape(Cursor::Wait);
    // Every piece exactly as programming will write it, one read each.
    bool read = true;
    bool stopped = false;
    int done = 0;
    for (CFirmwareImage* image : images) {
        image->Rewind();
        AuxRecord record{};
        uint32_t address = 0;
        uint16_t length = 0;
        while (read && !stopped && image->ReadNext(record.data, address, length, kPieceMax, kPieceBoundary)) {
            // Data outside the flash is never written: programming refuses
            // such an image whole.
            if (address >= kImageAddressLimit || length > kImageAddressLimit - address) continue;
            if (StopRequested()) {
                stopped = true;
                break;
            }
            record.address = address;
            record.count = length;
            if (!m_adapter.ReadAux(record)) {
                read = false;
                break;
            }
            plan.pieces.push_back({address, length, plan.data.ranges.size(), true});
            plan.data.ranges.push_back({address, std::vector<uint8_t>(record.data, record.data + length)});
            progress.SetPosition(++done);
        }
        if (!read || stopped) break;
    }
    m_host.HideWaitWindow();
    SetCursorShape(Cursor::Arrow);
    m_host.SetMainWindow(true, true);
    if (stopped) {
        StopBeforeWriting();
        return false;
    }
    if (!read) {
        CloseAdapterHandle();
        Ask("The card's firmware could not be read, so nothing was written.", "Cannot Continue", MessageIcon::Error);
        EndRun(RunOutcome::Failed, "Firmware backup failed! Nothing was written.");
        return false;
    }
    // A piece read stands for the card until this run writes there: one that
    // an earlier piece or the PDA write overlaps is read again before it is
    // compared (--no-force).
    std::vector<FirmwareBackupPlan::Piece>& pieces = plan.pieces;
    const uint32_t pda = m_adapter.m_dwPdaAddress & ~kNvramBit;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const uint32_t end = pieces[i].address + pieces[i].count;
        if (pdaWrite && Overlap(pieces[i].address, end, pda, pda + kPdaBytes)) pieces[i].current = false;
        for (size_t j = 0; j < i; ++j)
            if (Overlap(pieces[i].address, end, pieces[j].address, pieces[j].address + pieces[j].count))
                pieces[i].current = pieces[j].current = false;
    }
    // Programming asks for the pieces in the order they were read: the
    // search begins where the last one was found.
    m_adapter.m_knownFlash = [this, next = size_t{0}](uint32_t address, uint16_t count) mutable -> const uint8_t* {
        const std::vector<FirmwareBackupPlan::Piece>& all = m_firmwareBackup.pieces;
        for (size_t k = 0; k < all.size(); ++k) {
            const size_t i = (next + k) % all.size();
            if (all[i].address != address || all[i].count != count) continue;
            next = i + 1;
            return all[i].current ? m_firmwareBackup.data.ranges[all[i].range].bytes.data() : nullptr;
        }
        return nullptr;
    };
    return true;
}

bool CVarnelDlg::StoreFirmwareBackup() {
    if (!m_firmwareBackup.wanted || m_firmwareBackup.saved || m_firmwareBackup.pieces.empty()) return true;
    std::string error;
    if (!SaveFirmwareBackup(&error)) {
        CloseAdapterHandle();
        Ask("The card's firmware could not be saved before writing, so nothing was written to the card.\n" + error,
            "Cannot Continue", MessageIcon::Error);
        EndRun(RunOutcome::Failed, "Firmware backup failed! Nothing was written.");
        return false;
    }
    return true;
}

bool CVarnelDlg::OnRestoreFirmwareMenu() {
    const auto chosen = m_host.OpenFile(
        {"srec", (m_backupDirectory / "*.srec").string(), "Firmware Backup (*.srec)|*.srec|All Files (*.*)|*.*|"});
    if (!chosen) return false;
    OnRestoreFirmware(*chosen);
    return true;
}

void CVarnelDlg::OnRestoreFirmware(const std::string& path) {
    BeginRun("firmware restore");
    m_runReport.files.push_back({path, "firmware backup", std::nullopt, FileSha256(path)});
    RunAndFinish([this, &path] { RunFirmwareRestore(path); });
}

void CVarnelDlg::RunFirmwareRestore(const std::string& path) {
    // The file first, whole: nothing reaches the card from a file that was
    // cut or altered.
    FirmwareBackup saved;
    std::string why;
    if (const Result<> loaded = LoadFirmwareBackup(path, saved); !loaded) {
        Ask(path + " cannot be restored: " + loaded.Reason() + ".\nNothing was written to the card.", "Cannot Continue",
            MessageIcon::Error);
        return EndRun(RunOutcome::Failed, "Nothing was written.");
    }
    std::vector<std::unique_ptr<CFirmwareImage>> images;
    if (!FirmwareBackupImages(saved, images)) {
        m_host.ShowMessage({kMemoryErrorText, kMemoryErrorCaption, MessageIcon::None, MessageButtons::Ok, false});
        return EndRun(RunOutcome::Failed, "Nothing was written.");
    }
    m_runReport.files.back().version = FirmwareBackupVersions(saved);

    if (!TakeCard()) return;
    if (!ReopenAdapter(true)) {
        CloseAdapterHandle();
        return EndRun(RunOutcome::Failed);
    }
    const auto stop = [this](RunOutcome outcome = RunOutcome::Failed) {
        CloseAdapterHandle();
        EndRun(outcome);
    };
    // The card: its PDA (the restore does not change it, but saves it
    // first), its address and the firmware it runs now. A card whose
    // firmware does not start may answer none of it: the restore is for it.
    CPda cardPda;
    const bool pdaRead = m_adapter.ReadCardPda(cardPda);
    if (!pdaRead) cardPda.Clear();
    std::string mac = m_strNdisMac;
    if (pdaRead) {
        m_pda.CopyFrom(cardPda);
        RefreshCardFields();
        mac = m_strPdaMac;
        m_runReport.mac = m_strPdaMac;
        m_runReport.serial = m_strPdaSerial;
    }
    std::string versionsText;
    CComponentVersion primary, station;
    if (m_adapter.GetFirmwareVersions(versionsText, m_nAdapter, &primary, &station)) {
        m_runReport.before.primary = primary.Format();
        m_runReport.before.station = station.Format();
    }
    BackupPlan backup;
    if (!PlanBackup(MacKey(mac).empty() ? "unknown-mac" : mac, cardPda, backup, why)) {
        Ask(why + " Nothing was written to the card.", "Cannot Continue", MessageIcon::Error);
        m_strStatus = "PDA backup failed! Nothing was written.";
        return stop();
    }
    const bool otherCard = MacKey(saved.mac) != MacKey(mac) || MacKey(mac).empty();

    std::string summary = "Firmware restore: the card's flash is returned to the bytes saved in\n  " + path + "\n";
    summary += "  Saved from the card with MAC address " + (saved.mac.empty() ? "unknown" : saved.mac) +
               (saved.serial.empty() ? "" : ", serial number " + saved.serial) +
               (saved.time.empty() ? "" : ", read " + saved.time) + "\n";
    summary += "  " + std::to_string(saved.ByteCount()) + " bytes in " + std::to_string(saved.ranges.size()) +
               " range(s)\n";
    summary += std::string(kDashes) + "Card MAC Address: " + (mac.empty() ? "unknown" : mac) + "\n";
    if (otherCard) summary += "This backup was saved from ANOTHER card.\n";
    summary += "Current firmware version: " +
               (m_runReport.before.primary ? "Primary " + *m_runReport.before.primary + ", Station " +
                                                 *m_runReport.before.station
                                           : std::string("not read")) +
               "\n";
    summary += "Firmware it returns to: " + FirmwareBackupVersions(saved) + "\n";
    summary += Downgrade("Primary", m_runReport.before.primary, saved.primary);
    summary += Downgrade("Station", m_runReport.before.station, saved.station);
    summary += std::string(kDashes) + "Card PDA will be saved before writing, to: " + backup.path + "\n";
    if (!backup.raw.empty())
        summary += "  The PDA in flash is not valid: its raw bytes will be saved to: " + backup.rawPath + "\n";
    summary += PlanFirmwareBackup(MacKey(mac).empty() ? "" : mac, pdaRead ? m_strPdaSerial : "");

    m_host.SetMainWindow(true, false);
    bool confirmed = m_host.ConfirmSummary(summary);
    if (confirmed && otherCard) {
        Message question{"This backup was saved from the card with MAC address " +
                             (saved.mac.empty() ? std::string("unknown") : saved.mac) + "; this card's is " +
                             (mac.empty() ? std::string("unknown") : mac) +
                             ".\n\nFirmware is plugged with its own card's production data: another card's may not "
                             "work on this one.\n\nAnswer Yes only when this card is to run exactly that firmware.",
                         kOtherCardCaption, MessageIcon::Warning, MessageButtons::YesNo, true};
        question.safeDefault = true;  // Enter answers No
        confirmed = m_host.ShowMessage(question) == MessageAnswer::Yes;
    }
    m_host.SetMainWindow(true, true);
    if (!confirmed) return stop(RunOutcome::Cancelled);

    // The card's PDA is saved before anything is written, as before a PDA write.
    std::string error;
    if (!SaveBackup(backup, &error)) {
        Ask("The card's PDA could not be saved before writing, so nothing was written to the card.\n" + error,
            "Cannot Continue", MessageIcon::Error);
        return stop();
    }
    m_strBackupFile = backup.path;
    m_runReport.backup = backup.path;
    std::vector<CFirmwareImage*> pointers;
    for (const auto& image : images) pointers.push_back(image.get());
    bool pdaWritten = false;
    WriteCard(nullptr, pointers, pdaWritten);
    NameBackup(backup);
    RefreshCardFields();
}

}  // namespace varnel
