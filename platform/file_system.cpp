// The file system on POSIX systems: the standard library's calls.

#include "platform/file_system.h"

#include <filesystem>

namespace varnel::files {

namespace fs = std::filesystem;

FileType TypeOf(const std::string& path, std::error_code& ec) {
    const fs::file_status status = fs::status(path, ec);
    switch (status.type()) {
    case fs::file_type::not_found: ec.clear(); return FileType::NotFound;
    case fs::file_type::regular: return FileType::Regular;
    case fs::file_type::directory: return FileType::Directory;
    default: return ec ? FileType::NotFound : FileType::Other;
    }
}

bool Exists(const std::string& path, std::error_code& ec) { return fs::exists(path, ec); }
bool IsDirectory(const std::string& path, std::error_code& ec) { return fs::is_directory(path, ec); }
bool IsEmpty(const std::string& path, std::error_code& ec) { return fs::is_empty(path, ec); }
uint64_t SizeOf(const std::string& path, std::error_code& ec) { return fs::file_size(path, ec); }

int64_t LastWriteTime(const std::string& path, std::error_code& ec) {
    return static_cast<int64_t>(fs::last_write_time(path, ec).time_since_epoch().count());
}

bool CreateDirectories(const std::string& path, std::error_code& ec) { return fs::create_directories(path, ec); }
bool Remove(const std::string& path, std::error_code& ec) { return fs::remove(path, ec); }
uint64_t RemoveAll(const std::string& path, std::error_code& ec) { return fs::remove_all(path, ec); }

std::vector<std::string> ListDirectory(const std::string& path, std::error_code& ec) {
    std::vector<std::string> entries;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path().string());
    return entries;
}

std::string CanonicalOrAbsolute(const std::string& path, std::error_code& ec) {
    return fs::weakly_canonical(fs::absolute(path, ec), ec).string();
}

std::string Join(const std::string& a, const std::string& b) { return (fs::path(a) / b).string(); }
std::string ParentOf(const std::string& path) { return fs::path(path).parent_path().string(); }
std::string FileNameOf(const std::string& path) { return fs::path(path).filename().string(); }
std::string ExtensionOf(const std::string& path) { return fs::path(path).extension().string(); }

}  // namespace varnel::files
