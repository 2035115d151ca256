#pragma once
// Writing a file so that a crash or a failed write never leaves it torn: the
// contents go to a temporary file beside it, which then replaces it.

#include <string>
#include <string_view>

namespace varnel {

// False (and the old file untouched) when anything fails; `error` says why.
// With `sync` the data reach the disk before the file is replaced, so the
// file survives a power loss too; without, it survives a killed process.
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string* error = nullptr,
                         bool sync = true);

}  // namespace varnel
