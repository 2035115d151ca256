#pragma once
// The update history: history.jsonl in the state directory, one JSON object
// a line, one line a run that wrote to a card. Lines are only ever
// appended, never rewritten.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/run_report.h"

namespace varnel {

// $XDG_STATE_HOME/varnel/history.jsonl (see StateDirectory).
std::filesystem::path DefaultHistoryPath();

// Appends `record` as one line (see AppendLineDurably), creating the
// directory when missing.
bool AppendHistoryLine(const std::filesystem::path& path, const Json& record, std::string* error);

// The history is read as a stream, newest record first, so that memory
// stays within a few blocks and the longest line however long the file:
// a line longer than kHistoryLineMaxBytes is skipped as damaged, and a file
// longer than kHistoryMaxBytes (or one that is not a regular file: a
// device, a FIFO) is refused unread.
inline constexpr size_t kHistoryLineMaxBytes = size_t{1} << 20;
inline constexpr uint64_t kHistoryMaxBytes = uint64_t{1} << 30;

// Reads the history newest record first: each record that is a JSON object
// goes to `take` (which stops the reading by returning false), and each
// damaged line's warning to `warn`, as they are met. A file that does not
// exist is an empty history. False, with the reason, when the file exists
// but cannot be read, or is refused.
bool ReadHistoryNewestFirst(const std::filesystem::path& path, const std::function<bool(Json&)>& take,
                            const std::function<void(const std::string&)>& warn, std::string* error);

// What the history table shows of a record: "-" for a text that is not
// there (or not text), "?" for a version not read.
struct HistoryRow {
    std::string time = "-", action = "-", adapter = "-", mac = "-", outcome = "-", status = "-";
    std::string beforePrimary = "?", beforeStation = "?", afterPrimary = "?", afterStation = "?";
    size_t pdaChanged = 0;  // the records in `pda_changed`
};

// The same reading, without building the records: each line that holds a
// JSON object goes to `take` as it stands in the file (its line end
// removed), with what the table shows of it. Faster, for a long history.
bool ReadHistoryRowsNewestFirst(const std::filesystem::path& path,
                                const std::function<bool(std::string_view line, const HistoryRow& row)>& take,
                                const std::function<void(const std::string&)>& warn, std::string* error);

struct History {
    std::vector<Json> records;          // in file order, oldest first
    std::vector<std::string> warnings;  // one for each damaged line skipped
};
// Reads the whole history into memory, oldest first (ReadHistoryNewestFirst
// reads it without keeping it); a line that is not a JSON object is skipped
// with a warning.
bool ReadHistory(const std::filesystem::path& path, History& history, std::string* error);

}  // namespace varnel
