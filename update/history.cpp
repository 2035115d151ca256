#include "update/history.h"

#include <algorithm>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/input_file.h"
#include "platform/state_directory.h"
#include "update/json_text.h"

namespace varnel {

std::filesystem::path DefaultHistoryPath() { return StateDirectory() / "history.jsonl"; }

bool AppendHistoryLine(const std::filesystem::path& path, const Json& record, std::string* error) {
    std::error_code ec;
    if (!path.parent_path().empty()) std::filesystem::create_directories(path.parent_path(), ec);
    return AppendLineDurably(path.string(), JsonText(record), error);
}

namespace {

// The history's lines from the last to the first, each with its number:
// `take` says whether to read on (false: stop). Only the line in hand is
// kept, and a line too long is dropped as it grows.
bool ReadLinesBackwards(const std::filesystem::path& path,
                        const std::function<bool(std::string_view line, uint64_t number)>& take,
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
        if (n < 0) return refused();
        if (n == 0) {  // the file shrank under the reading: nothing in it can be trusted to be whole
            if (error) *error = path.string() + ": changed while it was read";
            return false;
        }
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
            goOn = take(line, number);
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


std::string DamagedLine(const std::filesystem::path& path, uint64_t number) {
    return path.string() + ": line " + std::to_string(number) +
           " is damaged (a run cut off while it was written?) and was skipped";
}

// Gathers what the table shows of one record while the line is parsed,
// without building it. A key given twice counts as a parsed record's does:
// the last one.
class RowScanner : public nlohmann::json_sax<Json> {
public:
    explicit RowScanner(HistoryRow& row) : m_row(row) {}
    bool IsObject() const { return m_isObject; }

    bool null() override { return Scalar(nullptr); }
    bool boolean(bool) override { return Scalar(nullptr); }
    bool number_integer(number_integer_t value) override { return Number(std::to_string(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Number(std::to_string(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Number(Json(value).dump()); }
    bool string(string_t& value) override { return Scalar(&value); }
    bool binary(binary_t&) override { return Scalar(nullptr); }
    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& key) override {
        if (m_depth == 1) {
            m_top = key;
            Clear();
        } else if (m_depth == 2) {
            m_inner = key;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    enum class Within { Other, Before, After, Changes };

    // The field of the depth-1 key in hand, back to what a missing one shows.
    void Clear() {
        if (std::string* text = Text()) *text = "-";
        else if (m_top == "adapter") m_row.adapter = "-";
        else if (m_top == "before") m_row.beforePrimary = m_row.beforeStation = "?";
        else if (m_top == "after") m_row.afterPrimary = m_row.afterStation = "?";
        else if (m_top == "pda_changed") m_row.pdaChanged = 0;
    }
    std::string* Text() {
        if (m_top == "time") return &m_row.time;
        if (m_top == "action") return &m_row.action;
        if (m_top == "mac") return &m_row.mac;
        if (m_top == "outcome") return &m_row.outcome;
        if (m_top == "status") return &m_row.status;
        return nullptr;
    }
    void Element() {
        if (m_depth == 2 && m_within == Within::Changes) ++m_row.pdaChanged;
    }
    bool Scalar(const std::string* text) {
        if (m_depth == 0) return true;  // a line that is no object
        Element();
        if (m_depth == 1 && text) {
            // Names are stored as JSON text (see JsonText): the table shows their own bytes.
            if (std::string* field = Text()) *field = DecodeJsonName(*text);
        } else if (m_depth == 2 && text && (m_within == Within::Before || m_within == Within::After)) {
            const bool before = m_within == Within::Before;
            if (m_inner == "primary") (before ? m_row.beforePrimary : m_row.afterPrimary) = *text;
            else if (m_inner == "station") (before ? m_row.beforeStation : m_row.afterStation) = *text;
        }
        return true;
    }
    bool Number(const std::string& text) {
        if (m_depth == 1 && m_top == "adapter") m_row.adapter = text;
        return Scalar(nullptr);
    }
    bool Open(bool object) {
        if (m_depth == 0) m_isObject = object;
        Element();
        if (m_depth == 1) {
            m_within = object && m_top == "before"          ? Within::Before
                       : object && m_top == "after"         ? Within::After
                       : !object && m_top == "pda_changed" ? Within::Changes
                                                             : Within::Other;
        }
        ++m_depth;
        return true;
    }
    bool Close() {
        if (--m_depth == 1) m_within = Within::Other;
        return true;
    }

    HistoryRow& m_row;
    int m_depth = 0;
    bool m_isObject = false;
    std::string m_top, m_inner;
    Within m_within = Within::Other;
};

}  // namespace

bool ReadHistoryNewestFirst(const std::filesystem::path& path, const std::function<bool(Json&)>& take,
                            const std::function<void(const std::string&)>& warn, std::string* error) {
    return ReadLinesBackwards(
        path,
        [&](std::string_view line, uint64_t number) {
            Json record = Json::parse(line, nullptr, false);
            if (!record.is_discarded() && record.is_object()) {
                record = DecodeJsonNames(record);
                return take(record);
            }
            warn(DamagedLine(path, number));
            return true;
        },
        warn, error);
}

bool ReadHistoryRowsNewestFirst(const std::filesystem::path& path,
                                const std::function<bool(std::string_view line, const HistoryRow& row)>& take,
                                const std::function<void(const std::string&)>& warn, std::string* error) {
    return ReadLinesBackwards(
        path,
        [&](std::string_view line, uint64_t number) {
            HistoryRow row;
            RowScanner scanner(row);
            if (Json::sax_parse(line, &scanner) && scanner.IsObject()) {
                while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
                    line.remove_suffix(1);
                return take(line, row);
            }
            warn(DamagedLine(path, number));
            return true;
        },
        warn, error);
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
