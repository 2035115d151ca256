#pragma once
// The update history: history.jsonl in the state directory, one JSON object
// a line, one line a run that wrote to a card. Lines are only ever
// appended, never rewritten.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "update/run_report.h"

namespace varnel {

// $XDG_STATE_HOME/varnel/history.jsonl (see StateDirectory).
std::filesystem::path DefaultHistoryPath();

// The history is read as a stream, newest record first, so that memory
// stays within a few blocks and the longest line however long the file: a
// line longer than kHistoryLineMaxBytes is skipped as damaged. However
// large a file, its newest records are read from its end; one that is not
// a regular file (a device, a FIFO) is refused unread.
inline constexpr size_t kHistoryLineMaxBytes = size_t{1} << 20;

// Once the file holds kHistoryRotateBytes, the next record's append renames
// it aside to history.TIME.jsonl (TIME the UTC time it was renamed,
// 20261211T081500Z, with -1, -2, ... when that name is taken) and begins a
// new file. Nothing is removed: the older files are read after the newest.
inline constexpr uint64_t kHistoryRotateBytes = uint64_t{64} << 20;

// The files of the history at `path`, newest first: `path` itself, then the
// older files it was renamed to.
std::vector<std::filesystem::path> HistoryFiles(const std::filesystem::path& path);

// Appends `record` as one line (see AppendLineDurably), creating the
// directory when missing; a file that would pass `rotateAt` bytes is first
// renamed aside (see kHistoryRotateBytes).
Result<> AppendHistoryLine(const std::filesystem::path& path, const Json& record,
                           uint64_t rotateAt = kHistoryRotateBytes);

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

// A reading of the history newest record first (the file at `path`, then
// its older files), which goes on where it stopped: each record that is a
// JSON object goes to `take`, and each damaged line's warning to `warn`, as
// they are met. When `take` returns false the reading stops, and the next
// Read goes on with the record after it (a window that shows more rows as
// they are scrolled to). A file that does not exist is an empty history. A
// failure when the newest file exists but cannot be read, or is refused; an
// older file that cannot be read is a warning.
class HistoryReader {
public:
    explicit HistoryReader(std::filesystem::path path);
    ~HistoryReader();
    HistoryReader(HistoryReader&&) noexcept;
    HistoryReader& operator=(HistoryReader&&) noexcept;

    Result<> Read(const std::function<bool(Json&)>& take, const std::function<void(const std::string&)>& warn);
    // Without building JSON: each record's line as it stands in the file
    // (its line end removed), with its typed record (which `take` may move
    // from). Faster, for a long history.
    Result<> Read(const std::function<bool(std::string_view line, HistoryRecord& record)>& take,
                  const std::function<void(const std::string&)>& warn);
    // The whole history was read (or its reading failed).
    bool Done() const;

    struct State;

private:
    std::filesystem::path m_path;
    std::unique_ptr<State> m_state;
};

// The whole reading at once (see HistoryReader).
Result<> ReadHistoryNewestFirst(const std::filesystem::path& path, const std::function<bool(Json&)>& take,
                                const std::function<void(const std::string&)>& warn);

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
