#pragma once
// Times as the program writes them: in UTC, to the second.

#include <chrono>
#include <string>

namespace varnel {

// `when` in UTC through strftime's `format` ("%Y%m%dT%H%M%SZ" for a file name).
std::string UtcStamp(const char* format, std::chrono::system_clock::time_point when = std::chrono::system_clock::now());

// `when` as the history and the backups' headers write it: 2026-12-11T00:38:41Z.
std::string UtcTimeText(std::chrono::system_clock::time_point when = std::chrono::system_clock::now());

}  // namespace varnel
