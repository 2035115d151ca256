// The Tools menu's queries: the firmware versions and the driver version of
// the selected card. The dialog is split by job, one file each
// (ui/varnel_dlg.h lists them).

#include "ui/varnel_dlg.h"

namespace varnel {

namespace {

// The answer to a query, shown over the main window.
Message Answer(const std::string& text, const std::string& caption) {
    Message message{text, caption, MessageIcon::None, MessageButtons::Ok, true};
    message.kind = MessageKind::Answer;
    return message;
}

}  // namespace

void CVarnelDlg::OnQueryFirmwareVersion() {
    std::string versions;
    std::string text;
    {
        const OpenedAdapter adapter(*this, false);
        if (!adapter.IsOpen()) return;
        m_adapter.GetFirmwareVersions(versions, m_nAdapter);
        m_adapter.GetFirmwareText(text);
    }
    m_host.ShowMessage(Answer(versions + "\n\n" + text, "Current Firmware Versions"));
}

void CVarnelDlg::OnQueryDriverVersion() {
    int32_t v = 0;
    {
        const OpenedAdapter adapter(*this, false);
        if (!adapter.IsOpen()) return;
        v = m_adapter.GetDriverVersion();
    }
    m_host.ShowMessage(Answer("Version: " + DriverVersionText(v), "Driver Version for Selected Card"));
}

}  // namespace varnel
