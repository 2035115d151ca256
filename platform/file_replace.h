#pragma once
// Replacing a file where the system has no call that does it in one step
// (Windows 95, 98 and ME: MoveFileEx is a stub there). The new file is
// written whole and flushed under a temporary name first; then
//   1. the old file moves aside to TARGET.varnel-old,
//   2. the new file takes the name,
//   3. the old one goes.
// A rename within a folder is one step on every file system, so a power
// loss leaves the old file whole (before 2: it is still aside) or the new
// one (after 2). What a crash left half done is finished or undone by
// RecoverReplace, which every read and every write of the file calls
// first: a file aside and none in its place is the old one, put back; a
// file aside beside the new one is the old one, removed.

#include <functional>
#include <string>

#include "platform/result.h"

namespace varnel {

// The file system calls the replacement makes, so that a test can stop it
// between any two of them.
struct ReplaceCalls {
    std::function<bool(const std::string& path)> exists;
    // Renames; fails when `to` exists.
    std::function<bool(const std::string& from, const std::string& to)> move;
    std::function<bool(const std::string& path)> remove;
};

// The name the old file has while it is aside.
std::string AsideName(const std::string& target);

// Finishes or undoes a replacement of `target` that a crash interrupted.
// Fails when a step that was needed failed (the reason says which).
Result<> RecoverReplace(const ReplaceCalls& calls, const std::string& target);

// Gives `target` the contents of the whole, flushed file `temporary` in the
// steps above. On a failure the old file is back in its place (when it
// could be put back) and `temporary` is left to the caller.
Result<> ReplaceInSteps(const ReplaceCalls& calls, const std::string& temporary, const std::string& target);

}  // namespace varnel
