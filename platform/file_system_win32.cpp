// The file system on Windows: the narrow (ANSI) Win32 calls, which every
// release has, from Windows 95 on (the paths are in the ANSI code page).

#include <windows.h>

#include "platform/file_system.h"

namespace varnel::files {

namespace {

std::error_code LastError() { return std::error_code(static_cast<int>(::GetLastError()), std::system_category()); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool Missing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME;
}

// The entry itself, as its folder lists it (size and time): what Windows 95
// gives for a file without GetFileAttributesEx.
bool Find(const std::string& path, WIN32_FIND_DATAA& data, std::error_code& ec) {
    ec.clear();
    if (path.find_first_of("*?") != std::string::npos) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    HANDLE found = ::FindFirstFileA(path.c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) {
        ec = LastError();
        return false;
    }
    ::FindClose(found);
    return true;
}

}  // namespace

FileType TypeOf(const std::string& path, std::error_code& ec) {
    ec.clear();
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        if (Missing(code)) return FileType::NotFound;
        ec = std::error_code(static_cast<int>(code), std::system_category());
        return FileType::NotFound;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileType::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return FileType::Other;
    return FileType::Regular;
}

bool Exists(const std::string& path, std::error_code& ec) { return TypeOf(path, ec) != FileType::NotFound; }

bool IsDirectory(const std::string& path, std::error_code& ec) { return TypeOf(path, ec) == FileType::Directory; }

bool IsEmpty(const std::string& path, std::error_code& ec) {
    const FileType type = TypeOf(path, ec);
    if (ec) return false;
    if (type == FileType::Directory) {
        const std::vector<std::string> entries = ListDirectory(path, ec);
        return !ec && entries.empty();
    }
    const uint64_t size = SizeOf(path, ec);
    return !ec && size == 0;
}

uint64_t SizeOf(const std::string& path, std::error_code& ec) {
    WIN32_FIND_DATAA data;
    if (!Find(path, data, ec)) return static_cast<uint64_t>(-1);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ec = std::make_error_code(std::errc::is_a_directory);
        return static_cast<uint64_t>(-1);
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int64_t LastWriteTime(const std::string& path, std::error_code& ec) {
    WIN32_FIND_DATAA data;
    if (!Find(path, data, ec)) return 0;
    return static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                data.ftLastWriteTime.dwLowDateTime);
}

bool CreateDirectories(const std::string& path, std::error_code& ec) {
    ec.clear();
    if (path.empty()) return false;
    if (TypeOf(path, ec) == FileType::Directory) return false;
    if (ec) return false;
    std::string parent = ParentOf(path);
    if (!parent.empty() && parent != path) {
        CreateDirectories(parent, ec);
        if (ec) return false;
    }
    if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
    const DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS && IsDirectory(path, ec)) return false;
    ec = std::error_code(static_cast<int>(code), std::system_category());
    return false;
}

bool Remove(const std::string& path, std::error_code& ec) {
    const FileType type = TypeOf(path, ec);
    if (ec || type == FileType::NotFound) return false;
    if (type == FileType::Directory ? ::RemoveDirectoryA(path.c_str()) : ::DeleteFileA(path.c_str())) return true;
    ec = LastError();
    return false;
}

uint64_t RemoveAll(const std::string& path, std::error_code& ec) {
    const FileType type = TypeOf(path, ec);
    if (ec || type == FileType::NotFound) return 0;
    uint64_t removed = 0;
    if (type == FileType::Directory) {
        for (const std::string& entry : ListDirectory(path, ec)) {
            if (ec) return removed;
            removed += RemoveAll(entry, ec);
            if (ec) return removed;
        }
        if (ec) return removed;
    }
    if (Remove(path, ec)) ++removed;
    return removed;
}

std::vector<std::string> ListDirectory(const std::string& path, std::error_code& ec) {
    ec.clear();
    std::vector<std::string> entries;
    WIN32_FIND_DATAA data;
    HANDLE found = ::FindFirstFileA(Join(path, "*").c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_NO_MORE_FILES)
            ec = std::error_code(static_cast<int>(code), std::system_category());
        return entries;
    }
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") entries.push_back(Join(path, name));
    } while (::FindNextFileA(found, &data));
    const DWORD code = ::GetLastError();
    ::FindClose(found);
    if (code != ERROR_NO_MORE_FILES) ec = std::error_code(static_cast<int>(code), std::system_category());
    return entries;
}

std::string CanonicalOrAbsolute(const std::string& path, std::error_code& ec) {
    ec.clear();
    char full[MAX_PATH * 4];
    char* name = nullptr;
    const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof full, full, &name);
    if (n == 0 || n >= sizeof full) {
        ec = n == 0 ? LastError() : std::make_error_code(std::errc::filename_too_long);
        return path;
    }
    return std::string(full, n);
}

std::string Join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (!b.empty() && (IsSeparator(b[0]) || (b.size() > 1 && b[1] == ':'))) return b;
    return IsSeparator(a.back()) || (a.size() == 2 && a[1] == ':') ? a + b : a + "\\" + b;
}

std::string ParentOf(const std::string& path) {
    // The folder part, kept whole for a root ("C:\", "\\server\share" aside).
    size_t end = path.size();
    size_t start = path.size() > 1 && path[1] == ':' ? 2 : 0;
    size_t last = path.find_last_of("\\/");
    if (last == std::string::npos || last < start) return path.substr(0, start);
    end = last;
    while (end > start + 1 && IsSeparator(path[end - 1])) --end;
    if (end == start) return path.substr(0, start + 1);
    return path.substr(0, end);
}

std::string FileNameOf(const std::string& path) {
    const size_t last = path.find_last_of("\\/:");
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::string ExtensionOf(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name == "..") return {};
    return name.substr(dot);
}

}  // namespace varnel::files
