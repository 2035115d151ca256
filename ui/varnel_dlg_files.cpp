// The main dialog's file list: adding files, merging .pda files, and the
// OEM link file ("Download..."). The dialog is split by job, one file each
// (ui/varnel_dlg.h lists them).

#include <filesystem>

#include "pda/pda_text_file.h"
#include "platform/file_system.h"
#include "platform/input_file.h"
#include "ui/varnel_dlg.h"
#include "update/oem_link_file.h"

namespace varnel {

namespace {

constexpr size_t kRegistryPathMax = 100;  // bytes, the terminator included

// A path split after its last separator: the directory keeps the separator.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return {"", path};
    return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

}  // namespace

void CVarnelDlg::AddFile(const std::string& path) {
    // A folder is no file: it is not listed, and the list stays as it was.
    std::error_code ec;
    if (files::IsDirectory(path, ec)) {
        Ask(path + " is a folder, not a file.", "Error", MessageIcon::Error);
        m_refusedFiles.push_back(path);
        return;
    }
    if (m_fileList.GetCount() == 3) {
        Ask("The new firmware files will be taken over!!", "", MessageIcon::Warning);
        m_fileList.RemoveAll();
    }
    m_fileList.AddItem(ClassifyFile(path));
    UpdateData();
}

void CVarnelDlg::RemoveFile(int index) {
    if (m_bRunning || index < 0 || index >= m_fileList.GetCount()) return;
    std::vector<FileEntry> kept = m_fileList.Entries();
    kept.erase(kept.begin() + index);
    m_fileList.RemoveAll();
    for (FileEntry& entry : kept) m_fileList.AddItem(std::move(entry));
    UpdateData();
}

bool CVarnelDlg::OfferFile(const std::string& path, std::function<void()> added) {
    m_waitingFiles.push_back({path, std::move(added)});
    if (m_bRunning || m_bAdding) return false;
    TakeWaitingFiles();
    return true;
}

void CVarnelDlg::TakeWaitingFiles() {
    // Never inside another AddFile: its "taken over" clearing would drop the
    // file added under its box. Files offered meanwhile are taken in turn.
    while (!m_bRunning && !m_bAdding && !m_waitingFiles.empty()) {
        WaitingFile next = std::move(m_waitingFiles.front());
        m_waitingFiles.pop_front();
        m_bAdding = true;
        AddFile(next.path);
        m_bAdding = false;
        if (next.added) next.added();
    }
}

bool CVarnelDlg::LoadPdaFile(const std::string& path, const FileEntry* listed) {
    uint16_t words[PdaMaxWords];
    std::string reason;
    uint16_t count = 0;
    // The words read when the file was listed, while the file is as it was.
    if (listed && listed->path == path && listed->stamp && !listed->pdaWords.empty() &&
        listed->pdaWords.size() <= PdaMaxWords && StampOf(path) == listed->stamp) {
        count = static_cast<uint16_t>(listed->pdaWords.size());
        std::copy(listed->pdaWords.begin(), listed->pdaWords.end(), words);
    } else {
        count = ReadPdaTextFile(words, path.c_str(), &reason);
    }
    if (count == 0) {
        // The reader's own reason, with its line number, follows.
        Ask("File not loaded. Format invalid?" + (reason.empty() ? std::string{} : "\n" + reason), "",
            MessageIcon::None);
        return false;
    }
    if (m_pda.LoadFromWords(words, count) <= 0) {
        Ask("Unable to load items from file: " + path, "Error", MessageIcon::Error);
        return false;
    }
    return true;
}

bool CVarnelDlg::OnDownload() {
    std::string directory;
    if (!m_registry.KeyExists(RegistryHive::CurrentUser, "Software\\Varnel")) {
        Ask("Varnel can't get any data from Registry!!", "", MessageIcon::None);
    } else if (auto value = m_registry.StringValue(RegistryHive::CurrentUser, "Software\\Varnel", "Path")) {
        // A value too long for its buffer cannot be read: no directory,
        // rather than a cut one.
        if (value->size() < kRegistryPathMax) directory = *value;
    }
    const auto chosen =
        m_host.OpenFile({"oem", directory + "\\Firmware\\*.oem", "Link File (*.oem)|*.oem|", "Download"});
    if (!chosen) return false;

    // A link file is tiny: a longer one, or a device or a FIFO, is refused
    // unread.
    InputRefusal refusal = InputRefusal::None;
    const Result<std::string> bytes = ReadRegularFile(*chosen, kLinkFileMaxBytes, &refusal);
    const bool read = bytes.Ok();
    const auto [folder, name] = SplitPath(*chosen);
    if (!read && refusal == InputRefusal::Missing) {
        Ask("Cannot read the link file " + *chosen, "Error", MessageIcon::Error);
        return false;
    }
    if (name != kLinkFileName) {
        Ask("This is not the specified linking file for Firmware update!", "", MessageIcon::Error);
        return false;
    }
    if (!read) {
        Ask("The link file " + *chosen + " cannot be used: it " + bytes.Reason() + ".", "Error", MessageIcon::Error);
        return false;
    }
    const auto link = ParseLinkFile(*bytes);
    if (!link) {
        Ask("The link file " + *chosen + " cannot be used: " + link.Reason() + ".", "Error", MessageIcon::Error);
        return false;
    }
    // Every named file must be there to prove the sum: a missing one
    // refuses the link file.
    uint32_t sum = 0;
    for (const std::string& file : link->names) {
        const Result<int32_t> fileSum = FileByteSum(folder + file);
        if (!fileSum) {
            Ask("The link file names " + folder + file + ", which " + fileSum.Reason() + ". Nothing was added.",
                "Error", MessageIcon::Error);
            return false;
        }
        sum += static_cast<uint32_t>(*fileSum);
    }
    if (sum != link->checksum) {
        Ask("The firmware files had been modified!!", "", MessageIcon::Warning);
        return false;
    }
    for (const std::string& file : link->names) AddFile(folder + file);
    return true;
}

}  // namespace varnel
