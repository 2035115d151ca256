#pragma once
// The update history: history.jsonl in the state directory, one JSON object
// a line, one line a run that wrote to a card. Lines are only ever
// appended, never rewritten.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "update/run_report.h"

namespace varnel {

// $XDG_STATE_HOME/varnel/history.jsonl (see StateDirectory).
std::filesystem::path DefaultHistoryPath();

// Appends `record` as one line (see AppendLineDurably), creating the
// directory when missing.
bool AppendHistoryLine(const std::filesystem::path& path, const Json& record, std::string* error);

struct History {
    std::vector<Json> records;          // in file order, oldest first
    std::vector<std::string> warnings;  // one for each damaged line skipped
};
// Reads the history; a file that does not exist is an empty history. A line
// that is not a JSON object is skipped with a warning. False, with the
// reason, when the file exists but cannot be read.
bool ReadHistory(const std::filesystem::path& path, History& history, std::string* error);

}  // namespace varnel
