#pragma once
// Writing files so that a crash or a failed write never leaves them torn:
// a whole file goes to a temporary file beside it, which then replaces it;
// a line appended to a log goes in one write, synced.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace varnel {

// A failure (and the old file untouched) when anything fails, with why.
// With `sync` the data reach the disk before the file is replaced, so the
// file survives a power loss too; without, it survives a killed process.
// Only a regular file is replaced: a symbolic link is followed to the file
// it names (the temporary file goes beside that file, the link stays), and
// a device or a FIFO (/dev/null, /dev/stdout, a named pipe) is written
// as it is, in place. A folder or a socket is refused.
Result<> WriteFileAtomically(const std::string& path, std::string_view contents, bool sync = true);

// Writes a new file under a name no other file has, whole or not at all:
// the contents go to a temporary file, which then takes the name only if it
// is still free (no other process can take it in between). A failure when
// anything fails; `taken` then says whether the name was in use.
Result<> WriteNewFile(const std::string& path, std::string_view contents, bool* taken = nullptr);

// When a file appended to is renamed aside: once it holds bytes and the
// line would take it past `rotateAt` bytes, it is renamed to
// `archiveName(attempt)` (a name no file has: no file is ever replaced;
// `attempt` counts the names found taken) and the line begins a new file.
// A file that cannot be renamed keeps growing. 0: never.
struct LineRotation {
    uint64_t rotateAt = 0;
    std::function<std::string(int attempt)> archiveName;
};

// Appends `line` and a line end to the file (created when missing) with one
// write, then syncs it to disk. A last line left without its line end (a
// process killed while appending) is closed first, in the same write, so
// that it never swallows this one. A failure when the line could not be
// written whole; on POSIX systems appenders take turns (a lock on the
// file), and what was written of a line written in part (a full disk) is
// taken back.
Result<> AppendLineDurably(const std::string& path, std::string_view line, const LineRotation& rotation = {});

}  // namespace varnel
