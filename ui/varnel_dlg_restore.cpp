// The main dialog's restores: a saved PDA put back in place of the card's
// ("Restore PDA..."), and the card's flash returned to the bytes of a
// firmware backup ("Restore Firmware..."). Both run as an update runs
// (ui/update_run.h). The dialog is split by job, one file each
// (ui/varnel_dlg.h lists them).

#include <optional>
#include <string>

#include "platform/file_digest.h"
#include "ui/update_run.h"
#include "ui/varnel_dlg.h"

namespace varnel {

void CVarnelDlg::OnRestorePda(const std::string& path, bool forceIncomplete) {
    BeginRun("pda restore");
    m_runReport.files.push_back({path, "pda", std::nullopt, FileSha256(path)});
    RunAndFinish([this, &path, forceIncomplete] { UpdateRun(RunAccess(*this)).RestorePda(path, forceIncomplete); });
}

void CVarnelDlg::OnRestorePdaFromFile() {
    if (!m_bAdapterSelected) {
        Ask("Cannot continue - No adapter selected.", "Error", MessageIcon::None);
        return;
    }
    const auto chosen =
        m_host.OpenFile({"pda", (m_backupDirectory / "*.pda").string(), "PDA File (*.pda)|*.pda|", "Restore PDA"});
    if (!chosen) return;
    OnRestorePda(*chosen, false);
}

bool CVarnelDlg::OnRestoreFirmwareMenu() {
    // Without a card there is nothing to restore to: said before any file is asked for.
    if (!m_bAdapterSelected) {
        Ask("Cannot continue - No adapter selected.", "Error", MessageIcon::None);
        return false;
    }
    const auto chosen = m_host.OpenFile({"srec", (m_backupDirectory / "*.srec").string(),
                                         "Firmware Backup (*.srec)|*.srec|All Files (*.*)|*.*|", "Restore Firmware"});
    if (!chosen) return false;
    OnRestoreFirmware(*chosen);
    return true;
}

void CVarnelDlg::OnRestoreFirmware(const std::string& path) {
    BeginRun("firmware restore");
    m_runReport.files.push_back({path, "firmware backup", std::nullopt, FileSha256(path)});
    RunAndFinish([this, &path] { UpdateRun(RunAccess(*this)).RestoreFirmware(path); });
}

}  // namespace varnel
