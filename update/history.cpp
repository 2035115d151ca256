#include "update/history.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/atomic_file.h"
#include "platform/state_directory.h"
#include "update/json_text.h"

namespace varnel {

namespace {

std::string Why(const std::filesystem::path& path, const char* what) {
    return path.string() + ": " + what + ": " + std::strerror(errno);
}

}  // namespace

std::filesystem::path DefaultHistoryPath() { return StateDirectory() / "history.jsonl"; }

bool AppendHistoryLine(const std::filesystem::path& path, const Json& record, std::string* error) {
    std::error_code ec;
    if (!path.parent_path().empty()) std::filesystem::create_directories(path.parent_path(), ec);
    return AppendLineDurably(path.string(), JsonText(record), error);
}

bool ReadHistory(const std::filesystem::path& path, History& history, std::string* error) {
    history = {};
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = Why(path, "cannot read");
        return false;
    }
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (line.empty()) continue;
        Json record = Json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.is_object()) {
            history.warnings.push_back(path.string() + ": line " + std::to_string(number) +
                                       " is damaged (a run cut off while it was written?) and was skipped");
            continue;
        }
        history.records.push_back(DecodeJsonNames(record));
    }
    if (in.bad()) {
        if (error) *error = Why(path, "cannot read");
        return false;
    }
    return true;
}

}  // namespace varnel
