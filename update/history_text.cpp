#include "update/history_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "pda/pda_diff.h"
#include "update/visible_text.h"

namespace varnel {

namespace {

// "-" for a text the record does not hold, "?" for a version not read;
// every text with its control characters made visible (a record is a
// file's text like any other).
std::string Shown(const std::optional<std::string>& text) { return text ? VisibleText(*text) : std::string("-"); }
std::string Read(const std::optional<std::string>& version) {
    return version ? VisibleText(*version) : std::string("?");
}

}  // namespace

std::string HistoryTableHeader() {
    return "TIME                  ACTION            ADAPTER  MAC                OUTCOME    PRIMARY         STATION     "
           "    "
           "PDA  STATUS\n";
}

std::string HistoryTableLine(const HistoryRecord& r) {
    const std::string primary = Read(r.before.primary) + ">" + Read(r.after.primary);
    const std::string station = Read(r.before.station) + ">" + Read(r.after.station);
    const auto format = [&](char* out, size_t size) {
        return std::snprintf(out, size, "%-20s  %-16s  %-7s  %-17s  %-9s  %-14s  %-14s  %-3zu  ", Shown(r.time).c_str(),
                             Shown(r.action).c_str(), Shown(r.adapter).c_str(), Shown(r.mac).c_str(),
                             Shown(r.outcome).c_str(), primary.c_str(), station.c_str(), r.pdaChanged.size());
    };
    // However long the record's texts, the line holds all of them.
    char fits[256];
    const int length = std::max(format(fits, sizeof fits), 0);
    std::string line;
    if (static_cast<size_t>(length) < sizeof fits) {
        line.assign(fits, static_cast<size_t>(length));
    } else {
        line.resize(static_cast<size_t>(length));
        format(line.data(), line.size() + 1);
    }
    return line.append(Shown(r.status)).append("\n");
}

std::string NoHistoryText(const std::string& card, const std::filesystem::path& path) {
    return "No update history" + (card.empty() ? "" : " for " + card) + " in " + path.string();
}

std::string MacKey(std::string_view mac) {
    std::string key;
    for (char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

bool IsRecordOfCard(const HistoryRecord& record, const std::string& cardKey) {
    return cardKey.empty() || MacKey(record.mac ? *record.mac : std::string()) == cardKey;
}

std::string HistoryColumnText(const HistoryRecord& r, size_t column) {
    switch (column) {
    case 0: return Shown(r.time);
    case 1: return Shown(r.action);
    case 2: return Shown(r.mac);
    case 3: return Shown(r.outcome);
    case 4: return HistoryVersionsText(r);
    case 5: return Shown(r.backup ? r.backup : r.firmwareBackup);
    default: return {};
    }
}

std::string HistoryVersionsText(const HistoryRecord& r) {
    return "Primary " + Read(r.before.primary) + " \u2192 " + Read(r.after.primary) + ", Station " +
           Read(r.before.station) + " \u2192 " + Read(r.after.station);
}

std::string HistoryDetailsText(const HistoryRecord& r) {
    std::string text = "Time: " + Shown(r.time) + "\nAction: " + Shown(r.action) + "\nOutcome: " + Shown(r.outcome) +
                       "\nStatus: " + Shown(r.status) + "\nAdapter: " + Shown(r.adapter);
    if (r.adapterName && !r.adapterName->empty()) text += " (" + VisibleText(*r.adapterName) + ")";
    text += "\nCard: MAC address " + Shown(r.mac) + ", serial number " + Shown(r.serial);
    text += "\nFirmware: " + HistoryVersionsText(r) + "\nFiles:";
    if (r.files.empty()) text += " none";
    for (const RunFile& f : r.files) {
        text += "\n  " + (f.kind.empty() ? std::string("-") : VisibleText(f.kind)) + "  " + VisibleText(f.path);
        if (f.version) text += "  (" + VisibleText(*f.version) + ")";
        text +=
            f.sha256 ? "\n    SHA-256 " + VisibleText(*f.sha256) : std::string("\n    not readable when the run began");
    }
    text += "\nPDA records changed:";
    if (r.pdaChanged.empty()) text += " none";
    for (const HistoryPdaChange& c : r.pdaChanged) {
        std::string line = Shown(c.change);
        line.resize(std::max<size_t>(line.size(), 9), ' ');
        char code[24] = "?";
        if (c.code) std::snprintf(code, sizeof code, "0x%04llx", static_cast<long long>(*c.code));
        line += code;
        if (c.name) line += " " + VisibleText(*c.name);
        text += "\n  " + line;
    }
    text += "\nBackup of the card's PDA: " + (r.backup ? VisibleText(*r.backup) : std::string("none saved"));
    if (r.firmwareBackup) text += "\nBackup of the card's firmware: " + VisibleText(*r.firmwareBackup);
    text += "\nRecord: " + Shown(r.id) + "\n";
    return text;
}

std::optional<std::filesystem::path> HistoryBackupFolder(const HistoryRecord& record) {
    const std::optional<std::string>& backup =
        record.backup && !record.backup->empty() ? record.backup : record.firmwareBackup;
    if (!backup || backup->empty()) return std::nullopt;
    const std::filesystem::path folder = std::filesystem::path(*backup).parent_path();
    if (folder.empty()) return std::nullopt;
    return folder;
}

}  // namespace varnel
