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

#include "platform/result.h"
#include "update/run_report.h"

namespace varnel {

// $XDG_STATE_HOME/varnel/history.jsonl (see StateDirectory).
std::filesystem::path DefaultHistoryPath();

// Appends `record` as one line (see AppendLineDurably), creating the
// directory when missing.
Result<> AppendHistoryLine(const std::filesystem::path& path, const Json& record);

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
// exist is an empty history. A failure when the file exists but cannot be
// read, or is refused.
Result<> ReadHistoryNewestFirst(const std::filesystem::path& path, const std::function<bool(Json&)>& take,
                                const std::function<void(const std::string&)>& warn);

// One record of the history, typed. A field the record does not hold, or
// holds as another type (a damaged or older file), is empty (nullopt); a
// key given twice counts as a parsed record's does: the last one. Names
// (paths, the status) are the bytes the program had (see DecodeJsonName).
struct HistoryPdaChange {
    std::optional<int64_t> code;
    std::optional<std::string> name;    // "release", null for a record without a name
    std::optional<std::string> change;  // "added", "removed", "changed"
};
struct HistoryRecord {
    std::optional<std::string> id, time, action, adapterName, mac, serial, backup, firmwareBackup, outcome, status;
    std::optional<std::string> adapter;  // the adapter's number as the record writes it ("1")
    std::vector<RunFile> files;          // one for each element of "files"
    CardVersions before, after;
    std::vector<HistoryPdaChange> pdaChanged;  // one for each element of "pda_changed"
};

// The same reading, without building JSON: each line that holds a JSON
// object goes to `take` as it stands in the file (its line end removed),
// with its typed record (which `take` may move from). Faster, for a long
// history.
Result<> ReadHistoryRecordsNewestFirst(const std::filesystem::path& path,
                                       const std::function<bool(std::string_view line, HistoryRecord& record)>& take,
                                       const std::function<void(const std::string&)>& warn);

struct History {
    std::vector<Json> records;          // in file order, oldest first
    std::vector<std::string> warnings;  // one for each damaged line skipped
};
// Reads the whole history into memory, oldest first (ReadHistoryNewestFirst
// reads it without keeping it); a line that is not a JSON object is skipped
// with a warning.
Result<History> ReadHistory(const std::filesystem::path& path);

}  // namespace varnel
