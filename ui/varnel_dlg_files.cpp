// The main dialog's file list: adding files, merging .pda files, and the
// OEM link file ("Download...").

#include <fstream>
#include <sstream>

#include "pda/pda_text_file.h"
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
    m_strLastFile = path;
    if (m_fileList.GetCount() == 3) {
        Ask("The new firmware files will be taken over!!", "", MessageIcon::Warning);
        m_fileList.RemoveAll();
    }
    const FileEntry entry = ClassifyFile(path);
    m_fileList.AddItem(entry.type, entry.text, entry.path);
    UpdateData();
}

bool CVarnelDlg::LoadPdaFile(const std::string& path) {
    uint16_t words[PdaMaxWords];
    const uint16_t count = ReadPdaTextFile(words, path.c_str());
    if (count == 0) {
        Ask("File not loaded. Format invalid?", "", MessageIcon::None);
        return false;
    }
    if (m_pda.LoadFromWords(words, count) <= 0) {
        Ask("Unable to load items from file: " + path, "Error", MessageIcon::Error);
        return false;
    }
    return true;
}

void CVarnelDlg::OnDownload() {
    std::string directory;
    if (!m_registry.KeyExists(RegistryHive::CurrentUser, "Software\\Varnel")) {
        Ask("Varnel can't get any data from Registry!!", "", MessageIcon::None);
    } else if (auto value = m_registry.StringValue(RegistryHive::CurrentUser, "Software\\Varnel", "Path")) {
        directory = value->size() < kRegistryPathMax ? *value : value->substr(0, kRegistryPathMax - 1);
    }
    const auto chosen = m_host.OpenFile({"oem", directory + "\\Firmware\\*.oem", "Link File (*.oem)|*.oem|"});
    if (!chosen) return;

    std::ifstream in(*chosen, std::ios::binary);
    const auto [folder, name] = SplitPath(*chosen);
    if (!in) {
        Ask("Cannot read the link file " + *chosen, "Error", MessageIcon::Error);
        return;
    }
    if (name != kLinkFileName) {
        Ask("This is not the specified linking file for Firmware update!", "", MessageIcon::Error);
        return;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string reason;
    const auto link = ParseLinkFile(bytes.str(), &reason);
    if (!link) {
        Ask("The link file " + *chosen + " cannot be used: " + reason + ".", "Error", MessageIcon::Error);
        return;
    }
    uint32_t sum = 0;
    for (const std::string& file : link->names) sum += static_cast<uint32_t>(FileByteSum(folder + file));
    if (sum != link->checksum) {
        Ask("The firmware files had been modified!!", "", MessageIcon::Warning);
        return;
    }
    for (const std::string& file : link->names) AddFile(folder + file);
}

}  // namespace varnel
