#include "update/history.h"

#include <algorithm>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/input_file.h"
#include "platform/state_directory.h"

namespace varnel {

std::filesystem::path DefaultHistoryPath() { return StateDirectory() / "history.jsonl"; }

bool AppendHistoryLine(const std::filesystem::path& path, const Json& record, std::string* error) {
    std::error_code ec;
    if (!path.parent_path().empty()) std::filesystem::create_directories(path.parent_path(), ec);
    return AppendLineDurably(path.string(), record.dump(), error);
}

bool ReadHistoryNewestFirst(const std::filesystem::path& path, const std::function<bool(Json&)>& take,
                            const std::function<void(const std::string&)>& warn, std::string* error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    CInputFile file;
    const auto refused = [&] {
        if (error) *error = path.string() + ": " + file.Reason();
        return false;
    };
    if (!file.Open(path.string(), kHistoryMaxBytes)) return refused();
    const uint64_t size = file.Size();
    std::vector<char> block(size_t{1} << 16);

    // The lines are numbered as in the file, so the line ends are counted
    // first; a last line without its line end counts too.
    uint64_t lines = 0;
    char last = '\n';
    for (uint64_t at = 0; at < size;) {
        const std::ptrdiff_t n = file.ReadAt(at, block.data(), static_cast<size_t>(std::min<uint64_t>(block.size(), size - at)));
        if (n <= 0) return n < 0 ? refused() : true;  // a file that shrank ends where it ends
        lines += static_cast<uint64_t>(std::count(block.data(), block.data() + n, '\n'));
        last = block[static_cast<size_t>(n) - 1];
        at += static_cast<uint64_t>(n);
    }
    if (last != '\n') ++lines;

    // Then the blocks backwards. `line` gathers the line being read, which
    // may run over several blocks; a line too long is dropped as it grows.
    std::string line;
    bool tooLong = false;
    uint64_t number = lines;
    const auto finish = [&]() {
        bool goOn = true;
        if (tooLong) {
            warn(path.string() + ": line " + std::to_string(number) + " is longer than " +
                 std::to_string(kHistoryLineMaxBytes) + " bytes and was skipped");
        } else if (!line.empty()) {
            Json record = Json::parse(line, nullptr, false);
            if (record.is_discarded() || !record.is_object())
                warn(path.string() + ": line " + std::to_string(number) +
                     " is damaged (a run cut off while it was written?) and was skipped");
            else
                goOn = take(record);
        }
        line.clear();
        tooLong = false;
        --number;
        return goOn;
    };
    const auto prepend = [&](const char* from, size_t count) {
        if (tooLong) return;
        if (line.size() + count > kHistoryLineMaxBytes) {
            tooLong = true;
            line.clear();
            return;
        }
        line.insert(0, from, count);
    };
    uint64_t end = size;
    if (size > 0 && last == '\n') --end;  // the file's last line end closes its last line
    while (end > 0) {
        const uint64_t start = end - std::min<uint64_t>(block.size(), end);
        const auto count = static_cast<size_t>(end - start);
        const std::ptrdiff_t n = file.ReadAt(start, block.data(), count);
        if (n < 0) return refused();
        if (static_cast<size_t>(n) != count) {
            if (error) *error = path.string() + ": changed while it was read";
            return false;
        }
        size_t stop = count;  // the part of the block not yet taken
        for (size_t k = count; k-- > 0;) {
            if (block[k] != '\n') continue;
            prepend(block.data() + k + 1, stop - k - 1);
            if (!finish()) return true;
            stop = k;
        }
        prepend(block.data(), stop);
        end = start;
    }
    if (lines > 0) finish();
    return true;
}

bool ReadHistory(const std::filesystem::path& path, History& history, std::string* error) {
    history = {};
    const bool read = ReadHistoryNewestFirst(
        path,
        [&history](Json& record) {
            history.records.push_back(std::move(record));
            return true;
        },
        [&history](const std::string& warning) { history.warnings.push_back(warning); }, error);
    std::reverse(history.records.begin(), history.records.end());
    std::reverse(history.warnings.begin(), history.warnings.end());
    return read;
}

}  // namespace varnel
