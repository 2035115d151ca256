// varnel-cli end to end: the commands as a user runs them.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "sample/sample_release.h"
#include "update/json_text.h"
#include "tests/test_support.h"

namespace varnel {
namespace {

const std::string kCli = VARNEL_CLI;

// An address as varnel-cli prints it: 0x and eight lower-case hex digits.
std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}
const std::string kRelease = std::string(VARNEL_SOURCE_DIR) + "/examples/release/";

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line (in `cwd` when given), capturing both streams;
// with `seconds`, a run that takes longer is killed (exit 137).
Result RunCli(const std::string& arguments, const std::string& cwd = {}, int seconds = 0) {
    test::TempDir capture;
    const std::string errFile = capture.File("stderr");
    std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") +
                          (seconds > 0 ? "timeout -s KILL " + std::to_string(seconds) + " " : "") + "'" + kCli + "' " +
                          arguments + " 2>'" + errFile + "' </dev/null";
    Result r;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = ::pclose(pipe);
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = test::ReadFile(errFile);
    return r;
}

TEST(Cli, ImageInfoShowsWhatTheUpdateLoads) {
    const Result r = RunCli("image info --json '" + kRelease + "combined.hex'");
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["execution_address"], 0);
    EXPECT_EQ(json["primary"]["text"], "1.4.2");
    EXPECT_EQ(json["primary"]["id"], 0x15);
    EXPECT_EQ(json["station"]["text"], "1.7.4");
    EXPECT_EQ(json["build_sequence"], 23);
    EXPECT_EQ(json["platforms"], nlohmann::json::array({3, 5, 10}));
    EXPECT_EQ(json["blocks"].size(), 4u);
    EXPECT_EQ(json["blocks"][2]["address"], 0x20000);
    EXPECT_EQ(json["plugs"].size(), 8u);
    EXPECT_EQ(json["plugs"][0]["code"], 0xFFFFFFFFu);

    const Result primary = RunCli("image info '" + kRelease + "primary.hex'");
    ASSERT_EQ(primary.exit, 0);
    EXPECT_NE(primary.out.find("Station:           none\n"), std::string::npos) << primary.out;
    const Result station = RunCli("image info --json '" + kRelease + "station.hex'");
    EXPECT_TRUE(nlohmann::json::parse(station.out)["primary"].is_null());
}

TEST(Cli, ExitCodesSayWhatHappened) {
    test::TempDir dir;
    test::WriteFile(dir.File("bad.hex"), "S70500000000FA\nS70500000000FB\n");
    test::WriteFile(dir.File("bad.pda"), "; serial\n4 101 12345\n");
    struct Case {
        std::string arguments;
        int exit;
        std::string err;
    };
    const Case cases[] = {
        {"image info '" + dir.File("bad.hex") + "'", 1, "bad.hex: ERROR: Line 2: Checksum failed.\n"},
        {"image info '" + dir.File("missing.hex") + "'", 1, "missing.hex: File not found.\n"},
        {"pda show '" + dir.File("bad.pda") + "'", 1, "bad.pda: Error on line 2: word too long.\n"},
        {"image dump '" + kRelease + "primary.hex' -o '" + dir.File("x.hex") + "' --pda '" + dir.File("bad.pda") + "'",
         1, "bad.pda: Error on line 2: word too long.\n"},
        {"image info", 2, ""},
        {"image info a b", 2, ""},
        {"frobnicate", 2, ""},
        {"image info --bogus x", 2, ""},
        {"", 2, ""},
        {"--help", 0, ""},
        {"image dump --help", 0, ""},
    };
    for (const Case& c : cases) {
        const Result r = RunCli(c.arguments);
        EXPECT_EQ(r.exit, c.exit) << c.arguments << "\n" << r.err;
        if (!c.err.empty()) {
            EXPECT_TRUE(r.err.ends_with(c.err)) << r.err;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.hex")));
}

TEST(Cli, EveryCommandsHelpListsTheGlobalOptions) {
    for (const char* command : {"", "image dump", "pda backup", "update", "query", "query firmware"}) {
        const Result r = RunCli(std::string(command) + " --help");
        EXPECT_EQ(r.exit, 0) << command;
        for (const char* option : {"\n  --machine DIR ", "\n  --adapter ", "\n  --trace FILE ", "\n  --log "})
            EXPECT_NE(r.out.find(option), std::string::npos) << command << " lacks" << option << "\n" << r.out;
    }
}

// The program builds only the named command's part of the command line
// when it can; the version, the help and the errors are those of the whole.
TEST(Cli, VersionHelpAndErrorsWhereverTheCommandStands) {
    for (const char* arguments : {"--version", "--machine x --version image info y", "--version pda show"}) {
        const Result r = RunCli(arguments);
        EXPECT_EQ(r.exit, 0) << arguments;
        EXPECT_TRUE(r.out.starts_with("varnel-cli ") && r.out.ends_with("\n") && r.out.find('\n') == r.out.size() - 1)
            << arguments << "\n"
            << r.out;
    }
    const Result help = RunCli("--help");
    for (const char* command : {"image", "pda", "machine", "adapters", "info", "update", "files", "history", "query"})
        EXPECT_NE(help.out.find("\n  " + std::string(command) + " "), std::string::npos) << command << "\n" << help.out;
    const Result extra = RunCli("image info '" + kRelease + "primary.hex' pda show");
    EXPECT_EQ(extra.exit, 2);
    EXPECT_EQ(extra.err,
              "The following arguments were not expected: show pda\nRun with --help for more information.\n");
}

TEST(Cli, PdaShowMergesInOrderAndDerivesTheSetPoint) {
    const Result r = RunCli("pda show --json --setpoint '" + kRelease + "card.pda' '" + kRelease + "changes.pda'");
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["setpoint"], 1);
    std::map<int, nlohmann::json> records;
    for (const auto& record : json["records"]) records[record["code"]] = record;
    EXPECT_EQ(records.at(0x0002)["data"], nlohmann::json::array({0x0174}));  // the change file wins
    EXPECT_EQ(records.at(0x0101)["data"], nlohmann::json::array({0x6000, 0x121D, 0x5634}));
    // The derived record takes the release's table (domain 0x10: entries 0 to 13).
    const auto& source = records.at(0x0900)["data"];
    EXPECT_EQ(records.at(0x0300)["data"], nlohmann::json(std::vector<int>(source.begin(), source.begin() + 14)));
    const auto& words = json["words"];
    EXPECT_EQ(words[words.size() - 1], json["crc"]);

    const Result plain = RunCli("pda show '" + kRelease + "changes.pda'");
    ASSERT_EQ(plain.exit, 0);
    EXPECT_NE(plain.out.find("Records: 3\n"), std::string::npos) << plain.out;
}

TEST(Cli, ImageDumpWritesThePluggedImage) {
    test::TempDir dir;
    const std::string out = dir.File("station-plugged.hex");
    const Result r = RunCli("image dump '" + kRelease + "station.hex' -o '" + out + "' --pda '" + kRelease +
                            "card.pda' --pda '" + kRelease + "changes.pda'");
    ASSERT_EQ(r.exit, 0) << r.err;

    CFirmwareFile file;
    CFirmwareImage image;
    ASSERT_NE(file.LoadFile(out, &image, nullptr), 0) << file.LastFinding();
    ASSERT_EQ(image.BlockCount(), 2);
    const auto bytes = image.BlockBytes(1);
    EXPECT_EQ(std::string(bytes.begin() + 0x40, bytes.begin() + 0x4B), "STATION.HEX");
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 0x60, bytes.begin() + 0x66),
              (std::vector<uint8_t>{0x00, 0x60, 0x1D, 0x12, 0x34, 0x56}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 0xCE, bytes.begin() + 0xD0), (std::vector<uint8_t>{0xDE, 0xC0}));
    EXPECT_EQ(file.m_station.present, 0);  // data and S7 only
}

TEST(Cli, LogIsOffUnlessAskedFor) {
    test::TempDir dir;
    ASSERT_EQ(RunCli("image info '" + kRelease + "station.hex'", dir.Path().string()).exit, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("flash.log")));
    ASSERT_EQ(RunCli("--log image info '" + kRelease + "station.hex'", dir.Path().string()).exit, 0);
    ASSERT_EQ(RunCli("image info '" + kRelease + "primary.hex' --log", dir.Path().string()).exit, 0);
    const std::string oneLoad = "Info records ignored.\nBuild sequence: 23\n";
    EXPECT_EQ(test::ReadFile(dir.File("flash.log")), oneLoad + oneLoad);
}

TEST(Cli, CheckedInReleaseIsWhatTheBuilderWrites) {
    test::TempDir dir;
    ASSERT_EQ(std::system(("'" + std::string(VARNEL_MAKE_RELEASE) + "' '" + dir.Path().string() + "'").c_str()), 0);
    for (const char* name : {"primary.hex", "station.hex", "combined.hex", "changes.pda", "card.pda", "OEMRelease.oem"})
        EXPECT_EQ(test::ReadFile(dir.File(name)), test::ReadFile(kRelease + name))
            << name << " is stale: run make examples";
}

// A name that is not UTF-8 (the release's folder, its files, the link
// file's entries, the machine and the state directory) reaches every JSON
// output and the history as valid JSON that decodes to its bytes, and the
// run keeps its outcome.
TEST(Cli, NamesThatAreNotUtf8ReachEveryJsonOutput) {
    const std::pair<const char*, std::string> names[] = {
        {"a Latin-1 byte", "caf\xE9"},    {"a lone continuation byte", "\x80x"},
        {"an overlong form", "\xC0\xAF"}, {"a truncated sequence", "\xE2\x82"},
        {"a surrogate", "\xED\xA0\x80"},  {"the escape's own code point", "\xF3\xB0\x82\x80"},
    };
    // Parses strictly (invalid UTF-8 throws), then decodes every string.
    const auto parse = [](const Result& r) {
        try {
            return DecodeJsonNames(nlohmann::ordered_json::parse(r.out));
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what() << "\n" << r.out << r.err;
            return nlohmann::ordered_json();
        }
    };
    // A decoded string (JSON text of bytes that are not UTF-8 cannot be printed).
    const auto text = [](const nlohmann::ordered_json& value) {
        return value.is_string() ? value.get<std::string>() : "(not a string)";
    };
    for (const auto& [what, name] : names) {
        SCOPED_TRACE(what);
        test::TempDir dir;
        const std::string root = dir.File(name);
        const std::string release = root + "/release " + name;
        std::filesystem::create_directories(release);
        std::vector<std::pair<std::string, std::string>> linked;
        for (const char* file : {"primary.hex", "station.hex", "changes.pda"}) {
            const std::string renamed = name + file;
            test::WriteFile(release + "/" + renamed, test::ReadFile(kRelease + file));
            linked.emplace_back(renamed, test::ReadFile(kRelease + file));
        }
        test::WriteFile(release + "/OEMRelease.oem", sample::LinkFileText(linked));
        const std::string cli = "--machine '" + root + "/machine' ";
        const std::string oem = " --oem '" + release + "/OEMRelease.oem'";
        ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);

        const Result info = RunCli("image info --json '" + release + "/" + name + "primary.hex'");
        EXPECT_EQ(info.exit, 0) << info.err;
        EXPECT_EQ(text(parse(info)["file"]), release + "/" + name + "primary.hex");

        const Result files = RunCli(cli + "files --json" + oem);
        EXPECT_EQ(files.exit, 0) << files.err;
        EXPECT_EQ(text(parse(files)["files"][0]["path"]), release + "/" + name + "changes.pda");

        const Result dry = RunCli(cli + "update --dry-run --json" + oem);
        EXPECT_EQ(dry.exit, 0) << dry.err;
        EXPECT_EQ(text(parse(dry)["files"][2]["path"]), release + "/" + name + "station.hex");

        const Result update = RunCli(cli + "update --yes --json" + oem);
        EXPECT_EQ(update.exit, 0) << update.err;
        const auto run = parse(update);
        EXPECT_EQ(text(run["outcome"]), "succeeded");
        EXPECT_TRUE(run["history"]["error"].is_null());
        const std::string backup = run["backup"].is_string() ? run["backup"].get<std::string>() : "";
        EXPECT_TRUE(backup.starts_with(root + "/state/varnel/backups/")) << backup;
        EXPECT_TRUE(std::filesystem::exists(backup)) << backup;

        const Result diff = RunCli(cli + "pda diff --json card '" + backup + "'");
        EXPECT_EQ(diff.exit, 0) << diff.err;
        EXPECT_EQ(text(parse(diff)["to"]), backup);

        const Result restore = RunCli(cli + "pda restore --yes --json '" + backup + "'");
        EXPECT_EQ(restore.exit, 0) << restore.err;
        EXPECT_EQ(text(parse(restore)["files"][0]["path"]), backup);

        // Both runs are in the history; the table shows the names' own bytes.
        const Result history = RunCli(cli + "history --json");
        EXPECT_EQ(history.exit, 0) << history.err;
        const auto records = parse(history);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(text(records[0]["files"][0]["path"]), backup);
        EXPECT_EQ(text(records[1]["files"][1]["path"]), release + "/" + name + "primary.hex");
        std::ifstream lines(root + "/state/varnel/history.jsonl");
        for (std::string line; std::getline(lines, line);) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
        const Result table = RunCli(cli + "history");
        // The folder's name with its bytes that are not UTF-8 made visible.
        EXPECT_NE(table.out.find("Card PDA saved to "), std::string::npos) << table.out;
        EXPECT_NE(table.out.find("/state/varnel/backups/pda-"), std::string::npos) << table.out;
        ::unsetenv("XDG_STATE_HOME");
    }
}

TEST(Cli, InputsThatNeverEndAreRefusedUnread) {
    // Devices, FIFOs, links to them and files longer than their format
    // allows: each refused at once with its reason, none read (a FIFO
    // without a writer is not waited on). A run that hangs is killed.
    test::TempDir dir;
    const auto file = [&dir](const std::string& name) { return "'" + dir.File(name) + "'"; };
    ASSERT_EQ(::mkfifo(dir.File("fifo.hex").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.File("fifo.pda").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.File("zero.hex"));
    for (const auto& [name, size] :
         {std::pair<std::string, uintmax_t>{"huge.hex", uintmax_t{10} << 30}, {"nul.pda", uintmax_t{2} << 20}}) {
        test::WriteFile(dir.File(name), "");
        std::filesystem::resize_file(dir.File(name), size);  // NUL bytes, sparse
    }
    std::filesystem::create_directories(dir.File("zero-link"));
    std::filesystem::create_symlink("/dev/zero", dir.File("zero-link/OEMRelease.oem"));
    std::filesystem::create_directories(dir.File("big-link"));
    test::WriteFile(dir.File("big-link/OEMRelease.oem"), "");
    std::filesystem::resize_file(dir.File("big-link/OEMRelease.oem"), 100 << 20);
    std::filesystem::create_directories(dir.File("fifo-named"));
    test::WriteFile(dir.File("fifo-named/OEMRelease.oem"), "a.hexb.hexc.pda 0");
    ASSERT_EQ(::mkfifo(dir.File("fifo-named/a.hex").c_str(), 0600), 0);
    const struct {
        std::string arguments;
        std::string err;
    } cases[] = {
        {"image info /dev/zero", "/dev/zero: ERROR: The file is a character device, not a regular file.\n"},
        {"image info " + file("zero.hex"), "ERROR: The file is a character device, not a regular file.\n"},
        {"image info " + file("fifo.hex"), "ERROR: The file is a FIFO (named pipe), not a regular file.\n"},
        {"image info " + file("huge.hex"),
         "ERROR: The file is 10737418240 bytes, more than the 16672000 bytes such a file can hold.\n"},
        {"files /dev/zero", "/dev/zero: ERROR: The file is a character device, not a regular file.\n"},
        {"pda show " + file("fifo.pda"), "the file is a FIFO (named pipe), not a regular file\n"},
        {"pda show " + file("nul.pda"),
         "the file is 2097152 bytes, more than the 1048576 bytes such a file can hold\n"},
        {"pda show /dev/zero", "the file is a character device, not a regular file\n"},
        {"update --dry-run /dev/zero", "The file is a character device, not a regular file."},
        {"files --oem " + file("zero-link/OEMRelease.oem"),
         "cannot be used: it is a character device, not a regular file.\n"},
        {"files --oem " + file("big-link/OEMRelease.oem"),
         "cannot be used: it is 104857600 bytes, more than the 100 bytes such a file can hold.\n"},
        {"files --oem " + file("fifo-named/OEMRelease.oem"),
         "a.hex, which cannot be used: it is a FIFO (named pipe), not a regular file. Nothing was added.\n"},
    };
    for (const auto& c : cases) {
        const Result r = RunCli("--machine " + file("machine") + " " + c.arguments, {}, 20);
        EXPECT_NE(r.exit, 137) << c.arguments << " hangs";
        EXPECT_EQ(r.exit, 1) << c.arguments;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.arguments << "\n" << r.err;
    }
}

// Card commands on a machine of their own.
class CliMachine : public ::testing::Test {
protected:
    Result Cli(const std::string& arguments) { return RunCli("--machine '" + dir.File("machine") + "' " + arguments); }
    test::TempDir dir;
};

TEST_F(CliMachine, AdaptersInfoAndBackupOnTheDefaultMachine) {
    const Result adapters = Cli("adapters");
    ASSERT_EQ(adapters.exit, 0) << adapters.err;
    EXPECT_EQ(adapters.out, "1  802.11b Wireless LAN PC Card\n");
    EXPECT_NE(adapters.err.find("created the default machine"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(Cli("adapters --json").out),
              nlohmann::json::parse(R"([{"adapter": 1, "name": "802.11b Wireless LAN PC Card"}])"));

    const Result info = Cli("info --json");
    ASSERT_EQ(info.exit, 0) << info.err;
    const auto json = nlohmann::json::parse(info.out);
    EXPECT_EQ(json["card_type"], 2);
    EXPECT_EQ(json["pda_address"], 0x7F0000);
    EXPECT_EQ(json["pda_mac"], "00-60-1D-12-34-56");
    EXPECT_EQ(json["ndis_mac"], "00-60-1D-12-34-56");
    EXPECT_EQ(json["serial"], "SN 99A01234");
    EXPECT_EQ(json["part_number"], "PN 7741-0203");
    EXPECT_EQ(json["platform"], 5);
    EXPECT_EQ(json["primary"], "1.3.6");
    EXPECT_EQ(json["station"], "1.5.0");
    EXPECT_EQ(json["driver_version"], "7.1.4");

    const std::string backup = dir.File("card.pda");
    const Result saved = Cli("pda backup -o '" + backup + "'");
    ASSERT_EQ(saved.exit, 0) << saved.err;
    EXPECT_TRUE(test::ReadFile(backup).starts_with("; Varnel PDA backup\n; Adapter 1: 802.11b Wireless LAN PC Card\n"));
    CPda read;
    ASSERT_TRUE(test::Worked(MergePdaTextFile(read, backup)));
    CPda card;
    sample::FillCardPda(card);
    EXPECT_EQ(read.GetRecords(), card.GetRecords());
}

TEST_F(CliMachine, MachineCommandsAndTheirErrors) {
    ASSERT_EQ(Cli("machine init").exit, 0);
    const Result again = Cli("machine init");
    EXPECT_EQ(again.exit, 1);
    EXPECT_NE(again.err.find("use --force"), std::string::npos);
    EXPECT_EQ(Cli("machine init --force").exit, 0);
    EXPECT_NE(Cli("machine show").out.find("\"system\": \"windows2000\""), std::string::npos);

    const Result wired = Cli("--adapter 0 info");
    EXPECT_EQ(wired.exit, 1);
    EXPECT_NE(wired.err.find("--adapter 0: no such valid adapter"), std::string::npos);

    test::WriteFile(dir.File("machine/machine.json"), "{\"system\": \"windows3\"}");
    const Result broken = Cli("adapters");
    EXPECT_EQ(broken.exit, 1);
    EXPECT_NE(broken.err.find("machine.json: system: expected windows95, windowsnt4 or windows2000"), std::string::npos)
        << broken.err;
}

TEST_F(CliMachine, CardMessagesGoToStderrAndTheTraceToItsFile) {
    ASSERT_EQ(Cli("machine init").exit, 0);
    // A card whose type RID cannot be read: the warning, then a type-2 card.
    std::string json = test::ReadFile(dir.File("machine/machine.json"));
    const std::string marker = "\"unreadable_rids\": []";
    json.replace(json.find(marker), marker.size(), "\"unreadable_rids\": [\"0xFD04\"]");
    test::WriteFile(dir.File("machine/machine.json"), json);
    const std::string trace = dir.File("trace.jsonl");
    const Result info = Cli("--trace '" + trace + "' info");
    ASSERT_EQ(info.exit, 0) << info.err;
    EXPECT_NE(info.err.find("DEBUG OPTION - unable to determine card type: getRid failure! Varnel will continue, "
                            "assuming a 6405-based card.\n"),
              std::string::npos)
        << info.err;
    std::ifstream lines(trace);
    std::string line;
    int rids = 0;
    while (std::getline(lines, line)) {
        const auto request = nlohmann::json::parse(line);
        EXPECT_TRUE(request.contains("seq") && request.contains("oid") && request.contains("status"));
        if (request.contains("rid")) ++rids;
    }
    EXPECT_GE(rids, 3);
}

TEST_F(CliMachine, RefusalsSayWhyAndExitOne) {
    ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    ASSERT_EQ(Cli("machine init").exit, 0);
    const std::string machine = "--machine '" + dir.File("machine") + "' ";
    // A machine whose file is damaged.
    std::filesystem::copy(dir.File("machine"), dir.File("damaged"), std::filesystem::copy_options::recursive);
    test::WriteFile(dir.File("damaged/machine.json"), "{\"system\": ");
    const std::string damaged = "--machine '" + dir.File("damaged") + "' ";
    // A folder of the user's that is no machine.
    std::filesystem::create_directories(dir.File("mine/cards"));
    test::WriteFile(dir.File("mine/notes.txt"), "mine");
    const std::string mine = "--machine '" + dir.File("mine") + "' ";
    const std::string station = " '" + kRelease + "station.hex'";
    const std::string missingOem = " --oem '" + dir.File("missing/OEMRelease.oem") + "'";
    test::WriteFile(dir.File("bad.oem"), "x");
    std::filesystem::create_directories(dir.File("elsewhere"));
    test::WriteFile(dir.File("elsewhere/OEMRelease.oem"), "primary.hexstation.hexchanges.pda 1");
    const std::string badOem = " --oem '" + dir.File("elsewhere/OEMRelease.oem") + "'";
    const std::string nines(300, '9');
    struct Case {
        std::string arguments;
        int exit;
        std::string err;
    };
    const Case cases[] = {
        // A link file that is missing or refused fails the command.
        {machine + "files" + missingOem, 1, "Error: Cannot read the link file "},
        {machine + "files" + badOem, 1, "cannot be opened. Nothing was added."},
        {machine + "update --yes" + missingOem + station, 1, "Error: Cannot read the link file "},
        // Adapter numbers are decimal, from 0 to 9999.
        {machine + "--adapter 01 query firmware", 0, ""},
        {machine + "--adapter 012 query firmware", 1, "--adapter 12: no such valid adapter"},
        {machine + "--adapter 0x01 query firmware", 2, "not an adapter number (a decimal number from 0 to 9999)"},
        {machine + "--adapter 1e0 query firmware", 2, "not an adapter number (a decimal number from 0 to 9999)"},
        {machine + "--adapter -1 query firmware", 2, "not an adapter number (a decimal number from 0 to 9999)"},
        {machine + "--adapter " + nines + " query firmware", 2,
         "--adapter: not an adapter number (a decimal number from 0 to 9999)\n"},
        // An empty machine name, or a folder that is no machine.
        {"--machine '' info", 1, "--machine: an empty name is no directory"},
        {mine + "info", 1, "is not a simulated machine (no machine.json) and is not empty"},
        {mine + "machine init --force", 1, "is not a simulated machine (no machine.json) and is not empty"},
        // A damaged machine file is a failure, not bad usage.
        {damaged + "update --yes" + station, 1, "machine.json"},
        {damaged + "pda restore --yes '" + kRelease + "card.pda'", 1, "machine.json"},
        {damaged + "query firmware", 1, "machine.json"},
        {damaged + "files" + station, 1, "machine.json"},
        // A trace that cannot be written stops the command before it runs.
        {machine + "--trace '" + dir.File("no/such/folder/trace.jsonl") + "' update --yes" + station, 1,
         "--trace: " + dir.File("no/such/folder/trace.jsonl") + ": cannot be opened for writing"},
    };
    const std::string versions = Cli("query firmware").out;
    for (const Case& c : cases) {
        const Result r = RunCli(c.arguments);
        EXPECT_EQ(r.exit, c.exit) << c.arguments << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.arguments << "\n" << r.err;
        EXPECT_LT(r.err.size(), 1000u) << c.arguments;
    }
    // Nothing was written: not the card, not the user's folder.
    EXPECT_EQ(Cli("query firmware").out, versions);
    EXPECT_FALSE(std::filesystem::exists(dir.File("mine/machine.json")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("mine/cards")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("state/varnel/history.jsonl")));

    // VARNEL_MACHINE="" is refused as --machine "" is; a JSON answer still comes.
    ::setenv("VARNEL_MACHINE", "", 1);
    const Result empty = RunCli("update --json --yes" + station);
    ::unsetenv("VARNEL_MACHINE");
    EXPECT_EQ(empty.exit, 1);
    EXPECT_NE(empty.err.find("VARNEL_MACHINE: an empty name is no directory"), std::string::npos) << empty.err;
    EXPECT_EQ(nlohmann::json::parse(empty.out)["exit_code"], 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("state/varnel/machine")));
    const Result files = RunCli(machine + "files --json" + missingOem);
    EXPECT_EQ(files.exit, 1);
    EXPECT_EQ(nlohmann::json::parse(files.out)["files"].size(), 0u);
    ::unsetenv("XDG_STATE_HOME");
}

class CliUpdate : public CliMachine {
protected:
    void SetUp() override {
        ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
        ASSERT_EQ(Cli("machine init").exit, 0);
    }
    void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }
    std::string Versions() { return Cli("query firmware").out; }
    const std::string oem = "--oem '" + kRelease + "OEMRelease.oem'";
};

TEST_F(CliUpdate, TheReleaseUpdatesTheCard) {
    const Result r = Cli("update --yes " + oem);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("Update Information\nProduct Part Number: PN 7741-0203\n")) << r.out;
    EXPECT_NE(r.out.find("Version information: Station: 1.7.4\n"), std::string::npos);
    EXPECT_NE(r.err.find("Update Complete: Update Successful!   \n"), std::string::npos);
    // Which image the progress is for.
    EXPECT_NE(r.err.find("Flash update in progress...\n  Image 1 of 2: primary.hex\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Flash update in progress...\n  Image 2 of 2: station.hex\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Status: Update Successful! Card PDA saved to " + dir.File("state/varnel/backups/pda-")),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Card firmware saved to " + dir.File("state/varnel/backups/flash-")), std::string::npos)
        << r.err;
    // The firmware text is the new Station firmware's.
    EXPECT_EQ(Versions(), "Current Firmware Versions: Primary: 1.4.2   Station: 1.7.4\n\nWLAN STA firmware 1.7.4   \n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("state/varnel/backups")),
                            std::filesystem::directory_iterator{}),
              2);  // the PDA's backup and the firmware's
    const auto info = nlohmann::json::parse(Cli("info --json").out);
    EXPECT_EQ(info["station"], "1.7.4");
    EXPECT_EQ(info["serial"], "SN 99A01234");  // the card's own records stay
}

TEST_F(CliUpdate, AnotherCardsIdentityNeedsItsOwnAnswer) {
    sample::CardIdentity other;
    other.mac[5] = 0x57;
    other.serialNumber = "SN 99A01235";
    CPda pda;
    sample::FillCardPda(pda, other);
    const std::string file = dir.File("other.pda");
    test::WriteFile(file, FormatPdaText(pda));
    const std::string said =
        "Update Information\nThis replaces the card's identity: MAC address 00-60-1D-12-34-56 → 00-60-1D-12-34-57, "
        "serial number SN 99A01234 → SN 99A01235\n";

    // --yes confirms the summary, not the identity.
    const Result refused = Cli("pda restore --yes '" + file + "'");
    EXPECT_EQ(refused.exit, 3) << refused.err;
    EXPECT_TRUE(refused.out.starts_with(said)) << refused.out;
    EXPECT_NE(refused.err.find("  -> No (no terminal; answer with --answer \"Replace the Card's Identity?=Yes\")\n"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(nlohmann::json::parse(Cli("info --json").out)["serial"], "SN 99A01234");

    const Result taken = Cli("pda restore --yes --answer \"Replace the Card's Identity?=Yes\" '" + file + "'");
    EXPECT_EQ(taken.exit, 0) << taken.err;
    EXPECT_TRUE(taken.out.starts_with(said)) << taken.out;
    EXPECT_EQ(nlohmann::json::parse(Cli("info --json").out)["serial"], "SN 99A01235");

    // The update's summary lists its PDA changes, once also in a dry run.
    const Result dry =
        Cli("update --dry-run --answer Warning=OK '" + kRelease + "changes.pda' '" + kRelease + "station.hex'");
    EXPECT_EQ(dry.exit, 0) << dry.err;
    const size_t changes = dry.out.find("Changes to the card's PDA:\nchanged  0x0002 release  word 1\n");
    EXPECT_NE(changes, std::string::npos) << dry.out;
    EXPECT_EQ(dry.out.find("0x0002 release", changes + 40), std::string::npos) << dry.out;
    EXPECT_LT(changes, dry.out.find("Source File: "));
}

TEST_F(CliUpdate, ChecksOnlyAndRefusals) {
    const std::string before = Versions();
    struct Case {
        std::string arguments;
        int exit;
        std::string err;  // a line stderr must hold
    };
    const std::string changes = "'" + kRelease + "changes.pda'";
    const Case cases[] = {
        {"update --dry-run " + oem, 0, "  -> CANCEL (dry run)"},
        // A FILE after --answer stays a FILE.
        {"update --dry-run --answer Warning=OK " + changes, 0, "  -> CANCEL (dry run)"},
        {"update --dry-run " + changes, 3, "  -> Cancel (no terminal; answer with --answer \"Warning=OK\")"},
        {"update --dry-run --answer Warning=OK " + changes + " '" + kRelease + "primary.hex'", 1,
         "Error: Error - Card requires Station code when updating Primary."},
        {"update " + oem, 3, "  -> Cancel (no terminal; confirm with --yes)"},
        {"update --yes '" + kRelease + "changes.pda' '" + kRelease + "primary.hex'", 3,
         "Warning: Warning - PDA changes will not take effect without station code. "},
        {"update --yes --answer Warning=OK '" + kRelease + "changes.pda' '" + kRelease + "primary.hex'", 1,
         "Error: Error - Card requires Station code when updating Primary."},
        {"update --yes", 1, "No files selected: You must select at least one file to update card"},
        {"update --yes --answer Warning=Maybe " + oem, 2, ""},
    };
    for (const Case& c : cases) {
        const Result r = Cli(c.arguments);
        EXPECT_EQ(r.exit, c.exit) << c.arguments << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err + "\n"), std::string::npos) << c.arguments << "\n" << r.err;
        EXPECT_EQ(r.err.find("Status: \n"), std::string::npos) << c.arguments << "\n" << r.err;
    }
    EXPECT_EQ(Versions(), before);
}

TEST_F(CliUpdate, ACardFaultInTheMiddle) {
    std::string json = test::ReadFile(dir.File("machine/machine.json"));
    const std::string marker = "\"oid_status\": []";
    json.replace(json.find(marker), marker.size(),
                 "\"oid_status\": [{\"oid\": \"0xFF01018C\", \"status\": \"0xC0000001\", \"from_request\": 40}]");
    test::WriteFile(dir.File("machine/machine.json"), json);
    const Result r = Cli("update --yes " + oem);
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("Error: Update failed while writing to card!\n"), std::string::npos) << r.err;
    // The backup taken before the PDA write is named.
    EXPECT_NE(r.err.find("Status: Update FAILED. Card PDA saved to " + dir.File("state/varnel/backups/pda-")),
              std::string::npos)
        << r.err;
}

TEST_F(CliUpdate, FilesShowsTheList) {
    const Result r = Cli("files --json '" + kRelease + "card.pda' '" + kRelease + "combined.hex' " + oem);
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json["files"].size(), 1u);  // the link file's third addition took the list over
    EXPECT_EQ(json["files"][0]["type"], 0);
    EXPECT_EQ(json["files"][0]["path"], kRelease + "changes.pda");
    EXPECT_EQ(json["messages"], nlohmann::json::array({"Error: The new firmware files will be taken over!!"}));
}

TEST_F(CliUpdate, TheReadersReasonReachesTheTerminal) {
    test::WriteFile(dir.File("bad.pda"), "; ok\n4 101 12345\n");
    test::WriteFile(dir.File("bad.hex"), "S70500000000FA\nS1\n");
    const Result files = Cli("files '" + dir.File("bad.pda") + "' '" + dir.File("bad.hex") + "'");
    EXPECT_EQ(files.exit, 1);
    EXPECT_NE(files.err.find("varnel-cli: " + dir.File("bad.pda") + ": Error on line 2: word too long.\n"),
              std::string::npos)
        << files.err;
    EXPECT_NE(files.err.find("varnel-cli: " + dir.File("bad.hex") + ": ERROR: Line 2: line length invalid.\n"),
              std::string::npos)
        << files.err;
    // A folder given as a file is no file: nothing runs without it.
    std::filesystem::create_directory(dir.File("folder.hex"));
    for (const std::string command : {"files", "update --yes"}) {
        const Result folder = Cli(command + " '" + dir.File("folder.hex") + "' '" + kRelease + "station.hex'");
        EXPECT_EQ(folder.exit, 1) << command;
        EXPECT_NE(folder.err.find("Error: " + dir.File("folder.hex") + " is a folder, not a file.\n"),
                  std::string::npos)
            << folder.err;
        EXPECT_EQ(folder.err.find("Update Complete"), std::string::npos) << folder.err;
    }
    const Result update = Cli("update --yes '" + dir.File("bad.pda") + "' '" + kRelease + "station.hex'");
    EXPECT_EQ(update.exit, 1);
    EXPECT_NE(update.err.find("Error: File not loaded. Format invalid?\nError on line 2: word too long.\n"),
              std::string::npos)
        << update.err;
}

// The keys of update --json and pda restore --json, with the JSON types each
// may take: the object has exactly these, and docs/command-line.md names
// every one.
void ExpectRunSchema(const nlohmann::json& run) {
    using T = nlohmann::json::value_t;
    const auto text = {T::string, T::null};
    const std::map<std::string, std::vector<T>> keys = {
        {"action", {T::string}},   {"outcome", {T::string}},  {"exit_code", {T::number_unsigned, T::number_integer}},
        {"status", {T::string}},   {"adapter", {T::object}},  {"card", {T::object}},
        {"files", {T::array}},     {"versions", {T::object}}, {"backup", text},
        {"firmware_backup", text}, {"history", {T::object}},  {"pda_diff", {T::array, T::null}},
        {"plugs", {T::array}},
    };
    const std::string docs = test::ReadFile(std::string(VARNEL_SOURCE_DIR) + "/docs/command-line.md");
    ASSERT_TRUE(run.is_object()) << run;
    EXPECT_EQ(run.size(), keys.size()) << run.dump(2);
    for (const auto& [key, types] : keys) {
        ASSERT_TRUE(run.contains(key)) << key;
        EXPECT_NE(std::find(types.begin(), types.end(), run[key].type()), types.end()) << key << ": " << run[key];
        EXPECT_NE(docs.find("`" + key + "`"), std::string::npos) << key << " is not documented";
    }
    for (const char* key : {"mac", "serial"}) EXPECT_TRUE(run["card"].contains(key)) << key;
    for (const char* when : {"before", "after"})
        for (const char* which : {"primary", "station"}) EXPECT_TRUE(run["versions"][when].contains(which));
    for (const char* key : {"id", "error"}) EXPECT_TRUE(run["history"].contains(key)) << key;
    for (const auto& file : run["files"])
        for (const char* key : {"path", "kind", "version", "sha256"}) EXPECT_TRUE(file.contains(key)) << key;
    for (const auto& change : run["pda_diff"].is_array() ? run["pda_diff"] : nlohmann::json::array())
        for (const char* key : {"change", "code", "name", "before", "after", "differing_words"})
            EXPECT_TRUE(change.contains(key)) << key;
    for (const auto& image : run["plugs"])
        for (const auto& plug : image["plugs"])
            for (const char* key : {"code", "name", "address", "length", "result", "text"})
                EXPECT_TRUE(plug.contains(key)) << key;
}

// firmware restore: the update's backup puts the old firmware back; a backup
// whose header names another card needs its named answer, which --yes is not.
TEST_F(CliUpdate, FirmwareRestoreTakesTheCardBackAndAnotherCardsBackupOnlyByName) {
    const Result update = Cli("update --json --yes " + oem);
    ASSERT_EQ(update.exit, 0) << update.err;
    const auto run = nlohmann::json::parse(update.out);
    ExpectRunSchema(run);
    const std::string backup = run["firmware_backup"].get<std::string>();
    EXPECT_TRUE(backup.starts_with(dir.File("state/varnel/backups/flash-00-60-1D-12-34-56-"))) << backup;
    EXPECT_TRUE(backup.ends_with(".srec")) << backup;

    // The same file with another card's address in its header.
    std::string text = test::ReadFile(backup);
    const std::string mine = test::SRecord('0', 0, 2, {'M', 'A', 'C', ' ', '0', '0', '-', '6', '0', '-', '1',
                                                       'D', '-', '1', '2', '-', '3', '4', '-', '5', '6'});
    const std::string other = test::SRecord('0', 0, 2, {'M', 'A', 'C', ' ', '0', '0', '-', '6', '0', '-', '1',
                                                        'D', '-', '9', '9', '-', '9', '9', '-', '9', '9'});
    ASSERT_NE(text.find(mine), std::string::npos) << text.substr(0, 200);
    text.replace(text.find(mine), mine.size(), other);
    // Without its header digest, as an older backup (a header altered under
    // its digest is refused).
    const size_t headerDigest = text.find("00004845414445522D534841323536");
    ASSERT_NE(headerDigest, std::string::npos);
    const size_t lineStart = text.rfind('\n', headerDigest) + 1;
    text.erase(lineStart, text.find('\n', headerDigest) + 1 - lineStart);
    test::WriteFile(dir.File("other.srec"), text);
    const Result refused = Cli("firmware restore --yes '" + dir.File("other.srec") + "'");
    EXPECT_EQ(refused.exit, 3) << refused.err;
    EXPECT_NE(refused.err.find("  -> No (no terminal; answer with --answer \"Restore Another Card's Firmware?=Yes\")"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(Versions(), "Current Firmware Versions: Primary: 1.4.2   Station: 1.7.4\n\nWLAN STA firmware 1.7.4   \n");

    const Result restored = Cli("firmware restore --json --yes --answer \"Restore Another Card's Firmware?=Yes\" '" +
                                dir.File("other.srec") + "'");
    ASSERT_EQ(restored.exit, 0) << restored.err;
    const auto result = nlohmann::json::parse(restored.out);
    ExpectRunSchema(result);
    EXPECT_EQ(result["action"], "firmware restore");
    EXPECT_EQ(result["versions"]["after"]["primary"], "1.3.6");
    EXPECT_TRUE(result["firmware_backup"].is_string());
    EXPECT_NE(restored.err.find("Firmware it returns to (read from the data written): Primary 1.3.6, Station 1.5.0\n"),
              std::string::npos);
    const auto history = nlohmann::json::parse(Cli("history --json").out);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0]["action"], "firmware restore");
    EXPECT_EQ(history[1]["firmware_backup"], backup);

    // --no-firmware-backup: none saved, and the summary says so.
    const Result plain = Cli("update --json --yes --no-firmware-backup " + oem);
    ASSERT_EQ(plain.exit, 0) << plain.err;
    EXPECT_TRUE(nlohmann::json::parse(plain.out)["firmware_backup"].is_null());
    EXPECT_NE(plain.err.find("The card's firmware will not be saved before writing (no firmware backup).\n"),
              std::string::npos);
}

TEST_F(CliUpdate, JsonResultsOfASuccessAndAFailure) {
    const Result ok = Cli("update --json --yes " + oem);
    ASSERT_EQ(ok.exit, 0) << ok.err;
    const auto run = nlohmann::json::parse(ok.out);  // stdout holds the JSON object alone
    ExpectRunSchema(run);
    EXPECT_EQ(run["outcome"], "succeeded");
    EXPECT_EQ(run["exit_code"], 0);
    EXPECT_EQ(run["versions"]["after"]["station"], "1.7.4");
    EXPECT_EQ(run["card"]["mac"], "00-60-1D-12-34-56");
    EXPECT_EQ(run["pda_diff"].size(), 5u);
    EXPECT_EQ(run["plugs"][1]["plugs"][3]["text"], "STATION.HEX");
    EXPECT_EQ(run["plugs"][1]["plugs"][4]["name"], "MAC address");
    EXPECT_EQ(run["plugs"][1]["plugs"][4]["result"], "plugged");
    EXPECT_NE(ok.err.find("Update Information\n"), std::string::npos);  // the human text, on stderr

    // The history holds the run under the id the result gave.
    const auto history = nlohmann::json::parse(Cli("history --json").out);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0]["id"], run["history"]["id"]);

    // A failure: a file that is not there.
    const Result failed = Cli("update --json --yes '" + dir.File("missing.hex") + "'");
    EXPECT_EQ(failed.exit, 1);
    const auto failure = nlohmann::json::parse(failed.out);
    ExpectRunSchema(failure);
    EXPECT_EQ(failure["outcome"], "failed");
    EXPECT_EQ(failure["exit_code"], 1);
    EXPECT_TRUE(failure["history"]["id"].is_null());
    EXPECT_TRUE(failure["pda_diff"].is_null());

    // The restore answers the same way; a file without a MAC address is refused.
    const Result refused = Cli("pda restore --json --yes '" + kRelease + "changes.pda'");
    EXPECT_EQ(refused.exit, 1);
    const auto restore = nlohmann::json::parse(refused.out);
    ExpectRunSchema(restore);
    EXPECT_EQ(restore["action"], "pda restore");
    EXPECT_EQ(nlohmann::json::parse(Cli("history --json").out).size(), 1u);
}

TEST_F(CliUpdate, HistoryListsNewestFirstAndSkipsADamagedLine) {
    ASSERT_EQ(Cli("update --yes '" + kRelease + "station.hex'").exit, 0);
    const std::string path = dir.File("state/varnel/history.jsonl");
    std::ofstream(path, std::ios::app) << "{\"id\": \"torn";
    ASSERT_EQ(Cli("pda restore --yes '" + kRelease + "card.pda'").exit, 0);
    const Result table = Cli("history");
    ASSERT_EQ(table.exit, 0) << table.err;
    // Lines 1 and 2: the update's mark before its first write, and its record.
    EXPECT_NE(table.err.find("warning: " + path + ": line 3 is damaged"), std::string::npos) << table.err;
    const size_t restore = table.out.find("pda restore");
    const size_t update = table.out.find("update ");
    ASSERT_NE(restore, std::string::npos) << table.out;
    ASSERT_NE(update, std::string::npos) << table.out;
    EXPECT_LT(restore, update);
    EXPECT_NE(table.out.find("1.5.0>1.7.4"), std::string::npos) << table.out;

    EXPECT_EQ(nlohmann::json::parse(Cli("history --json --card 00:60:1d:12:34:56").out).size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(Cli("history --json --card 00-60-1D-12-34-57").out).size(), 0u);
    EXPECT_EQ(Cli("history --card 00-60").exit, 2);
}

TEST_F(CliUpdate, HistoryPrintsEachRecordExactly) {
    // Records as runs leave them, and as a damaged or older file may hold
    // them: fields missing, null, of another type, given twice; a name in
    // the escape for bytes that are not UTF-8. The table, the JSON and the
    // --card filter, byte for byte.
    const std::vector<std::string> lines = {
        R"({"id":"20261210T204751.111768Z-1","time":"2026-12-10T20:47:51Z","action":"update","adapter":1,"adapter_name":"802.11b Wireless LAN PC Card","mac":"00-60-1D-12-34-56","serial":"SN 99A01234","files":[{"path":"/r/changes.pda","kind":"pda","version":null,"sha256":"e5"},{"path":"/r/primary.hex","kind":"primary","version":"Primary 1.4.2","sha256":null}],"before":{"primary":"1.3.6","station":"1.5.0"},"after":{"primary":"1.4.2","station":"1.7.4"},"pda_changed":[{"code":2,"name":"release","change":"changed"},{"code":768,"name":null,"change":"added"}],"backup":"/s/backups/pda-00-60-1D-12-34-56-20261210T204751Z.pda","requests":{"0xFF01018C":98},"outcome":"succeeded","status":"Update Successful! Card PDA saved to /s/backups/pda-00-60-1D-12-34-56-20261210T204751Z.pda"})",
        R"({"id":"bare"})",
        "not json at all",
        R"({"time":"2026-12-11T08:00:00Z","action":"pda restore","adapter":2.5,"mac":null,"status":"","before":{"primary":null,"station":"1.0.0"},"after":7,"pda_changed":[1,{"code":2},[3]],"outcome":"failed","outcome":"cancelled","backup":null})",
        R"({"time":"2026-12-12T09:30:00Z","action":"update","adapter":3,"mac":"00:60:1d:12:34:57","outcome":"interrupted","status":"Stopped in caf\udb80\udce9","before":{"primary":"1.3.6","station":"1.5.0"},"after":{"primary":"1.4.2"},"pda_changed":[],"backup":"/s/b/caf\udb80\udce9.pda","files":[{"path":"/r/caf\udb80\udce9.hex","kind":"station","version":"Station 1.7.4","sha256":"aa"}]})",
        "[1,2]",
    };
    const std::string path = dir.File("state/varnel/history.jsonl");
    std::string file;
    for (const std::string& line : lines) file += line + "\n";
    std::filesystem::create_directories(dir.File("state/varnel"));
    test::WriteFile(path, file);

    const std::string header = "TIME                  ACTION            ADAPTER  MAC                OUTCOME    PRIMARY "
                               "        STATION         PDA  STATUS\n";
    const std::string newest = "2026-12-12T09:30:00Z  update            3        00:60:1d:12:34:57  interrupted  "
                               "1.3.6>1.4.2     1.5.0>?         0    "
                               "Stopped in caf\\xE9\n";  // a byte that is not UTF-8, made visible
    const Result table = Cli("history");
    EXPECT_EQ(table.exit, 0);
    EXPECT_EQ(table.out,
              header + newest +
                  "2026-12-11T08:00:00Z  pda restore       2.5      -                  cancelled  ?>?             "
                  "1.0.0>?         3    \n"
                  "-                     -                 -        -                  -          ?>?             ?>?  "
                  "           0    -\n"
                  "2026-12-10T20:47:51Z  update            1        00-60-1D-12-34-56  succeeded  1.3.6>1.4.2     "
                  "1.5.0>1.7.4     2    "
                  "Update Successful! Card PDA saved to /s/backups/pda-00-60-1D-12-34-56-20261210T204751Z.pda\n");
    const std::string warning = "varnel-cli: warning: " + path + ": line ";
    const std::string damaged = " is damaged (a run cut off while it was written?) and was skipped\n";
    EXPECT_EQ(table.err, warning + "6" + damaged + warning + "3" + damaged);

    const Result json = Cli("history --json");
    EXPECT_EQ(json.exit, 0);
    EXPECT_EQ(json.out, "[\n  " + lines[4] + ",\n  " + lines[3] + ",\n  " + lines[1] + ",\n  " + lines[0] + "\n]\n");

    EXPECT_EQ(Cli("history --card 00-60-1D-12-34-57").out, header + newest);
    EXPECT_EQ(Cli("history --json --card 00601d123456").out, "[\n  " + lines[0] + "\n]\n");
    EXPECT_EQ(Cli("history --card 00-60-1D-00-00-00").out, "No update history for 00-60-1D-00-00-00 in " + path + "\n");
    EXPECT_EQ(Cli("history --json --card 00-60-1D-00-00-00").out, "[]\n");
    std::filesystem::remove(path);
    EXPECT_EQ(Cli("history").out, "No update history in " + path + "\n");
}

TEST_F(CliUpdate, TheHistoryThatNeverEndsIsRefused) {
    // The history file as a link to a device or as a FIFO: refused at once
    // (a hang is killed), nothing printed.
    const std::string path = dir.File("state/varnel/history.jsonl");
    std::filesystem::create_directories(dir.File("state/varnel"));
    const struct {
        const char* name;
        std::function<void()> make;
        std::string err;
    } cases[] = {
        {"link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", path); },
         "is a character device, not a regular file\n"},
        {"FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, "is a FIFO (named pipe), not a regular file\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        c.make();
        for (const char* command : {"history", "history --json"}) {
            const Result r = RunCli("--machine '" + dir.File("machine") + "' " + command, {}, 20);
            EXPECT_EQ(r.exit, 1) << c.name << ": " << command << "\n" << r.err;
            EXPECT_EQ(r.out, "") << c.name;
            EXPECT_TRUE(r.err.ends_with("history: " + path + ": " + c.err)) << c.name << "\n" << r.err;
        }
    }
    // A file of 2 GiB (an older version let it grow past 1 GiB) is read from
    // its end: its newest record listed, the damage before it said.
    std::filesystem::remove(path);
    test::WriteFile(path, "");
    std::filesystem::resize_file(path, uintmax_t{2} << 30);
    {
        std::ofstream(path, std::ios::app) << "\n"
                                           << R"({"id":"newest","action":"update","outcome":"succeeded"})"
                                           << "\n";
    }
    const Result r = RunCli("--machine '" + dir.File("machine") + "' history --json", {}, 20);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("\"id\":\"newest\""), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(path + ": line 1 is longer than 1048576 bytes and was skipped"), std::string::npos) << r.err;
}

TEST_F(CliMachine, OutputGoesThroughLinksAndOntoDevicesInPlace) {
    // -o onto a link writes the file it names; onto a device or a FIFO
    // writes into it; the node itself is never replaced.
    const std::string target = dir.File("target.pda"), link = dir.File("link.pda");
    test::WriteFile(target, "old\n");
    std::filesystem::create_symlink("target.pda", link);
    std::filesystem::create_symlink("new.hex", dir.File("dangling.hex"));
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader end is open before the run, so the run's open does not
    // wait; the text (under a pipe's buffer) waits in the pipe.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // Device nodes of our own, when this user may make them.
    const bool devices = ::mknod(dir.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                         ::mknod(dir.File("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    const struct {
        std::string arguments;
        int exit;
        std::string node;  // the node written to, which keeps its type
        std::filesystem::file_type type;
    } cases[] = {
        {"pda backup -o '" + link + "'", 0, link, std::filesystem::file_type::symlink},
        {"image dump '" + kRelease + "primary.hex' -o '" + dir.File("dangling.hex") + "'", 0, dir.File("dangling.hex"),
         std::filesystem::file_type::symlink},
        {"pda backup -o '" + fifo + "'", 0, fifo, std::filesystem::file_type::fifo},
        {"pda backup -o '" + dir.File("null") + "'", 0, dir.File("null"), std::filesystem::file_type::character},
        {"image dump '" + kRelease + "primary.hex' -o '" + dir.File("full") + "'", 1, dir.File("full"),
         std::filesystem::file_type::character},
        {"pda backup -o '" + dir.Path().string() + "'", 1, dir.Path().string(), std::filesystem::file_type::directory},
    };
    for (const auto& c : cases) {
        if (!devices && c.type == std::filesystem::file_type::character) continue;
        const Result r = RunCli("--machine '" + dir.File("machine") + "' " + c.arguments, {}, 20);
        EXPECT_EQ(r.exit, c.exit) << c.arguments << "\n" << r.err;
        EXPECT_EQ(std::filesystem::symlink_status(c.node).type(), c.type) << c.arguments;
    }
    EXPECT_TRUE(test::ReadFile(target).starts_with("; Varnel")) << test::ReadFile(target);
    CFirmwareFile dumped;
    EXPECT_GT(dumped.LoadFile(dir.File("new.hex"), nullptr, nullptr), 0u) << dumped.LastFinding();
    std::string piped(4096, '\0');
    const ssize_t n = ::read(reader, piped.data(), piped.size());
    ::close(reader);
    piped.resize(n > 0 ? static_cast<size_t>(n) : 0);
    EXPECT_TRUE(piped.starts_with("; Varnel")) << piped;
    // No temporary file is left anywhere.
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

TEST_F(CliMachine, CardReadWritesTheFlashByteForByte) {
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    ASSERT_EQ(Cli("machine init").exit, 0);
    // The card's PDA copy in RAM reads erased: the PDA area read must be
    // the flash's.
    std::string json = test::ReadFile(dir.File("machine/machine.json"));
    json.replace(json.find("\"ram_pda\": \"loaded\""), 19, "\"ram_pda\": \"erased\"");
    test::WriteFile(dir.File("machine/machine.json"), json);
    const struct {
        std::string range;
        uint32_t start, end;
    } cases[] = {
        {"", 0, 0x7F0000},                                  // the default: all below the PDA area
        {"--range 0x1F800:0x30011", 0x1F800, 0x30011},      // across sectors, an odd end
        {"--range 8323072:8324096", 0x7F0000, 0x7F0400},    // the PDA area, in decimal
        {"--range 0x7FFFFF:0x800000", 0x7FFFFF, 0x800000},  // the last byte of the flash
    };
    for (const auto& c : cases) {
        const std::string out = dir.File("flash.srec"), bin = dir.File("flash.bin");
        const Result r = Cli("card read " + c.range + " -o '" + out + "'");
        ASSERT_EQ(r.exit, 0) << c.range << "\n" << r.err;
        EXPECT_EQ(r.out, "Wrote " + std::to_string(c.end - c.start) + " bytes of the flash of adapter 1, " +
                             Hex(c.start) + " to " + Hex(c.end) + ", to " + out + "\n");
        EXPECT_TRUE(
            r.err.starts_with("Reading the card's flash, " + Hex(c.start) + " to " + Hex(c.end) + " ...\n  0%\n"))
            << r.err;
        EXPECT_TRUE(r.err.ends_with("  100%\n")) << r.err;
        EXPECT_TRUE(test::ReadFile(out).starts_with("S0")) << c.range;
        // srec_cat checks every record's checksum as it reads.
        const std::string command =
            "srec_cat '" + out + "' -motorola -offset -" + std::to_string(c.start) + " -o '" + bin + "' -binary";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_TRUE(test::ReadFile(bin) == test::SimulatedFlash(dir.File("machine"), c.start, c.end)) << c.range;
    }
    ::unsetenv("XDG_STATE_HOME");
}

TEST_F(CliMachine, CardReadRefusesBadRangesAndWritesNothingWhenAReadFails) {
    ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    ASSERT_EQ(Cli("machine init").exit, 0);
    const std::string out = dir.File("mine.srec");
    test::WriteFile(out, "mine\n");
    const std::string notARange = "is not a range: expected START:END, two addresses in hex (0x20000) or decimal";
    const std::string past = "reaches past the card's flash, which ends at 0x00800000";
    const struct {
        std::string range, why;
    } cases[] = {
        {"x", notARange},
        {"0x10", notARange},
        {"0x10:", notARange},
        {":0x10", notARange},
        {"0x:5", notARange},
        {"-1:5", notARange},
        {"1:2:3", notARange},
        {"0x1g:0x20", notARange},
        {"1:0x100000000", notARange},
        {"0x20:0x20", "holds no byte: START must lie below END"},
        {"0x30:0x20", "holds no byte: START must lie below END"},
        {"0:0x800001", past},
        {"0x800000:0x800010", past},
    };
    for (const auto& c : cases) {
        const Result r = Cli("card read --range '" + c.range + "' -o '" + out + "'");
        EXPECT_EQ(r.exit, 1) << c.range;
        EXPECT_NE(r.err.find("varnel-cli: --range: \"" + c.range + "\" " + c.why), std::string::npos) << r.err;
    }
    EXPECT_EQ(Cli("card read").exit, 2);  // no -o

    // Aux reads fail from the tenth on: the read stops, and the file the
    // user had stays as it was.
    auto machine = nlohmann::json::parse(test::ReadFile(dir.File("machine/machine.json")));
    machine["adapters"][1]["card"]["faults"]["oid_status"] =
        nlohmann::json::parse(R"([{"oid": "0xFF010186", "status": "0xC0000001", "from_request": 10}])");
    test::WriteFile(dir.File("machine/machine.json"), machine.dump(2));
    const Result failed = Cli("card read -o '" + out + "'");
    EXPECT_EQ(failed.exit, 1);
    EXPECT_NE(failed.err.find("varnel-cli: card read: the card's flash could not be read at 0x"), std::string::npos)
        << failed.err;
    EXPECT_NE(failed.err.find(", so nothing was written\n"), std::string::npos) << failed.err;
    EXPECT_EQ(test::ReadFile(out), "mine\n");
    ::unsetenv("XDG_STATE_HOME");
}

// An output that can never be written is refused before the card is read;
// a card whose PDA is invalid is read all the same (that is what reading it
// for support is for).
TEST_F(CliMachine, CardReadChecksItsOutputFirstAndReadsACardWithAnInvalidPda) {
    ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    ASSERT_EQ(Cli("machine init").exit, 0);
    const struct {
        std::string out, why;
    } cases[] = {{"''", "varnel-cli: -o: no output file named"},
                 {"'" + dir.File("state") + "'", "is a folder: name the file to write"}};
    std::filesystem::create_directories(dir.File("state"));
    for (const auto& c : cases) {
        const Result r = Cli("--trace '" + dir.File("trace.jsonl") + "' card read -o " + c.out);
        EXPECT_EQ(r.exit, 1) << c.out;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.File("trace.jsonl"))) << "the card was reached";
    }
    // Both copies of the PDA invalid: RAM erased, the flash's zeroed.
    std::string json = test::ReadFile(dir.File("machine/machine.json"));
    json.replace(json.find("\"ram_pda\": \"loaded\""), 19, "\"ram_pda\": \"erased\"");
    test::WriteFile(dir.File("machine/machine.json"), json);
    std::string sector = test::ReadFile(dir.File("machine/cards/0001/flash/007F0000.bin"));
    sector.replace(0, 1024, std::string(1024, '\0'));
    test::WriteFile(dir.File("machine/cards/0001/flash/007F0000.bin"), sector);
    const Result read = Cli("card read -o '" + dir.File("flash.srec") + "'");
    EXPECT_EQ(read.exit, 0) << read.err;
    EXPECT_NE(read.err.find("WARNING! PDA read from card was invalid"), std::string::npos) << read.err;
    EXPECT_NE(read.out.find("Wrote 8323072 bytes of the flash of adapter 1"), std::string::npos) << read.out;
    ::unsetenv("XDG_STATE_HOME");
}

TEST_F(CliMachine, RealisticTimingIsTheFlashTimingAndNotWithLatency) {
    ASSERT_EQ(Cli("machine init --realistic-timing").exit, 0);
    const auto machine = nlohmann::json::parse(test::ReadFile(dir.File("machine/machine.json")));
    EXPECT_EQ(machine["flash_timing"]["enabled"], true);
    EXPECT_EQ(machine["latency"]["enabled"], false);
    const Result both = Cli("machine init --force --latency --realistic-timing");
    EXPECT_EQ(both.exit, 2);
    EXPECT_NE(both.err.find("excludes"), std::string::npos) << both.err;
    ASSERT_EQ(Cli("machine init --force").exit, 0);
    EXPECT_EQ(nlohmann::json::parse(test::ReadFile(dir.File("machine/machine.json")))["flash_timing"]["enabled"],
              false);
}

TEST_F(CliMachine, AllAdaptersGoesOnPastAFailedCard) {
    ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    ASSERT_EQ(Cli("machine init --cards 3").exit, 0);
    EXPECT_EQ(Cli("machine init --force --cards 0").exit, 2);
    EXPECT_EQ(
        Cli("adapters").out,
        "1  802.11b Wireless LAN PC Card\n2  802.11b Wireless LAN PC Card #2\n3  802.11b Wireless LAN PC Card #3\n");
    // The middle card's flash writes fail.
    auto machine = nlohmann::json::parse(test::ReadFile(dir.File("machine/machine.json")));
    machine["adapters"][2]["card"]["faults"]["oid_status"] =
        nlohmann::json::parse(R"([{"oid": "0xFF01018C", "status": "0xC0000001", "from_request": 5}])");
    test::WriteFile(dir.File("machine/machine.json"), machine.dump(2));

    const Result r = Cli("update --all-adapters --json --yes '" + kRelease + "station.hex'");
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(r.exit, 1) << r.err;
    const auto result = nlohmann::json::parse(r.out);
    EXPECT_EQ(result["outcome"], "failed");
    ASSERT_EQ(result["runs"].size(), 3u);
    const std::vector<std::string> outcomes = {result["runs"][0]["outcome"], result["runs"][1]["outcome"],
                                               result["runs"][2]["outcome"]};
    EXPECT_EQ(outcomes, (std::vector<std::string>{"succeeded", "failed", "succeeded"}));
    for (const auto& run : result["runs"]) ExpectRunSchema(run);
    EXPECT_EQ(result["runs"][2]["card"]["mac"], "00-60-1D-12-34-58");
    EXPECT_EQ(result["runs"][2]["card"]["serial"], "SN 99A01236");
    // The table at the end, on stderr under --json.
    EXPECT_NE(r.err.find("\nADAPTER  MAC                OUTCOME    STATUS\n1        00-60-1D-12-34-56  succeeded"),
              std::string::npos)
        << r.err;
    // One history record each, the failed card's too.
    std::ifstream lines(dir.File("state/varnel/history.jsonl"));
    std::string line;
    std::vector<std::string> recorded;
    while (std::getline(lines, line))
        if (const auto record = nlohmann::json::parse(line); record["outcome"] != "unfinished")  // a run's first mark
            recorded.push_back(record["outcome"]);
    EXPECT_EQ(recorded, outcomes);
}

}  // namespace
}  // namespace varnel
