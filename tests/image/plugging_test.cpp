#include <gtest/gtest.h>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda.h"
#include "tests/test_support.h"

namespace varnel {
namespace {

class Plugging : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<uint8_t> zeros(0x100, 0);
        ASSERT_TRUE(image.AppendData(zeros.data(), 0x1000, 0x100));
        const uint16_t domain[] = {7, kPdrDomain, 0x0201, 0x0403, 0x0605, 0x0807, 0x0A09, 0x0C0B};
        pda.SetRecord(domain);
    }
    std::vector<uint8_t> At(uint32_t address, size_t n) {
        const auto bytes = image.BlockBytes(1);
        return {bytes.begin() + (address - 0x1000), bytes.begin() + (address - 0x1000) + static_cast<long>(n)};
    }
    uint32_t Plug(const std::string& fileName = "C:\\FW\\sta1.hex") {
        log.Clear();
        return file.PlugImage(image, plugs, pda, fileName);
    }

    test::LogCapture log;
    CFirmwareFile file;
    CFirmwareImage image;
    CPlugList plugs;
    CPda pda;
};

TEST_F(Plugging, NoPdrPlugsIsAllPlugged) {
    EXPECT_EQ(Plug(), 0u);
    EXPECT_EQ(log.Text(), "Plugging:  All Entries Plugged!\n");
}

TEST_F(Plugging, FileNamePlugWritesTheUpperCaseNamePaddedWithZeros) {
    struct Case {
        std::string path;
        uint16_t length;
        std::string expected;  // the bytes written, NULs included
    };
    const Case cases[] = {
        {"C:\\FW\\sta1.hex", 16, std::string("STA1.HEX\0\0\0\0\0\0\0\0", 16)},
        {"C:\\FW\\sta1.hex", 4, "STA1"},
        {"C:sta1.hex", 4, "STA1"},
        {"/opt/fw/station-firmware-1.7.4.hex", 30, "STATION-FIRMWARE-1.7"},  // at most 20 bytes
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> ff(32, 0xFF);
        ASSERT_TRUE(image.WriteData(ff.data(), 0x1040, 32));
        plugs.Clear();
        plugs.Add(CPlugRecord::kFileNamePlug, 0x1040, c.length);
        EXPECT_EQ(Plug(c.path), 0u);
        const auto written = At(0x1040, c.expected.size());
        EXPECT_EQ(std::string(written.begin(), written.end()), c.expected) << c.path;
        EXPECT_EQ(At(0x1040 + static_cast<uint32_t>(c.expected.size()), 1)[0], 0xFF) << "wrote too much";
    }
    EXPECT_EQ(log.Text(), "Plugging:  [filename]  All Entries Plugged!\n");
}

TEST_F(Plugging, PdrPlugsWriteTheRecordsDataLittleEndian) {
    plugs.Add(0x0103, 0x1010, 12);
    EXPECT_EQ(Plug(), 1u);
    EXPECT_EQ(At(0x1010, 12), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(log.Text(), "Plugging:  (103 ok) All Entries Plugged!\n");
}

TEST_F(Plugging, EachProblemIsAWarningAndChangesNothing) {
    struct Case {
        CPlugRecord plug;
        std::string logged;
    };
    const Case cases[] = {
        {{0x10103, 0x1010, 12}, "Plugging:  (10103 ok) All Entries Plugged!\n"},  // low 16 bits look up 0x0103
        {{0x0101, 0x1010, 6}, "Plugging:  (Warning: PDR 101 NOT in PDA)\n\n"},
        {{0x0103, 0x1010, 10}, "Plugging:  (Warning: Length mismatch on PDR 103)\n"},
        {{0x0103, 0x10F8, 12}, "Plugging:  Warning: Invalid plug record 0x103. Target area does not exist.\n\n"},
        {{CPlugRecord::kFileNamePlug, 0x10FC, 16},
         "Plugging:  Warning: file name plug does not fit!\nAll Entries Plugged!\n"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> zeros(0x100, 0);
        ASSERT_TRUE(image.WriteData(zeros.data(), 0x1000, 0x100));
        plugs.Clear();
        plugs.Add(c.plug.code, c.plug.address, c.plug.length);
        Plug();
        EXPECT_EQ(log.Text(), c.logged);
        if (c.plug.code != 0x10103) {
            EXPECT_EQ(image.BlockBytes(1), zeros) << c.logged;
        }
    }
}

TEST_F(Plugging, OneRecordPerTargetInAscendingOrder) {
    const uint16_t mac[] = {4, kPdrMacAddress, 0x1102, 0x3322, 0x5544};
    pda.SetRecord(mac);
    EXPECT_EQ(plugs.Add(0x0103, 0x1080, 12), 1);
    EXPECT_EQ(plugs.Add(0x0101, 0x1020, 6), 1);
    EXPECT_EQ(plugs.Add(0x9999, 0x1080, 12), 0);  // same target: replaced
    EXPECT_EQ(plugs.Add(0x0103, 0x1080, 12), 0);
    EXPECT_EQ(plugs.Add(0x0103, 0x10A0, 12), 2);
    EXPECT_EQ(Plug(), 3u);
    EXPECT_EQ(log.Text(), "Plugging:  (101 ok) (103 ok) (103 ok) All Entries Plugged!\n");
    EXPECT_EQ(At(0x1020, 6), (std::vector<uint8_t>{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
}

}  // namespace
}  // namespace varnel
