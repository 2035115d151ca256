// Images written by the S-record writer load back byte for byte, and agree
// with srec_cat (from the srecord package) in both directions.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "image/srec_writer.h"
#include "tests/test_support.h"

namespace varnel {
namespace {

void RandomImage(CFirmwareImage& image, std::mt19937& random) {
    const int blocks = 1 + static_cast<int>(random() % 12);
    for (int b = 0; b < blocks; ++b) {
        const uint32_t address = random() % 0xE00000;
        const auto length = static_cast<uint16_t>(1 + random() % 20000);
        std::vector<uint8_t> bytes(length);
        for (auto& x : bytes) x = static_cast<uint8_t>(random());
        if (!image.AppendData(bytes.data(), address, length)) break;
    }
    image.m_startAddress = random() % 2 ? 0 : random();
    image.m_hasStartAddress = 1;
}

void ExpectSameBlocks(const CFirmwareImage& a, const CFirmwareImage& b) {
    ASSERT_EQ(a.BlockCount(), b.BlockCount());
    for (uint16_t n = 1; n <= a.BlockCount(); ++n) {
        EXPECT_EQ(a.Block(n).address, b.Block(n).address);
        EXPECT_EQ(a.BlockBytes(n), b.BlockBytes(n));
    }
}

TEST(SRecordRoundTrip, WrittenImagesLoadBackByteForByte) {
    std::mt19937 random(2026);
    for (int round = 0; round < 40; ++round) {
        CFirmwareImage image;
        RandomImage(image, random);
        CPlugList plugs;
        CComponentVersion station;
        station.present = 1;
        station.id = CComponentVersion::kStationId;
        station.major = static_cast<uint16_t>(random());
        station.minor = static_cast<uint16_t>(random());
        station.variant = static_cast<uint16_t>(random());
        const CPlugRecord plug{static_cast<uint32_t>(random()), static_cast<uint32_t>(random()),
                               static_cast<uint16_t>(random())};

        std::ostringstream text;
        CSRecordWriter writer(text, 16 + random() % 235);  // within the 32000 lines a file may have
        writer.Header("round trip");
        writer.Version(station);
        writer.Plug(plug);
        writer.Image(image);
        writer.Termination(image.m_startAddress);

        CFirmwareFile file;
        CFirmwareImage loaded;
        std::istringstream in(text.str());
        ASSERT_NE(file.Load(in, &loaded, &plugs), 0) << file.LastFinding();
        ExpectSameBlocks(image, loaded);
        EXPECT_EQ(loaded.m_startAddress, image.m_startAddress);
        EXPECT_EQ(file.m_station.Format(), station.Format());
        ASSERT_EQ(plugs.Size(), 1u);
        EXPECT_EQ(plugs.Records().begin()->second.code, plug.code);
        EXPECT_EQ(plugs.Records().begin()->second.length, plug.length);
    }
}

class SRecordOracle : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v srec_cat >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    }
    test::TempDir dir;
};

TEST_F(SRecordOracle, SrecCatReadsWhatTheWriterWrites) {
    std::mt19937 random(11);
    CFirmwareImage image;
    std::vector<uint8_t> bytes(70000);
    for (auto& x : bytes) x = static_cast<uint8_t>(random());
    const uint32_t base = 0x01F000;
    for (uint32_t done = 0; done < bytes.size(); done += 50000)
        ASSERT_TRUE(image.AppendData(bytes.data() + done, base + done,
                                     static_cast<uint16_t>(std::min<size_t>(50000, bytes.size() - done))));
    std::ostringstream text;
    CSRecordWriter writer(text);
    writer.Image(image);
    writer.Termination(0);
    test::WriteFile(dir.File("out.srec"), text.str());

    const std::string command = "srec_cat " + dir.File("out.srec") + " -motorola -offset -" + std::to_string(base) +
                                " -o " + dir.File("out.bin") + " -binary";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string binary = test::ReadFile(dir.File("out.bin"));
    EXPECT_EQ(std::vector<uint8_t>(binary.begin(), binary.end()), bytes);
}

TEST_F(SRecordOracle, ReaderLoadsWhatSrecCatWrites) {
    std::mt19937 random(12);
    std::string binary(100000, '\0');
    for (auto& c : binary) c = static_cast<char>(random());
    test::WriteFile(dir.File("in.bin"), binary);
    // srec_cat picks S1/S2/S3 by address width and adds an S0 header and S5
    // count; its termination record carries the execution address.
    for (const std::string width : {"", "-address-length=4", "-address-length=3"}) {
        const std::string command = "srec_cat " + dir.File("in.bin") + " -binary -offset 0x10000 -o " +
                                    dir.File("in.srec") + " -motorola " + width + " -execution-start-address=0";
        ASSERT_EQ(std::system(command.c_str()), 0);
        CFirmwareFile file;
        CFirmwareImage image;
        ASSERT_NE(file.LoadFile(dir.File("in.srec"), &image, nullptr), 0) << file.LastFinding();
        ASSERT_EQ(image.BlockCount(), 1);
        EXPECT_EQ(image.Block(1).address, 0x10000u);
        const auto bytes = image.BlockBytes(1);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), binary);
    }
}

}  // namespace
}  // namespace varnel
