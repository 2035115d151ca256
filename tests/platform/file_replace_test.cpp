// The replacement in steps of the systems without an atomic replace
// (Windows 9x), over a file system in memory that loses power before any
// one of its changes: what is left, once recovered, is the old file whole
// or the new one whole, and the old copy aside is gone.
#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace varnel {
namespace {

struct PowerLoss {};

// Files by name; the power goes before change number `failAt` (counted
// from 0), or never.
struct MemoryFiles {
    std::map<std::string, std::string> files;
    int changes = 0;
    std::optional<int> failAt;
    bool moveFails = false;

    void Change() {
        if (failAt && changes == *failAt) throw PowerLoss{};
        ++changes;
    }
    ReplaceCalls Calls() {
        return {[this](const std::string& p) { return files.count(p) > 0; },
                [this](const std::string& from, const std::string& to) {
                    Change();
                    if (moveFails || !files.count(from) || files.count(to)) return false;
                    files[to] = files[from];
                    files.erase(from);
                    return true;
                },
                [this](const std::string& p) {
                    Change();
                    return files.erase(p) > 0;
                }};
    }
};

const std::string kTarget = "C:\\Varnel\\history.jsonl";
const std::string kTemporary = "C:\\Varnel\\history.jsonl.tmp-7-1";

TEST(FileReplace, APowerLossAtAnyStepLeavesTheOldFileOrTheNewOneWhole) {
    for (const bool hadOld : {true, false}) {
        bool sawOld = false, sawNew = false;
        for (int failAt = 0;; ++failAt) {
            SCOPED_TRACE("old file: " + std::to_string(hadOld) + ", power lost before change " +
                         std::to_string(failAt));
            MemoryFiles disk;
            if (hadOld) disk.files[kTarget] = "old";
            disk.files[kTemporary] = "new";
            disk.failAt = failAt;
            bool finished = false;
            try {
                const Result<> replaced = ReplaceInSteps(disk.Calls(), kTemporary, kTarget);
                finished = replaced.Ok();
                EXPECT_TRUE(finished) << replaced.Reason();
            } catch (const PowerLoss&) {
            }
            // The next start.
            disk.failAt.reset();
            const Result<> recovered = RecoverReplace(disk.Calls(), kTarget);
            ASSERT_TRUE(recovered.Ok()) << recovered.Reason();
            EXPECT_EQ(disk.files.count(AsideName(kTarget)), 0u);
            if (finished) {
                EXPECT_EQ(disk.files.at(kTarget), "new");
                EXPECT_EQ(disk.files.count(kTemporary), 0u);
                break;
            }
            if (!disk.files.count(kTarget)) {
                EXPECT_FALSE(hadOld) << "the old file was lost";
                continue;
            }
            const std::string& now = disk.files.at(kTarget);
            ASSERT_TRUE(now == "old" || now == "new") << now;
            (now == "old" ? sawOld : sawNew) = true;
            // A write after the recovery goes through.
            disk.files["again.tmp"] = "newer";
            const Result<> again = ReplaceInSteps(disk.Calls(), "again.tmp", kTarget);
            ASSERT_TRUE(again.Ok()) << again.Reason();
            EXPECT_EQ(disk.files.at(kTarget), "newer");
            EXPECT_EQ(disk.files.count(AsideName(kTarget)), 0u);
        }
        // The losses fell both before and after the new file took the name.
        if (hadOld) {
            EXPECT_TRUE(sawOld && sawNew);
        }
    }
}

TEST(FileReplace, AFailedRenamePutsTheOldFileBack) {
    MemoryFiles disk;
    disk.files[kTarget] = "old";
    disk.files[kTemporary] = "new";
    ReplaceCalls calls = disk.Calls();
    const auto move = calls.move;
    calls.move = [&](const std::string& from, const std::string& to) { return from != kTemporary && move(from, to); };
    const Result<> replaced = ReplaceInSteps(calls, kTemporary, kTarget);
    ASSERT_FALSE(replaced.Ok());
    EXPECT_NE(replaced.Reason().find("cannot replace"), std::string::npos) << replaced.Reason();
    EXPECT_EQ(disk.files.at(kTarget), "old");
    EXPECT_EQ(disk.files.at(kTemporary), "new");  // the caller removes it
    EXPECT_EQ(disk.files.count(AsideName(kTarget)), 0u);
}

TEST(FileReplace, RecoveryLeavesFilesWithoutAnInterruptedReplacementAlone) {
    MemoryFiles disk;
    disk.files[kTarget] = "only";
    EXPECT_TRUE(RecoverReplace(disk.Calls(), kTarget).Ok());
    EXPECT_TRUE(RecoverReplace(disk.Calls(), "C:\\missing.srec").Ok());
    EXPECT_EQ(disk.changes, 0);
    EXPECT_EQ(disk.files.size(), 1u);
}

}  // namespace
}  // namespace varnel
