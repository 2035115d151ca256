// The runs against the card, step by step: the update, the PDA restore and
// the firmware restore.

#include "ui/update_run.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>

#include "card/flash_reading.h"
#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "pda/pda_diff.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "platform/stop_request.h"
#include "update/compatibility.h"
#include "update/firmware_backup.h"
#include "update/visible_text.h"

namespace varnel {

namespace {

constexpr size_t kImageSlots = 10;
constexpr const char* kDashes = "---------------------\n";
constexpr const char* kTypeUnknownText =
    "The card's type could not be read, so where its PDA lies in flash is not known. Nothing was written to the "
    "card.";

std::string ImageVersions(const CFirmwareFile& file) {
    std::string text;
    if (file.m_primary.present) text = "Primary " + file.m_primary.Format();
    if (file.m_station.present) text += (text.empty() ? "" : ", ") + std::string("Station ") + file.m_station.Format();
    return text;
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

// A backup from another card is written only when the user asks for it by
// name: Enter, Esc and --yes answer No.
constexpr const char* kOtherCardCaption = "Restore Another Card's Firmware?";

// "00:60:1d:12:34:56" and "00-60-1D-12-34-56" alike; "" for no address.
std::string MacKey(const std::string& mac) {
    std::string key;
    for (const char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key == "000000000000" ? std::string() : key;
}

// The summary's downgrade line for one component, when both versions are known.
std::string Downgrade(const char* component, const std::optional<std::string>& card,
                      const std::optional<std::string>& restored) {
    CComponentVersion now, then;
    if (!card || !restored || !ParseComponentVersion(*card, now) || !ParseComponentVersion(*restored, then)) return {};
    return DowngradeLine(component, now, then);
}

std::string OrUnknown(const std::string& mac) { return mac.empty() ? std::string("unknown") : mac; }

}  // namespace

std::string ReadCardVersions(CAdapter& adapter, int index, CardVersions& versions) {
    std::string text;
    CComponentVersion primary, station;
    if (adapter.GetFirmwareVersions(text, index, &primary, &station)) {
        versions.primary = primary.Format();
        versions.station = station.Format();
    }
    return text;
}

struct UpdateRun::ImageSlot {
    CFirmwareFile file;
    CFirmwareImage image;
};

UpdateRun::UpdateRun(CVarnelDlg::RunAccess dialog) : m_dlg(dialog) {}

UpdateRun::~UpdateRun() = default;

// ---- The update.

void UpdateRun::Update() {
    if (!CheckFileList() || !TakeCard()) return;
    if (m_adapter->IsOpen()) {
        // Unless a new PDA reaches the card, the run ends with the dialog
        // holding the card's own PDA again, never the merge of a run that
        // stopped.
        struct KeepCardPda {
            UpdateRun& run;
            ~KeepCardPda() {
                if (run.m_pdaWritten) return;
                run.m_dlg.Pda().CopyFrom(run.m_cardPda);
                run.m_dlg.RefreshCardFields();
            }
        } keepCardPda{*this};
        if (!ReadCard() || !MergePdaFiles() || !PlanPdaWrite() || !LoadImages()) return;
        if (!CheckImages() || !ConfirmUpdate()) m_dlg.SetLastRun(m_declined);
        else if (!WriteUpdate()) return;
    }
    m_adapter.reset();
    m_dlg.RefreshCardFields();
}

bool UpdateRun::CheckFileList() {
    CListCtrlHelper& files = m_dlg.FileList();
    if (files.GetCount() == 0) {
        m_dlg.Ask("You must select at least one file to update card", "No files selected", MessageIcon::Information);
        return false;
    }
    if (!m_dlg.UserHost().ConfirmWarning("Warning !!",
                                         "Do not detach the STA in the period of firmware downloaded.  If you do, that "
                                         "might cause a serious damage!")) {
        m_dlg.EndRun(RunOutcome::Cancelled);
        return false;
    }
    // The card takes new primary code and new PDA only with station code.
    if (files.FindFirstOfType(kFileStation) >= 0 || files.FindFirstOfType(kFilePrimaryStation) >= 0) return true;
    if (files.FindFirstOfType(kFilePda) >= 0 &&
        m_dlg.Ask("Warning - PDA changes will not take effect without station code. ", "Warning", MessageIcon::Warning,
                  MessageButtons::OkCancel) != MessageAnswer::Ok) {
        m_dlg.EndRun(RunOutcome::Cancelled, "User cancelled download.");
        return false;
    }
    if (files.FindFirstOfType(kFilePrimary) >= 0) {
        m_dlg.Ask("Error - Card requires Station code when updating Primary.", "Error", MessageIcon::Error);
        m_dlg.EndRun(RunOutcome::Failed, "Add Station code to the list.");
        return false;
    }
    return true;
}

bool UpdateRun::ReadCard() {
    ReadCardPda();
    if (!m_pdaRead) {
        m_dlg.Pda().Clear();
        return true;
    }
    const std::string versions = ReadCardVersions(m_dlg.Adapter(), m_dlg.AdapterNumber(), m_dlg.Report().before);
    m_summary = "Product Part Number: " + m_dlg.PartNumber() + "\n  Serial Number: " + m_dlg.PdaSerial() +
                "\n  MAC Address: " + m_dlg.PdaMac() + "\n  Current firmware version: " + versions + "\n";
    return true;
}

bool UpdateRun::MergePdaFiles() {
    // The .pda files come first in the list.
    std::string path;
    while (m_dlg.FileList().GetPath(m_pdaFiles, path) && IsPdaPath(path)) {
        if (!m_dlg.LoadPdaFile(path, &m_dlg.FileList().Entries()[static_cast<size_t>(m_pdaFiles)])) {
            m_dlg.Ask("Error loading " + VisibleText(path), "Error", MessageIcon::Error);
            m_dlg.EndRun(RunOutcome::Failed);
            return false;
        }
        ++m_pdaFiles;
    }
    if (m_pdaFiles > 0 && !RefuseAssumedCardType()) return false;
    return m_pdaRead || ReplaceUnreadPda();
}

// Without the card's PDA nothing is written and no image is plugged, unless
// the .pda files hold a whole PDA and the user asks, in so many words, to
// put it in place of whatever the card holds.
bool UpdateRun::ReplaceUnreadPda() {
    if (m_pdaFiles == 0 || m_dlg.Pda().FindRecord(kPdrMacAddress) == nullptr) {
        m_dlg.Ask("The card's production data (PDA) could not be read, so nothing was written to the card.",
                  "Cannot Continue", MessageIcon::Error);
        m_dlg.SetStatus("PDA read error! Nothing was written.");
        Stop();
        return false;
    }
    m_dlg.RefreshCardFields();
    Message question{"The card's production data (PDA) could not be read.\n\nThe .pda files hold a whole "
                     "PDA, with MAC address " +
                         m_dlg.PdaMac() +
                         ". Write it as the card's PDA? It replaces all the card's production data: MAC "
                         "address, serial number, part number, platform and calibration tables.\n\nAnswer "
                         "Yes only when these files are this card's own PDA.",
                     "Replace the Card's PDA?", MessageIcon::Warning, MessageButtons::YesNo, true};
    question.safeDefault = true;  // Enter answers No
    if (m_dlg.UserHost().ShowMessage(question) != MessageAnswer::Yes) {
        m_dlg.SetStatus("PDA read error! Nothing was written.");
        Stop(RunOutcome::Cancelled);
        return false;
    }
    m_dlg.SetStatus("PDA read error! User chose to continue.");
    m_summary = "Card PDA could not be read: it is replaced by the PDA of the .pda files.\n"
                "  MAC Address: " +
                m_dlg.PdaMac() + "\n";
    return true;
}

// Set point and integrator values; the PDA must fit the card; the copy in
// flash, which the write replaces, is read for its backup.
bool UpdateRun::PlanPdaWrite() {
    if (m_pdaFiles == 0) return true;
    CPda& pda = m_dlg.Pda();
    m_summary += std::string(kDashes) + std::to_string(m_pdaFiles) + " PDA file(s) Loaded OK\n";
    const int setPoint = ConfigureSetPointAndIntegrator(pda);
    if (setPoint < 0) {
        m_dlg.Ask(SetPointText(setPoint), "ERROR", MessageIcon::Error);
        m_dlg.EndRun(RunOutcome::Failed);
        return false;
    }
    m_summary += std::string(SetPointText(setPoint)) + "\n";
    if (pda.ToWords().empty()) {
        m_dlg.Ask("The merged PDA is too large for the card: its records take more than " +
                      std::to_string(PdaMaxWords) + " words. Nothing was written to the card.",
                  "Cannot Continue", MessageIcon::Error);
        m_dlg.EndRun(RunOutcome::Failed);
        return false;
    }
    std::vector<PdaChange> changes = DiffPda(m_cardPda, pda);
    m_summary += "Changes to the card's PDA:\n" + FormatPdaDiff(changes);
    // A card whose PDA could not be read was asked about before.
    if (m_pdaRead) {
        m_identityChange = FormatIdentityChange(IdentityOf(m_cardPda), IdentityOf(pda));
        m_summary = IdentityLine(m_identityChange) + m_summary;
    }
    if (!PlanPdaBackup(m_mac.empty() ? "unknown-mac" : m_mac)) return false;
    m_summary += BackupLines();
    m_dlg.Report().pdaWrite = true;
    m_dlg.Report().pdaChanges = std::move(changes);
    return true;
}

bool UpdateRun::LoadImages() {
    CListCtrlHelper& files = m_dlg.FileList();
    m_slots.resize(kImageSlots);
    std::string path;
    for (int k = m_pdaFiles; k < files.GetCount() && static_cast<size_t>(k - m_pdaFiles) < kImageSlots; ++k) {
        files.GetPath(k, path);
        auto& slot = m_slots[static_cast<size_t>(k - m_pdaFiles)] = std::make_unique<ImageSlot>();
        if (slot->file.LoadFile(path, &slot->image, &m_plugs) == 0) {
            if (slot->file.InternalError())
                m_dlg.UserHost().ShowMessage(
                    {kMemoryErrorText, kMemoryErrorCaption, MessageIcon::None, MessageButtons::Ok, false});
            // The reader's own reason, with its line number, follows.
            const std::string& reason = slot->file.LastFinding();
            m_dlg.Ask("Error in file " + VisibleText(path) +
                          (slot->file.InternalError() || reason.empty() ? "" : "\n" + reason),
                      "Cannot Continue", MessageIcon::Error);
            m_dlg.Ask("Error Loading Files. Update will not start.", "Cannot Continue", MessageIcon::Error);
            m_dlg.EndRun(RunOutcome::Failed);
            return false;
        }
        ImagePlugs& report = m_dlg.Report().plugs.emplace_back(ImagePlugs{path, {}});
        slot->file.PlugImage(slot->image, m_plugs, m_dlg.Pda(), path, &report.plugs);
        m_imagePaths.push_back(path);
        for (RunFile& file : m_dlg.Report().files)
            if (file.path == path) file.version = ImageVersions(slot->file);
    }
    return true;
}

// An image for the card's RAM is refused here, before anything is written.
bool UpdateRun::CheckImages() {
    for (size_t j = 0; j < m_imagePaths.size(); ++j) {
        m_summary += std::string(kDashes) + "Source File: \"" + VisibleText(m_imagePaths[j]) + "\"\n";
        if (m_slots[j]->image.m_startAddress != 0) {
            m_dlg.Ask("Sorry, RAM downloads are not supported.", "Cannot Continue", MessageIcon::Error);
            return false;
        }
        bool cancelled = false;
        if (!CheckImage(m_slots[j]->file, m_dlg.Pda(), m_dlg.Adapter(), m_dlg.UserHost(), m_summary, &cancelled)) {
            if (cancelled) m_declined = RunOutcome::Cancelled;
            return false;
        }
    }
    return true;
}

bool UpdateRun::ConfirmUpdate() {
    if (!m_imagePaths.empty())
        m_summary += std::string(kDashes) + m_dlg.PlanFirmwareBackup(m_mac, m_pdaRead ? m_dlg.PdaSerial() : "");
    m_declined = RunOutcome::Cancelled;
    return Confirm(m_summary, [this] { return ConfirmIdentity(m_dlg.UserHost(), m_identityChange); });
}

bool UpdateRun::WriteUpdate() {
    std::vector<CFirmwareImage*> images;
    for (size_t j = 0; j < m_imagePaths.size(); ++j) images.push_back(&m_slots[j]->image);
    return WriteCard(m_pdaFiles > 0, images);
}

// ---- The PDA restore.

void UpdateRun::RestorePda(const std::string& path, bool forceIncomplete) {
    // The file first: nothing reaches the card unless it is a PDA the card
    // can hold.
    CPda restored;
    if (!LoadRestoredPda(path, forceIncomplete, restored) || !TakeCard()) return;
    if (!m_adapter->IsOpen()) return Stop();
    if (!RefuseAssumedCardType()) return;
    // The card's PDA, for the summary and the backup; a card whose PDA
    // cannot be read is what a restore is for, so the run goes on without.
    ReadCardPda();
    if (m_pdaRead) ReadCardVersions(m_dlg.Adapter(), m_dlg.AdapterNumber(), m_dlg.Report().before);
    if (!PlanPdaBackup(m_mac.empty() ? "unknown-mac" : m_mac)) return;
    m_dlg.Report().pdaWrite = true;
    m_dlg.Report().pdaChanges = DiffPda(m_cardPda, restored);

    // The identity the card has: its PDA's, else the address its driver
    // reports (a card whose PDA cannot be read keeps that one).
    PdaIdentity identity = IdentityOf(restored);
    if (m_pdaRead) identity = IdentityOf(m_cardPda);
    else if (!m_dlg.NdisMac().empty() && m_dlg.NdisMac() != "00-00-00-00-00-00") identity.mac = m_dlg.NdisMac();
    const std::string identityChange = FormatIdentityChange(identity, IdentityOf(restored));

    if (!Confirm(RestoreSummary(path, restored, identityChange),
                 [&] { return ConfirmIdentity(m_dlg.UserHost(), identityChange); })) {
        m_dlg.Pda().CopyFrom(m_cardPda);
        m_dlg.RefreshCardFields();
        return Stop(RunOutcome::Cancelled);
    }
    m_dlg.Pda().CopyFrom(restored);
    m_restored = "PDA Restored!   \n\nThe card's PDA now holds exactly the records of\n" + VisibleText(path);
    if (!WriteCard(true, {}) && !m_pdaWritten) m_dlg.Pda().CopyFrom(m_cardPda);
    m_dlg.RefreshCardFields();
}

bool UpdateRun::LoadRestoredPda(const std::string& path, bool forceIncomplete, CPda& restored) {
    std::string refusal;
    if (const Result<> merged = MergePdaTextFile(restored, path); !merged) {
        m_dlg.Ask("Error loading " + VisibleText(path) + "\n" + merged.Reason(), "Error", MessageIcon::Error);
        m_dlg.EndRun(RunOutcome::Failed, "Nothing was written.");
        return false;
    }
    if (!forceIncomplete && restored.FindRecord(kPdrMacAddress) == nullptr)
        refusal = path + " holds no MAC address record (0x0101), so it is not a whole PDA. Nothing was written to the "
                         "card.";
    else if (restored.ToWords().empty())
        refusal = path + " is too large for the card: its records take more than " + std::to_string(PdaMaxWords) +
                  " words. Nothing was written to the card.";
    if (refusal.empty()) return true;
    m_dlg.Ask(refusal, "Cannot Continue", MessageIcon::Error);
    m_dlg.EndRun(RunOutcome::Failed, "Nothing was written.");
    return false;
}

std::string UpdateRun::RestoreSummary(const std::string& path, const CPda& restored,
                                      const std::string& identityChange) const {
    std::string summary = IdentityLine(identityChange) +
                          "PDA restore: the card's PDA is replaced by exactly the records of\n  " + VisibleText(path) +
                          "\n";
    summary += m_pdaRead ? "  Card MAC Address: " + m_dlg.PdaMac() + "\n" : "  The card's PDA could not be read.\n";
    if (restored.FindRecord(kPdrMacAddress) == nullptr)
        summary += "  The file holds no MAC address record: the card will have none.\n";
    summary += std::string(kDashes) + "Changes to the card's PDA:\n" + FormatPdaDiff(m_dlg.Report().pdaChanges);
    return summary + kDashes + BackupLines();
}

// ---- The firmware restore.

void UpdateRun::RestoreFirmware(const std::string& path) {
    // The file first, whole: nothing reaches the card from a file that was
    // cut or altered.
    FirmwareBackup saved;
    std::vector<std::unique_ptr<CFirmwareImage>> images;
    if (!LoadBackupFile(path, saved, images) || !TakeCard()) return;
    if (!m_adapter->IsOpen()) return Stop();
    // The whole plan against the card before anything is read or written:
    // only its firmware area, below the sector that holds its PDA. The PDA
    // is never written as firmware: it goes back through its own restore,
    // with its identity question and its backup.
    const uint32_t flashEnd = CardFlashEnd(m_dlg.Adapter());
    const uint32_t pdaSector = (m_dlg.Adapter().m_dwPdaAddress & ~kNvramBit) & ~(kPieceBoundary - 1);
    const Result<> fits = flashEnd == 0 ? Result<>(Failure{"the card's type is not known, so neither is its flash"})
                                        : CheckFirmwareBackupRanges(saved, 0, pdaSector, pdaSector, flashEnd);
    if (!fits) {
        m_dlg.Ask(VisibleText(path) + " cannot be restored to this card: " + fits.Reason() +
                      ".\nNothing was written to the card.",
                  "Cannot Continue", MessageIcon::Error);
        return Stop();
    }
    // The card: its PDA (the restore does not change it, but saves it
    // first), its address and the firmware it runs now. A card whose
    // firmware does not start may answer none of it: the restore is for it.
    ReadCardPda();
    ReadCardVersions(m_dlg.Adapter(), m_dlg.AdapterNumber(), m_dlg.Report().before);
    if (!PlanPdaBackup(MacKey(m_mac).empty() ? "unknown-mac" : m_mac)) return;
    const bool otherCard = MacKey(saved.mac) != MacKey(m_mac) || MacKey(m_mac).empty();
    if (!Confirm(FirmwareRestoreSummary(path, saved, otherCard), [&] { return !otherCard || ConfirmOtherCard(saved); }))
        return Stop(RunOutcome::Cancelled);
    // The card's PDA is saved before anything is written, as before a PDA write.
    if (!SavePdaBackup("The card's PDA could not be saved before writing, so nothing was written to the card.\n"))
        return;
    std::vector<CFirmwareImage*> pointers;
    for (const auto& image : images) pointers.push_back(image.get());
    m_restored = "Firmware Restored!   \n\nThe card's flash holds again the bytes saved in\n" + VisibleText(path);
    m_restoring = &saved;
    WriteCard(false, pointers);
    m_restoring = nullptr;
    m_dlg.NameBackup(m_backup);
    m_dlg.RefreshCardFields();
}

bool UpdateRun::LoadBackupFile(const std::string& path, FirmwareBackup& saved,
                               std::vector<std::unique_ptr<CFirmwareImage>>& images) {
    if (const Result<> loaded = LoadFirmwareBackup(path, saved); !loaded) {
        m_dlg.Ask(VisibleText(path) + " cannot be restored: " + loaded.Reason() + ".\nNothing was written to the card.",
                  "Cannot Continue", MessageIcon::Error);
        m_dlg.EndRun(RunOutcome::Failed, "Nothing was written.");
        return false;
    }
    if (!FirmwareBackupImages(saved, images)) {
        m_dlg.UserHost().ShowMessage(
            {kMemoryErrorText, kMemoryErrorCaption, MessageIcon::None, MessageButtons::Ok, false});
        m_dlg.EndRun(RunOutcome::Failed, "Nothing was written.");
        return false;
    }
    m_dlg.Report().files.back().version = DataVersionsText(FirmwareDataVersions(saved.ranges));
    return true;
}

std::string UpdateRun::FirmwareRestoreSummary(const std::string& path, const FirmwareBackup& saved, bool otherCard) {
    const CardVersions& before = m_dlg.Report().before;
    // Every text of the file shown with its control characters made visible.
    std::string summary =
        "Firmware restore: the card's flash is returned to the bytes saved in\n  " + VisibleText(path) + "\n";
    summary += "  Saved from the card with MAC address " + VisibleText(OrUnknown(saved.mac)) +
               (saved.serial.empty() ? "" : ", serial number " + VisibleText(saved.serial)) +
               (saved.time.empty() ? "" : ", read " + VisibleText(saved.time)) +
               (saved.headerProven ? "" : " (its header is not proven by a digest: an older backup)") + "\n";
    summary +=
        "  " + std::to_string(saved.ByteCount()) + " bytes in " + std::to_string(saved.ranges.size()) + " range(s)\n";
    summary += std::string(kDashes) + "Card MAC Address: " + OrUnknown(m_mac) + "\n";
    if (otherCard) summary += "This backup was saved from ANOTHER card.\n";
    summary +=
        "Current firmware version: " +
        (before.primary ? "Primary " + *before.primary + ", Station " + *before.station : std::string("not read")) +
        "\n";
    // What the data themselves hold, never what the header names.
    const DataVersions returned = FirmwareDataVersions(saved.ranges);
    summary += "Firmware it returns to (read from the data written): " + DataVersionsText(returned) + "\n";
    summary += Downgrade("Primary", before.primary, returned.primary);
    summary += Downgrade("Station", before.station, returned.station);
    summary += std::string(kDashes) + BackupLines();
    return summary + m_dlg.PlanFirmwareBackup(MacKey(m_mac).empty() ? "" : m_mac, m_pdaRead ? m_dlg.PdaSerial() : "");
}

bool UpdateRun::ConfirmOtherCard(const FirmwareBackup& saved) {
    Message question{"This backup was saved from the card with MAC address " + VisibleText(OrUnknown(saved.mac)) +
                         "; this card's is " + OrUnknown(m_mac) +
                         ".\n\nFirmware is plugged with its own card's production data: another card's may not "
                         "work on this one.\n\nAnswer Yes only when this card is to run exactly that firmware.",
                     kOtherCardCaption, MessageIcon::Warning, MessageButtons::YesNo, true};
    question.safeDefault = true;  // Enter answers No
    return m_dlg.UserHost().ShowMessage(question) == MessageAnswer::Yes;
}

// ---- The steps every run shares.

bool UpdateRun::TakeCard() {
    if (!m_dlg.TakeCard()) return false;
    m_adapter = m_dlg.OpenAdapter();
    return true;
}

void UpdateRun::ReadCardPda() {
    m_pdaRead = m_dlg.Adapter().ReadCardPda(m_cardPda);
    if (!m_pdaRead) {
        m_cardPda.Clear();
        m_mac = m_dlg.NdisMac();
        return;
    }
    m_dlg.Pda().CopyFrom(m_cardPda);
    m_dlg.RefreshCardFields();
    m_mac = m_dlg.PdaMac();
    m_dlg.Report().mac = m_dlg.PdaMac();
    m_dlg.Report().serial = m_dlg.PdaSerial();
}

bool UpdateRun::RefuseAssumedCardType() {
    if (!m_dlg.Adapter().m_bCardTypeAssumed) return true;
    m_dlg.Ask(kTypeUnknownText, "Cannot Continue", MessageIcon::Error);
    m_dlg.SetStatus("Card type unknown! Nothing was written.");
    Stop();
    return false;
}

bool UpdateRun::PlanPdaBackup(const std::string& mac) {
    Result<CVarnelDlg::RunAccess::BackupPlan> plan = m_dlg.PlanBackup(mac, m_cardPda);
    if (plan) {
        m_backup = std::move(*plan);
        return true;
    }
    m_dlg.Ask(plan.Reason() + " Nothing was written to the card.", "Cannot Continue", MessageIcon::Error);
    m_dlg.SetStatus("PDA backup failed! Nothing was written.");
    Stop();
    return false;
}

std::string UpdateRun::BackupLines() const {
    std::string lines = "Card PDA will be saved before writing, to: " + m_backup.path + "\n";
    if (!m_backup.raw.empty())
        lines += "  The PDA in flash is not valid: its raw bytes will be saved to: " + m_backup.rawPath + "\n";
    return lines;
}

bool UpdateRun::Confirm(const std::string& summary, const std::function<bool()>& question) {
    m_dlg.UserHost().SetMainWindow(true, false);
    const bool confirmed = m_dlg.UserHost().ConfirmSummary(summary) && question();
    m_dlg.UserHost().SetMainWindow(true, true);
    return confirmed;
}

bool UpdateRun::SavePdaBackup(const std::string& failure) {
    if (const Result<> saved = m_dlg.SaveBackup(m_backup); !saved) {
        m_dlg.Ask(failure + saved.Reason(), "Cannot Continue", MessageIcon::Error);
        Stop();
        return false;
    }
    m_dlg.Report().backup = m_backup.path;
    return true;
}

void UpdateRun::Stop(RunOutcome outcome) { m_dlg.EndRun(outcome); }

// ---- The writing.

bool UpdateRun::WriteCard(bool backup, const std::vector<CFirmwareImage*>& images) {
    // Until the first write a stop request cancels the run at once (the
    // reads of the backups write nothing); BeginWriting makes it wait for
    // the piece in flight.
    if (StopRequested()) {
        m_dlg.StopBeforeWriting();
        return false;
    }
    // What the backup read stands for the card only in this run.
    struct ForgetKnownFlash {
        CAdapter& adapter;
        ~ForgetKnownFlash() { adapter.m_knownFlash = nullptr; }
    } forgetKnownFlash{m_dlg.Adapter()};
    // The firmware the images overwrite is read first (and saved beside the
    // PDA's backup).
    if (m_dlg.FirmwareBackupWanted() && !images.empty() && !m_dlg.BackUpFirmware(images, backup)) return false;
    if (backup && !WritePda()) return false;
    if (!m_dlg.StoreFirmwareBackup() || !WriteImages(backup, images)) return false;
    ReportSuccess(backup, !images.empty());
    return true;
}

// The moment before the first write: from here on a stop request waits for
// the piece in flight.
void UpdateRun::BeginWriting() {
    if (m_dlg.Report().writingBegan) return;
    SetStopMode(StopMode::Defer);
    m_dlg.Report().writingBegan = true;
    m_dlg.RecordBegun();
}

// Nothing the card had is lost: the PDA the write replaces is saved first.
bool UpdateRun::WritePda() {
    if (!SavePdaBackup("The card's PDA could not be saved before writing a new one, so nothing was written to the "
                       "card.\n") ||
        !m_dlg.StoreFirmwareBackup())
        return false;
    if (StopRequested()) {
        m_dlg.StopBeforeWriting();
        return false;
    }
    BeginWriting();
    const bool written = m_dlg.WritePdaToCard();
    if (!written && m_dlg.Adapter().m_bStopped) {
        // Only the card's setup requests went out: nothing was written.
        m_dlg.Report().writingBegan = false;
        m_dlg.StopBeforeWriting();
        return false;
    }
    if (!written) {
        m_dlg.SetStatus("PDA Update FAILED");
        m_dlg.NameBackup(m_backup);
        m_dlg.NameFirmwareBackup();
        Stop();
        return false;
    }
    m_pdaWritten = true;
    return true;
}

bool UpdateRun::WriteImages(bool backup, const std::vector<CFirmwareImage*>& images) {
    CAdapter& adapter = m_dlg.Adapter();
    const CVarnelDlg::RunAccess::BackupPlan* saved = backup ? &m_backup : nullptr;
    adapter.CheckDriverSupport();
    for (size_t j = 0; j < images.size(); ++j) {
        // Written so far: the PDA, the images before this one.
        const bool wrote = m_pdaWritten || j > 0;
        if (StopRequested()) {
            m_dlg.EndWaiting();
            if (wrote) m_dlg.StopWhileWriting(saved, m_pdaWritten, j, images.size(), false);
            else m_dlg.StopBeforeWriting();
            return false;
        }
        BeginWriting();
        const std::vector<ImagePlugs>& plugs = m_dlg.Report().plugs;
        if (m_dlg.FlashImage(*images[j], CVarnelDlg::ImageLine(j < plugs.size() ? plugs[j].file : "", j, images.size()),
                             j + 1 < images.size()))
            continue;
        if (adapter.m_bStopped) {
            if (wrote || adapter.m_nPiecesWritten > 0) {
                m_dlg.StopWhileWriting(saved, m_pdaWritten, j, images.size(), true);
            } else {
                m_dlg.Report().writingBegan = false;
                m_dlg.StopBeforeWriting();
            }
            return false;
        }
        if (backup) m_dlg.NameBackup(m_backup);
        m_dlg.NameFirmwareBackup();
        m_dlg.Ask("Update failed while writing to card!", "", MessageIcon::None);
        m_dlg.RefreshCardFields();
        Stop();
        return false;
    }
    if (m_restoring && !CheckRestoredFlash()) return false;
    adapter.CheckDriverSupport();
    adapter.BlockProtocols(false);
    adapter.EndCardAccess();
    return true;
}

// A restore is a success only when the flash holds what it promised: every
// range read back and compared with the backup's bytes (where ranges
// overlap, the one written last).
bool UpdateRun::CheckRestoredFlash() {
    const std::vector<FlashRange>& ranges = m_restoring->ranges;
    // The spans the ranges cover, each read once.
    std::vector<FlashSpan> spans;
    for (const FlashRange& r : ranges) spans.push_back({r.address, r.End()});
    std::sort(spans.begin(), spans.end(), [](const FlashSpan& a, const FlashSpan& b) { return a.start < b.start; });
    std::vector<FlashSpan> joined;
    for (const FlashSpan& s : spans) {
        if (!joined.empty() && s.start <= joined.back().end) joined.back().end = std::max(joined.back().end, s.end);
        else joined.push_back(s);
    }
    ProgressBar& progress =
        m_dlg.UserHost().ShowWaitWindow("Reading the card's flash back to check the restore...", "");
    std::string difference;
    for (const FlashSpan& span : joined) {
        std::vector<uint8_t> expected(span.Size());
        for (const FlashRange& r : ranges)
            if (r.address >= span.start && r.End() <= span.end)
                std::copy(r.bytes.begin(), r.bytes.end(), expected.begin() + (r.address - span.start));
        std::vector<uint8_t> read;
        uint32_t failedAt = 0;
        if (!ReadCardFlash(m_dlg.Adapter(), span, read, &progress, &failedAt)) {
            difference = "the flash could not be read back at " + std::to_string(failedAt);
            break;
        }
        const auto mismatch = std::mismatch(read.begin(), read.end(), expected.begin());
        if (mismatch.first != read.end()) {
            char at[16];
            std::snprintf(at, sizeof at, "0x%06X", static_cast<unsigned>(span.start + (mismatch.first - read.begin())));
            difference = std::string("the flash at ") + at + " does not hold the backup's byte";
            break;
        }
    }
    m_dlg.UserHost().HideWaitWindow();
    if (difference.empty()) return true;
    m_dlg.NameBackup(m_backup);
    m_dlg.NameFirmwareBackup();
    m_dlg.Ask("The restore was written, but " + difference +
                  ": the card does not hold what the backup holds. Restore it again.",
              "Restore Failed", MessageIcon::Error);
    m_dlg.SetStatus("Restore FAILED: the flash is not what the backup holds");
    m_dlg.RefreshCardFields();
    Stop();
    return false;
}

void UpdateRun::ReportSuccess(bool backup, bool images) {
    if (backup) {
        if (!images) m_dlg.SetStatus("Update Successful!");
        m_dlg.NameBackup(m_backup);
    }
    m_dlg.NameFirmwareBackup();
    // The box says where the card's PDA and firmware were saved, with the
    // whole paths; a restore's says what it put back.
    std::string saved;
    if (!m_dlg.Report().backup.empty()) saved += "\nCard PDA saved to " + m_dlg.Report().backup;
    if (m_dlg.FirmwareBackupSaved()) saved += "\nCard firmware saved to " + m_dlg.FirmwareBackupPath();
    m_dlg.Ask((m_restored.empty() ? "Update Successful!   " : m_restored) + (saved.empty() ? "" : "\n" + saved),
              "Update Complete", MessageIcon::Information);
    m_dlg.SetLastRun(RunOutcome::Succeeded);
}

}  // namespace varnel
