// The update run ("Update!"): from the file list to a programmed card.

#include <array>
#include <chrono>
#include <ctime>
#include <memory>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "platform/atomic_file.h"
#include "ui/varnel_dlg.h"
#include "update/compatibility.h"

namespace varnel {

namespace {

constexpr size_t kImageSlots = 10;
constexpr const char* kDashes = "---------------------\n";

struct ImageSlot {
    CFirmwareFile file;
    CFirmwareImage image;
};

std::string UtcStamp(const char* format) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[40];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

// A backup file name no earlier backup has taken: STEM.pda, else STEM-2.pda...
std::string FreeBackupPath(const std::filesystem::path& directory, const std::string& stem) {
    std::error_code ec;
    std::filesystem::path path = directory / (stem + ".pda");
    for (int n = 2; std::filesystem::exists(path, ec); ++n) path = directory / (stem + "-" + std::to_string(n) + ".pda");
    return path.string();
}

}  // namespace

void CVarnelDlg::EndRun(RunOutcome outcome, const std::string& status) {
    m_lastRun = outcome;
    if (!status.empty()) {
        m_strStatus = status;
        UpdateData();
    }
}

void CVarnelDlg::OnUpdate() {
    m_lastRun = RunOutcome::Failed;
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

    // 4. Open the card.
    if (ReopenAdapter(true)) {
        const auto stop = [this](RunOutcome outcome = RunOutcome::Failed) {
            CloseAdapterHandle();
            EndRun(outcome);
        };

        // 5. The card's PDA, and the summary's card lines. The PDA as read
        // is kept for the backup taken before a new one is written.
        std::string summary;
        std::string backupMac = "unknown-mac";
        const bool pdaRead = m_adapter.ReadCardPda(m_pda);
        if (pdaRead) {
            RefreshCardFields();
            std::string versions;
            m_adapter.GetFirmwareVersions(versions, m_nAdapter);
            summary = "Product Part Number: " + m_strPartNumber + "\n  Serial Number: " + m_strPdaSerial +
                      "\n  MAC Address: " + m_strPdaMac + "\n  Current firmware version: " + versions + "\n";
            if (!m_strPdaMac.empty()) backupMac = m_strPdaMac;
        }
        // Whatever the card held, valid or not, is what the backup keeps.
        const std::string backupText =
            FormatPdaText(m_pda, "Varnel backup of the card's PDA, read before an update\nAdapter " +
                                     std::to_string(m_nAdapter) + ", MAC address " + backupMac + "\nRead " +
                                     UtcStamp("%Y-%m-%dT%H:%M:%SZ"));
        if (!pdaRead) {
            m_pda.Clear();
            m_strStatus = "PDA read error! User chose to continue.";
        }

        // 6. PDA files (they come first in the list).
        int i = 0;
        bool pdaFilesLoaded = false;
        std::string path;
        while (m_fileList.GetPath(i, path) && IsPdaPath(path)) {
            if (!LoadPdaFile(path)) {
                CloseAdapterHandle();
                Ask("Error loading " + path, "Error", MessageIcon::Error);
                return EndRun(RunOutcome::Failed);
            }
            pdaFilesLoaded = true;
            ++i;
        }

        // 7. Set point and integrator values; the PDA must fit the card.
        std::string backupPath;
        if (i > 0) {
            summary += std::string(kDashes) + std::to_string(i) + " PDA file(s) Loaded OK\n";
            const int setPoint = ConfigureSetPointAndIntegrator(m_pda);
            if (setPoint < 0) {
                CloseAdapterHandle();
                Ask("Set Point and Integrator values could not be set", "ERROR", MessageIcon::Error);
                return EndRun(RunOutcome::Failed);
            }
            summary += setPoint > 0 ? "Set Point and Integrator Values Calculated.\n" : "No Set Point and Integrator Values.\n";
            if (m_pda.ToWords().empty()) {
                CloseAdapterHandle();
                Ask("The merged PDA is too large for the card: its records take more than " +
                        std::to_string(PdaMaxWords) + " words. Nothing was written to the card.",
                    "Cannot Continue", MessageIcon::Error);
                return EndRun(RunOutcome::Failed);
            }
            backupPath = FreeBackupPath(m_backupDirectory, "pda-" + backupMac + "-" + UtcStamp("%Y%m%dT%H%M%SZ"));
            summary += "Card PDA saved before writing to: " + backupPath + "\n";
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
                Ask("Error in file " + path, "Cannot Continue", MessageIcon::Error);
                loadOk = false;
                break;
            }
            slot->file.PlugImage(slot->image, plugs, m_pda, path);
            imagePaths.push_back(path);
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
        if (checksOk) {
            m_host.SetMainWindow(true, false);
            if (!m_host.ConfirmSummary(summary)) {
                checksOk = false;
                declined = RunOutcome::Cancelled;
            }
            m_host.SetMainWindow(true, true);
        }

        // 13. Writing.
        if (checksOk) {
            if (pdaFilesLoaded) {
                // Nothing the card had is lost: its PDA as read is saved first.
                std::string error;
                std::error_code ec;
                std::filesystem::create_directories(m_backupDirectory, ec);
                if (!WriteFileAtomically(backupPath, backupText, &error)) {
                    Ask("The card's PDA could not be saved before writing a new one, so nothing was written to "
                        "the card.\n" + error,
                        "Cannot Continue", MessageIcon::Error);
                    return stop();
                }
                m_strBackupFile = backupPath;
                if (!WritePdaToCard()) return stop();
            }
            m_adapter.CheckDriverSupport();
            for (size_t j = 0; j < imagePaths.size(); ++j) {
                if (!FlashImage(slots[j]->image)) {
                    CloseAdapterHandle();
                    Ask("Update failed while writing to card!", "", MessageIcon::None);
                    RefreshCardFields();
                    return EndRun(RunOutcome::Failed);
                }
            }
            m_adapter.CheckDriverSupport();
            m_adapter.BlockProtocols(false);
            m_adapter.EndCardAccess();
            CloseAdapterHandle();
            Ask("Update Successful!   ", "Update Complete", MessageIcon::Information);
            m_lastRun = RunOutcome::Succeeded;
        } else {
            m_lastRun = declined;
        }
        // 14. The slots and the plug list go with this scope.
    }
    // 15.
    CloseAdapterHandle();
    RefreshCardFields();
}

bool CVarnelDlg::FlashImage(CFirmwareImage& image) {
    if (!m_adapter.IsOpen()) {
        Ask("Error: Adapter is not open.", "", MessageIcon::None);
        return false;
    }
    if (image.m_startAddress != 0) {
        Ask("Sorry, RAM downloads are not supported.", "Cannot Continue", MessageIcon::Error);
        return false;
    }
    m_host.SetMainWindow(false, false);
    ProgressBar& progress = m_host.ShowWaitWindow("Flash update in progress...");
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
    if (!ok) Ask("PDA Update FAILED", "PDA Update Complete", MessageIcon::None);
    m_host.SetMainWindow(true, true);
    SetCursorShape(Cursor::Arrow);
    return ok;
}

}  // namespace varnel
