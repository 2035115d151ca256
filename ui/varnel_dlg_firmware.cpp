// The firmware backup of an update run, and putting such a backup back
// ("Restore Firmware..."): the card's flash returned to the saved bytes.

#include <algorithm>
#include <memory>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "pda/pda.h"
#include "pda/pda_diff.h"
#include "platform/file_digest.h"
#include "platform/stop_request.h"
#include "ui/update_run.h"
#include "ui/varnel_dlg.h"
#include "update/compatibility.h"

namespace varnel {

namespace {

bool Overlap(uint32_t a, uint32_t aEnd, uint32_t b, uint32_t bEnd) { return a < bEnd && b < aEnd; }

}  // namespace

bool CVarnelDlg::BackUpFirmware(const std::vector<CFirmwareImage*>& images, bool pdaWrite) {
    FirmwareBackupPlan& plan = m_firmwareBackup;
    plan.data.ranges.clear();
    plan.pieces.clear();
    int total = 0;
    for (const CFirmwareImage* image : images) total += image->CountPieces(kPieceMax, kPieceBoundary);
    // The wait window is up before the main window goes.
    m_host.SetMainWindow(true, false);
    ProgressBar& progress = m_host.ShowWaitWindow("Reading the card's firmware for its backup...", "");
    m_host.SetMainWindow(false, false);
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
    // The main window is back, drawn, before the wait window goes.
    m_host.SetMainWindow(true, false);
    m_host.HideWaitWindow();
    SetCursorShape(Cursor::Arrow);
    m_host.SetMainWindow(true, true);
    if (stopped) {
        StopBeforeWriting();
        return false;
    }
    if (!read) {
        Ask("The card's firmware could not be read, so nothing was written.", "Cannot Continue", MessageIcon::Error);
        EndRun(RunOutcome::Failed, "Firmware backup failed! Nothing was written.");
        return false;
    }
    // A piece read stands for the card until this run writes there: one that
    // an earlier piece or the PDA write overlaps is read again before it is
    // compared (--no-force).
    std::vector<FirmwareBackupPlan::Piece>& pieces = plan.pieces;
    const uint32_t pda = m_adapter.m_dwPdaAddress & ~kNvramBit;
    for (FirmwareBackupPlan::Piece& piece : pieces)
        if (pdaWrite && Overlap(piece.address, piece.address + piece.count, pda, pda + kPdaBytes)) piece.current = false;
    // In address order a piece overlaps another when one before it ends past
    // its start, or the next one starts before its end: n log n, not n².
    std::vector<size_t> order(pieces.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return pieces[a].address < pieces[b].address; });
    uint64_t furthest = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        FirmwareBackupPlan::Piece& piece = pieces[order[k]];
        const uint64_t end = uint64_t{piece.address} + piece.count;
        if ((k > 0 && furthest > piece.address) || (k + 1 < order.size() && pieces[order[k + 1]].address < end))
            piece.current = false;
        furthest = std::max(furthest, end);
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
    if (const Result<> saved = SaveFirmwareBackup(); !saved) {
        Ask("The card's firmware could not be saved before writing, so nothing was written to the card.\n" +
                saved.Reason(),
            "Cannot Continue", MessageIcon::Error);
        EndRun(RunOutcome::Failed, "Firmware backup failed! Nothing was written.");
        return false;
    }
    return true;
}

bool CVarnelDlg::OnRestoreFirmwareMenu() {
    // Without a card there is nothing to restore to: said before any file is asked for.
    if (!m_bAdapterSelected) {
        Ask("Cannot continue - No adapter selected.", "Error", MessageIcon::None);
        return false;
    }
    const auto chosen = m_host.OpenFile(
        {"srec", (m_backupDirectory / "*.srec").string(), "Firmware Backup (*.srec)|*.srec|All Files (*.*)|*.*|",
         "Restore Firmware"});
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
