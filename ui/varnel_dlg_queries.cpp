// The Tools menu: the firmware versions and the driver version of the
// selected card, and a saved PDA put back.

#include <cstdio>

#include "ui/varnel_dlg.h"

namespace varnel {

void CVarnelDlg::OnQueryFirmwareVersion() {
    std::string versions;
    std::string text;
    {
        const OpenedAdapter adapter(*this, false);
        if (!adapter.IsOpen()) return;
        m_adapter.GetFirmwareVersions(versions, m_nAdapter);
        m_adapter.GetFirmwareText(text);
    }
    Ask(versions + "\n\n" + text, "Current Firmware Versions", MessageIcon::None);
}

void CVarnelDlg::OnQueryDriverVersion() {
    uint32_t v = 0;
    {
        const OpenedAdapter adapter(*this, false);
        if (!adapter.IsOpen()) return;
        v = static_cast<uint32_t>(m_adapter.GetDriverVersion());
    }
    char text[48];
    std::snprintf(text, sizeof text, "Version: %x.%x.%d", (v >> 16) & 0xFFFF, (v >> 8) & 0xFF, int(v & 0xFF));
    Ask(text, "Driver Version for Selected Card", MessageIcon::None);
}

void CVarnelDlg::OnRestorePdaFromFile() {
    if (!m_bAdapterSelected) {
        Ask("Cannot continue - No adapter selected.", "Error", MessageIcon::None);
        return;
    }
    const auto chosen = m_host.OpenFile({"pda", (m_backupDirectory / "*.pda").string(), "PDA File (*.pda)|*.pda|"});
    if (!chosen) return;
    OnRestorePda(*chosen, false);
}

}  // namespace varnel
