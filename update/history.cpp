#include "update/history.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <memory>
#include <unordered_map>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/input_file.h"
#include "platform/state_directory.h"
#include "platform/utc_stamp.h"
#include "update/json_scan.h"
#include "update/json_text.h"

namespace varnel {

std::filesystem::path DefaultHistoryPath() { return StateDirectory() / "history.jsonl"; }

Result<> AppendHistoryLine(const std::filesystem::path& path, const Json& record, uint64_t rotateAt) {
    std::error_code ec;
    if (!path.parent_path().empty()) files::CreateDirectories(path.parent_path().string(), ec);
    // Past its bound the file is renamed aside, named by the time: it is
    // still read, after the new file (see HistoryFiles).
    const std::string stamp = UtcStamp("%Y%m%dT%H%M%SZ");
    LineRotation rotation{rotateAt, [&](int attempt) {
                              const std::string name = path.stem().string() + "." + stamp +
                                                       (attempt > 0 ? "-" + std::to_string(attempt) : "") +
                                                       path.extension().string();
                              return (path.parent_path() / name).string();
                          }};
    return AppendLineDurably(path.string(), JsonText(record), rotation);
}

namespace {

// One file's lines from the last to the first, read by blocks from its end:
// only the block and the line in hand are kept, and a line too long is
// dropped as it grows. The reading stops after any line and goes on from
// there. Line numbers are counted only when a warning needs one.
class BackwardLines {
public:
    // False, with the reason, when the file cannot be read; a file that
    // does not exist has no lines.
    Result<> Open(const std::filesystem::path& path) {
        m_path = path;
        std::error_code ec;
        if (!files::Exists(path.string(), ec)) return {};
        // No bound on the size: however large the file, its newest lines are
        // read from its end.
        if (!m_file.Open(path.string(), UINT64_MAX)) return Failure{path.string() + ": " + m_file.Reason()};
        m_blockStart = m_file.Size();
        if (m_blockStart == 0) return {};
        char last = 0;
        if (m_file.ReadAt(m_blockStart - 1, &last, 1) != 1) return Refused();
        if (last == '\n') --m_blockStart;  // the file's last line end closes its last line
        m_open = true;
        m_block.resize(size_t{1} << 16);
        return {};
    }

    struct Line {
        std::string_view text;
        bool tooLong = false;
        uint64_t start = 0;  // its offset in the file
    };
    // The next line backwards into `line`; false at the file's start.
    Result<bool> Next(Line& line) {
        m_gathered.clear();  // the last line's text, no longer needed
        for (;;) {
            if (m_pos == 0) {
                if (m_blockStart == 0) {
                    if (!m_open) return false;
                    m_open = false;
                    return Emit(line, 0);  // the file's first line
                }
                const uint64_t start = m_blockStart - std::min<uint64_t>(m_block.size(), m_blockStart);
                const auto count = static_cast<size_t>(m_blockStart - start);
                const std::ptrdiff_t n = m_file.ReadAt(start, m_block.data(), count);
                if (n < 0) return Refused();
                if (static_cast<size_t>(n) != count) return Changed();
                m_blockStart = start;
                m_pos = count;
            }
            const auto* found = static_cast<const char*>(LastLineEnd(m_block.data(), m_pos));
            if (!found) {
                Prepend(m_block.data(), m_pos);
                m_pos = 0;
                continue;
            }
            const auto at = static_cast<size_t>(found - m_block.data());
            const char* from = m_block.data() + at + 1;
            const size_t count = m_pos - at - 1;
            m_pos = at;  // the line end itself is left out of the next search
            if (!m_gathering && !m_tooLong) {
                // A line within one block is read where it stands.
                Emit(line, m_blockStart + at + 1);
                line.text = std::string_view(from, count);
                return true;
            }
            Prepend(from, count);
            return Emit(line, m_blockStart + at + 1);
        }
    }

    // The number of the line `line` (1 the file's first), counted once and
    // then followed as the lines are read.
    Result<uint64_t> Number(const Line& line) {
        if (!m_numberAt || *m_numberAt != line.start) {
            uint64_t count = 0;
            std::vector<char> block(size_t{1} << 16);
            for (uint64_t at = 0; at < line.start;) {
                const auto want = static_cast<size_t>(std::min<uint64_t>(block.size(), line.start - at));
                const std::ptrdiff_t n = m_file.ReadAt(at, block.data(), want);
                if (n < 0) return Refused();
                if (static_cast<size_t>(n) != want) return Changed();
                count += static_cast<uint64_t>(std::count(block.data(), block.data() + n, '\n'));
                at += want;
            }
            m_number = count + 1;
            m_numberAt = line.start;
        }
        return m_number;
    }

    const std::filesystem::path& Path() const { return m_path; }

private:
    static const void* LastLineEnd(const char* data, size_t size) {
#if defined(__GLIBC__)
        return ::memrchr(data, '\n', size);
#else
        for (size_t k = size; k-- > 0;)
            if (data[k] == '\n') return data + k;
        return nullptr;
#endif
    }
    // Bytes before those of the line gathered so far (a line over several blocks).
    void Prepend(const char* from, size_t count) {
        m_gathering = true;
        if (m_tooLong || count == 0) return;
        if (m_gathered.size() + count > kHistoryLineMaxBytes) {
            m_tooLong = true;
            m_gathered.clear();
            return;
        }
        m_gathered.insert(0, from, count);
    }
    bool Emit(Line& line, uint64_t start) {
        // The line's number follows the one counted last.
        if (m_numberAt) {
            --m_number;
            m_numberAt = start;
        }
        line.start = start;
        line.tooLong = m_tooLong;
        line.text = m_tooLong ? std::string_view() : std::string_view(m_gathered);
        m_tooLong = false;
        m_gathering = false;
        return true;
    }
    Failure Refused() const { return Failure{m_path.string() + ": " + m_file.Reason()}; }
    Failure Changed() const {
        // The file shrank under the reading: nothing in it can be trusted to be whole.
        return Failure{m_path.string() + ": changed while it was read"};
    }

    std::filesystem::path m_path;
    CInputFile m_file;
    std::vector<char> m_block;
    uint64_t m_blockStart = 0;  // the file offset of m_block[0]
    size_t m_pos = 0;           // m_block[0, m_pos) is not read yet
    bool m_open = false;        // a line (maybe empty) is still to be read before m_blockStart + m_pos
    std::string m_gathered;
    bool m_tooLong = false;
    bool m_gathering = false;            // the line in hand began in a later block
    std::optional<uint64_t> m_numberAt;  // the start of the line m_number numbers
    uint64_t m_number = 0;
};

std::string DamagedLine(const std::filesystem::path& path, uint64_t number) {
    return path.string() + ": line " + std::to_string(number) +
           " is damaged (a run cut off while it was written?) and was skipped";
}

// The keys of a record the reader knows, each compared once, where it is met.
enum class Key {
    Other,
    Id,
    Time,
    Action,
    Adapter,
    AdapterName,
    Mac,
    Serial,
    Files,
    Before,
    After,
    PdaChanged,
    Backup,
    FirmwareBackup,
    Outcome,
    Status,
    Primary,
    Station,
    Path,
    Kind,
    Version,
    Sha256,
    Code,
    Name,
    Change
};

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
class RecordScanner {
public:
    explicit RecordScanner(HistoryRecord& record) : m_record(record) {}
    bool IsObject() const { return m_isObject; }

    void Null() { Scalar(nullptr); }
    void Boolean() { Scalar(nullptr); }
    void Integer(std::string_view digits) {
        // As a parsed record holds it: a whole number within int64 or
        // uint64, or else a floating point number.
        int64_t value = 0;
        uint64_t large = 0;
        const char* end = digits.data() + digits.size();
        if (const auto [at, error] = std::from_chars(digits.data(), end, value); error == std::errc{} && at == end)
            return Number(value, [value] { return std::to_string(value); });
        if (const auto [at, error] = std::from_chars(digits.data(), end, large); error == std::errc{} && at == end)
            return Number(std::nullopt, [large] { return std::to_string(large); });
        Float(digits);
    }
    void Float(std::string_view text) {
        double value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        Number(std::nullopt, [value] { return Json(value).dump(); });
    }
    void String(std::string_view value) { Scalar(&value); }
    void StartObject() { Open(true); }
    void StartArray() { Open(false); }
    void End() { Close(); }
    void Name(std::string_view key) {
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
    }

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
    void Scalar(const std::string_view* text) {
        if (m_depth == 0) return;  // a line that is no object
        Element();
        if (!text) return;
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
    }
    // `text` gives the number as the record writes it (made only when needed).
    template <typename Text>
    void Number(std::optional<int64_t> whole, const Text& text) {
        if (m_depth == 1 && m_top == Key::Adapter) m_record.adapter = text();
        if (m_depth == 3 && m_elementIsObject && m_within == Within::Changes && m_field == Key::Code)
            m_record.pdaChanged.back().code = whole;
        Scalar(nullptr);
    }
    void Open(bool object) {
        if (m_depth == 0) m_isObject = object;
        Element();
        if (m_depth == 1) {
            m_within = object && m_top == Key::Before        ? Within::Before
                       : object && m_top == Key::After       ? Within::After
                       : !object && m_top == Key::Files      ? Within::Files
                       : !object && m_top == Key::PdaChanged ? Within::Changes
                                                             : Within::Other;
        } else if (m_depth == 2) {
            m_elementIsObject = object && (m_within == Within::Files || m_within == Within::Changes);
            m_field = Key::Other;
        }
        ++m_depth;
    }
    void Close() {
        if (--m_depth == 1) m_within = Within::Other;
        else if (m_depth == 2) m_elementIsObject = false;
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
    bool Hides(std::string_view id, const std::optional<std::string>& outcome) {
        if (outcome == "unfinished") return m_kept.find(std::string(id)) != m_kept.end();
        auto [at, added] = m_kept.try_emplace(std::string(id), 0);
        ++at->second;
        m_order.push_back(&at->first);
        if (m_order.size() > kKept) {
            const auto oldest = m_kept.find(*m_order.front());
            m_order.pop_front();
            if (--oldest->second == 0) m_kept.erase(oldest);
        }
        return outcome == "withdrawn";
    }

private:
    static constexpr size_t kKept = 4096;
    std::unordered_map<std::string, size_t> m_kept;  // each id kept, and how many times
    std::deque<const std::string*> m_order;          // the ids kept, oldest first
};

bool IsBlank(char c) { return c == '\r' || c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::filesystem::path> HistoryFiles(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> paths{path};
    const std::string stem = path.stem().string() + ".", extension = path.extension().string();
    std::error_code ec;
    const std::string folder = path.parent_path().empty() ? std::string(".") : path.parent_path().string();
    // history.20261211T081500Z.jsonl, history.20261211T081500Z-1.jsonl, ...
    struct Older {
        std::string time;
        uint64_t attempt;
        std::string name;
    };
    std::vector<Older> older;
    for (const std::string& entry : files::ListDirectory(folder, ec)) {
        const std::string name = files::FileNameOf(entry);
        if (name.size() <= stem.size() + extension.size() || name.compare(0, stem.size(), stem) != 0 ||
            name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
            continue;
        const std::string middle = name.substr(stem.size(), name.size() - stem.size() - extension.size());
        const size_t dash = middle.find('-');
        uint64_t attempt = 0;
        if (dash != std::string::npos) {
            const char* end = middle.data() + middle.size();
            if (std::from_chars(middle.data() + dash + 1, end, attempt).ptr != end) continue;
        }
        older.push_back({middle.substr(0, dash), attempt, name});
    }
    std::sort(older.begin(), older.end(), [](const Older& a, const Older& b) {
        return a.time != b.time ? a.time > b.time : a.attempt > b.attempt;
    });
    for (const Older& file : older) paths.push_back(path.parent_path() / file.name);
    return paths;
}

struct HistoryReader::State {
    std::vector<std::filesystem::path> files;
    size_t next = 0;  // the next of `files` to open
    std::unique_ptr<BackwardLines> lines;
    CompletedRuns completed;
    HistoryRecord record;
    bool done = false;
};

HistoryReader::HistoryReader(std::filesystem::path path)
    : m_path(std::move(path)), m_state(std::make_unique<State>()) {}
HistoryReader::~HistoryReader() = default;
HistoryReader::HistoryReader(HistoryReader&&) noexcept = default;
HistoryReader& HistoryReader::operator=(HistoryReader&&) noexcept = default;

bool HistoryReader::Done() const { return m_state->done; }

// Each line (newest first, file by file) to `take` (its file and the line),
// which says whether to read on.
template <typename Take>
static Result<> ReadLines(HistoryReader::State& state, const std::filesystem::path& path, const Take& take,
                          const std::function<void(const std::string&)>& warn) {
    if (state.done) return {};
    if (state.files.empty()) state.files = HistoryFiles(path);
    BackwardLines::Line line;
    for (;;) {
        if (!state.lines) {
            if (state.next == state.files.size()) {
                state.done = true;
                return {};
            }
            state.lines = std::make_unique<BackwardLines>();
            if (Result<> opened = state.lines->Open(state.files[state.next++]); !opened) {
                // An older file that cannot be read is said, and the reading goes on.
                if (state.next > 1) {
                    warn(opened.Reason());
                    state.lines.reset();
                    continue;
                }
                state.done = true;
                return opened;
            }
        }
        const Result<bool> next = state.lines->Next(line);
        if (!next) {
            state.done = true;
            return next.Error();
        }
        if (!*next) {
            state.lines.reset();
            continue;
        }
        if (line.tooLong) {
            const Result<uint64_t> number = state.lines->Number(line);
            if (!number) return number.Error();
            warn(state.lines->Path().string() + ": line " + std::to_string(*number) + " is longer than " +
                 std::to_string(kHistoryLineMaxBytes) + " bytes and was skipped");
            continue;
        }
        if (line.text.empty()) continue;
        bool damaged = false;
        const bool goOn = take(line.text, damaged);
        if (damaged) {
            const Result<uint64_t> number = state.lines->Number(line);
            if (!number) return number.Error();
            warn(DamagedLine(state.lines->Path(), *number));
        }
        if (!goOn) return {};
    }
}

Result<> HistoryReader::Read(const std::function<bool(Json&)>& take,
                             const std::function<void(const std::string&)>& warn) {
    State& state = *m_state;
    return ReadLines(
        state, m_path,
        [&](std::string_view line, bool& damaged) {
            Json record = Json::parse(line, nullptr, false);
            if (record.is_discarded() || !record.is_object()) {
                damaged = true;
                return true;
            }
            record = DecodeJsonNames(record);
            const auto id = record.find("id");
            const auto outcome = record.find("outcome");
            if (id != record.end() && id->is_string() &&
                state.completed.Hides(id->get<std::string>(), outcome != record.end() && outcome->is_string()
                                                                  ? std::optional(outcome->get<std::string>())
                                                                  : std::nullopt))
                return true;
            return take(record);
        },
        warn);
}

Result<> HistoryReader::Read(const std::function<bool(std::string_view line, HistoryRecord& record)>& take,
                             const std::function<void(const std::string&)>& warn) {
    State& state = *m_state;
    return ReadLines(
        state, m_path,
        [&](std::string_view line, bool& damaged) {
            // One record for every line: its lists keep their room.
            HistoryRecord& record = state.record;
            record.id = record.time = record.action = record.adapterName = record.mac = record.serial = record.backup =
                record.firmwareBackup = record.outcome = record.status = record.adapter = std::nullopt;
            record.files.clear();
            record.before = record.after = {};
            record.pdaChanged.clear();
            RecordScanner scanner(record);
            if (!ScanJson(line, scanner) || !scanner.IsObject()) {
                damaged = true;
                return true;
            }
            while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
            if (record.id && state.completed.Hides(*record.id, record.outcome)) return true;
            return take(line, record);
        },
        warn);
}

Result<> ReadHistoryNewestFirst(const std::filesystem::path& path, const std::function<bool(Json&)>& take,
                                const std::function<void(const std::string&)>& warn) {
    return HistoryReader(path).Read(take, warn);
}

Result<> ReadHistoryRecordsNewestFirst(const std::filesystem::path& path,
                                       const std::function<bool(std::string_view line, HistoryRecord& record)>& take,
                                       const std::function<void(const std::string&)>& warn) {
    return HistoryReader(path).Read(take, warn);
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
