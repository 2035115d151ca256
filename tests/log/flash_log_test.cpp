#include "log/flash_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/test_support.h"

namespace varnel {
namespace {

TEST(FlashLog, OffWritesNothing) {
    test::TempDir dir;
    CFlashLog log(dir.File("flash.log"));
    log.Write("text\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("flash.log")));
}

TEST(FlashLog, OnAppendsExactlyTheText) {
    test::TempDir dir;
    test::WriteFile(dir.File("flash.log"), "earlier run\n");
    {
        CFlashLog log(dir.File("flash.log"));
        log.Enable();
        log.Write("Plugging:  ");
        log.Write("(101 ok) ");
        log.Write("\n");
    }
    EXPECT_EQ(test::ReadFile(dir.File("flash.log")), "earlier run\nPlugging:  (101 ok) \n");
}

TEST(FlashLog, AFailedOpenIsNeverRetried) {
    test::TempDir dir;
    CFlashLog log(dir.File("missing/flash.log"));
    log.Enable();
    log.Write("lost\n");
    std::filesystem::create_directory(dir.File("missing"));
    log.Write("also lost\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing/flash.log")));
}

TEST(FlashLog, LogMessageFormatsLikePrintf) {
    test::LogCapture capture;
    LogMessage("PDA OVERFLOW. PDA EXCEEDS %ud WORD LIMIT.\n", 512u);
    LogMessage("(%x ok) ", 0x10103u);
    EXPECT_EQ(capture.Text(), "PDA OVERFLOW. PDA EXCEEDS 512d WORD LIMIT.\n(10103 ok) ");
}

}  // namespace
}  // namespace varnel
