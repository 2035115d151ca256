#include "pda/pda.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/test_support.h"

namespace varnel {
namespace {

using WordList = std::vector<uint16_t>;

TEST(Crc16, MatchesTheArcCheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16Update(0, reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xBB3D);
}

TEST(Pda, WordImagesCarryTheirCrc) {
    CPda pda;
    EXPECT_EQ(pda.ToWords(), (WordList{0x0002, 0x0000, 0xB801}));
    const uint16_t mac[] = {0x0004, 0x0101, 0x1102, 0x3322, 0x5544};
    pda.SetRecord(mac);
    EXPECT_EQ(pda.ToWords(), (WordList{0x0004, 0x0101, 0x1102, 0x3322, 0x5544, 0x0002, 0x0000, 0x531F}));
}

TEST(Pda, KeepsOneRecordPerCodeSortedUnsigned) {
    CPda pda;
    const uint16_t r0103[] = {2, 0x0103, 1};
    const uint16_t r0001[] = {2, 0x0001, 2};
    const uint16_t r8000[] = {2, 0x8000, 3};
    const uint16_t r0101[] = {2, 0x0101, 4};
    const uint16_t r0101b[] = {3, 0x0101, 5, 6};
    EXPECT_EQ(pda.SetRecord(r0103), 1);
    EXPECT_EQ(pda.SetRecord(r0001), 1);
    EXPECT_EQ(pda.SetRecord(r8000), 2);
    EXPECT_EQ(pda.SetRecord(r0101), 1);
    EXPECT_EQ(pda.SetRecord(r0101b), 0);
    WordList codes;
    for (const auto& [code, words] : pda.GetRecords()) codes.push_back(code);
    EXPECT_EQ(codes, (WordList{0x0001, 0x0101, 0x0103, 0x8000}));
    EXPECT_EQ(pda.FindRecord(0x0101)[3], 6);

    // An end record only sets the stored CRC.
    const uint16_t end[] = {2, 0x0000, 0x1234};
    EXPECT_EQ(pda.SetRecord(end), 1);
    EXPECT_EQ(pda.StoredCrc(), 0x1234);
    EXPECT_EQ(pda.FindRecord(0x0000), nullptr);
    EXPECT_EQ(pda.GetRecords().size(), 4u);

    EXPECT_EQ(pda.RemoveRecord(0x0103), 0x0103);
    EXPECT_EQ(pda.RemoveRecord(0x0103), 0);
    EXPECT_EQ(pda.FindRecord(0x0103), nullptr);
}

TEST(Pda, LoadFromWordsAppliesWholeRecordsOnly) {
    struct Case {
        const char* name;
        WordList words;
        int processed;
        WordList codesAfter;  // starting from a PDA that holds 0x0001 and 0x0101
        uint16_t storedCrc;
    };
    const WordList erased(512, 0xFFFF);
    const Case cases[] = {
        {"delete record", {0x0001, 0x0101}, 1, {0x0001}, 0},
        {"erased memory", erased, 0, {0x0001, 0x0101}, 0},
        {"stops at the end record",
         {2, 0x0300, 9, 2, 0x0000, 0xABCD, 2, 0x0400, 9},
         2,
         {0x0001, 0x0101, 0x0300},
         0xABCD},
        {"no end record", {2, 0x0300, 9, 2, 0x0400, 9}, 2, {0x0001, 0x0101, 0x0300, 0x0400}, 0},
        {"record past the end", {2, 0x0300, 9, 5, 0x0400, 9}, 1, {0x0001, 0x0101, 0x0300}, 0},
        {"length word 0 ends the load", {2, 0x0300, 9, 0, 2, 0x0400, 9}, 1, {0x0001, 0x0101, 0x0300}, 0},
        {"empty", {}, 0, {0x0001, 0x0101}, 0},
    };
    for (const Case& c : cases) {
        CPda pda;
        const uint16_t a[] = {2, 0x0001, 1};
        const uint16_t b[] = {2, 0x0101, 1};
        pda.SetRecord(a);
        pda.SetRecord(b);
        EXPECT_EQ(pda.LoadFromWords(c.words.data(), static_cast<uint16_t>(c.words.size())), c.processed) << c.name;
        WordList codes;
        for (const auto& [code, words] : pda.GetRecords()) codes.push_back(code);
        EXPECT_EQ(codes, c.codesAfter) << c.name;
        EXPECT_EQ(pda.StoredCrc(), c.storedCrc) << c.name;
    }
}

TEST(Pda, InputCrcFollowsTheOrderRecordsWereSet) {
    CPda pda;
    const uint16_t mac[] = {4, 0x0101, 0x1102, 0x3322, 0x5544};
    const uint16_t part[] = {2, 0x0001, 0x4241};
    pda.SetRecord(mac);
    pda.SetRecord(part);
    const uint16_t inOrder[] = {4, 0x0101, 0x1102, 0x3322, 0x5544, 2, 0x0001, 0x4241, 2, 0};
    EXPECT_EQ(pda.InputCrc(), Crc16UpdateWords(0, inOrder, 10));
    EXPECT_NE(pda.InputCrc(), pda.ComputeCrc());

    // An image written by ToWords and read back into a cleared PDA checks.
    const WordList image = pda.ToWords();
    CPda read;
    EXPECT_EQ(read.LoadFromWords(image.data(), static_cast<uint16_t>(image.size())), 3);
    EXPECT_EQ(read.InputCrc(), read.StoredCrc());
    EXPECT_EQ(read.ToWords(), image);

    // Setting a code twice: the input CRC covers both versions.
    pda.SetRecord(part);
    const uint16_t twice[] = {4, 0x0101, 0x1102, 0x3322, 0x5544, 2, 0x0001, 0x4241, 2, 0x0001, 0x4241, 2, 0};
    EXPECT_EQ(pda.InputCrc(), Crc16UpdateWords(0, twice, 13));
}

TEST(Pda, ImagesOverTheCapacityAreRefused) {
    for (const auto& [total, fits] : {std::pair{509, true}, std::pair{510, false}}) {
        CPda pda;
        // Records of 10 words (L = 9) plus one filling record.
        int words = 0;
        uint16_t code = 0x1000;
        while (words + 10 <= total) {
            WordList r(10, 0);
            r[0] = 9;
            r[1] = code++;
            pda.SetRecord(r.data());
            words += 10;
        }
        if (total - words > 0) {
            WordList r(static_cast<size_t>(total - words), 0);
            r[0] = static_cast<uint16_t>(r.size() - 1);
            r[1] = code;
            pda.SetRecord(r.data());
        }
        test::LogCapture log;
        uint16_t out[PdaMaxWords];
        EXPECT_EQ(pda.ToWords(out), fits ? 512 : 0) << total;
        EXPECT_EQ(log.Text(), fits ? "" : "PDA OVERFLOW. PDA EXCEEDS 512d WORD LIMIT.\n");
    }
}

TEST(PdaText, MacAddressAndRecordText) {
    const uint16_t mac[] = {0x1102, 0x3322, 0x5544};
    EXPECT_EQ(FormatMacAddress(mac), "02-11-22-33-44-55");
    const uint16_t upper[] = {0xAB00, 0xCDEF, 0x0FF0};
    EXPECT_EQ(FormatMacAddress(upper), "00-ab-ef-cd-f0-0f");

    const uint16_t text[] = {0x4241, 0x0943, 0x0044, 0x4645};
    EXPECT_EQ(UnpackPdrText(text, 4), "ABC D");  // tab shown as a blank; ends at the NUL
    const uint16_t high[] = {0xC841};
    EXPECT_EQ(UnpackPdrText(high, 1), "A ");
}

}  // namespace
}  // namespace varnel
