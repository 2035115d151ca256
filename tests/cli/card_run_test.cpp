// varnel-cli runs on one card as real processes: a second run on a card
// that another run holds, and Ctrl-C, SIGTERM and SIGHUP in the middle of
// an update. The machine's latency makes an update last long enough to be
// caught in the act.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

extern char** environ;

namespace varnel {
namespace {

const std::string kCli = VARNEL_CLI;
const std::string kOem = std::string(VARNEL_SOURCE_DIR) + "/examples/release/OEMRelease.oem";
constexpr uint32_t kWriteAux = 0xFF01018C;

// A varnel-cli process started with these arguments, its streams going to
// files; it is waited for by Wait() (or killed at the end of the test).
class CliProcess {
public:
    CliProcess(const test::TempDir& dir, const std::string& name, std::vector<std::string> arguments)
        : m_out(dir.File(name + ".out")), m_err(dir.File(name + ".err")) {
        arguments.insert(arguments.begin(), kCli);
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // The stop signals as a user's shell leaves them: their default action.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, s);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&m_pid, kCli.c_str(), &files, &attributes, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attributes);
    }
    ~CliProcess() {
        if (m_pid > 0 && !m_done) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
    }

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const { ::kill(m_pid, signal); }
    // The exit code; -N when a signal N ended the process.
    int Wait() {
        if (!m_done) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
            m_done = true;
        }
        return m_status;
    }
    std::string Err() const { return test::ReadFile(m_err); }
    std::string Out() const { return test::ReadFile(m_out); }

private:
    std::string m_out, m_err;
    pid_t m_pid = -1;
    bool m_done = false;
    int m_status = -1;
};

// The requests a trace file holds so far (a line still being written is
// left for the next look).
std::vector<nlohmann::json> TraceLines(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        auto json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_discarded()) lines.push_back(std::move(json));
    }
    return lines;
}

size_t Writes(const std::vector<nlohmann::json>& trace) {
    size_t n = 0;
    for (const auto& line : trace)
        if (line["oid"] == kWriteAux) ++n;
    return n;
}

// Waits (up to 20 s) until the trace holds `writes` flash writes, or any
// request when `writes` is 0.
bool WaitForTrace(const std::string& path, size_t writes) {
    for (int i = 0; i < 2000; ++i) {
        const auto trace = TraceLines(path);
        if (writes == 0 ? !trace.empty() : Writes(trace) >= writes) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class CardRuns : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
        Init({"--latency"});
    }
    void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

    void Init(const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"--machine", Machine(), "machine", "init", "--force"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        CliProcess init(dir, "init", arguments);
        ASSERT_EQ(init.Wait(), 0) << init.Err();
    }
    std::string Machine() const { return dir.File("machine"); }
    // A run of the example update, tracing to NAME.jsonl.
    std::unique_ptr<CliProcess> Update(const std::string& name, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--machine", Machine(), "--trace", dir.File(name + ".jsonl")};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        for (const char* a : {"update", "--yes", "--oem"}) arguments.push_back(a);
        arguments.push_back(kOem);
        return std::make_unique<CliProcess>(dir, name, arguments);
    }
    // A short command to its end: exit code and stdout.
    std::pair<int, std::string> Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--machine", Machine()});
        CliProcess p(dir, "cmd", arguments);
        const int exit = p.Wait();
        return {exit, p.Out()};
    }
    nlohmann::json History() { return nlohmann::json::parse(Run({"history", "--json"}).second); }
    std::string Versions() { return Run({"query", "firmware"}).second; }

    test::TempDir dir;
};

TEST_F(CardRuns, ASecondRunOnTheSameCardIsRefusedBeforeItReadsIt) {
    Init({"--latency", "--cards", "2"});
    auto first = Update("first");
    ASSERT_TRUE(WaitForTrace(dir.File("first.jsonl"), 1)) << first->Err();
    const std::string held = "Another Varnel run is updating this card (process " + std::to_string(first->Pid()) +
                             "). Nothing was written.\n";

    // The same card: an update and a restore are refused before they send
    // it a single request. While the first run holds card 1, what a command
    // sends at its start is the probe of card 2 alone.
    CliProcess probe(dir, "probe", {"--machine", Machine(), "--trace", dir.File("probe.jsonl"), "adapters"});
    ASSERT_EQ(probe.Wait(), 0) << probe.Err();
    const size_t probeOfCard2 = TraceLines(dir.File("probe.jsonl")).size();
    ASSERT_GT(probeOfCard2, 0u);
    auto second = Update("second");
    EXPECT_EQ(second->Wait(), 1);
    EXPECT_NE(second->Err().find("Card In Use: " + held), std::string::npos) << second->Err();
    EXPECT_EQ(TraceLines(dir.File("second.jsonl")).size(), probeOfCard2);
    CliProcess restore(dir, "restore",
                       {"--machine", Machine(), "--trace", dir.File("restore.jsonl"), "pda", "restore", "--yes",
                        std::string(VARNEL_SOURCE_DIR) + "/examples/release/card.pda"});
    EXPECT_EQ(restore.Wait(), 1);
    EXPECT_NE(restore.Err().find(held), std::string::npos) << restore.Err();
    EXPECT_EQ(TraceLines(dir.File("restore.jsonl")).size(), probeOfCard2);
    // Another card is not held up.
    auto other = Update("other", {"--adapter", "2"});
    EXPECT_EQ(other->Wait(), 0) << other->Err();

    ASSERT_EQ(first->Wait(), 0) << first->Err();
    EXPECT_EQ(History().size(), 2u);  // the two updates that ran; no record of the refused runs

    // A run that dies holding the card leaves it free.
    auto killed = Update("killed");
    ASSERT_TRUE(WaitForTrace(dir.File("killed.jsonl"), 1));
    killed->Signal(SIGKILL);
    EXPECT_EQ(killed->Wait(), -SIGKILL);
    auto after = Update("after");
    EXPECT_EQ(after->Wait(), 0) << after->Err();
}

TEST_F(CardRuns, AStopRequestWhileWritingEndsTheRunRecordedAndRepairable) {
    const std::string oldVersions = Versions();
    struct Case {
        int signal;
        std::string name;
    };
    const Case cases[] = {{SIGINT, "Ctrl-C (SIGINT)"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "a hang-up (SIGHUP)"}};
    size_t records = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Init({"--latency"});
        const std::string trace = dir.File(c.name.substr(0, 3) + ".jsonl");
        auto run = Update(c.name.substr(0, 3));
        // Well into the flash: the PDA and a few pieces are written.
        ASSERT_TRUE(WaitForTrace(dir.File(c.name.substr(0, 3) + ".jsonl"), 5)) << run->Err();
        run->Signal(c.signal);
        const size_t writesAtSignal = Writes(TraceLines(trace));
        EXPECT_EQ(run->Wait(), 1);
        const std::string err = run->Err();
        EXPECT_NE(err.find("Stop requested by " + c.name +
                           ": the update stops once the piece being written is on "
                           "the card."),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("Update Stopped: The update was stopped by " + c.name +
                           " after writing to the card had begun. The card now holds:\n  the new PDA (its old PDA is "
                           "saved in "),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("To repair the card, run the same update again"), std::string::npos) << err;
        EXPECT_EQ(err.find("Update Successful"), std::string::npos) << err;
        // At most the piece in flight went to the card after the signal.
        EXPECT_LE(Writes(TraceLines(trace)), writesAtSignal + 1);

        const auto history = History();
        ASSERT_EQ(history.size(), ++records);
        EXPECT_EQ(history[0]["outcome"], "interrupted");
        EXPECT_NE(history[0]["status"].get<std::string>().find("Update STOPPED by " + c.name), std::string::npos);
        EXPECT_EQ(Versions(), oldVersions);  // the card runs what it ran before

        // The repair: the same update again.
        auto repair = Update("repair");
        ASSERT_EQ(repair->Wait(), 0) << repair->Err();
        EXPECT_NE(Versions(), oldVersions);
        ++records;
    }
}

// A run killed (SIGKILL: nothing of it runs after) at each moment of its
// writing leaves an "unfinished" record naming its backups, and those
// backups put the card back byte for byte.
TEST_F(CardRuns, AKilledRunLeavesItsMarkAndItsBackupsRestoreTheCard) {
    const struct {
        const char* name;
        size_t writes;  // the flash writes seen before the kill
    } cases[] = {{"after the PDA", 1}, {"early in the firmware", 3}, {"well into the firmware", 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir.File("state"));
        Init({"--latency"});
        const std::string before = test::SimulatedFlash(Machine(), 0, 0x800000);
        auto run = Update("killed");
        ASSERT_TRUE(WaitForTrace(dir.File("killed.jsonl"), c.writes)) << run->Err();
        run->Signal(SIGKILL);
        ASSERT_EQ(run->Wait(), -SIGKILL);

        const auto history = History();
        ASSERT_EQ(history.size(), 1u) << history.dump();
        EXPECT_EQ(history[0]["outcome"], "unfinished");
        EXPECT_EQ(history[0]["action"], "update");
        ASSERT_TRUE(history[0]["backup"].is_string()) << history[0].dump();
        ASSERT_TRUE(history[0]["firmware_backup"].is_string()) << history[0].dump();
        const std::string pdaBackup = history[0]["backup"], firmwareBackup = history[0]["firmware_backup"];
        EXPECT_TRUE(std::filesystem::exists(pdaBackup));
        EXPECT_TRUE(std::filesystem::exists(firmwareBackup));
        EXPECT_NE(Run({"history"}).second.find("unfinished"), std::string::npos);

        // The killed run's own backups put the card back.
        const auto restored = Run({"firmware", "restore", "--yes", firmwareBackup});
        ASSERT_EQ(restored.first, 0) << restored.second;
        ASSERT_EQ(Run({"pda", "restore", "--yes", pdaBackup}).first, 0);
        EXPECT_TRUE(test::SimulatedFlash(Machine(), 0, 0x7F0000) == before.substr(0, 0x7F0000))
            << "the firmware is not as before";
        // Two records more, each complete: the restores.
        const auto after = History();
        ASSERT_EQ(after.size(), 3u);
        EXPECT_EQ(after[0]["outcome"], "succeeded");
        EXPECT_EQ(after[2]["outcome"], "unfinished");
    }
}

// One lock per card for every user and every program on the machine: kept
// in the machine's folder, never opened through a link, and shared by the
// start-up probe so that runs on other cards are never refused for it.
TEST_F(CardRuns, OneLockPerCardForEveryUserAndNoneThroughALink) {
    const std::string locks = Machine() + "/locks";
    const auto lockFiles = [&] {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(locks)) files.push_back(entry.path().string());
        return files;
    };
    // Another user: another state folder, the same machine and card.
    {
        auto first = Update("first");
        ASSERT_TRUE(WaitForTrace(dir.File("first.jsonl"), 1)) << first->Err();
        ::setenv("XDG_STATE_HOME", dir.File("other-user").c_str(), 1);
        auto second = Update("second");
        EXPECT_EQ(second->Wait(), 1);
        EXPECT_NE(second->Err().find("Card In Use: Another Varnel run is updating this card (process " +
                                     std::to_string(first->Pid()) + ")"),
                  std::string::npos)
            << second->Err();
        ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
        ASSERT_EQ(first->Wait(), 0) << first->Err();
        EXPECT_FALSE(std::filesystem::exists(dir.File("state/varnel/locks")));
    }
    // A probe of the card (shared, as every program's start-up look at all
    // adapters takes it) holds a run up a moment, never refuses it.
    {
        std::vector<int> fds;
        for (const std::string& file : lockFiles()) {
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0) << file;
            struct flock shared {};
            shared.l_type = F_RDLCK;
            shared.l_whence = SEEK_SET;
            ASSERT_EQ(::fcntl(fd, F_SETLK, &shared), 0);
            fds.push_back(fd);
        }
        auto run = Update("probed");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int fd : fds) ::close(fd);
        EXPECT_EQ(run->Wait(), 0) << run->Err();
    }
    // A link (or anything but a regular file) in place of a lock file is
    // refused, its target untouched.
    const std::string victim = dir.File("victim.txt");
    const std::vector<std::string> planted = lockFiles();
    ASSERT_FALSE(planted.empty());
    struct {
        const char* name;
        std::function<void(const std::string&)> plant;
        const char* reason;
    } cases[] = {
        {"a symbolic link", [&](const std::string& f) { std::filesystem::create_symlink(victim, f); },
         "it is a symbolic link"},
        {"a hard link", [&](const std::string& f) { std::filesystem::create_hard_link(victim, f); }, "has other names"},
        {"a folder", [&](const std::string& f) { std::filesystem::create_directory(f); }, "cannot open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(victim, "precious\n");
        for (const std::string& file : planted) {
            std::filesystem::remove_all(file);
            c.plant(file);
        }
        auto run = Update("planted");
        EXPECT_EQ(run->Wait(), 1);
        EXPECT_NE(run->Err().find(c.reason), std::string::npos) << run->Err();
        EXPECT_EQ(test::ReadFile(victim), "precious\n");
        EXPECT_EQ(Writes(TraceLines(dir.File("planted.jsonl"))), 0u);
        for (const std::string& file : planted) std::filesystem::remove_all(file);
    }
}

TEST_F(CardRuns, StopRequestsBeforeWritingCancelAndASecondOneEndsAtOnce) {
    const std::string oldVersions = Versions();
    // Before anything is written: cancelled, nothing written, nothing saved.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        auto run = Update("early");
        ASSERT_TRUE(WaitForTrace(dir.File("early.jsonl"), 0));
        run->Signal(signal);
        EXPECT_EQ(run->Wait(), 3) << run->Err();
        EXPECT_NE(run->Err().find("before anything was written to the card: nothing was written.\n"), std::string::npos)
            << run->Err();
        EXPECT_EQ(Writes(TraceLines(dir.File("early.jsonl"))), 0u);
        std::filesystem::remove(dir.File("early.jsonl"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("state/varnel/backups")));
    EXPECT_EQ(History().size(), 0u);
    EXPECT_EQ(Versions(), oldVersions);

    // Twice while writing: the second ends the process at once, saying so.
    auto run = Update("twice");
    ASSERT_TRUE(WaitForTrace(dir.File("twice.jsonl"), 3));
    run->Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    run->Signal(SIGINT);
    EXPECT_EQ(run->Wait(), -SIGINT);
    EXPECT_NE(run->Err().find("A second stop request (Ctrl-C (SIGINT)): ending at once. The card may be half-written: "
                              "run the same update or restore again.\n"),
              std::string::npos)
        << run->Err();
}

}  // namespace
}  // namespace varnel
