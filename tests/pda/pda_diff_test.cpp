// The PDA diff: which records were added, removed and changed, and which
// words differ.

#include <gtest/gtest.h>

#include "pda/pda.h"
#include "pda/pda_diff.h"

namespace varnel {
namespace {

void Fill(CPda& pda, const std::vector<std::vector<uint16_t>>& records) {
    for (const auto& r : records) pda.SetRecord(r.data());
}

TEST(PdaDiff, RecordsByCode) {
    using Kind = PdaChange::Kind;
    const std::vector<uint16_t> mac = {4, 0x0101, 0x6000, 0x121D, 0x5634};
    const std::vector<uint16_t> otherMac = {4, 0x0101, 0x6000, 0x121D, 0x5635};
    const std::vector<uint16_t> platform = {2, 0x0008, 0x0005};
    const std::vector<uint16_t> unknown = {3, 0x0777, 1, 2};
    const std::vector<uint16_t> longer = {4, 0x0777, 1, 9, 3};
    struct Case {
        const char* name;
        std::vector<std::vector<uint16_t>> a, b;
        std::vector<PdaChange> expected;
        std::string text;
    };
    const Case cases[] = {
        {"same", {mac, platform}, {platform, mac}, {}, "No differences.\n"},
        {"both empty", {}, {}, {}, "No differences.\n"},
        {"added",
         {mac},
         {mac, platform},
         {{Kind::Added, 0x0008, {}, {0x0005}, {}}},
         "added    0x0008 platform\n    now  0005\n"},
        {"removed",
         {mac, platform},
         {platform},
         {{Kind::Removed, 0x0101, {0x6000, 0x121D, 0x5634}, {}, {}}},
         "removed  0x0101 MAC address\n    was  6000 121d 5634\n"},
        {"one word changed",
         {mac},
         {otherMac},
         {{Kind::Changed, 0x0101, {0x6000, 0x121D, 0x5634}, {0x6000, 0x121D, 0x5635}, {2}}},
         "changed  0x0101 MAC address  word 3\n    was  6000 121d 5634\n    now  6000 121d 5635\n"},
        {"unknown code grows",
         {unknown},
         {longer},
         {{Kind::Changed, 0x0777, {1, 2}, {1, 9, 3}, {1, 2}}},
         "changed  0x0777  words 2-3\n    was  0001 0002\n    now  0001 0009 0003\n"},
        {"all at once, in code order",
         {platform, unknown},
         {mac, longer},
         {{Kind::Removed, 0x0008, {0x0005}, {}, {}},
          {Kind::Added, 0x0101, {}, {0x6000, 0x121D, 0x5634}, {}},
          {Kind::Changed, 0x0777, {1, 2}, {1, 9, 3}, {1, 2}}},
         ""},
    };
    for (const Case& c : cases) {
        CPda a, b;
        Fill(a, c.a);
        Fill(b, c.b);
        const auto changes = DiffPda(a, b);
        ASSERT_EQ(changes.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < changes.size(); ++i) {
            EXPECT_EQ(changes[i].kind, c.expected[i].kind) << c.name;
            EXPECT_EQ(changes[i].code, c.expected[i].code) << c.name;
            EXPECT_EQ(changes[i].before, c.expected[i].before) << c.name;
            EXPECT_EQ(changes[i].after, c.expected[i].after) << c.name;
            EXPECT_EQ(changes[i].differing, c.expected[i].differing) << c.name;
        }
        if (!c.text.empty()) {
            EXPECT_EQ(FormatPdaDiff(changes), c.text) << c.name;
        }
    }
}

}  // namespace
}  // namespace varnel
