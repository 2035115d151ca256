#include "update/history.h"

#include <algorithm>
#include <deque>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/input_file.h"
#include "platform/state_directory.h"
#include "update/json_text.h"

namespace varnel {

std::filesystem::path DefaultHistoryPath() { return StateDirectory() / "history.jsonl"; }

Result<> AppendHistoryLine(const std::filesystem::path& path, const Json& record) {
    std::error_code ec;
    if (!path.parent_path().empty()) files::CreateDirectories(path.parent_path().string(), ec);
    return AppendLineDurably(path.string(), JsonText(record));
}

namespace {

// The history's lines from the last to the first, each with its number:
// `take` says whether to read on (false: stop). Only the line in hand is
// kept, and a line too long is dropped as it grows.
Result<> ReadLinesBackwards(const std::filesystem::path& path,
                            const std::function<bool(std::string_view line, uint64_t number)>& take,
                            const std::function<void(const std::string&)>& warn) {
    std::error_code ec;
    if (!files::Exists(path.string(), ec)) return {};
    CInputFile file;
    const auto refused = [&] { return Failure{path.string() + ": " + file.Reason()}; };
    const auto changed = [&] { return Failure{path.string() + ": changed while it was read"}; };
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
        if (n == 0) return changed();  // the file shrank under the reading: nothing in it can be trusted to be whole
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
        if (static_cast<size_t>(n) != count) return changed();
        size_t stop = count;  // the part of the block not yet taken
        for (size_t k = count; k-- > 0;) {
            if (block[k] != '\n') continue;
            prepend(block.data() + k + 1, stop - k - 1);
            if (!finish()) return {};
            stop = k;
        }
        prepend(block.data(), stop);
        end = start;
    }
    if (lines > 0) finish();
    return {};
}

std::string DamagedLine(const std::filesystem::path& path, uint64_t number) {
    return path.string() + ": line " + std::to_string(number) +
           " is damaged (a run cut off while it was written?) and was skipped";
}

// The keys of a record the reader knows, each compared once, where it is met.
enum class Key { Other, Id, Time, Action, Adapter, AdapterName, Mac, Serial, Files, Before, After, PdaChanged,
                 Backup, FirmwareBackup, Outcome, Status, Primary, Station, Path, Kind, Version, Sha256, Code, Name,
                 Change };

Key KeyOf(std::string_view key) {
    // By length first: most keys are told apart without comparing a byte.
    const auto is = [key](std::string_view name, Key value) { return key == name ? value : Key::Other; };
    switch (key.size()) {
    case 2: return is("id", Key::Id);
    case 3: return is("mac", Key::Mac);
    case 4:
        if (key[0] == 't') return is("time", Key::Time);
        if (key[0] == 'p') return is("path", Key::Path);
        if (key[0] == 'k') return is("kind", Key::Kind);
        if (key[0] == 'c') return is("code", Key::Code);
        return is("name", Key::Name);
    case 5: return key[0] == 'f' ? is("files", Key::Files) : is("after", Key::After);
    case 6:
        switch (key[0]) {
        case 'a': return is("action", Key::Action);
        case 's':
            if (key[1] == 'e') return is("serial", Key::Serial);
            return key[1] == 't' ? is("status", Key::Status) : is("sha256", Key::Sha256);
        case 'b': return key[1] == 'e' ? is("before", Key::Before) : is("backup", Key::Backup);
        case 'c': return is("change", Key::Change);
        default: return Key::Other;
        }
    case 7:
        switch (key[0]) {
        case 'a': return is("adapter", Key::Adapter);
        case 'o': return is("outcome", Key::Outcome);
        case 'p': return is("primary", Key::Primary);
        case 's': return is("station", Key::Station);
        case 'v': return is("version", Key::Version);
        default: return Key::Other;
        }
    case 11: return is("pda_changed", Key::PdaChanged);
    case 12: return is("adapter_name", Key::AdapterName);
    case 15: return is("firmware_backup", Key::FirmwareBackup);
    default: return Key::Other;
    }
}

// Gathers the typed record while the line is parsed, without building its
// JSON. A key given twice counts as a parsed record's does: the last one.
class RecordScanner : public nlohmann::json_sax<Json> {
public:
    explicit RecordScanner(HistoryRecord& record) : m_record(record) {}
    bool IsObject() const { return m_isObject; }

    bool null() override { return Scalar(nullptr); }
    bool boolean(bool) override { return Scalar(nullptr); }
    bool number_integer(number_integer_t value) override {
        return Number(value, [value] { return std::to_string(value); });
    }
    bool number_unsigned(number_unsigned_t value) override {
        const auto whole = value <= static_cast<number_unsigned_t>(INT64_MAX) ? std::optional<int64_t>(static_cast<int64_t>(value))
                                                                                : std::nullopt;
        return Number(whole, [value] { return std::to_string(value); });
    }
    bool number_float(number_float_t value, const string_t&) override {
        return Number(std::nullopt, [value] { return Json(value).dump(); });
    }
    bool string(string_t& value) override { return Scalar(&value); }
    bool binary(binary_t&) override { return Scalar(nullptr); }
    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& key) override {
        if (m_depth == 1) {
            m_top = KeyOf(key);
            ClearTop();
        } else if (m_depth == 2 && (m_within == Within::Before || m_within == Within::After)) {
            m_inner = KeyOf(key);
            if (std::optional<std::string>* version = Version()) version->reset();
        } else if (m_depth == 3 && m_elementIsObject) {
            m_field = KeyOf(key);
            ClearField();
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    enum class Within { Other, Before, After, Files, Changes };

    // The field of the depth-1 key in hand, back to missing.
    void ClearTop() {
        if (std::optional<std::string>* text = Text()) text->reset();
        else if (m_top == Key::Adapter) m_record.adapter.reset();
        else if (m_top == Key::Before) m_record.before = {};
        else if (m_top == Key::After) m_record.after = {};
        else if (m_top == Key::Files) m_record.files.clear();
        else if (m_top == Key::PdaChanged) m_record.pdaChanged.clear();
    }
    std::optional<std::string>* Text() {
        switch (m_top) {
        case Key::Id: return &m_record.id;
        case Key::Time: return &m_record.time;
        case Key::Action: return &m_record.action;
        case Key::AdapterName: return &m_record.adapterName;
        case Key::Mac: return &m_record.mac;
        case Key::Serial: return &m_record.serial;
        case Key::Backup: return &m_record.backup;
        case Key::FirmwareBackup: return &m_record.firmwareBackup;
        case Key::Outcome: return &m_record.outcome;
        case Key::Status: return &m_record.status;
        default: return nullptr;
        }
    }
    // The version the depth-2 key in hand names, inside "before" or "after".
    std::optional<std::string>* Version() {
        if (m_within != Within::Before && m_within != Within::After) return nullptr;
        CardVersions& versions = m_within == Within::Before ? m_record.before : m_record.after;
        if (m_inner == Key::Primary) return &versions.primary;
        if (m_inner == Key::Station) return &versions.station;
        return nullptr;
    }
    // The field of the depth-3 key in hand, in the element of "files" or
    // "pda_changed" in hand, back to missing.
    void ClearField() {
        if (m_within == Within::Files) {
            RunFile& file = m_record.files.back();
            if (m_field == Key::Path) file.path.clear();
            else if (m_field == Key::Kind) file.kind.clear();
            else if (m_field == Key::Version) file.version.reset();
            else if (m_field == Key::Sha256) file.sha256.reset();
        } else if (m_within == Within::Changes) {
            HistoryPdaChange& change = m_record.pdaChanged.back();
            if (m_field == Key::Code) change.code.reset();
            else if (m_field == Key::Name) change.name.reset();
            else if (m_field == Key::Change) change.change.reset();
        }
    }
    // An element of a depth-1 array begins.
    void Element() {
        if (m_depth != 2) return;
        if (m_within == Within::Files) m_record.files.emplace_back();
        else if (m_within == Within::Changes) m_record.pdaChanged.emplace_back();
    }
    bool Scalar(const std::string* text) {
        if (m_depth == 0) return true;  // a line that is no object
        Element();
        if (!text) return true;
        if (m_depth == 1) {
            // Names are stored as JSON text (see JsonText): the record holds their own bytes.
            if (std::optional<std::string>* field = Text()) *field = DecodeJsonName(*text);
        } else if (m_depth == 2) {
            if (std::optional<std::string>* version = Version()) *version = DecodeJsonName(*text);
        } else if (m_depth == 3 && m_elementIsObject) {
            if (m_within == Within::Files) {
                RunFile& file = m_record.files.back();
                switch (m_field) {
                case Key::Path: file.path = DecodeJsonName(*text); break;
                case Key::Kind: file.kind = DecodeJsonName(*text); break;
                case Key::Version: file.version = DecodeJsonName(*text); break;
                case Key::Sha256: file.sha256 = DecodeJsonName(*text); break;
                default: break;
                }
            } else if (m_within == Within::Changes) {
                HistoryPdaChange& change = m_record.pdaChanged.back();
                if (m_field == Key::Name) change.name = DecodeJsonName(*text);
                else if (m_field == Key::Change) change.change = DecodeJsonName(*text);
            }
        }
        return true;
    }
    // `text` gives the number as the record writes it (made only when needed).
    template <typename Text>
    bool Number(std::optional<int64_t> whole, const Text& text) {
        if (m_depth == 1 && m_top == Key::Adapter) m_record.adapter = text();
        if (m_depth == 3 && m_elementIsObject && m_within == Within::Changes && m_field == Key::Code)
            m_record.pdaChanged.back().code = whole;
        return Scalar(nullptr);
    }
    bool Open(bool object) {
        if (m_depth == 0) m_isObject = object;
        Element();
        if (m_depth == 1) {
            m_within = object && m_top == Key::Before          ? Within::Before
                       : object && m_top == Key::After         ? Within::After
                       : !object && m_top == Key::Files        ? Within::Files
                       : !object && m_top == Key::PdaChanged ? Within::Changes
                                                               : Within::Other;
        } else if (m_depth == 2) {
            m_elementIsObject = object && (m_within == Within::Files || m_within == Within::Changes);
            m_field = Key::Other;
        }
        ++m_depth;
        return true;
    }
    bool Close() {
        if (--m_depth == 1) m_within = Within::Other;
        else if (m_depth == 2) m_elementIsObject = false;
        return true;
    }

    HistoryRecord& m_record;
    int m_depth = 0;
    bool m_isObject = false;
    bool m_elementIsObject = false;  // the depth-2 value open is an element object of "files" or "pda_changed"
    Key m_top = Key::Other, m_inner = Key::Other, m_field = Key::Other;
    Within m_within = Within::Other;
};

}  // namespace

namespace {

// A run's "unfinished" record (written before its first write) is shown
// only when no later record of the same id completes it. Read newest first,
// the completion comes first; runs that overlap interleave their records by
// a few lines, so the ids of the last completed records are kept, not all.
class CompletedRuns {
public:
    // `outcome` the record's; a "withdrawn" record (a run that wrote
    // nothing after all) is never shown either.
    bool Hides(const std::string& id, const std::optional<std::string>& outcome) {
        if (outcome == "unfinished") return std::find(m_ids.begin(), m_ids.end(), id) != m_ids.end();
        m_ids.push_back(id);
        if (m_ids.size() > kKept) m_ids.pop_front();
        return outcome == "withdrawn";
    }

private:
    static constexpr size_t kKept = 4096;
    std::deque<std::string> m_ids;
};

}  // namespace

Result<> ReadHistoryNewestFirst(const std::filesystem::path& path, const std::function<bool(Json&)>& take,
                                const std::function<void(const std::string&)>& warn) {
    CompletedRuns completed;
    return ReadLinesBackwards(
        path,
        [&](std::string_view line, uint64_t number) {
            Json record = Json::parse(line, nullptr, false);
            if (!record.is_discarded() && record.is_object()) {
                record = DecodeJsonNames(record);
                const auto id = record.find("id");
                const auto outcome = record.find("outcome");
                if (id != record.end() && id->is_string() &&
                    completed.Hides(id->get<std::string>(), outcome != record.end() && outcome->is_string()
                                                                ? std::optional(outcome->get<std::string>())
                                                                : std::nullopt))
                    return true;
                return take(record);
            }
            warn(DamagedLine(path, number));
            return true;
        },
        warn);
}

Result<> ReadHistoryRecordsNewestFirst(const std::filesystem::path& path,
                                       const std::function<bool(std::string_view line, HistoryRecord& record)>& take,
                                       const std::function<void(const std::string&)>& warn) {
    CompletedRuns completed;
    return ReadLinesBackwards(
        path,
        [&, record = HistoryRecord{}](std::string_view line, uint64_t number) mutable {
            // One record for every line: its lists keep their room.
            record.id = record.time = record.action = record.adapterName = record.mac = record.serial =
                record.backup = record.firmwareBackup = record.outcome = record.status = record.adapter = std::nullopt;
            record.files.clear();
            record.before = record.after = {};
            record.pdaChanged.clear();
            RecordScanner scanner(record);
            if (Json::sax_parse(line, &scanner) && scanner.IsObject()) {
                while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
                    line.remove_suffix(1);
                if (record.id && completed.Hides(*record.id, record.outcome)) return true;
                return take(line, record);
            }
            warn(DamagedLine(path, number));
            return true;
        },
        warn);
}

Result<History> ReadHistory(const std::filesystem::path& path) {
    History history;
    const Result<> read = ReadHistoryNewestFirst(
        path,
        [&history](Json& record) {
            history.records.push_back(std::move(record));
            return true;
        },
        [&history](const std::string& warning) { history.warnings.push_back(warning); });
    if (!read) return read.Error();
    std::reverse(history.records.begin(), history.records.end());
    std::reverse(history.warnings.begin(), history.warnings.end());
    return history;
}

}  // namespace varnel
