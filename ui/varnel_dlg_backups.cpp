// The main dialog's backups, taken before a run writes to the card: the
// card's PDA (the copy in flash, as .pda text) and the firmware the images
// overwrite (as S-records). The dialog is split by job, one file each
// (ui/varnel_dlg.h lists them).

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/stop_request.h"
#include "platform/utc_stamp.h"
#include "ui/varnel_dlg.h"
#include "update/compatibility.h"

namespace varnel {

namespace {

// A backup name no earlier backup has taken, for STEM.pda and STEM.bin
// alike (or the extensions given): STEM, else STEM-2, STEM-3...
std::filesystem::path FreeBackupStem(const std::filesystem::path& directory, const std::string& stem,
                                     const std::vector<std::string>& extensions = {".pda", ".bin"}) {
    std::error_code ec;
    const auto taken = [&](const std::filesystem::path& p) {
        return std::any_of(extensions.begin(), extensions.end(),
                           [&](const std::string& e) { return files::Exists(p.string() + e, ec); });
    };
    std::filesystem::path path = directory / stem;
    for (int n = 2; taken(path); ++n) path = directory / (stem + "-" + std::to_string(n));
    return path;
}

bool Overlap(uint32_t a, uint32_t aEnd, uint32_t b, uint32_t bEnd) { return a < bEnd && b < aEnd; }

}  // namespace

Result<CVarnelDlg::BackupPlan> CVarnelDlg::PlanBackup(const std::string& mac, const CPda& cardPda) {
    AuxRecord flash{};
    if (!m_adapter.ReadFlashPda(flash)) return Failure{"The card's PDA in flash could not be read for its backup."};
    BackupPlan plan;
    CPda flashPda;
    const bool valid = LoadPdaCopy(flashPda, flash);
    const std::filesystem::path stem =
        FreeBackupStem(m_backupDirectory, "pda-" + mac + "-" + UtcStamp("%Y%m%dT%H%M%SZ"));
    plan.path = stem.string() + ".pda";
    std::string comment = "Varnel backup of the card's PDA in flash, read before " +
                          std::string(m_runReport.action == "update" ? "an update" : "a PDA restore") + "\nAdapter " +
                          std::to_string(m_nAdapter) + ", MAC address " + mac + "\nRead " + UtcTimeText();
    if (valid) {
        plan.text = FormatPdaText(flashPda, comment);
    } else {
        // The flash copy is not a valid PDA: its bytes are kept as they are,
        // and the .pda holds the PDA the card runs with (if it could be read).
        plan.rawPath = stem.string() + ".bin";
        plan.raw.assign(reinterpret_cast<const char*>(flash.data), kPdaBytes);
        comment += "\nThe PDA in flash was not valid; its 1024 bytes are in " + plan.rawPath +
                   "\nThe records below are the card's PDA as it was running";
        plan.text = FormatPdaText(cardPda, comment);
    }
    return plan;
}

void CVarnelDlg::NameBackup(const BackupPlan& plan) {
    std::string status = m_strStatus;
    if (!status.empty() && status.back() != '!' && status.back() != '.') status += ".";
    m_strStatusFull = status + " Card PDA saved to " + plan.path;
    // The status box has two lines: it names the file alone, or, after a
    // long status, only that the PDA was saved, or nothing more; its tooltip
    // has the whole path.
    std::string box = status + " Card PDA saved to " + std::filesystem::path(plan.path).filename().string();
    if (box.size() > kStatusBoxChars) box = status + " Card PDA saved.";
    if (box.size() > kStatusBoxChars) box = status;
    m_strStatus = m_strStatusShort = box;
    UpdateData();
}

Result<> CVarnelDlg::SaveBackup(BackupPlan& plan) {
    std::error_code ec;
    files::CreateDirectories(m_backupDirectory.string(), ec);
    // Each file takes a name no file has (another run may have taken the
    // planned one since): STEM.pda, and STEM.bin with it, else STEM-2...
    const std::string planned = plan.path.substr(0, plan.path.size() - 4);
    std::string stem = planned;
    for (int n = 2;; ++n) {
        bool taken = false;
        Result<> written = WriteNewFile(stem + ".pda", plan.text, &taken);
        if (written) {
            if (plan.rawPath.empty()) break;
            written = WriteNewFile(stem + ".bin", plan.raw, &taken);
            if (written) break;
            files::Remove(stem + ".pda", ec);
        }
        if (!taken) return written;
        stem = planned + "-" + std::to_string(n);
    }
    plan.path = stem + ".pda";
    if (!plan.rawPath.empty()) plan.rawPath = stem + ".bin";
    return {};
}

std::string CVarnelDlg::PlanFirmwareBackup(const std::string& mac, const std::string& serial) {
    m_firmwareBackup = FirmwareBackupPlan{};
    if (!m_bFirmwareBackup) return "The card's firmware will not be saved before writing (no firmware backup).\n";
    m_firmwareBackup.wanted = true;
    FirmwareBackup& data = m_firmwareBackup.data;
    data.mac = mac;
    data.serial = serial;
    data.time = UtcTimeText();
    m_firmwareBackup.path =
        FreeBackupStem(m_backupDirectory,
                       "flash-" + (mac.empty() ? std::string("unknown-mac") : mac) + "-" + UtcStamp("%Y%m%dT%H%M%SZ"),
                       {".srec"})
            .string() +
        ".srec";
    return "Card firmware will be saved before writing, to: " + m_firmwareBackup.path + "\n";
}

Result<> CVarnelDlg::SaveFirmwareBackup() {
    // The header names the firmware the bytes read hold, never what the
    // card reports running: a card killed mid-update runs its old firmware
    // over half-new flash.
    const DataVersions read = FirmwareDataVersions(m_firmwareBackup.data.ranges);
    m_firmwareBackup.data.primary = read.primary;
    m_firmwareBackup.data.station = read.station;
    const Result<std::string> formatted = FormatFirmwareBackup(m_firmwareBackup.data);
    if (!formatted) return formatted.Error();
    const std::string& text = *formatted;
    std::error_code ec;
    files::CreateDirectories(m_backupDirectory.string(), ec);
    // A name no file has, as the PDA backup takes one: STEM.srec, else STEM-2...
    const std::string planned = m_firmwareBackup.path.substr(0, m_firmwareBackup.path.size() - 5);
    std::string stem = planned;
    for (int n = 2;; ++n) {
        bool taken = false;
        Result<> written = WriteNewFile(stem + ".srec", text, &taken);
        if (written) break;
        if (!taken) return written;
        stem = planned + "-" + std::to_string(n);
    }
    m_firmwareBackup.path = stem + ".srec";
    m_firmwareBackup.saved = true;
    m_runReport.firmwareBackup = m_firmwareBackup.path;
    return {};
}

void CVarnelDlg::NameFirmwareBackup() {
    if (!m_firmwareBackup.saved) return;
    // The whole path in the full status (the terminal, the history, the
    // box's tooltip); the box says it only when two lines still hold it.
    const auto sentence = [](std::string text) {
        if (!text.empty() && text.back() != '!' && text.back() != '.') text += ".";
        return text;
    };
    m_strStatusFull = sentence(FullStatus()) + " Card firmware saved to " + m_firmwareBackup.path;
    std::string box = sentence(m_strStatus) + " Card firmware saved.";
    if (box.size() > kStatusBoxChars) box = m_strStatus;
    m_strStatus = m_strStatusShort = box;
    UpdateData();
}

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
        if (pdaWrite && Overlap(piece.address, piece.address + piece.count, pda, pda + kPdaBytes))
            piece.current = false;
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

}  // namespace varnel
