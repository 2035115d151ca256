#pragma once
// One run of the dialog against its card: the update ("Update!"), the PDA
// restore and the firmware restore. Each is a sequence of steps named after
// what they do; a step that cannot go on has shown why, ended the run and
// returns false. The dialog keeps what outlives a run (the PDA shown, the
// status, the run report) and the pieces the steps share (backups, the
// card lock).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/plug_list.h"
#include "pda/pda.h"
#include "ui/varnel_dlg.h"

namespace varnel {

struct FirmwareBackup;
class CFirmwareImage;

// The card's firmware versions: the text the dialog shows, and each version
// read into `versions`.
std::string ReadCardVersions(CAdapter& adapter, int index, CardVersions& versions);

class UpdateRun {
public:
    explicit UpdateRun(CVarnelDlg::RunAccess dialog);
    ~UpdateRun();
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // The file list written to the card: .pda files merged into the card's
    // PDA, then every image plugged and programmed.
    void Update();
    // Exactly the PDA of a .pda file in place of the card's.
    void RestorePda(const std::string& path, bool forceIncomplete);
    // The card's flash returned to the bytes of a firmware backup file.
    void RestoreFirmware(const std::string& path);

private:
    struct ImageSlot;
    // The update's steps, in their order.
    bool CheckFileList();
    bool ReadCard();
    bool MergePdaFiles();
    bool ReplaceUnreadPda();
    bool PlanPdaWrite();
    bool LoadImages();
    bool CheckImages();
    bool ConfirmUpdate();
    bool WriteUpdate();

    // The restores' steps.
    bool LoadRestoredPda(const std::string& path, bool forceIncomplete, CPda& restored);
    std::string RestoreSummary(const std::string& path, const CPda& restored, const std::string& identityChange) const;
    bool LoadBackupFile(const std::string& path, FirmwareBackup& saved,
                        std::vector<std::unique_ptr<CFirmwareImage>>& images);
    // Plans the firmware backup too: its file is named in the summary.
    std::string FirmwareRestoreSummary(const std::string& path, const FirmwareBackup& saved, bool otherCard);
    bool ConfirmOtherCard(const FirmwareBackup& saved);

    // Steps every run shares.
    // The card is the run's alone and its adapter open.
    bool TakeCard();
    // The card's PDA into m_cardPda (cleared when it cannot be read), shown
    // by the dialog when it was read; m_mac: the address its backups are
    // named by (the driver's when the PDA cannot be read).
    void ReadCardPda();
    // Where the card keeps its PDA is known only from its type.
    bool RefuseAssumedCardType();
    // Reads the PDA's flash copy for its backup, named by `mac`.
    bool PlanPdaBackup(const std::string& mac);
    std::string BackupLines() const;
    // The summary, and the question after it (when there is one), with the
    // main window disabled meanwhile.
    bool Confirm(const std::string& summary, const std::function<bool()>& question);
    // Saves the card's PDA before anything is written; `failure`: the
    // message's first sentence when it cannot be.
    bool SavePdaBackup(const std::string& failure);
    // Ends the run with `outcome`; the adapter closes with the run.
    void Stop(RunOutcome outcome = RunOutcome::Failed);

    // The writing: the firmware backup read, the PDA's saved and the new PDA
    // written (`backup`), every image programmed, the closing requests.
    bool WriteCard(bool backup, const std::vector<CFirmwareImage*>& images);
    void BeginWriting();
    bool WritePda();
    bool WriteImages(bool backup, const std::vector<CFirmwareImage*>& images);
    void ReportSuccess(bool backup, bool images);

    CVarnelDlg::RunAccess m_dlg;
    // The adapter's handle, open from the card's taking to the run's end.
    std::unique_ptr<CVarnelDlg::OpenedAdapter> m_adapter;
    CPda m_cardPda;  // as read (empty when it could not be read)
    bool m_pdaRead = false;
    bool m_pdaWritten = false;
    std::string m_mac;  // the address the card's backups are named by
    std::string m_summary;
    std::string m_identityChange;
    int m_pdaFiles = 0;
    CVarnelDlg::RunAccess::BackupPlan m_backup;
    // The backup a firmware restore writes: read back from the card after
    // the last piece, before it is called a success.
    const FirmwareBackup* m_restoring = nullptr;
    bool CheckRestoredFlash();
    std::vector<std::unique_ptr<ImageSlot>> m_slots;
    CPlugList m_plugs;
    std::vector<std::string> m_imagePaths;
    RunOutcome m_declined = RunOutcome::Failed;
    // A restore's first lines in the closing box: what it put back.
    std::string m_restored;
};

}  // namespace varnel
