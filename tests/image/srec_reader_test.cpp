#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "tests/test_support.h"

namespace varnel {
namespace {

using test::Longs;
using test::SRecord;
using test::Words;

const std::string kS7 = "S70500000000FA";

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

struct Loaded {
    CFirmwareFile file;
    CFirmwareImage image;
    CPlugList plugs;
    uint16_t result = 0;
};

std::unique_ptr<Loaded> Load(const std::string& text, bool withImage = true) {
    auto loaded = std::make_unique<Loaded>();
    std::istringstream in(text);
    loaded->result = loaded->file.Load(in, withImage ? &loaded->image : nullptr, withImage ? &loaded->plugs : nullptr);
    return loaded;
}

std::string Info(uint16_t size, uint16_t type, std::vector<uint16_t> payload) {
    std::vector<uint8_t> data = Words({size, type});
    for (uint16_t w : payload) {
        data.push_back(static_cast<uint8_t>(w));
        data.push_back(static_cast<uint8_t>(w >> 8));
    }
    return SRecord('3', kInfoRecordFirst, 4, data);
}

// Each failure ends the load with 0 and the exact reason.
TEST(SRecordReader, RefusesBadLinesWithTheirReason) {
    const std::string data = SRecord('3', 0x1000, 4, {1, 2, 3});
    struct Case {
        std::string text;
        std::string finding;
    };
    const Case cases[] = {
        {"S70500000000FB\n", "ERROR: Line 1: Checksum failed."},
        {"S70500000000FA \n", "Error: Line 1: Bad character found. Cannot process file."},
        {"s70500000000FA\n", "Error: Line 1: record does not begin with 'S'"},
        {"X70500000000FA\n", "Error: Line 1: record does not begin with 'S'"},
        {"S\n", "ERROR: Line 1: record type invalid or unsupported."},
        {SRecord('4', 0, 4, {}) + "\n", "ERROR: Line 1: record type invalid or unsupported."},
        {SRecord('6', 0, 3, {}) + "\n", "ERROR: Line 1: record type invalid or unsupported."},
        {"SA0500000000FA\n", "ERROR: Line 1: record type invalid or unsupported."},
        {"S1\n", "ERROR: Line 1: line length invalid."},
        {"S10500000000\n", "ERROR: Line 1: line length invalid."},
        {SRecord('9', 0, 2, {0xAA}) + "\n", "ERROR: Line 1: line length invalid."},
        {SRecord('3', 0, 2, {}) + "\n", "ERROR: Line 1: line length invalid."},
        {std::string(600, 'S') + "\n", "ERROR: Line 1: line length invalid."},
        {Lines({kS7, "S70500001000EA"}), "ERROR: Line 2: 2nd execution address found!"},
        {SRecord('2', 0xF00000, 3, {1}) + "\n" + kS7, "Line 1: Unknown record type"},
        {SRecord('3', 0xFF000001, 4, Longs({1, 2, 3})) + "\n" + kS7, "Line 1: Unknown record type"},
        {Lines({data, kS7, SRecord('3', kInfoRecordFirst, 4, Words({5, 1, 0x15}))}),
         "Line 3: Record length does not correspond to size field."},
        {Lines({Info(21, 3, std::vector<uint16_t>(20, 0))}), "Line 1: Record length too long."},
        {Lines({Info(4, 1, {0x15, 0, 1})}), "Line 1: Invalid record format."},
        {Lines({Info(6, 2, {0, 5, 0, 0, 0})}), "Line 1: Invalid record format."},
        {Lines({Info(6, 4, {1, 0, 0, 0, 0})}), "Line 1: Invalid record format."},
        {Lines({SRecord('3', kInfoRecordFirst, 4, {})}), "Line 1: Record length does not correspond to size field."},
        {Lines({SRecord('3', kPlugRecordAddress, 4, Longs({0x101, 0x1000}))}), "Line 1: Invalid record format."},
        {Lines({SRecord('3', kMarkerRecordAddress, 4, {})}), "Line 1: Invalid record format."},
        // Markers only where image data may go: never wrapped below 0,
        // never into the record ranges or with the NVRAM select bit.
        {Lines({SRecord('3', kMarkerRecordAddress, 4, Longs({1, 0, 1}))}),
         "Line 1: Marker address 00000001 is outside the image area."},
        {Lines({SRecord('3', kMarkerRecordAddress, 4, Longs({0xF00001, 0, 1}))}),
         "Line 1: Marker address 00F00001 is outside the image area."},
        {Lines({SRecord('3', kMarkerRecordAddress, 4, Longs({0x807F0002, 0, 1}))}),
         "Line 1: Marker address 807F0002 is outside the image area."},
        {Lines({SRecord('3', 0xEFFFF8, 4, std::vector<uint8_t>(16, 1)), kS7}),
         "Line 1: Record data runs past address F00000."},
        // Lines past the limit refuse the file; none are cut off.
        {std::string(32001, '\n') + kS7 + "\n", "ERROR: Line 32002: the file has more than 32000 lines."},
        {kS7 + std::string(32000, '\n') + data + "\n", "ERROR: Line 32001: the file has more than 32000 lines."},
        {Lines({data}), "Error: Line 2: End reached without an execution address record."},
        {data, "Error: Line 1: End reached without an execution address record."},
    };
    for (const Case& c : cases) {
        const auto loaded = Load(c.text);
        EXPECT_EQ(loaded->result, 0) << c.text;
        EXPECT_EQ(loaded->file.LastFinding(), c.finding) << c.text;
        EXPECT_FALSE(loaded->file.InternalError());
    }
}

TEST(SRecordReader, FailuresGoToTheLogWithTheirLineEnds) {
    test::LogCapture log;
    Load("\n\nS70500000000FB\n");
    EXPECT_EQ(log.Text(), "ERROR: Line 3: Checksum failed.\n");
    log.Clear();
    Load(Lines({SRecord('0', 0, 2, {'h', 'i'}), kS7}));
    EXPECT_EQ(log.Text(), "Info records ignored.\n");
}

TEST(SRecordReader, AcceptsWellFormedFiles) {
    struct Case {
        std::string text;
        uint16_t lines;
        uint16_t blocks;
    };
    const Case cases[] = {
        {kS7, 1, 0},
        {kS7 + "\n", 2, 0},
        {kS7 + "\r\n", 2, 0},
        {"s70500000000fa", 0, 0},                                   // the S itself must be upper case
        {"S70500000000fa", 1, 0},                                   // lower-case digits are fine
        {Lines({"S1030000FC", kS7}), 3, 0},                         // an S1 record with no data adds nothing
        {Lines({kS7, SRecord('1', 0x100, 2, {1, 2}), kS7}), 4, 1},  // S7 first, and twice
        {Lines({SRecord('0', 0, 2, {'x'}), SRecord('5', 0, 2, {}), SRecord('9', 0, 2, {})}), 4, 0},
        {Lines({SRecord('2', 0x012345, 3, {9}), SRecord('8', 0, 3, {})}), 3, 1},
        {"\n\n" + kS7 + "\n\n", 5, 0},
    };
    for (const Case& c : cases) {
        const auto loaded = Load(c.text);
        EXPECT_EQ(loaded->result, c.lines) << c.text;
        EXPECT_EQ(loaded->image.BlockCount(), c.blocks) << c.text;
    }
}

TEST(SRecordReader, WithoutAnImageOnlyChecks) {
    const auto loaded = Load(Lines({SRecord('3', 0x1000, 4, {1, 2}), Info(5, 1, {0x1F, 4, 1, 7})}), false);
    EXPECT_EQ(loaded->result, 3);  // no execution address needed
    EXPECT_EQ(loaded->file.m_station.present, 1);
    EXPECT_EQ(Load("S70500000000FB", false)->result, 0);
}

TEST(SRecordReader, ReadsInfoRecords) {
    std::vector<std::string> lines = {
        Info(5, 1, {0x15, 3, 1, 2}),   // Primary 1.2.3
        Info(5, 1, {0x1F, 0, 2, 9}),   // Station 2.9.0
        Info(5, 1, {0x1F, 4, 2, 9}),   // replaces it: 2.9.4
        Info(5, 1, {0x16, 1, 1, 1}),   // other component: ignored
        Info(6, 2, {7, 4, 8, 9, 10}),  // slot 4
        Info(20, 3, {17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        Info(3, 9, {0xAB, 0xCD}),  // unknown type: logged only
    };
    for (uint16_t p = 1; p <= 31; ++p) lines.push_back(Info(5, 4, {p, 0, 0, 0}));
    lines.push_back(kS7);
    std::string text;
    for (const auto& l : lines) text += l + "\n";

    test::LogCapture log;
    const auto loaded = Load(text);
    ASSERT_NE(loaded->result, 0) << loaded->file.LastFinding();
    const CFirmwareFile& f = loaded->file;
    EXPECT_EQ(f.m_primary.Format(), "1.2.3");
    EXPECT_EQ(f.m_station.Format(), "2.9.4");
    EXPECT_EQ(f.m_slots[4].present, 1);
    EXPECT_EQ(f.m_slots[4].first, 7);
    EXPECT_EQ(f.m_slots[4].words, (std::array<uint16_t, 3>{8, 9, 10}));
    EXPECT_EQ(f.m_buildSequence, 17);
    EXPECT_EQ(f.m_platforms[28].id, 29);
    EXPECT_EQ(f.m_platforms[29].id, 31);  // the 31st overwrites the last slot
    EXPECT_NE(log.Text().find("Build sequence: 17\n"), std::string::npos);
    EXPECT_NE(log.Text().find("Unknown firmware info record - size: 3, type 9; Data:  ab cd \n"), std::string::npos);
}

TEST(SRecordReader, PlugAndMarkerRecords) {
    const auto loaded = Load(Lines({
        SRecord('3', 0x1000, 4, std::vector<uint8_t>(16, 0x11)),
        SRecord('3', kPlugRecordAddress, 4, Longs({0x0103, 0x1008, 0x1000C})),  // length: low 16 bits
        SRecord('3', kPlugRecordAddress, 4, Longs({0x0101, 0x1000, 6})),
        SRecord('3', kMarkerRecordAddress, 4, Longs({0x1006, 0, 0})),  // flag 0: nothing
        SRecord('3', kMarkerRecordAddress, 4, Longs({0x100A, 0, 1})),  // inside the image
        SRecord('3', kMarkerRecordAddress, 4, Longs({0x2002, 0, 1})),  // outside: new block
        kS7,
    }));
    ASSERT_NE(loaded->result, 0) << loaded->file.LastFinding();
    std::vector<uint8_t> first(16, 0x11);
    first[8] = 0xDE;
    first[9] = 0xC0;
    EXPECT_EQ(loaded->image.BlockBytes(1), first);
    ASSERT_EQ(loaded->image.BlockCount(), 2);
    EXPECT_EQ(loaded->image.Block(2).address, 0x2000u);
    EXPECT_EQ(loaded->image.BlockBytes(2), (std::vector<uint8_t>{0xDE, 0xC0}));

    CPlugList& plugs = loaded->plugs;
    plugs.Rewind();
    const CPlugRecord* p = plugs.Next();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->code, 0x0101u);  // ascending target address
    p = plugs.Next();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->code, 0x0103u);
    EXPECT_EQ(p->length, 0x000C);
    EXPECT_EQ(plugs.Next(), nullptr);
}

TEST(SRecordReader, AnImageThatRefusesDataIsAnInternalError) {
    std::string text;
    for (uint32_t a = 0; a < 210000; a += 200) text += SRecord('3', a, 4, std::vector<uint8_t>(200, 0x5A)) + "\n";
    text += kS7 + "\n";
    test::LogCapture log;
    const auto loaded = Load(text);
    EXPECT_EQ(loaded->result, 0);
    EXPECT_TRUE(loaded->file.InternalError());
    EXPECT_EQ(loaded->file.LastFinding(), kMemoryErrorText);
    // What the lines before the failure added stays.
    EXPECT_GE(loaded->image.ByteCount(), 204800u);
}

TEST(SRecordReader, LoadFileReportsAMissingFile) {
    CFirmwareFile file;
    CFirmwareImage image;
    EXPECT_EQ(file.LoadFile("/nonexistent/file.hex", &image, nullptr), 0);
    EXPECT_EQ(file.LastFinding(), "File not found.");
}

TEST(SRecordReader, ReadsUpTo32000LinesAndTrailingEmptyOnes) {
    // 32,000 lines, the text's own end and blank lines after it.
    EXPECT_EQ(Load(std::string(31999, '\n') + kS7 + "\n")->result, 32000);
    EXPECT_EQ(Load(std::string(31999, '\n') + kS7 + std::string(40000, '\n'))->result, 32000);
}

TEST(SRecordReader, TextLongerThanTheFormatAllowsIsRefusedAtItsBound) {
    // Every line at its longest with CR LF: the most text the format holds.
    // Past it (here empty lines, else taken after the 32000th) the text is
    // refused rather than read on without end.
    const uint64_t most = CFirmwareFile::kMaxBytes;
    EXPECT_EQ(most, 32000u * 521u);
    EXPECT_EQ(Load(kS7 + std::string("\n") + std::string(most - kS7.size() - 1, '\n'))->result, 32000);
    const auto longer = Load(kS7 + std::string("\n") + std::string(most - kS7.size(), '\n'));
    EXPECT_EQ(longer->result, 0);
    EXPECT_EQ(longer->file.LastFinding(), "ERROR: The file is longer than the 16672000 bytes such a file can hold.");

    // A file longer than that is refused before it is read (devices and
    // FIFOs: Cli.InputsThatNeverEndAreRefusedUnread).
    test::TempDir dir;
    test::WriteFile(dir.File("sparse.hex"), kS7 + "\n");
    std::filesystem::resize_file(dir.File("sparse.hex"), most + 1);
    CFirmwareFile file;
    EXPECT_EQ(file.LoadFile(dir.File("sparse.hex"), nullptr, nullptr), 0);
    EXPECT_EQ(file.LastFinding(),
              "ERROR: The file is 16672001 bytes, more than the 16672000 bytes such a file can hold.");
}

TEST(ComponentVersion, ComparesMajorThenMinorThenVariant) {
    const auto v = [](uint16_t major, uint16_t minor, uint16_t variant) {
        CComponentVersion c;
        c.major = major;
        c.minor = minor;
        c.variant = variant;
        return c;
    };
    EXPECT_EQ(v(1, 3, 0).Compare(v(1, 3, 0)), 0);
    EXPECT_LT(v(1, 2, 9).Compare(v(1, 3, 0)), 0);
    EXPECT_GT(v(1, 3, 0).Compare(v(1, 2, 9)), 0);
    EXPECT_GT(v(2, 0, 0).Compare(v(1, 65535, 65535)), 0);
    EXPECT_EQ(v(65535, 65535, 65535).Format(), "65535.65535.65535");
}

}  // namespace
}  // namespace varnel
