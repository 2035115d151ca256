#include "image/srec_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace varnel {
namespace {

using test::SRecord;

// Each refused line with the check that refuses it; where two checks fail,
// the earlier one names the line.
TEST(SRecordLine, RefusesLinesByTheFirstCheckThatFails) {
    struct Case {
        std::string text;
        SRecordRefusal refusal;
        bool kindKnown;
    };
    const Case cases[] = {
        {"", SRecordRefusal::NoS, false},
        {"S", SRecordRefusal::BadType, false},
        {"S70500000000FA ", SRecordRefusal::BadCharacter, false},
        {"S7050000000gFA", SRecordRefusal::BadCharacter, false},
        {"S705000000000FA", SRecordRefusal::BadLength, true},      // an odd digit more
        {"S705000000000FG", SRecordRefusal::BadCharacter, false},  // the odd digit is checked too
        {"X70500000000FB", SRecordRefusal::NoS, false},            // before the checksum
        {"s70500000000FA", SRecordRefusal::NoS, false},
        {"XG", SRecordRefusal::BadCharacter, false},  // before the 'S'
        {"S4", SRecordRefusal::BadType, false},
        {"S6030000FC", SRecordRefusal::BadType, false},
        {"SA0500000000FA", SRecordRefusal::BadType, false},
        {"S1", SRecordRefusal::BadLength, true},
        {"S10", SRecordRefusal::BadLength, true},
        {"S10500000000", SRecordRefusal::BadLength, true},      // count says more
        {"S1020000FD", SRecordRefusal::BadLength, true},        // count says less
        {"S7060000000000F9", SRecordRefusal::BadLength, true},  // a termination carries no data
        {"S30400000000FB", SRecordRefusal::BadLength, true},    // shorter than its address
        {"S0050000000FFF", SRecordRefusal::BadChecksum, true},
        {"S70500000000FB", SRecordRefusal::BadChecksum, true},
        {"S1030000FB", SRecordRefusal::BadChecksum, true},
        {std::string(600, 'S'), SRecordRefusal::BadLength, false},
        {"S1" + std::string(518, '0'), SRecordRefusal::BadLength, false},  // past 519 characters
    };
    for (const Case& c : cases) {
        const SRecordLine line = DecodeSRecordLine(c.text);
        EXPECT_EQ(line.refusal, c.refusal) << c.text;
        EXPECT_EQ(line.kindKnown, c.kindKnown) << c.text;
        EXPECT_FALSE(line.Accepted()) << c.text;
    }
}

TEST(SRecordLine, DecodesKindAddressAndData) {
    struct Case {
        std::string text;
        SRecordKind kind;
        uint8_t type;
        uint32_t address;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        // Header and count records have no address: all their bytes are data.
        {SRecord('0', 0, 2, {'h', 'i'}), SRecordKind::Header, 0, 0, {0, 0, 'h', 'i'}},
        {"S001FE", SRecordKind::Header, 0, 0, {}},
        {SRecord('5', 0x0003, 2, {}), SRecordKind::Header, 5, 0, {0, 3}},
        {SRecord('1', 0xBEEF, 2, {1, 2}), SRecordKind::Data, 1, 0xBEEF, {1, 2}},
        {SRecord('2', 0x012345, 3, {9}), SRecordKind::Data, 2, 0x012345, {9}},
        {SRecord('3', 0xFF200000, 4, std::vector<uint8_t>(250, 0xA5)), SRecordKind::Data, 3, 0xFF200000,
         std::vector<uint8_t>(250, 0xA5)},
        {"S30500001000ea", SRecordKind::Data, 3, 0x1000, {}},  // lower-case digits are fine
        {"S70500000000FA", SRecordKind::Termination, 7, 0, {}},
        {SRecord('8', 0x123456, 3, {}), SRecordKind::Termination, 8, 0x123456, {}},
        {SRecord('9', 0x8000, 2, {}), SRecordKind::Termination, 9, 0x8000, {}},
    };
    for (const Case& c : cases) {
        const SRecordLine line = DecodeSRecordLine(c.text);
        ASSERT_TRUE(line.Accepted()) << c.text;
        EXPECT_TRUE(line.kindKnown) << c.text;
        EXPECT_EQ(line.kind, c.kind) << c.text;
        EXPECT_EQ(line.type, c.type) << c.text;
        EXPECT_EQ(line.address, c.address) << c.text;
        EXPECT_EQ(std::vector<uint8_t>(line.Data().begin(), line.Data().end()), c.data) << c.text;
    }
}

}  // namespace
}  // namespace varnel
