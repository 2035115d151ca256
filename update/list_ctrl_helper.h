#pragma once
// The firmware file list: what the next update will process. At most one
// Primary, one Station or one combined image; the same PDA or unrecognised
// file only once; entries kept in type order, PDA files first.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varnel {

enum FileType : int {
    kFilePda = 0,
    kFileUnknownImage = 1,
    kFilePrimary = 2,
    kFileStation = 3,
    kFilePrimaryStation = 4,
};

// What a file was when it was read (its size and modification time): what
// was read then stands for the file only while the stamp stays the same.
struct FileStamp {
    uintmax_t size = 0;
    int64_t time = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampOf(const std::string& path);

struct FileEntry {
    int type = kFileUnknownImage;
    std::string text;     // "Type / Version" column
    std::string path;     // "File Path" column: the full path, never cut
    std::string problem;  // why the file could not be read; empty when it loaded
    // A .pda file's words as read when it was listed, and the file's stamp
    // then (none when it did not load), so that a run soon after need not
    // read a large file again.
    std::vector<uint16_t> pdaWords;
    std::optional<FileStamp> stamp;
};

class CListCtrlHelper {
public:
    // Applies the replacement rule, then inserts before the first entry of a
    // greater type.
    void AddItem(int type, const std::string& text, const std::string& path, const std::string& problem = {});
    void AddItem(FileEntry entry);
    void RemoveType(int type);
    void RemoveAll() { m_entries.clear(); }
    int GetCount() const { return static_cast<int>(m_entries.size()); }
    bool GetPath(int index, std::string& path) const;
    int GetType(int index) const;
    int FindFirstOfType(int type) const;
    const std::vector<FileEntry>& Entries() const { return m_entries; }

private:
    std::vector<FileEntry> m_entries;
};

// How AddFile lists a file: a .pda file by its platform and release words,
// an image by the versions its info records give. A file that does not load
// is still listed; `problem` then holds the reader's reason.
FileEntry ClassifyFile(const std::string& path);

// True when the path ends in ".pda" (in any letter case).
bool IsPdaPath(const std::string& path);

}  // namespace varnel
