#include "update/run_report.h"

#include <cstdio>

namespace varnel {

namespace {

Json Nullable(const std::optional<std::string>& value) { return value ? Json(*value) : Json(nullptr); }
Json Nullable(const std::string& value) { return value.empty() ? Json(nullptr) : Json(value); }

std::string HexText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

Json PdaChangesJson(const std::vector<PdaChange>& changes) {
    Json list = Json::array();
    for (const PdaChange& c : changes) {
        Json differing = Json::array();
        for (size_t k : c.differing) differing.push_back(k + 1);
        list.push_back({{"change", PdaChangeKindName(c.kind)},
                        {"code", c.code},
                        {"name", Nullable(PdrName(c.code))},
                        {"before", c.kind == PdaChange::Kind::Added ? Json(nullptr) : Json(c.before)},
                        {"after", c.kind == PdaChange::Kind::Removed ? Json(nullptr) : Json(c.after)},
                        {"differing_words", differing}});
    }
    return list;
}

Json PlugsJson(const std::vector<ImagePlugs>& plugs) {
    Json list = Json::array();
    for (const ImagePlugs& image : plugs) {
        Json records = Json::array();
        for (const PlugResult& r : image.plugs) {
            const bool fileName = r.plug.code == CPlugRecord::kFileNamePlug;
            records.push_back({{"code", r.plug.code},
                               {"name", fileName ? Json("file name")
                                                 : Nullable(PdrName(static_cast<uint16_t>(r.plug.code & 0xFFFF)))},
                               {"address", r.plug.address},
                               {"length", r.plug.length},
                               {"result", PlugOutcomeKey(r.outcome)},
                               {"text", fileName ? Json(r.text) : Json(nullptr)}});
        }
        list.push_back({{"file", image.file}, {"plugs", records}});
    }
    return list;
}

Json FilesJson(const std::vector<RunFile>& files) {
    Json list = Json::array();
    for (const RunFile& f : files)
        list.push_back(
            {{"path", f.path}, {"kind", f.kind}, {"version", Nullable(f.version)}, {"sha256", Nullable(f.sha256)}});
    return list;
}

Json VersionsJson(const CardVersions& versions) {
    return {{"primary", Nullable(versions.primary)}, {"station", Nullable(versions.station)}};
}

Json HistoryRecordJson(const RunReport& report, const std::string& id, const std::string& time) {
    Json changed = Json::array();
    for (const PdaChange& c : report.pdaChanges)
        changed.push_back(
            {{"code", c.code}, {"name", Nullable(PdrName(c.code))}, {"change", PdaChangeKindName(c.kind)}});
    Json requests = Json::object();
    for (const auto& [oid, count] : report.requests) requests[HexText(oid)] = count;
    return {{"id", id},
            {"time", time},
            {"action", report.action},
            {"adapter", report.adapter},
            {"adapter_name", report.adapterName},
            {"mac", Nullable(report.mac)},
            {"serial", Nullable(report.serial)},
            {"files", FilesJson(report.files)},
            {"before", VersionsJson(report.before)},
            {"after", VersionsJson(report.after)},
            {"pda_changed", changed},
            {"backup", Nullable(report.backup)},
            {"firmware_backup", Nullable(report.firmwareBackup)},
            {"requests", requests},
            {"outcome", report.outcome},
            {"status", report.status}};
}

}  // namespace varnel
