#pragma once
// CVarnelDlg: the main dialog's logic without a toolkit. It owns the card
// connection, the card's PDA and the file list, keeps the rule that the
// driver handle is open only while an action runs, and drives a Host for
// everything a window would show. The Qt window and varnel-cli both run
// this very code.
//
// Its code is split by job, one file each, so that a change to one job is
// made in one place:
//   varnel_dlg.cpp          the dialog itself, the adapters, the card fields
//   varnel_dlg_files.cpp    the file list and the OEM link file
//   varnel_dlg_update.cpp   "Update!" and what every run shares: its start
//                           and end, the card's lock, the history records,
//                           the stops, the programming of an image
//   varnel_dlg_backups.cpp  the PDA and firmware backups a run takes
//   varnel_dlg_restore.cpp  "Restore PDA..." and "Restore Firmware..."
//   varnel_dlg_queries.cpp  the Tools menu's version queries
//   update_run.cpp          the steps of the runs (UpdateRun)

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "card/adapter.h"
#include "update/list_ctrl_helper.h"
#include "pda/pda.h"
#include "platform/host.h"
#include "platform/card_lock.h"
#include "platform/ndis_library.h"
#include "platform/registry.h"
#include "platform/result.h"
#include "platform/stop_request.h"
#include "update/firmware_backup.h"
#include "update/run_report.h"

namespace varnel {

class CFirmwareImage;

// Control ids of the main window (its layout: ui/main_window_layout.h),
// for its tooltips.
enum ControlId : int {
    kIdcStatic = -1,  // frames and labels
    kIdcQuit = 2,     // the dialog's cancel button
    kIdcTestCommand = 1010,
    kIdcUpdate = 1011,
    kIdcStatus = 1013,
    kIdcClose = 1014,
    kIdcAdapterList = 1016,
    kIdcPdaMac = 1020,
    kIdcPdaSerial = 1021,
    kIdcNdisMac = 1024,
    kIdcOpened = 1026,
    kIdcFileList = 1040,
    kIdcQueryFirmware = 1046,
    kIdcCatchAdapter = 1051,
    kIdcForceAll = 1054,
    kIdcVerify = 1055,
    kIdcDownload = 1056,
    kIdcVersion = 1037,
};

// How the last update run ended. Interrupted: a stop request (Ctrl-C, a
// signal) ended it after writing to the card began.
enum class RunOutcome { None, Succeeded, Failed, Cancelled, Interrupted };

class CVarnelDlg {
public:
    static constexpr size_t kStatusMax = 180;
    // About what the status box's two lines hold in the dialog font.
    static constexpr size_t kStatusBoxChars = 90;
    static constexpr const char* kNoAdapters = "<No adapters detected>";
    // The status after a failed start-up check of the access library.
    static constexpr const char* kDisabledStatus = "Functionality is disabled: the system files could not be loaded.";

    CVarnelDlg(NdisLibrary& library, Registry& registry, Host& host);
    CVarnelDlg(const CVarnelDlg&) = delete;
    CVarnelDlg& operator=(const CVarnelDlg&) = delete;

    // The dialog's initialisation: the command-line files join the file
    // list, the access library is checked and the adapters listed (the
    // first one opened unless autoOpen is false).
    void OnInitDialog(const std::vector<std::string>& arguments, bool autoOpen = true);
    // The access library's start-up check and the adapter list.
    void InitAdapters(bool autoOpen);

    // The file list and the OEM link file.
    void AddFile(const std::string& path);
    // Takes the file at `index` off the list (one that failed to load among
    // them); nothing while a run goes on.
    void RemoveFile(int index);
    // Merges a .pda file into the PDA; `listed`, its file list entry, gives
    // the words read when it was listed if the file has not changed since.
    bool LoadPdaFile(const std::string& path, const FileEntry* listed = nullptr);
    // A file from outside the dialog (a second start, a drop). It joins the
    // list at once; but from the start of a run to its end, and while
    // another such file is being added, it waits until that ends, so that a
    // run programs the list it began with and the list after it shows what
    // it used. `added` runs once the file is in the list. False: it waits.
    bool OfferFile(const std::string& path, std::function<void()> added = {});
    // An update or a restore is on (from its start to its end).
    bool Running() const { return m_bRunning; }
    size_t WaitingFiles() const { return m_waitingFiles.size(); }
    // Asks for a link file and adds its three files; false, with the reason
    // in a message, when none was chosen or it was refused.
    bool OnDownload();

    // The update run ("Update!"). A run that began writing to the card
    // appends its record to the update history before it returns.
    void OnUpdate();
    // Writes exactly the PDA of a .pda file to the card, in place of the
    // card's: the same backup, confirmation, PDA write and closing requests
    // as an update with only .pda files. A file without a MAC address
    // record is refused unless `forceIncomplete`.
    void OnRestorePda(const std::string& path, bool forceIncomplete);
    // Returns the card's flash to the bytes of a firmware backup file (see
    // update/firmware_backup.h): the file checked whole first, the card's
    // PDA and the firmware the restore overwrites saved, a summary naming the
    // versions it returns to, then written as an update writes its images.
    // A backup of another card is written only when the user says so by name.
    void OnRestoreFirmware(const std::string& path);
    // The Tools menu's "Restore Firmware...": asks for a backup file (in the
    // backups folder first) and restores it. False when none was chosen.
    bool OnRestoreFirmwareMenu();
    // `detail`: the wait window's line under its bar; `more`: another image
    // follows, and the wait window stays up for it when this one succeeds.
    bool FlashImage(CFirmwareImage& image, const std::string& detail = {}, bool more = false);
    // The wait window of the images goes, the main window back (when shown).
    void EndWaiting();
    bool WritePdaToCard();

    // The Tools menu.
    void OnQueryFirmwareVersion();
    void OnQueryDriverVersion();
    // "Restore PDA...": a .pda file chosen in the open-file dialog, which
    // starts in the backup folder, then OnRestorePda with it (a file without
    // a MAC address record is refused). Nothing happens when none is chosen.
    void OnRestorePdaFromFile();

    // Tooltip text of a control ("" for none).
    static std::string ToolTipText(int controlId);
    // "Ver. 0.1.0.0  (Feb 25 2002)": the program's version (0.1.0) in four
    // parts, with this build's date.
    static std::string VersionLine();
    // The About box's "Version 0.1.0.0 (Feb 25 2002)".
    static std::string AboutVersionText();

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
    // The status with every path whole: what the terminal prints and the
    // history keeps. The status box (m_strStatus) names a backup by its file
    // name only, so that it stays within its two lines; the whole path is
    // in its tooltip.
    std::string FullStatus() const;
    // The wait window's line under the bar while image `index` (from 0) of
    // `count` is programmed: "Image 1 of 2: station.hex".
    static std::string ImageLine(const std::string& path, size_t index, size_t count);

    // The adapter's handle for one action: opened (ReopenAdapter) when the
    // scope begins, closed when it ends, whichever way. `open` false: only
    // closed at the end (for an action that opens the handle itself).
    class OpenedAdapter {
    public:
        OpenedAdapter(CVarnelDlg& dialog, bool checkDriver, bool open = true)
            : m_dialog(dialog), m_open(open && dialog.ReopenAdapter(checkDriver)) {}
        ~OpenedAdapter() { m_dialog.CloseAdapterHandle(); }
        OpenedAdapter(const OpenedAdapter&) = delete;
        OpenedAdapter& operator=(const OpenedAdapter&) = delete;
        bool IsOpen() const { return m_open; }

    private:
        CVarnelDlg& m_dialog;
        bool m_open;
    };

    // What front ends and scripts read of the dialog.
    // The last update or restore: what it did (filled up to where it
    // stopped), how it ended (`outcome`), its status and its backups.
    const RunReport& Report() const { return m_runReport; }
    // The adapter chosen and opened (its number), if one is.
    bool AdapterSelected() const { return m_bAdapterSelected; }
    int SelectedAdapter() const { return m_nAdapter; }
    // The card's PDA as the dialog holds it, and its part number.
    const CPda& CardPda() const { return m_pda; }
    const std::string& PartNumber() const { return m_strPartNumber; }
    // The status box's text (FullStatus() has every path whole).
    const std::string& Status() const { return m_strStatus; }
    // The file list, and emptying it (a new list).
    const std::vector<FileEntry>& Files() const { return m_fileList.Entries(); }
    void ClearFiles() {
        m_fileList.RemoveAll();
        UpdateData();
    }
    // Paths AddFile refused (folders): a caller that was given them as files
    // knows the list is not what it asked for.
    const std::vector<std::string>& RefusedFiles() const { return m_refusedFiles; }
    const std::filesystem::path& HistoryPath() const { return m_historyPath; }
    // The card connection, for a front end's own requests between
    // ReopenAdapter and CloseAdapterHandle (an OpenedAdapter's scope).
    CAdapter& Adapter() { return m_adapter; }

    // How runs write: every block even when unchanged (on by default from
    // OnInitDialog), each block read back, and the firmware the images
    // overwrite saved first (on by default).
    void SetForceAll(bool on) { m_bForceAll = on; }
    void SetVerify(bool on) { m_bVerify = on; }
    void SetFirmwareBackup(bool on) { m_bFirmwareBackup = on; }
    bool ForceAll() const { return m_bForceAll; }
    bool Verify() const { return m_bVerify; }
    bool FirmwareBackupWanted() const { return m_bFirmwareBackup; }
    // Where the card's PDA and firmware are saved before a run writes
    // ($XDG_STATE_HOME/varnel/backups by default), where the update history
    // is kept, and where the runs' card locks live
    // ($XDG_STATE_HOME/varnel/locks).
    void SetBackupDirectory(const std::filesystem::path& path) { m_backupDirectory = path; }
    void SetHistoryPath(const std::filesystem::path& path) { m_historyPath = path; }
    void SetLockDirectory(const std::filesystem::path& path) { m_lockDirectory = path; }

    // What a run against the card (ui/update_run.h) may use of the dialog,
    // and nothing more; only the dialog makes one (below the class).
    class RunAccess;

private:
    // The backup taken before a PDA write: the copy in flash, which the write
    // replaces, as .pda text; and its raw bytes too when it is not valid.
    struct BackupPlan {
        std::string path;
        std::string text;
        std::string rawPath;  // empty: the flash copy was valid
        std::string raw;
    };
    // Reads the flash copy and chooses free file names; fails when the copy
    // cannot be read.
    Result<BackupPlan> PlanBackup(const std::string& mac, const CPda& cardPda);
    // Saves the backup under the planned names, or the next free ones when
    // another run took them since (`plan` then names the files written).
    Result<> SaveBackup(BackupPlan& plan);
    // The status line names the backup once it was saved.
    void NameBackup(const BackupPlan& plan);

    // The firmware backup of a run: planned before the summary (its file
    // name), read after the confirmation, before anything is written.
    struct FirmwareBackupPlan {
        bool wanted = false;
        std::string path;
        FirmwareBackup data;
        // Each piece read: where its bytes are in `data`, and whether they
        // still stand for the card (no earlier write of this run touched it).
        struct Piece {
            uint32_t address;
            uint16_t count;
            size_t range;
            bool current;
        };
        std::vector<Piece> pieces;
        bool saved = false;
    };
    // Chooses the file name; the summary's line about it.
    std::string PlanFirmwareBackup(const std::string& mac, const std::string& serial);
    // Reads every piece the images will write (StoreFirmwareBackup saves it). False,
    // after saying why and ending the run, when it cannot; nothing has been
    // written then. `pdaWrite`: the PDA is written before the images.
    bool BackUpFirmware(const std::vector<CFirmwareImage*>& images, bool pdaWrite);
    // Saves the backup read (once): false, after saying why and ending the
    // run, when it cannot be saved; nothing has been written then.
    bool StoreFirmwareBackup();
    // Saves the file under the planned name, or the next free one.
    Result<> SaveFirmwareBackup();
    // The status line names the firmware backup once it was saved, when the
    // whole path fits.
    void NameFirmwareBackup();
    FirmwareBackupPlan m_firmwareBackup;

    // The run's start and end around the update and the restore: the
    // report begun, and the history record appended once writing began.
    void BeginRun(const std::string& action);
    void FinishRun();
    // The record a run leaves before its first write ("unfinished": what it
    // writes, where its backups are); FinishRun's record takes its id.
    void RecordBegun();
    std::string m_begunId;
    // The card for this run alone, from its first read to the run's end
    // (ReleaseCard): false, after saying so, when another run holds it.
    bool TakeCard();
    void ReleaseCard();
    // Outside a run the card's lock is held too while this program has the
    // card's handle open (the start-up probe, opening the adapter, a query),
    // so that none of its requests reaches a card another run is writing.
    // Held: another run has the card (the attempt's holder, its process). A
    // lock that cannot be made holds nothing up here: a run refuses then.
    CardLock::Attempt ClaimCard(int index, bool probe = false);
    void UnclaimCard();
    // "Another Varnel run is updating this card (process N). Nothing was written."
    static std::string CardInUseText(long holder);
    // Runs `run`, then the run's end (FinishRun, ReleaseCard), also when
    // something unexpected is thrown: the run then ends as failed, its
    // record is kept, and the fault goes on to the program's top.
    void RunAndFinish(const std::function<void()>& run);
    void OpenClaimedAdapter(const AdapterEntry& entry);
    // An adapter that was chosen but not opened: the status says why.
    void RefuseAdapter(const std::string& why);
    // A stop request seen while the card is written: before anything was
    // written the run is cancelled; after, it ends interrupted, saying what
    // the card now holds. `image` is the image being programmed (its count
    // when none was), `inImage` whether its programming had begun.
    void StopBeforeWriting();
    void StopWhileWriting(const BackupPlan* backup, bool pdaWritten, size_t image, size_t images, bool inImage);
    // The files offered while a run was on join the list, in order.
    void TakeWaitingFiles();

    // Message boxes owned by the dialog window.
    MessageAnswer Ask(const std::string& text, const std::string& caption, MessageIcon icon,
                      MessageButtons buttons = MessageButtons::Ok);
    // Push all values to the controls.
    void UpdateData();
    // The end of a run at one of its stop points.
    void EndRun(RunOutcome outcome, const std::string& status = {});

    static constexpr const char* kTitle = "Varnel";
    std::string m_strPartNumber;
    std::string m_strStatus;
    // FullStatus() while m_strStatus is m_strStatusShort, else m_strStatus.
    std::string m_strStatusFull;
    std::string m_strStatusShort;
    std::string m_strPdaMac;
    std::string m_strPdaSerial;
    std::string m_strNdisMac;
    std::string m_strOpened;
    std::string m_strVersion;
    std::vector<std::string> m_refusedFiles;
    bool m_bForceAll = false;
    bool m_waiting = false;  // the images' wait window is up
    bool m_bVerify = false;
    // Before the first flash write the card's bytes in every range the images
    // write are read and saved (flash-<MAC>-<time>.srec in the backups folder).
    bool m_bFirmwareBackup = true;
    bool m_bAdapterSelected = false;
    // False after a failed start-up check of the access library: its
    // functionality is disabled, and no adapter is listed.
    bool m_bLibraryLoaded = true;
    int m_nAdapter = 0;
    CListCtrlHelper m_fileList;
    CPda m_pda;
    CAdapter m_adapter;
    std::filesystem::path m_backupDirectory;
    RunOutcome m_lastRun = RunOutcome::None;
    // What the last update or restore did (filled up to where it stopped),
    // and where its history record goes.
    RunReport m_runReport;
    std::filesystem::path m_historyPath;
    std::filesystem::path m_lockDirectory;

    NdisLibrary& m_library;
    Registry& m_registry;
    Host& m_host;
    CardLock m_cardLock;
    StopMode m_stopModeBefore = StopMode::Default;  // the program's own, before its first run
    bool m_bStopModeKnown = false;
    bool m_bCardClaimed = false;  // m_cardLock is held by ClaimCard, not by a run
    std::vector<AdapterEntry> m_adapterList;
    int m_selected = -1;
    struct WaitingFile {
        std::string path;
        std::function<void()> added;
    };
    std::deque<WaitingFile> m_waitingFiles;
    bool m_bRunning = false;
    bool m_bAdding = false;  // OfferFile is adding a file (its box may be open)
};

// The dialog as a run sees it: the card, the host, the pieces of the card
// the dialog shows and keeps after the run (its PDA, the card fields, the
// status, the run report), and the steps the dialog keeps because they
// outlive a run or are shared by every run (the card's lock, the backups,
// the stops, the programming of an image).
class CVarnelDlg::RunAccess {
public:
    using BackupPlan = CVarnelDlg::BackupPlan;

    Host& UserHost() { return m_dlg.m_host; }
    CAdapter& Adapter() { return m_dlg.m_adapter; }
    int AdapterNumber() const { return m_dlg.m_nAdapter; }
    // The card's PDA as the dialog shows it, and the card's fields.
    CPda& Pda() { return m_dlg.m_pda; }
    const std::string& PartNumber() const { return m_dlg.m_strPartNumber; }
    const std::string& PdaSerial() const { return m_dlg.m_strPdaSerial; }
    const std::string& PdaMac() const { return m_dlg.m_strPdaMac; }
    const std::string& NdisMac() const { return m_dlg.m_strNdisMac; }
    void RefreshCardFields() { m_dlg.RefreshCardFields(); }
    CListCtrlHelper& FileList() { return m_dlg.m_fileList; }
    bool LoadPdaFile(const std::string& path, const FileEntry* listed) { return m_dlg.LoadPdaFile(path, listed); }
    // What the run did, and how it ended.
    RunReport& Report() { return m_dlg.m_runReport; }
    const RunReport& Report() const { return m_dlg.m_runReport; }
    // The status box's text; shown with the dialog's next update.
    void SetStatus(std::string status) { m_dlg.m_strStatus = std::move(status); }
    void SetLastRun(RunOutcome outcome) { m_dlg.m_lastRun = outcome; }
    MessageAnswer Ask(const std::string& text, const std::string& caption, MessageIcon icon,
                      MessageButtons buttons = MessageButtons::Ok) {
        return m_dlg.Ask(text, caption, icon, buttons);
    }
    void EndRun(RunOutcome outcome, const std::string& status = {}) { m_dlg.EndRun(outcome, status); }

    // The card for this run alone, and its handle open from here to the
    // run's end.
    bool TakeCard() { return m_dlg.TakeCard(); }
    std::unique_ptr<OpenedAdapter> OpenAdapter() { return std::make_unique<OpenedAdapter>(m_dlg, true); }
    void RecordBegun() { m_dlg.RecordBegun(); }
    void StopBeforeWriting() { m_dlg.StopBeforeWriting(); }
    void StopWhileWriting(const BackupPlan* backup, bool pdaWritten, size_t image, size_t images, bool inImage) {
        m_dlg.StopWhileWriting(backup, pdaWritten, image, images, inImage);
    }

    // The backups.
    Result<BackupPlan> PlanBackup(const std::string& mac, const CPda& cardPda) {
        return m_dlg.PlanBackup(mac, cardPda);
    }
    Result<> SaveBackup(BackupPlan& plan) { return m_dlg.SaveBackup(plan); }
    void NameBackup(const BackupPlan& plan) { m_dlg.NameBackup(plan); }
    std::string PlanFirmwareBackup(const std::string& mac, const std::string& serial) {
        return m_dlg.PlanFirmwareBackup(mac, serial);
    }
    bool FirmwareBackupWanted() const { return m_dlg.m_firmwareBackup.wanted; }
    bool FirmwareBackupSaved() const { return m_dlg.m_firmwareBackup.saved; }
    const std::string& FirmwareBackupPath() const { return m_dlg.m_firmwareBackup.path; }
    bool BackUpFirmware(const std::vector<CFirmwareImage*>& images, bool pdaWrite) {
        return m_dlg.BackUpFirmware(images, pdaWrite);
    }
    bool StoreFirmwareBackup() { return m_dlg.StoreFirmwareBackup(); }
    void NameFirmwareBackup() { m_dlg.NameFirmwareBackup(); }

    // The writing.
    bool WritePdaToCard() { return m_dlg.WritePdaToCard(); }
    bool FlashImage(CFirmwareImage& image, const std::string& detail, bool more) {
        return m_dlg.FlashImage(image, detail, more);
    }
    void EndWaiting() { m_dlg.EndWaiting(); }

private:
    friend class CVarnelDlg;
    explicit RunAccess(CVarnelDlg& dialog) : m_dlg(dialog) {}
    CVarnelDlg& m_dlg;
};

}  // namespace varnel
