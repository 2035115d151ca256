#include "pda/setpoint.h"

#include <gtest/gtest.h>

#include <vector>

#include "pda/pda.h"
#include "tests/test_support.h"

namespace varnel {
namespace {

using WordList = std::vector<uint16_t>;

// Source tables whose entries name themselves: a(k) = 0xA000 + k,
// b(k) = 0xB000 + k.
void FillSources(CPda& pda, uint16_t domainWord, uint16_t source1Length = 31) {
    WordList a{source1Length, kPdrSetPointSource1};
    for (uint16_t k = 0; k + 1 < source1Length; ++k) a.push_back(static_cast<uint16_t>(0xA000 + k));
    WordList b{34, kPdrSetPointSource2};
    for (uint16_t k = 0; k < 33; ++k) b.push_back(static_cast<uint16_t>(0xB000 + k));
    const uint16_t domain[] = {7, kPdrDomain, 0x0001, domainWord, 0, 0, 0, 0};
    pda.SetRecord(a.data());
    pda.SetRecord(b.data());
    pda.SetRecord(domain);
}

WordList Data(const CPda& pda, uint16_t code) {
    const uint16_t* r = pda.FindRecord(code);
    return r ? WordList(r + 2, r + 1 + r[0]) : WordList{};
}

WordList Entries(uint16_t base, std::initializer_list<int> ks) {
    WordList w;
    for (int k : ks) w.push_back(static_cast<uint16_t>(base + k));
    return w;
}

TEST(SetPoint, DerivesTheRecordsForEachDomain) {
    struct Case {
        uint16_t domainWord;
        std::initializer_list<int> r;  // source entries taken for r0..r13 / s0..s13
    };
    const Case cases[] = {
        {0x0010, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
        {0x0020, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
        {0x0031, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
        {0x1230, {14, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 13}},  // only the low byte counts: 0x30
        {0x0032, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 13}},
        {0x0040, {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29}},
        {0x0041, {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29}},
    };
    for (const Case& c : cases) {
        CPda pda;
        FillSources(pda, c.domainWord);
        test::LogCapture log;
        ASSERT_EQ(ConfigureSetPointAndIntegrator(pda), 1) << c.domainWord;
        EXPECT_EQ(pda.FindRecord(kPdrSetPoint1)[0], 15);
        EXPECT_EQ(pda.FindRecord(kPdrSetPoint2)[0], 18);
        EXPECT_EQ(Data(pda, kPdrSetPoint1), Entries(0xA000, c.r)) << c.domainWord;
        WordList s = Entries(0xB000, c.r);
        s.insert(s.end(), {0xB000 + 30, 0xB000 + 31, 0xB000 + 32});
        EXPECT_EQ(Data(pda, kPdrSetPoint2), s) << c.domainWord;
        EXPECT_EQ(log.Text(),
                  "PDA entries found: Using domain " + FormatText("%x", unsigned{c.domainWord & 0xFFu}) + "\n");

        // A second run leaves the same records.
        const WordList before = pda.ToWords();
        ASSERT_EQ(ConfigureSetPointAndIntegrator(pda), 1);
        EXPECT_EQ(pda.ToWords(), before);
    }
}

TEST(SetPoint, MissingOrShortSourcesLeaveThePdaAlone) {
    CPda pda;
    FillSources(pda, 0x10, 30);  // 0x0900 one word short
    const uint16_t old[] = {2, kPdrSetPoint1, 0x4242};
    pda.SetRecord(old);
    const WordList before = pda.ToWords();
    test::LogCapture log;
    EXPECT_EQ(ConfigureSetPointAndIntegrator(pda), 0);
    EXPECT_EQ(log.Text(), "Not all PDA entries found. Cannot configure Set point and integrator values.\n");
    EXPECT_EQ(pda.ToWords(), before);

    CPda empty;
    EXPECT_EQ(ConfigureSetPointAndIntegrator(empty), 0);
}

TEST(SetPoint, AnUnknownDomainIsAnError) {
    CPda pda;
    FillSources(pda, 0x50);
    const WordList before = pda.ToWords();
    test::LogCapture log;
    EXPECT_EQ(ConfigureSetPointAndIntegrator(pda), -1);
    EXPECT_EQ(log.Text(), "ERROR - PDA entries found, but domain 50 not recognized!\n");
    EXPECT_EQ(pda.ToWords(), before);
}

}  // namespace
}  // namespace varnel
