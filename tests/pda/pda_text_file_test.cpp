#include "pda/pda_text_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "pda/pda.h"
#include "tests/test_support.h"

namespace varnel {
namespace {

using WordList = std::vector<uint16_t>;

struct Read {
    WordList words;
    std::string reason;
};

Read ReadText(const std::string& text) {
    uint16_t words[PdaMaxWords];
    std::fill(std::begin(words), std::end(words), 0xEEEE);  // the buffer need not be cleared
    Read r;
    const uint16_t n = ReadPdaText(words, text, &r.reason);
    r.words.assign(words, words + n);
    return r;
}

const WordList kMac = {4, 0x0101, 0x1102, 0x3322, 0x5544};

TEST(PdaTextFile, ReadsWords) {
    struct Case {
        std::string text;
        WordList words;
    };
    const Case cases[] = {
        {"4 101 1102 3322 5544", kMac},
        {"0x0004,0X0101,0x1102 0x3322 0x5544", kMac},
        {"; a comment\n4 101 1102 3322 5544\n7,3,4241,43,0,0,0,0\n",
         {4, 0x0101, 0x1102, 0x3322, 0x5544, 7, 3, 0x4241, 0x43, 0, 0, 0, 0}},
        {"1 101", {1, 0x0101}},
        {"2 0x12345 1", {2, 0x2345, 1}},
        {"2 0x01234 00x12", {2, 0x1234, 0x12}},
        {"2 0 1234;end", {2, 0, 0x1234}},
        {"2 0 1234#end\n", {2, 0, 0x1234}},
        {"Serial 4 101 anything\n4 101 1102 3322 5544", kMac},
        {"2 0 Add", {2, 0, 0xADD}},
        {"1\t\v\f\r\n101,,,", {1, 0x0101}},
        {"\xC8\xFF 4 101\n1 2", {1, 2}},  // high bytes start a comment between words
        {"", {}},
        {"; nothing but comments\n# at all\n", {}},
    };
    for (const Case& c : cases) {
        const Read r = ReadText(c.text);
        EXPECT_EQ(r.words, c.words) << c.text;
        EXPECT_EQ(r.reason, "") << c.text;
    }
}

TEST(PdaTextFile, RefusesBadTextWithTheLine) {
    struct Case {
        std::string text;
        std::string reason;
    };
    const Case cases[] = {
        {"4 101 1102 3322", "PDA format invalid. Check your file."},
        {"Add 0 0", "PDA format invalid. Check your file."},  // 0xADD is a length word
        {"12345", "Error on line 1: word too long."},
        {"0x123456", "Error on line 1: word too long."},  // seven digits with the prefix
        {"1x2", "Error on line 1: Unknown number format!"},
        {"x12", "Error on line 1: Unknown number format!"},
        {"12g4", "ERROR on line 1: unrecognized character in word."},
        {"Address 1", "ERROR on line 1: unrecognized character in word."},
        {"1 2\n\n3 12345", "Error on line 3: word too long."},
        {"1 2\n\n3 12345 ", "Error on line 3: word too long."},
        {"1 2\n\n3 12345\n", "Error on line 3: word too long."},
        {"1 2\n1\xC8", "ERROR on line 2: unrecognized character in word."},
    };
    for (const Case& c : cases) {
        test::LogCapture log;
        const Read r = ReadText(c.text);
        EXPECT_TRUE(r.words.empty()) << c.text;
        EXPECT_EQ(r.reason, c.reason) << c.text;
        EXPECT_EQ(log.Text(), c.reason + "\n") << c.text;
    }
}

TEST(PdaTextFile, RefusesWordsItWouldDrop) {
    std::string full;
    for (int i = 0; i < 128; ++i) full += "3 " + std::to_string(i + 1) + " 1 2\n";  // 512 words
    EXPECT_EQ(ReadText(full).words.size(), 512u);
    const struct {
        std::string text;
        std::string reason;
    } cases[] = {
        {full + "1 7\n", "Error on line 129: more than 512 words."},
        {"4 101 1102 3322 5544\n2 0 1234\n3 3 41 42\n", "Error on line 3: words follow the end record."},
        {"2 0 1234 5\n", "Error on line 1: words follow the end record."},
        {"4 101 1102 3322 5544\n0\n3 3 41 42\n", "Error on line 2: a record of length 0."},
    };
    for (const auto& c : cases) {
        const Read r = ReadText(c.text);
        EXPECT_TRUE(r.words.empty()) << c.text;
        EXPECT_EQ(r.reason, c.reason);
    }
    // A comment after the end record is no data.
    EXPECT_EQ(ReadText("2 0 1234 ; end\n# done\n").words.size(), 3u);
}

TEST(PdaTextFile, FilesReadInTextMode) {
    test::TempDir dir;
    test::WriteFile(dir.File("a.pda"), "; comment\r\n4 101 1102 3322 5544\r\n12345\r\n");
    uint16_t words[PdaMaxWords];
    std::string reason;
    EXPECT_EQ(ReadPdaTextFile(words, dir.File("a.pda").c_str(), &reason), 0);
    EXPECT_EQ(reason, "Error on line 3: word too long.");
    EXPECT_EQ(ReadPdaTextFile(words, dir.File("missing.pda").c_str(), &reason), 0);
    EXPECT_EQ(reason, "file not found!");
}

TEST(PdaTextFile, AFileLongerThanTheBoundIsRefusedUnread) {
    // Comments make a .pda file as long as one likes; past 1 MiB it is
    // refused whole, never parsed.
    test::TempDir dir;
    const std::string words = "4 0101 1102 3322 5544\n";
    const std::string comment = "; " + std::string(77, 'c') + "\n";
    std::string text = words;
    while (text.size() + comment.size() <= kPdaTextFileMaxBytes) text += comment;
    text.append(kPdaTextFileMaxBytes - text.size(), '\n');
    test::WriteFile(dir.File("most.pda"), text);
    test::WriteFile(dir.File("longer.pda"), text + "\n");
    uint16_t buffer[PdaMaxWords];
    std::string reason;
    EXPECT_EQ(ReadPdaTextFile(buffer, dir.File("most.pda").c_str(), &reason), 5) << reason;
    EXPECT_EQ(ReadPdaTextFile(buffer, dir.File("longer.pda").c_str(), &reason), 0);
    EXPECT_EQ(reason, "the file is 1048577 bytes, more than the 1048576 bytes such a file can hold");
}

TEST(PdaTextFile, WrittenPdaLoadsBackToTheSameRecords) {
    CPda pda;
    const uint16_t part[] = {4, 0x0001, 0x4e50, 0x3720, 0x0034};
    const uint16_t other[] = {3, 0xFFFE, 0x0000, 0xFFFF};
    pda.SetRecord(kMac.data());
    pda.SetRecord(part);
    pda.SetRecord(other);
    test::TempDir dir;
    test::WriteFile(dir.File("backup.pda"), FormatPdaText(pda, "Backup of adapter 1\nMAC 02-11-22-33-44-55"));

    CPda read;
    ASSERT_TRUE(test::Worked(MergePdaTextFile(read, dir.File("backup.pda"))));
    EXPECT_EQ(read.GetRecords(), pda.GetRecords());
    EXPECT_EQ(read.InputCrc(), read.StoredCrc());
}

TEST(PdaTextFile, MergingAppliesFilesInOrder) {
    test::TempDir dir;
    test::WriteFile(dir.File("one.pda"), "4 101 1 2 3\n2 0002 7\n");
    test::WriteFile(dir.File("two.pda"), "1 101\n2 0002 8\n");
    test::WriteFile(dir.File("only-end.pda"), "; nothing to apply\n");
    CPda pda;
    ASSERT_TRUE(MergePdaTextFile(pda, dir.File("one.pda")));
    ASSERT_TRUE(MergePdaTextFile(pda, dir.File("two.pda")));
    EXPECT_EQ(pda.FindRecord(0x0101), nullptr);
    EXPECT_EQ(pda.FindRecord(0x0002)[2], 8);
    const Result<> merged = MergePdaTextFile(pda, dir.File("only-end.pda"));
    ASSERT_FALSE(merged.Ok());
    EXPECT_EQ(merged.Reason(), "the file holds no PDA words");
}

}  // namespace
}  // namespace varnel
