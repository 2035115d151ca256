#pragma once
// What the update history shows of its records: the table varnel-cli
// prints, the columns and the details of the desktop program's history
// window, and the card filter. Both front ends show the history through
// these, so that they say the same.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "update/history.h"

namespace varnel {

// The table, one line a record, each line ending in a line break.
std::string HistoryTableHeader();
std::string HistoryTableLine(const HistoryRecord& record);
// What is said when no record is shown: "No update history[ for CARD] in PATH".
std::string NoHistoryText(const std::string& card, const std::filesystem::path& path);

// A MAC address as twelve upper-case hex digits, whatever its separators:
// "00:60:1d:12:34:56", "00601D123456" and "00-60-1D-12-34-56" alike. Not
// twelve digits: not a MAC address.
std::string MacKey(std::string_view mac);
// Whether `record` is of the card whose key (MacKey) is `cardKey`; every
// record is when `cardKey` is empty.
bool IsRecordOfCard(const HistoryRecord& record, const std::string& cardKey);

// The history window's columns, and what each shows of a record.
inline constexpr std::array<const char*, 6> kHistoryColumns = {
    "Time", "Action", "Card", "Outcome", "Firmware before \u2192 after", "Backup"};
std::string HistoryColumnText(const HistoryRecord& record, size_t column);
// "Primary 1.3.6 → 1.4.2, Station 1.5.0 → 1.7.4" ("?" for a version not read).
std::string HistoryVersionsText(const HistoryRecord& record);
// Everything the record holds, a line a fact, for the selected row.
std::string HistoryDetailsText(const HistoryRecord& record);
// The folder that holds the record's backup; nothing when the run saved none.
std::optional<std::filesystem::path> HistoryBackupFolder(const HistoryRecord& record);

}  // namespace varnel
