#pragma once
// What one run that writes to a card did: the card, the files, the versions
// before and after, the PDA changes, the plugging, the backup and the
// requests sent. The update run and the PDA restore fill it; the history
// record and the programs' JSON results are made from it.

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "image/plug_list.h"
#include "pda/pda_diff.h"

namespace varnel {

using Json = nlohmann::ordered_json;

struct RunFile {
    std::string path;
    std::string kind;                    // "pda", "primary", "station", "primary+station", "image"
    std::optional<std::string> version;  // the image's firmware ("Primary 1.4.2", "Primary 1.4.2, Station 1.7.4")
    std::optional<std::string> sha256;   // null when the file could not be read
};

struct ImagePlugs {
    std::string file;
    std::vector<PlugResult> plugs;
};

struct CardVersions {
    std::optional<std::string> primary;  // null: not read
    std::optional<std::string> station;
};

struct RunReport {
    std::string action = "update";  // "update", "pda restore" or "firmware restore"
    int adapter = -1;
    std::string adapterName;
    std::string mac;     // the card's PDA MAC address ("" when not known)
    std::string serial;  // the card's PDA serial number ("" when not known)
    std::vector<RunFile> files;
    CardVersions before;
    CardVersions after;
    bool pdaWrite = false;              // a new PDA was (to be) written
    std::vector<PdaChange> pdaChanges;  // the card's PDA to the PDA written
    std::vector<ImagePlugs> plugs;
    std::string backup;                     // the backup saved before the PDA write
    std::string firmwareBackup;             // the backup of the flash the images overwrite
    std::map<uint32_t, uint32_t> requests;  // requests sent to the driver, by OID
    bool writingBegan = false;              // something was sent that changes the card
    std::string outcome;                    // "succeeded", "failed", "cancelled"
    std::string status;
    std::string historyId;     // the history record written, or ""
    std::string historyError;  // why it could not be written, or ""
};

Json PdaChangesJson(const std::vector<PdaChange>& changes);
Json PlugsJson(const std::vector<ImagePlugs>& plugs);
Json FilesJson(const std::vector<RunFile>& files);
Json VersionsJson(const CardVersions& versions);
// The history record of a run (docs/command-line.md, "history.jsonl").
Json HistoryRecordJson(const RunReport& report, const std::string& id, const std::string& time);

}  // namespace varnel
