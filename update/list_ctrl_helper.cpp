#include "update/list_ctrl_helper.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "platform/file_system.h"

namespace varnel {

std::optional<FileStamp> StampOf(const std::string& path) {
    std::error_code ec;
    FileStamp stamp;
    stamp.size = files::SizeOf(path, ec);
    if (ec) return std::nullopt;
    stamp.time = files::LastWriteTime(path, ec);
    if (ec) return std::nullopt;
    return stamp;
}

void CListCtrlHelper::AddItem(int type, const std::string& text, const std::string& path, const std::string& problem) {
    AddItem(FileEntry{type, text, path, problem, {}, std::nullopt});
}

void CListCtrlHelper::AddItem(FileEntry entry) {
    const int type = entry.type;
    const std::string& path = entry.path;
    switch (type) {
    case kFilePrimary:
    case kFileStation:
        RemoveType(type);
        RemoveType(kFilePrimaryStation);
        break;
    case kFilePrimaryStation:
        RemoveType(kFilePrimary);
        RemoveType(kFileStation);
        RemoveType(kFilePrimaryStation);
        break;
    default: {
        // Among the entries of this type, the first with the same path goes.
        const int first = FindFirstOfType(type);
        for (int i = first; i >= 0 && i < GetCount() && m_entries[static_cast<size_t>(i)].type == type; ++i) {
            if (m_entries[static_cast<size_t>(i)].path == path) {
                m_entries.erase(m_entries.begin() + i);
                break;
            }
        }
        break;
    }
    }
    const auto at =
        std::find_if(m_entries.begin(), m_entries.end(), [type](const FileEntry& e) { return e.type > type; });
    m_entries.insert(at, std::move(entry));
}

void CListCtrlHelper::RemoveType(int type) {
    std::erase_if(m_entries, [type](const FileEntry& e) { return e.type == type; });
}

bool CListCtrlHelper::GetPath(int index, std::string& path) const {
    if (index < 0 || index >= GetCount()) return false;
    path = m_entries[static_cast<size_t>(index)].path;
    return true;
}

int CListCtrlHelper::GetType(int index) const {
    return index >= 0 && index < GetCount() ? m_entries[static_cast<size_t>(index)].type : -1;
}

int CListCtrlHelper::FindFirstOfType(int type) const {
    for (int i = 0; i < GetCount(); ++i)
        if (m_entries[static_cast<size_t>(i)].type == type) return i;
    return -1;
}

bool IsPdaPath(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".pda";
}

FileEntry ClassifyFile(const std::string& path) {
    if (IsPdaPath(path)) {
        std::string text = "     ";
        uint16_t words[PdaMaxWords];
        std::string problem;
        const auto stamp = StampOf(path);
        const uint16_t count = ReadPdaTextFile(words, path.c_str(), &problem);
        CPda scratch;
        if (count > 0 && scratch.LoadFromWords(words, count) <= 0) problem = "the file holds no PDA record";
        if (count == 0 && problem.empty()) problem = "the file holds no PDA words";
        if (problem.empty()) {
            char hex[8];
            if (const uint16_t* platform = scratch.FindRecord(kPdrPlatform); platform && platform[0] == 5) {
                std::snprintf(hex, sizeof hex, "%x", unsigned{platform[2]});
                text = hex;
            }
            if (const uint16_t* release = scratch.FindRecord(kPdrRelease); release && release[0] == 2) {
                std::snprintf(hex, sizeof hex, "%x", unsigned{release[2]});
                text += " / " + std::string(hex);
            }
        }
        FileEntry entry{kFilePda, text, path, problem, {}, std::nullopt};
        // Kept only when the file did not change while it was read.
        if (problem.empty() && stamp && StampOf(path) == stamp) {
            entry.pdaWords.assign(words, words + count);
            entry.stamp = stamp;
        }
        return entry;
    }
    // A file that fails to load is listed with whatever records came before
    // the failure. It is loaded as the update loads it, so that `problem`
    // names every reason the update would refuse it for.
    CFirmwareFile file;
    CFirmwareImage scratch;
    CPlugList plugs;
    const std::string problem = file.LoadFile(path, &scratch, &plugs) == 0 ? file.LastFinding() : std::string{};
    if (file.m_primary.present && file.m_station.present)
        return {kFilePrimaryStation, file.m_primary.Format() + " / " + file.m_station.Format(), path, problem, {},
                std::nullopt};
    if (file.m_primary.present) return {kFilePrimary, file.m_primary.Format(), path, problem, {}, std::nullopt};
    if (file.m_station.present) return {kFileStation, file.m_station.Format(), path, problem, {}, std::nullopt};
    return {kFileUnknownImage, "Unknown", path, problem, {}, std::nullopt};
}

}  // namespace varnel
