#pragma once
// CVarnelDlg: the main dialog's logic without a toolkit. It owns the card
// connection, the card's PDA and the file list, keeps the rule that the
// driver handle is open only while an action runs, and drives a Host for
// everything a window would show. The Qt window and varnel-cli both run
// this very code.

#include <string>
#include <vector>

#include "card/adapter.h"
#include "pda/pda.h"
#include "platform/host.h"
#include "platform/ndis_library.h"
#include "platform/registry.h"

namespace varnel {

class CVarnelDlg {
public:
    static constexpr size_t kStatusMax = 180;
    static constexpr const char* kNoAdapters = "<No adapters detected>";

    CVarnelDlg(NdisLibrary& library, Registry& registry, Host& host);
    CVarnelDlg(const CVarnelDlg&) = delete;
    CVarnelDlg& operator=(const CVarnelDlg&) = delete;

    // The access library's start-up check and the adapter list, as the
    // dialog's initialisation runs them.
    void InitAdapters(bool autoOpen);

    void FillAdapterList(bool autoOpen);
    // The list box's selection change: select the entry at `position` and
    // open it. False when there is no such entry.
    bool SelectAdapter(int position);
    void OpenSelectedAdapter();
    bool ReopenAdapter(bool checkDriver);
    void CloseAdapterHandle();
    void OnCloseAdapter();
    void OnCatchAdapter();
    void RefreshCardFields();
    void SetCursorShape(Cursor cursor);

    // The adapter list box: entries and the adapter number of each.
    const std::vector<AdapterEntry>& AdapterList() const { return m_adapterList; }
    // Position of the entry whose adapter number is `number`, or -1.
    int FindAdapter(int number) const;
    // The current values of the controls.
    DialogView View() const;

    std::string m_strTitle = "Varnel";
    std::string m_strPartNumber;
    std::string m_strStatus;
    std::string m_strPdaMac;
    std::string m_strPdaSerial;
    std::string m_strNdisMac;
    std::string m_strOpened;
    std::string m_strVersion;
    std::string m_strAdapterName;
    std::string m_strLastFile;
    bool m_bForceAll = false;
    bool m_bVerify = false;
    bool m_bAdapterSelected = false;
    int m_nAdapter = 0;
    Cursor m_hCursor = Cursor::Arrow;
    CPda m_pda;
    CAdapter m_adapter;

protected:
    // Message boxes owned by the dialog window.
    MessageAnswer Ask(const std::string& text, const std::string& caption, MessageIcon icon,
                      MessageButtons buttons = MessageButtons::Ok);
    // Push all values to the controls.
    void UpdateData();

    NdisLibrary& m_library;
    Registry& m_registry;
    Host& m_host;
    std::vector<AdapterEntry> m_adapterList;
    int m_selected = -1;
};

}  // namespace varnel
