#pragma once
// What the program asks of the file system, on paths in the system's own
// narrow encoding (on Windows the ANSI code page, as the narrow Win32 calls
// take them). Each call reports a failure through `ec`, as the standard
// library's file system calls do, and the messages are theirs on POSIX
// systems.

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace varnel::files {

enum class FileType { NotFound, Regular, Directory, Other };

// What `path` names (following a symbolic link). A missing file is
// NotFound with `ec` clear; a file that cannot be examined sets `ec`.
FileType TypeOf(const std::string& path, std::error_code& ec);

bool Exists(const std::string& path, std::error_code& ec);
bool IsDirectory(const std::string& path, std::error_code& ec);
// True for an empty folder or an empty file.
bool IsEmpty(const std::string& path, std::error_code& ec);
uint64_t SizeOf(const std::string& path, std::error_code& ec);
// The time of the last write, in units of the system's own: only compared.
int64_t LastWriteTime(const std::string& path, std::error_code& ec);

// Every missing folder of `path`; true when one was made.
bool CreateDirectories(const std::string& path, std::error_code& ec);
// A file or an empty folder; false (and `ec` clear) when there was none.
bool Remove(const std::string& path, std::error_code& ec);
// A file or a folder with all it holds; how many entries went.
uint64_t RemoveAll(const std::string& path, std::error_code& ec);
// The full paths of the entries of folder `path` (without "." and ".."),
// in the order the system gives them.
std::vector<std::string> ListDirectory(const std::string& path, std::error_code& ec);
// `path` made absolute, with "." and ".." and, where they exist, links
// resolved: the same file under each of its names.
std::string CanonicalOrAbsolute(const std::string& path, std::error_code& ec);

// Path text, without the file system: `a` and `b` joined with the system's
// separator, the folder part, and the last part.
std::string Join(const std::string& a, const std::string& b);
std::string ParentOf(const std::string& path);
std::string FileNameOf(const std::string& path);
std::string ExtensionOf(const std::string& path);

}  // namespace varnel::files
