// The main dialog itself: its controls, the adapter list, adapter
// selection and the card fields. The dialog is split by job, one file each
// (ui/varnel_dlg.h lists them).

#include "ui/varnel_dlg.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/state_directory.h"
#include "update/history.h"

namespace varnel {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A PDR's text when the record exists with a length word of at least 3.
std::string RecordText(const CPda& pda, uint16_t code) {
    const uint16_t* record = pda.FindRecord(code);
    if (!record || record[0] < 3) return {};
    return UnpackPdrText(record + 2, record[0] - 1);
}

}  // namespace

CVarnelDlg::CVarnelDlg(NdisLibrary& library, Registry& registry, Host& host)
    : m_adapter(library, registry, host),
      m_backupDirectory(StateDirectory() / "backups"),
      m_historyPath(DefaultHistoryPath()),
      m_lockDirectory(library.LockDirectory().empty() ? CardLock::SystemDirectory() : library.LockDirectory()),
      m_library(library),
      m_registry(registry),
      m_host(host) {}

MessageAnswer CVarnelDlg::Ask(const std::string& text, const std::string& caption, MessageIcon icon,
                              MessageButtons buttons) {
    return m_host.ShowMessage(Message{text, caption, icon, buttons, true});
}

void CVarnelDlg::UpdateData() {
    if (m_strStatus.size() > kStatusMax) m_strStatus.resize(kStatusMax);
    m_host.Refresh(View());
}

DialogView CVarnelDlg::View() const {
    DialogView view;
    view.title = kTitle;
    for (const AdapterEntry& entry : m_adapterList) view.adapters.push_back(entry.name);
    view.selectedAdapter = m_selected;
    view.adapterListVisible = !m_bAdapterSelected;
    view.openedVisible = m_bAdapterSelected;
    view.opened = m_strOpened;
    view.updateEnabled = m_bAdapterSelected;
    view.status = m_strStatus;
    if (const std::string full = FullStatus(); full != m_strStatus) view.statusDetail = full;
    view.pdaMac = m_strPdaMac;
    view.pdaSerial = m_strPdaSerial;
    view.ndisMac = m_strNdisMac;
    view.version = m_strVersion;
    for (const FileEntry& entry : m_fileList.Entries()) view.files.push_back({entry.type, entry.text, entry.path});
    return view;
}

std::string CVarnelDlg::FullStatus() const {
    return !m_strStatusFull.empty() && m_strStatus == m_strStatusShort ? m_strStatusFull : m_strStatus;
}

void CVarnelDlg::SetCursorShape(Cursor cursor) { m_host.SetCursor(cursor); }

std::string CVarnelDlg::ToolTipText(int controlId) {
    switch (controlId) {
    case kIdcUpdate: return "Update the selected card";
    case kIdcClose: return "Quit the program";
    case kIdcPdaMac: return "The MAC address read from the PDA, not from an NDIS request";
    case kIdcPdaSerial: return "The serial number read from the PDA";
    case kIdcNdisMac: return "The MAC address used by this adapter; obtained from NDIS request";
    case kIdcFileList:
        return "Files in this list will be downloaded to the card when the \"Update\" button is pressed.  To add "
               "OEMRelease.oem file, use the \"Download..\" button.";
    case kIdcForceAll: return "Write all blocks even if no changes need to be made";
    case kIdcQueryFirmware: return "Display current firmware version";
    default: return {};
    }
}

namespace {

// The program's version in the windows' four-part form: "0.1.0" as
// "0.1.0.0".
std::string FourPartVersion() {
    std::string version = VARNEL_VERSION;
    for (auto dots = std::count(version.begin(), version.end(), '.'); dots < 3; ++dots) version += ".0";
    return version;
}

// The build date as "Feb 25 2002".
std::string BuildDate() {
    char month[4] = {};
    int day = 0;
    int year = 0;
    std::sscanf(__DATE__, "%3s %d %d", month, &day, &year);
    return std::string(month) + " " + std::to_string(day) + " " + std::to_string(year);
}

}  // namespace

std::string CVarnelDlg::VersionLine() { return "Ver. " + FourPartVersion() + "  (" + BuildDate() + ")"; }

std::string CVarnelDlg::AboutVersionText() { return "Version " + FourPartVersion() + " (" + BuildDate() + ")"; }

void CVarnelDlg::OnInitDialog(const std::vector<std::string>& arguments, bool autoOpen) {
    m_strStatus.clear();
    m_strVersion = VersionLine();
    m_bForceAll = true;
    UpdateData();
    SetCursorShape(Cursor::Arrow);
    for (const std::string& path : arguments) AddFile(path);
    InitAdapters(autoOpen);
}

void CVarnelDlg::InitAdapters(bool autoOpen) {
    m_bLibraryLoaded = m_adapter.CheckNdisLibrary();
    if (!m_bLibraryLoaded)
        Ask("Could not find/load the necessary system files. Functionality is disabled.", "Error - file(s) not found",
            MessageIcon::Error);
    FillAdapterList(autoOpen);
}

void CVarnelDlg::FillAdapterList(bool autoOpen) {
    m_bAdapterSelected = false;
    CloseAdapterHandle();
    m_adapterList.clear();
    m_selected = -1;
    // As the message said: no card is reached through a library whose
    // driver did not load.
    if (m_bLibraryLoaded) m_adapter.EnumerateAdapters(m_adapterList);
    // From the last entry to the first, so that the entries not yet tested
    // keep positions equal to their adapter numbers.
    for (size_t i = m_adapterList.size(); i-- > 0;) {
        // A card another run is writing is listed as it is, unprobed; the
        // probe shares the card's lock, so that a run on that card starting
        // now is not refused for it.
        if (ClaimCard(m_adapterList[i].index, true).outcome == CardLock::Outcome::Held) continue;
        const bool answers = m_adapter.Open(m_adapterList[i].index, false);
        if (answers) m_adapter.Close();
        UnclaimCard();
        if (!answers) m_adapterList.erase(m_adapterList.begin() + static_cast<long>(i));
    }
    if (m_adapterList.empty()) {
        m_adapterList.push_back({kNoAdapters, 0});
        // The list alone would not say why.
        if (!m_bLibraryLoaded) m_strStatus = kDisabledStatus;
    } else if (autoOpen) {
        m_selected = 0;
        OpenSelectedAdapter();
    }
    RefreshCardFields();
}

int CVarnelDlg::FindAdapter(int number) const {
    if (m_adapterList.size() == 1 && m_adapterList[0].name == kNoAdapters) return -1;
    for (size_t i = 0; i < m_adapterList.size(); ++i)
        if (m_adapterList[i].index == number) return static_cast<int>(i);
    return -1;
}

bool CVarnelDlg::SelectAdapter(int position) {
    if (position < 0 || static_cast<size_t>(position) >= m_adapterList.size()) return false;
    m_selected = position;
    OpenSelectedAdapter();
    return true;
}

void CVarnelDlg::OpenSelectedAdapter() {
    const AdapterEntry entry = m_selected >= 0 ? m_adapterList[static_cast<size_t>(m_selected)] : AdapterEntry{};
    if (const CardLock::Attempt claim = ClaimCard(entry.index); claim.outcome == CardLock::Outcome::Held) {
        Ask(CardInUseText(claim.holder), "Card In Use", MessageIcon::Error);
        return RefuseAdapter("Card in use by another run! Nothing was written.");
    }
    OpenClaimedAdapter(entry);
    UnclaimCard();
}

void CVarnelDlg::OpenClaimedAdapter(const AdapterEntry& entry) {
    m_adapter.Open(entry.index, true);
    if (!m_adapter.IsOpen() || !m_adapter.EnableAux()) {
        m_adapter.Close();
        return RefuseAdapter("Sorry, that adapter could not be opened.");
    }
    if (m_adapter.m_nCardType == kCardTypeUnsupported) {
        Ask("This program is not compatible with the selected hardware.", "", MessageIcon::None);
        m_adapter.Close();
        return RefuseAdapter("That card is not compatible with this program: choose another adapter.");
    }
    m_strOpened = "Opened: " + entry.name;
    m_strStatus.clear();

    m_pda.Clear();
    if (!m_adapter.ReadCardPda(m_pda)) {
        if (Ask("WARNING! PDA read from card was invalid. Continue anyway?", "Developer Option", MessageIcon::None,
                MessageButtons::OkCancel) != MessageAnswer::Ok) {
            m_adapter.Close();
            m_pda.Clear();
            return RefuseAdapter("Adapter not opened: the PDA read from its card was invalid.");
        }
        m_pda.Clear();
    }
    uint8_t mac[6] = {};
    m_adapter.ReadPermanentAddress(mac);
    const uint16_t words[3] = {static_cast<uint16_t>(mac[0] | mac[1] << 8), static_cast<uint16_t>(mac[2] | mac[3] << 8),
                               static_cast<uint16_t>(mac[4] | mac[5] << 8)};
    m_strNdisMac = Upper(FormatMacAddress(words));
    m_bAdapterSelected = true;
    m_nAdapter = entry.index;
    {
        // The driver's version is checked once on opening.
        const OpenedAdapter check(*this, true);
    }
    RefreshCardFields();
}

void CVarnelDlg::RefuseAdapter(const std::string& why) {
    // The entry the user chose is not open: it is not left highlighted as
    // if it were, and the status says why.
    if (!m_bAdapterSelected) m_selected = -1;
    m_strStatus = why;
    RefreshCardFields();
}

bool CVarnelDlg::ReopenAdapter(bool checkDriver) {
    if (!m_bAdapterSelected) {
        Ask("Cannot continue - No adapter selected.", "Error", MessageIcon::None);
        OnCloseAdapter();
        return false;
    }
    if (const CardLock::Attempt claim = ClaimCard(m_nAdapter); claim.outcome == CardLock::Outcome::Held) {
        Ask(CardInUseText(claim.holder), "Card In Use", MessageIcon::Error);
        return false;
    }
    if (!m_adapter.Open(m_nAdapter, false)) {
        Ask("Cannot open selected adapter. Was it removed?", "Error", MessageIcon::Error);
        OnCloseAdapter();
        return false;
    }
    if (checkDriver && m_adapter.GetDriverVersion() < 0) {
        Ask("This program requires a newer driver version to update cards. Updating is disabled.", "",
            MessageIcon::None);
        return false;
    }
    return true;
}

void CVarnelDlg::CloseAdapterHandle() {
    m_adapter.Close();
    UnclaimCard();
}

void CVarnelDlg::OnCloseAdapter() {
    CloseAdapterHandle();
    m_pda.Clear();
    m_bAdapterSelected = false;
    RefreshCardFields();
    m_strStatus = "No adapter selected.";
    UpdateData();
}

void CVarnelDlg::OnCatchAdapter() {
    OnCloseAdapter();
    FillAdapterList(false);
}

void CVarnelDlg::RefreshCardFields() {
    if (!m_bAdapterSelected) m_strNdisMac.clear();
    const uint16_t* mac = m_pda.FindRecord(kPdrMacAddress);
    m_strPdaMac = mac && mac[0] == 4 ? Upper(FormatMacAddress(mac + 2)) : std::string{};
    m_strPdaSerial = RecordText(m_pda, kPdrSerialNumber);
    m_strPartNumber = RecordText(m_pda, kPdrPartNumber);
    UpdateData();
}

}  // namespace varnel
