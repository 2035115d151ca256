// The update history that runs leave, and the PDA restore: what is
// recorded and when, and that a restore puts exactly the file's PDA on the
// card.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "card/adapter.h"
#include "pda/pda.h"
#include "pda/pda_diff.h"
#include "pda/pda_text_file.h"
#include "platform/file_digest.h"
#include "sample/sample_release.h"
#include "tests/support/dialog_fixture.h"
#include "tests/support/run_outcome.h"
#include "update/history.h"
#include "update/history_text.h"
#include "update/json_text.h"

namespace varnel {
namespace {

class History : public test::DialogTest {
protected:
    std::filesystem::path HistoryPath() { return Dialog().HistoryPath(); }
    std::vector<Json> Records() {
        const Result<varnel::History> history = ReadHistory(HistoryPath());
        EXPECT_TRUE(test::Worked(history));
        if (!history) return {};
        EXPECT_TRUE(history->warnings.empty());
        return history->records;
    }
    // The card's PDA as the card runs it now.
    void ReadCard(CPda& pda) {
        ASSERT_TRUE(Dialog().ReopenAdapter(false));
        ASSERT_TRUE(Dialog().Adapter().ReadCardPda(pda));
        Dialog().CloseAdapterHandle();
    }
};

TEST_F(History, ASuccessfulUpdateIsRecordedWithWhatItDid) {
    CVarnelDlg& dlg = Start({Release("changes.pda"), Release("primary.hex"), Release("station.hex")});
    dlg.OnUpdate();
    ASSERT_EQ(test::Outcome(dlg), RunOutcome::Succeeded);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    const Json& r = records[0];
    EXPECT_EQ(r["id"], dlg.Report().historyId);
    EXPECT_EQ(r["action"], "update");
    EXPECT_EQ(r["adapter"], 1);
    EXPECT_EQ(r["mac"], "00-60-1D-12-34-56");
    EXPECT_EQ(r["serial"], "SN 99A01234");
    EXPECT_EQ(r["outcome"], "succeeded");
    EXPECT_EQ(r["status"], dlg.FullStatus());
    EXPECT_EQ(r["backup"], dlg.Report().backup);
    EXPECT_EQ(r["before"], Json::parse(R"({"primary": "1.3.6", "station": "1.5.0"})"));
    EXPECT_EQ(r["after"], Json::parse(R"({"primary": "1.4.2", "station": "1.7.4"})"));
    ASSERT_EQ(r["files"].size(), 3u);
    EXPECT_EQ(r["files"][0]["kind"], "pda");
    EXPECT_EQ(r["files"][2]["version"], "Station 1.7.4");
    for (const Json& f : r["files"]) EXPECT_EQ(f["sha256"], *FileSha256(f["path"]));
    // The release changes the release word and the set-point records.
    std::vector<int> changed;
    for (const Json& c : r["pda_changed"]) changed.push_back(c["code"]);
    EXPECT_EQ(changed, (std::vector<int>{0x0002, 0x0300, 0x0301, 0x0900, 0x0901}));
    EXPECT_GT(r["requests"]["0xFF01018C"].get<int>(), 0);
    EXPECT_EQ(r["requests"]["0xFF020198"], 2);  // after the PDA write, and at the end

    // A second run appends; the first line stays as it was.
    const std::string first = test::ReadFile(HistoryPath().string());
    dlg.OnUpdate();
    const std::string both = test::ReadFile(HistoryPath().string());
    EXPECT_TRUE(both.starts_with(first));
    EXPECT_EQ(Records().size(), 2u);
}

TEST_F(History, AFailureAfterWritingBeganIsRecordedARefusalIsNot) {
    // Refused or declined before anything was written: no record.
    host.confirmSummary = false;
    Start({Release("changes.pda"), Release("station.hex")}).OnUpdate();
    EXPECT_EQ(test::Outcome(*dialog), RunOutcome::Cancelled);
    host.confirmSummary = true;
    dialog.reset();
    Start({Release("primary.hex")}).OnUpdate();  // Primary without Station is refused
    EXPECT_EQ(test::Outcome(*dialog), RunOutcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(HistoryPath()));
    EXPECT_TRUE(dialog->Report().historyId.empty());

    // A flash write fails in the second image: recorded as failed, with the
    // backup, and no versions after (the card did not restart).
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.oidStatus = {{kOidWriteAux, 0xC0000001, 40}}; });
    Start({Release("changes.pda"), Release("primary.hex"), Release("station.hex")}).OnUpdate();
    ASSERT_EQ(test::Outcome(*dialog), RunOutcome::Failed);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"], "failed");
    EXPECT_EQ(records[0]["status"], dialog->FullStatus());
    EXPECT_EQ(records[0]["backup"], dialog->Report().backup);
    EXPECT_EQ(records[0]["before"]["station"], "1.5.0");
    EXPECT_TRUE(records[0]["after"]["primary"].is_null() && records[0]["after"]["station"].is_null());
}

TEST_F(History, AHistoryThatCannotBeWrittenIsReportedNotHidden) {
    CVarnelDlg& dlg = Dialog();
    dlg.SetHistoryPath(sim.dir.Path());  // a folder: no file can be opened there
    Start({Release("station.hex")}).OnUpdate();
    // The card was updated: the run says so, and says the record is missing.
    EXPECT_EQ(test::Outcome(dlg), RunOutcome::Succeeded);
    EXPECT_FALSE(dlg.Report().historyError.empty());
    EXPECT_TRUE(dlg.Report().historyId.empty());
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1].caption, "History Not Written");
    EXPECT_NE(host.messages[1].text.find("The card itself was updated as reported."), std::string::npos);
}

TEST(HistoryFile, ATornLineIsSkippedAndLosesNoNeighbour) {
    test::TempDir dir;
    const auto path = dir.Path() / "history.jsonl";
    ASSERT_TRUE(test::Worked(AppendHistoryLine(path, Json{{"id", "a"}})));
    // A process killed in the middle of its line.
    std::ofstream(path, std::ios::app) << R"({"id": "torn", "out)";
    ASSERT_TRUE(test::Worked(AppendHistoryLine(path, Json{{"id", "b"}})));
    const Result<varnel::History> read = ReadHistory(path);
    ASSERT_TRUE(test::Worked(read));
    const varnel::History& history = *read;
    ASSERT_EQ(history.records.size(), 2u);
    EXPECT_EQ(history.records[0]["id"], "a");
    EXPECT_EQ(history.records[1]["id"], "b");
    ASSERT_EQ(history.warnings.size(), 1u);
    EXPECT_NE(history.warnings[0].find("line 2 is damaged"), std::string::npos) << history.warnings[0];

    // The digest is the standard one.
    test::WriteFile(dir.File("abc"), "abc");
    EXPECT_EQ(FileSha256(dir.File("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(FileSha256(dir.File("missing")), std::nullopt);
}

TEST(HistoryFile, IsReadBackwardsByBlocksWithEveryLineInPlace) {
    // Lines across the reader's 64 KiB blocks, a line longer than a line may
    // be, damaged and empty lines, and a last line without its line end:
    // every record read, newest first, and every warning naming its line.
    test::TempDir dir;
    const auto path = dir.Path() / "history.jsonl";
    const auto record = [](const std::string& id, size_t padding) {
        return Json{{"id", id}, {"pad", std::string(padding, 'p')}}.dump();
    };
    std::string text = "\n" + record("a", 10) + "\n" + record("b", 100000) + "\n" +
                       std::string(kHistoryLineMaxBytes + 1, 'x') + "\n" + "{\"id\": \"torn\n\n" + record("c", 70000) +
                       "\r\n" + record("d", 5);
    test::WriteFile(path.string(), text);
    std::vector<std::string> ids, warnings;
    ASSERT_TRUE(test::Worked(ReadHistoryNewestFirst(
        path,
        [&](Json& r) {
            ids.push_back(r["id"]);
            return true;
        },
        [&](const std::string& w) { warnings.push_back(w); })));
    EXPECT_EQ(ids, (std::vector<std::string>{"d", "c", "b", "a"}));
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find(": line 5 is damaged"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find(": line 4 is longer than 1048576 bytes"), std::string::npos) << warnings[1];

    // The reader stops when asked to.
    ids.clear();
    ASSERT_TRUE(test::Worked(ReadHistoryNewestFirst(
        path,
        [&](Json& r) {
            ids.push_back(r["id"]);
            return false;
        },
        [](const std::string&) {})));
    EXPECT_EQ(ids, (std::vector<std::string>{"d"}));

    // However large the file (a history appended past 1 GiB by an older
    // version), its newest records are read from its end, without a pass
    // over the rest; a damaged line in it is still named by its number.
    std::filesystem::resize_file(path, (uint64_t{1} << 30) + 1);  // a hole: a line of NULs
    test::WriteFile(dir.File("tail"), "\n" + record("e", 5) + "\n{\"id\"\n" + record("f", 5) + "\n");
    { std::ofstream(path, std::ios::app | std::ios::binary) << test::ReadFile(dir.File("tail")); }
    ids.clear();
    warnings.clear();
    HistoryReader reader(path);
    const auto takeTwo = [&](Json& r) {
        ids.push_back(r["id"]);
        return ids.size() < 2;
    };
    ASSERT_TRUE(test::Worked(reader.Read(takeTwo, [&](const std::string& w) { warnings.push_back(w); })));
    EXPECT_EQ(ids, (std::vector<std::string>{"f", "e"}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(": line 10 is damaged"), std::string::npos) << warnings[0];
    EXPECT_FALSE(reader.Done());

    // What is no regular file is refused.
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/zero", path);
    const Result<> read = ReadHistoryNewestFirst(
        path, [](Json&) { return true; }, [](const std::string&) {});
    EXPECT_FALSE(read.Ok());
    const std::string error = read.Ok() ? "" : read.Reason();
    EXPECT_NE(error.find("is a character device, not a regular file"), std::string::npos) << error;
}

TEST(HistoryFile, PastItsBoundIsRenamedAsideAndStillReadWhole) {
    // Appenders in processes of their own, each file renamed aside once it
    // holds 2 KiB: every record is read back once, newest first within
    // each process, and no file ever replaced another (several renames fall
    // in one second: -1, -2, ...).
    test::TempDir dir;
    const auto path = dir.Path() / "history.jsonl";
    constexpr int kProcesses = 6, kRecords = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int r = 0; r < kRecords; ++r)
                if (!AppendHistoryLine(
                        path, Json{{"id", std::to_string(p) + "-" + std::to_string(r)}, {"pad", std::string(100, 'p')}},
                        2048))
                    ::_exit(1);
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::filesystem::path> files = HistoryFiles(path);
    EXPECT_GE(files.size(), size_t{kProcesses * kRecords * 130 / 2048});
    for (const auto& file : files) EXPECT_LE(std::filesystem::file_size(file), 2048u) << file;
    const Result<varnel::History> read = ReadHistory(path);
    ASSERT_TRUE(test::Worked(read));
    EXPECT_TRUE(read->warnings.empty());
    std::vector<int> next(kProcesses, 0);
    for (const Json& r : read->records) {
        const std::string id = r["id"];
        const int p = std::stoi(id.substr(0, id.find('-')));
        EXPECT_EQ(std::stoi(id.substr(id.find('-') + 1)), next[static_cast<size_t>(p)]++) << id;
    }
    EXPECT_EQ(next, std::vector<int>(kProcesses, kRecords));

    // An older file that is not readable is said, and the rest still read.
    std::filesystem::remove(files.back());
    std::filesystem::create_directory(files.back());
    std::vector<std::string> warnings;
    size_t count = 0;
    ASSERT_TRUE(test::Worked(ReadHistoryNewestFirst(
        path, [&](Json&) { return ++count, true; }, [&](const std::string& w) { warnings.push_back(w); })));
    EXPECT_GT(count, 0u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(files.back().string()), std::string::npos) << warnings[0];
}

TEST(HistoryFile, ALineWrittenInPartIsTakenBackAndTheReadingGoesOnWhereItStopped) {
    test::TempDir dir;
    const auto path = dir.Path() / "history.jsonl";
    for (const char* id : {"a", "b", "c", "d", "e"})
        ASSERT_TRUE(test::Worked(AppendHistoryLine(path, Json{{"id", id}})));
    const std::string before = test::ReadFile(path.string());

    // A full disk, as a file size limit: the write stops part way. The
    // file is left as it was, and the failure said.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 10, before.size() + 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Result<> append = AppendHistoryLine(path, Json{{"id", "f"}, {"pad", std::string(100, 'p')}});
        ::_exit(!append.Ok() && append.Reason().find("written only in part") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(test::ReadFile(path.string()), before);

    // Read two, then the rest where the first reading stopped.
    HistoryReader reader(path);
    std::vector<std::string> ids;
    const auto take = [&](std::string_view, HistoryRecord& r) {
        ids.push_back(*r.id);
        return ids.size() != 2;
    };
    const auto warn = [](const std::string& w) { ADD_FAILURE() << w; };
    ASSERT_TRUE(test::Worked(reader.Read(take, warn)));
    EXPECT_EQ(ids, (std::vector<std::string>{"e", "d"}));
    EXPECT_FALSE(reader.Done());
    ASSERT_TRUE(test::Worked(reader.Read(take, warn)));
    EXPECT_EQ(ids, (std::vector<std::string>{"e", "d", "c", "b", "a"}));
    EXPECT_TRUE(reader.Done());
}

TEST(HistoryFile, TheFastReaderTakesAndRefusesWhatTheJsonParserDoes) {
    // Each text as a whole line: whether it is a record, and the fields read
    // the fast way against those of the parsed JSON.
    std::vector<std::string> texts = {R"({"id":"a"})",
                                      R"( {"id" : "a" } )",
                                      R"({"id":"a",})",
                                      R"({"id":"a"} x)",
                                      R"({"id":'a'})",
                                      R"([])",
                                      R"("x")",
                                      R"({"id":"\u00e9\ud83d\ude00\n\t\/\\\""})",
                                      R"({"id":"\ud83d"})",
                                      R"({"id":"\ude00x"})",
                                      R"({"id":"\u12"})",
                                      R"({"id":"\x"})",
                                      "{\"id\":\"\x01\"}",
                                      "{\"id\":\"caf\xC3\xA9\"}",
                                      "{\"id\":\"caf\xE9\"}",
                                      "{\"id\":\"\xED\xA0\x80\"}",
                                      "{\"id\":\"\xC0\xAF\"}",
                                      "{\"id\":\"\xF4\x90\x80\x80\"}",
                                      "{\"id\":\"\xF0\x9F\x98\x80\"}",
                                      R"({"adapter":1})",
                                      R"({"adapter":-0})",
                                      R"({"adapter":01})",
                                      R"({"adapter":1.5e3})",
                                      R"({"adapter":1.})",
                                      R"({"adapter":.5})",
                                      R"({"adapter":-})",
                                      R"({"adapter":1e})",
                                      R"({"adapter":18446744073709551615})",
                                      R"({"adapter":18446744073709551616})",
                                      R"({"adapter":-9223372036854775809})",
                                      R"({"adapter":true,"mac":null,"serial":false})",
                                      R"({"adapter":tru})",
                                      R"({"files":[{"path":"/a"},3,[],{"path":1}]})",
                                      R"({"files":[{"path":"/a"}})",
                                      R"({"before":{"primary":"1.2.3","primary":"1.2.4"},"after":[]})",
                                      R"({"a":{"b":[[[{"c":1}]]]}})",
                                      R"({"pda_changed":[{"code":7,"name":"x","change":"added"},{"code":1.0}]})",
                                      R"({)",
                                      R"(})",
                                      "",
                                      " ",
                                      "{\"id\":\"a\"}\x00",
                                      R"({"id":"a" "x":1})",
                                      R"({"id":"a",,"x":1})",
                                      R"({1:2})",
                                      R"({"id":"a"}})"};
    // And a real record cut and changed byte by byte.
    RunReport run;
    run.action = "update";
    run.adapter = 1;
    run.mac = "00-60-1D-12-34-56";
    run.files = {{"/r/caf\xE9.pda", "pda", std::nullopt, "e5"}};
    run.before = {"1.3.6", "1.5.0"};
    run.pdaChanges = {{PdaChange::Kind::Added, 0x0999, {}, {}, {}}};
    const std::string whole = JsonText(HistoryRecordJson(run, "r1", "2026-12-10T20:47:51Z"));
    for (size_t cut = 0; cut < whole.size(); cut += 7) texts.push_back(whole.substr(0, cut));
    uint32_t seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        std::string changed = whole;
        for (int k = 0; k < 3; ++k) {
            seed = seed * 1103515245u + 12345u;
            changed[(seed >> 8) % changed.size()] = "\"{}[]:,\\u0e9.-x \xC3\x80"[(seed >> 20) % 18];
        }
        texts.push_back(changed);
    }

    test::TempDir dir;
    const auto path = dir.Path() / "history.jsonl";
    std::string file;
    for (const std::string& text : texts) file += text + "\n";
    test::WriteFile(path.string(), file);
    std::vector<std::string> fast, parsed, fastWarnings, parsedWarnings;
    const auto show = [](const auto& id, const auto& adapter, const auto& path0, const auto& primary,
                         const auto& code) { return id + "|" + adapter + "|" + path0 + "|" + primary + "|" + code; };
    ASSERT_TRUE(test::Worked(ReadHistoryRecordsNewestFirst(
        path,
        [&](std::string_view, HistoryRecord& r) {
            fast.push_back(
                show(r.id.value_or("-"), r.adapter.value_or("-"), r.files.empty() ? "-" : r.files[0].path,
                     r.before.primary.value_or("-"),
                     r.pdaChanged.empty() || !r.pdaChanged[0].code ? "-" : std::to_string(*r.pdaChanged[0].code)));
            return true;
        },
        [&](const std::string& w) { fastWarnings.push_back(w); })));
    const auto text = [](const Json& j, const char* key) {
        return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string("-");
    };
    ASSERT_TRUE(test::Worked(ReadHistoryNewestFirst(
        path,
        [&](Json& r) {
            std::string adapter = "-";
            if (r.contains("adapter") && r["adapter"].is_number()) adapter = r["adapter"].dump();
            std::string path0 = "-", primary = "-", code = "-";
            if (r.contains("files") && r["files"].is_array() && !r["files"].empty())
                path0 = r["files"][0].is_object() ? text(r["files"][0], "path") : std::string();
            if (path0 == "-" && r.contains("files") && r["files"].is_array() && !r["files"].empty()) path0 = "";
            if (r.contains("before") && r["before"].is_object()) primary = text(r["before"], "primary");
            if (r.contains("pda_changed") && r["pda_changed"].is_array() && !r["pda_changed"].empty() &&
                r["pda_changed"][0].is_object() && r["pda_changed"][0].contains("code") &&
                r["pda_changed"][0]["code"].is_number_integer())
                code = r["pda_changed"][0]["code"].dump();
            parsed.push_back(show(text(r, "id"), adapter, path0, primary, code));
            return true;
        },
        [&](const std::string& w) { parsedWarnings.push_back(w); })));
    EXPECT_EQ(fastWarnings, parsedWarnings);
    ASSERT_EQ(fast.size(), parsed.size());
    for (size_t i = 0; i < fast.size(); ++i) EXPECT_EQ(fast[i], parsed[i]) << i;
    EXPECT_GT(fast.size(), 20u);
}

TEST(HistoryFile, TheTypedRecordHoldsWhatTheRunWrote) {
    // A run's record as the run writes it, a name in it not UTF-8.
    RunReport run;
    run.action = "update";
    run.adapter = 1;
    run.adapterName = "802.11b Wireless LAN PC Card";
    run.mac = "00-60-1D-12-34-56";
    run.serial = "SN 99A01234";
    run.files = {{"/r/caf\xE9.pda", "pda", std::nullopt, "e5"},
                 {"/r/primary.hex", "primary", "Primary 1.4.2", std::nullopt}};
    run.before = {"1.3.6", "1.5.0"};
    run.after = {"1.4.2", std::nullopt};
    run.pdaChanges = {{PdaChange::Kind::Changed, kPdrSerialNumber, {}, {}, {}},
                      {PdaChange::Kind::Added, 0x0999, {}, {}, {}}};
    run.backup = "/s/backups/pda-00-60-1D-12-34-56.pda";
    run.outcome = "succeeded";
    run.status = "Update Successful!";
    test::TempDir dir;
    const auto path = dir.Path() / "history.jsonl";
    ASSERT_TRUE(test::Worked(AppendHistoryLine(path, HistoryRecordJson(run, "r1", "2026-12-10T20:47:51Z"))));
    // Older and damaged records: keys twice (the last counts, nested ones
    // too), elements that are no objects, values of another type.
    test::WriteFile(
        path.string(),
        test::ReadFile(path.string()) +
            R"({"mac":"x","mac":7,"before":{"primary":"1.0.0","primary":null},"files":[3,{"path":"/a","path":"/b"}],)"
            R"("pda_changed":[{"code":2,"code":"two"},"x"],"adapter":"one","status":"","backup":"relative.pda"})"
            "\n");

    std::vector<HistoryRecord> records;
    ASSERT_TRUE(test::Worked(ReadHistoryRecordsNewestFirst(
        path,
        [&](std::string_view, HistoryRecord& r) {
            records.push_back(std::move(r));
            return true;
        },
        [](const std::string& w) { ADD_FAILURE() << w; })));
    ASSERT_EQ(records.size(), 2u);

    const HistoryRecord& odd = records[0];
    EXPECT_EQ(odd.mac, std::nullopt);
    EXPECT_EQ(odd.before.primary, std::nullopt);
    ASSERT_EQ(odd.files.size(), 2u);
    EXPECT_EQ(odd.files[0].path, "");
    EXPECT_EQ(odd.files[1].path, "/b");
    ASSERT_EQ(odd.pdaChanged.size(), 2u);
    EXPECT_EQ(odd.pdaChanged[0].code, std::nullopt);
    EXPECT_EQ(odd.adapter, std::nullopt);
    EXPECT_EQ(odd.status, "");
    EXPECT_EQ(odd.time, std::nullopt);
    EXPECT_EQ(HistoryBackupFolder(odd), std::nullopt);  // a bare name names no folder
    EXPECT_EQ(HistoryColumnText(odd, 2), "-");
    EXPECT_EQ(HistoryVersionsText(odd), "Primary ? \u2192 ?, Station ? \u2192 ?");

    const HistoryRecord& r = records[1];
    EXPECT_EQ(r.id, "r1");
    EXPECT_EQ(r.adapter, "1");
    EXPECT_EQ(r.files[0].path, "/r/caf\xE9.pda");
    EXPECT_EQ(r.after.station, std::nullopt);
    EXPECT_EQ(HistoryBackupFolder(r), std::filesystem::path("/s/backups"));
    const std::vector<std::string> columns = {"2026-12-10T20:47:51Z",
                                              "update",
                                              "00-60-1D-12-34-56",
                                              "succeeded",
                                              "Primary 1.3.6 \u2192 1.4.2, Station 1.5.0 \u2192 ?",
                                              "/s/backups/pda-00-60-1D-12-34-56.pda"};
    for (size_t c = 0; c < kHistoryColumns.size(); ++c) EXPECT_EQ(HistoryColumnText(r, c), columns[c]) << c;
    EXPECT_EQ(HistoryDetailsText(r),
              "Time: 2026-12-10T20:47:51Z\n"
              "Action: update\n"
              "Outcome: succeeded\n"
              "Status: Update Successful!\n"
              "Adapter: 1 (802.11b Wireless LAN PC Card)\n"
              "Card: MAC address 00-60-1D-12-34-56, serial number SN 99A01234\n"
              "Firmware: Primary 1.3.6 \u2192 1.4.2, Station 1.5.0 \u2192 ?\n"
              "Files:\n"
              "  pda  /r/caf\\xE9.pda\n"  // a byte that is not UTF-8, shown visibly
              "    SHA-256 e5\n"
              "  primary  /r/primary.hex  (Primary 1.4.2)\n"
              "    not readable when the run began\n"
              "PDA records changed:\n"
              "  changed  0x0003 serial number\n"
              "  added    0x0999\n"
              "Backup of the card's PDA: /s/backups/pda-00-60-1D-12-34-56.pda\n"
              "Record: r1\n");
}

using Restore = History;

TEST_F(Restore, PutsExactlyTheFilesPdaOnTheCard) {
    // The file: the card's PDA with one record changed and one left out.
    CPda wanted;
    sample::FillCardPda(wanted);
    ASSERT_NE(wanted.RemoveRecord(kPdrRelease), 0);
    const uint16_t serial[] = {5, kPdrSerialNumber, 0x4E53, 0x3120, 0x3332, 0x0034};
    wanted.SetRecord(serial);
    const std::string file = sim.dir.File("wanted.pda");
    test::WriteFile(file, FormatPdaText(wanted));

    CVarnelDlg& dlg = Start();
    // The serial number is the card's identity: asked for by name.
    host.Answer("Replace the Card's Identity?", {MessageAnswer::Yes});
    dlg.OnRestorePda(file, false);
    ASSERT_EQ(test::Outcome(dlg), RunOutcome::Succeeded) << dlg.Status();
    CPda card;
    ReadCard(card);
    EXPECT_EQ(card.GetRecords(), wanted.GetRecords());
    EXPECT_EQ(dlg.View().pdaSerial, "SN 1234");

    // The summary named both changes; the backup holds the card's old PDA.
    ASSERT_EQ(host.summaries.size(), 1u);
    EXPECT_NE(host.summaries[0].find("removed  0x0002 release"), std::string::npos) << host.summaries[0];
    EXPECT_NE(host.summaries[0].find("changed  0x0003 serial number  words 2-"), std::string::npos);
    CPda saved, factory;
    sample::FillCardPda(factory);
    ASSERT_TRUE(MergePdaTextFile(saved, dlg.Report().backup));
    EXPECT_EQ(saved.GetRecords(), factory.GetRecords());
    // The closing box says what was put back and names the backup.
    EXPECT_EQ(host.Lines().back(),
              "Update Complete: PDA Restored!   \n\nThe card's PDA now holds exactly the records of\n" + file +
                  "\n\nCard PDA saved to " + dlg.Report().backup);
    // The same closing requests as an update; and a history record.
    const std::vector<uint32_t> oids = test::Oids(sim.Trace());
    const auto end = std::find(oids.rbegin(), oids.rend(), kOidEndCardAccess).base();
    EXPECT_EQ(std::vector<uint32_t>(end - 3, end),
              (std::vector<uint32_t>{kOidCheckSupport, kOidUnblockProtocols, kOidEndCardAccess}));
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0]["action"], "pda restore");

    // Putting the backup back restores the card as it was.
    const std::string backup = dlg.Report().backup;
    dlg.OnRestorePda(backup, false);
    ASSERT_EQ(test::Outcome(dlg), RunOutcome::Succeeded);
    ReadCard(card);
    EXPECT_EQ(card.GetRecords(), factory.GetRecords());
}

TEST_F(Restore, RefusesWhatIsNotAWholePdaAndWritesNothing) {
    test::WriteFile(sim.dir.File("garbage.pda"), "4 101 12345\n");
    struct Case {
        std::string file;
        bool force;
        std::string message;
        RunOutcome outcome;
    };
    const Case cases[] = {
        {Release("changes.pda"), false, "Cannot Continue: " + Release("changes.pda") + " holds no MAC address record",
         RunOutcome::Failed},
        {sim.dir.File("garbage.pda"), true, "Error: Error loading " + sim.dir.File("garbage.pda"), RunOutcome::Failed},
        {sim.dir.File("missing.pda"), true, "Error: Error loading " + sim.dir.File("missing.pda"), RunOutcome::Failed},
    };
    for (const Case& c : cases) {
        host.messages.clear();
        CVarnelDlg& dlg = Start();
        dlg.OnRestorePda(c.file, c.force);
        EXPECT_EQ(test::Outcome(dlg), c.outcome) << c.file;
        ASSERT_FALSE(host.messages.empty()) << c.file;
        EXPECT_TRUE(host.Lines()[0].starts_with(c.message)) << host.Lines()[0];
        EXPECT_EQ(Writes(), 0u) << c.file;
    }
    EXPECT_TRUE(host.summaries.empty());
    EXPECT_FALSE(std::filesystem::exists(HistoryPath()));

    // Declined at the summary: nothing written either.
    host.confirmSummary = false;
    CVarnelDlg& dlg = Start();
    dlg.OnRestorePda(Release("changes.pda"), true);
    EXPECT_EQ(test::Outcome(dlg), RunOutcome::Cancelled);
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(dlg.View().pdaSerial, "SN 99A01234");
}

TEST_F(Restore, AnotherCardsIdentityIsWrittenOnlyWhenAskedForByName) {
    // Another card's whole PDA; one that differs in its serial number only;
    // and a .pda file for an update that holds another MAC address.
    sample::CardIdentity otherCard;
    otherCard.mac[5] = 0x57;
    otherCard.serialNumber = "SN 99A01235";
    CPda other, otherSerial, macOnly;
    sample::FillCardPda(other, otherCard);
    sample::CardIdentity serialOnly;
    serialOnly.serialNumber = "SN 99A01235";
    sample::FillCardPda(otherSerial, serialOnly);
    const uint16_t mac[] = {4, kPdrMacAddress, 0x6000, 0x121D, 0x5734};
    macOnly.SetRecord(mac);
    const std::string otherFile = sim.dir.File("other.pda"), serialFile = sim.dir.File("serial.pda"),
                      macFile = sim.dir.File("mac.pda");
    test::WriteFile(otherFile, FormatPdaText(other));
    test::WriteFile(serialFile, FormatPdaText(otherSerial));
    test::WriteFile(macFile, FormatPdaText(macOnly));

    const std::string both =
        "MAC address 00-60-1D-12-34-56 → 00-60-1D-12-34-57, serial number SN 99A01234 → SN 99A01235";
    struct Case {
        const char* name;
        bool restore;  // else an update with these files
        std::vector<std::string> files;
        bool force = false;
        std::optional<MessageAnswer> answer;  // to "Replace the Card's Identity?"
        std::string change;                   // "" when the identity stays
        RunOutcome outcome;
        std::string mac, serial;  // the card's afterwards
    };
    const Case cases[] = {
        {"restore another card's backup",
         true,
         {otherFile},
         false,
         {},
         both,
         RunOutcome::Cancelled,
         "00-60-1D-12-34-56",
         "SN 99A01234"},
        {"restore another card's backup, No",
         true,
         {otherFile},
         false,
         MessageAnswer::No,
         both,
         RunOutcome::Cancelled,
         "00-60-1D-12-34-56",
         "SN 99A01234"},
        {"restore another card's backup, Yes",
         true,
         {otherFile},
         false,
         MessageAnswer::Yes,
         both,
         RunOutcome::Succeeded,
         "00-60-1D-12-34-57",
         "SN 99A01235"},
        {"restore another serial number",
         true,
         {serialFile},
         false,
         {},
         "serial number SN 99A01234 → SN 99A01235",
         RunOutcome::Cancelled,
         "00-60-1D-12-34-56",
         "SN 99A01234"},
        {"restore a file without either",
         true,
         {Release("changes.pda")},
         true,
         MessageAnswer::Yes,
         "MAC address 00-60-1D-12-34-56 → none, serial number SN 99A01234 → none",
         RunOutcome::Succeeded,
         "",
         ""},
        {"restore the card's own",
         true,
         {Release("card.pda")},
         false,
         {},
         "",
         RunOutcome::Succeeded,
         "00-60-1D-12-34-56",
         "SN 99A01234"},
        {"update with another MAC address",
         false,
         {macFile, Release("station.hex")},
         false,
         {},
         "MAC address 00-60-1D-12-34-56 → 00-60-1D-12-34-57",
         RunOutcome::Cancelled,
         "00-60-1D-12-34-56",
         "SN 99A01234"},
        {"update with another MAC address, Yes",
         false,
         {macFile, Release("station.hex")},
         false,
         MessageAnswer::Yes,
         "MAC address 00-60-1D-12-34-56 → 00-60-1D-12-34-57",
         RunOutcome::Succeeded,
         "00-60-1D-12-34-57",
         "SN 99A01234"},
        {"update with the release's changes",
         false,
         {Release("changes.pda"), Release("station.hex")},
         false,
         {},
         "",
         RunOutcome::Succeeded,
         "00-60-1D-12-34-56",
         "SN 99A01234"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshCard();
        CVarnelDlg& dlg = Start(c.restore ? std::vector<std::string>{} : c.files);
        if (c.answer) host.Answer("Replace the Card's Identity?", {*c.answer});
        if (c.restore) dlg.OnRestorePda(c.files[0], c.force);
        else dlg.OnUpdate();

        EXPECT_EQ(test::Outcome(dlg), c.outcome) << ::testing::PrintToString(host.Lines());
        ASSERT_EQ(host.summaries.size(), 1u);
        const std::string& summary = host.summaries[0];
        std::vector<Message> questions;
        for (const Message& m : host.messages)
            if (m.caption == "Replace the Card's Identity?") questions.push_back(m);
        if (c.change.empty()) {
            EXPECT_EQ(summary.find("identity"), std::string::npos) << summary;
            EXPECT_TRUE(questions.empty());
        } else {
            // Said first in the summary, then asked: Enter and no answer say No.
            EXPECT_TRUE(summary.starts_with("This replaces the card's identity: " + c.change + "\n")) << summary;
            ASSERT_EQ(questions.size(), 1u);
            EXPECT_NE(questions[0].text.find(c.change), std::string::npos) << questions[0].text;
            EXPECT_EQ(questions[0].buttons, MessageButtons::YesNo);
            EXPECT_TRUE(questions[0].safeDefault);
        }
        // The update's summary lists the PDA changes as the restore's does.
        EXPECT_NE(summary.find("Changes to the card's PDA:\n"), std::string::npos) << summary;
        if (c.outcome != RunOutcome::Succeeded) {
            EXPECT_EQ(Writes(), 0u);
        }
        CPda card;
        ReadCard(card);
        const PdaIdentity identity = IdentityOf(card);
        EXPECT_EQ(identity.mac, c.mac);
        EXPECT_EQ(identity.serial, c.serial);
    }
}

}  // namespace
}  // namespace varnel
