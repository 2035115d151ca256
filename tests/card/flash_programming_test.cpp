// Programming the flash and reading and writing the card's PDA, against the
// simulated card, with the request trace.

#include <gtest/gtest.h>

#include "card/adapter.h"
#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "pda/pda.h"
#include "tests/support/script_host.h"
#include "tests/support/sim_fixture.h"
#include "sample/sample_release.h"

namespace varnel {
namespace {

using test::Oids;

class FlashTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void Open() {
        adapter = std::make_unique<CAdapter>(sim.Machine(), sim.Machine(), host);
        ASSERT_TRUE(adapter->Open(1, true));
        sim.Trace();
    }
    void Reconfigure(const std::function<void(sim::MachineConfig&)>& change) {
        adapter.reset();
        sim.Configure(change);
        Open();
    }
    // Aux writes and reads of the trace: "W addr count" / "R addr count".
    static std::vector<std::string> Transfers(const std::vector<nlohmann::json>& trace) {
        std::vector<std::string> out;
        for (const auto& line : trace) {
            const uint32_t oid = line["oid"];
            if (oid != kOidReadAux && oid != kOidWriteAux) continue;
            char text[48];
            std::snprintf(text, sizeof text, "%c %06X %u", oid == kOidWriteAux ? 'W' : 'R',
                          line["address"].get<uint32_t>(), line["count"].get<unsigned>());
            out.push_back(text);
        }
        return out;
    }
    std::vector<uint8_t> Flash(uint32_t address, uint32_t count) {
        std::vector<uint8_t> bytes(count);
        EXPECT_TRUE(sim.Machine().Card(1)->ReadFlash(address, bytes.data(), count));
        return bytes;
    }

    test::SimFixture sim;
    test::ScriptHost host;
    std::unique_ptr<CAdapter> adapter;
};

// An image of `length` bytes at `address`, each byte its offset's low bits.
void Fill(CFirmwareImage& image, uint32_t address, uint32_t length, uint8_t salt = 0) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + salt);
    for (uint32_t done = 0; done < length; done += 0x8000)
        image.AppendData(bytes.data() + done, address + done,
                         static_cast<uint16_t>(std::min<uint32_t>(0x8000, length - done)));
}

TEST_F(FlashTest, ForceWritesEveryPieceSplitAt64KiB) {
    CFirmwareImage image;
    Fill(image, 0x0FFF0, 0x20);
    Fill(image, 0x100000, 5000);
    ASSERT_TRUE(adapter->ProgramImage(image, &host.progress, true, false, true));
    const auto trace = sim.Trace();
    EXPECT_EQ(Oids(trace)[0], kOidBlockProtocols);
    EXPECT_EQ(Oids(trace)[1], kOidEnableAux);
    EXPECT_EQ(Transfers(trace), (std::vector<std::string>{"W 00FFF0 16", "W 010000 16", "W 100000 2042",
                                                          "W 1007FA 2042", "W 100FF4 916"}));
    EXPECT_EQ(host.progress.high, 5);
    EXPECT_EQ(host.progress.positions, (std::vector<int>{1, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Flash(0x100000, 5000), image.BlockBytes(2));
}

TEST_F(FlashTest, WithoutForceOnlyChangedPiecesAreWritten) {
    CFirmwareImage image;
    Fill(image, 0x200000, 6000);
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, true, false, false));
    sim.Trace();
    // The same image again: one read per piece, no write.
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, false, false, false));
    EXPECT_EQ(Transfers(sim.Trace()), (std::vector<std::string>{"R 200000 2042", "R 2007FA 2042", "R 200FF4 1916"}));
    // One changed byte: its piece is written.
    const uint8_t changed = 0x42;
    ASSERT_TRUE(image.WriteData(&changed, 0x200900, 1));
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, false, false, false));
    EXPECT_EQ(Transfers(sim.Trace()),
              (std::vector<std::string>{"R 200000 2042", "R 2007FA 2042", "W 2007FA 2042", "R 200FF4 1916"}));
}

TEST_F(FlashTest, VerifyReadsBackEachWrittenPiece) {
    CFirmwareImage image;
    Fill(image, 0x300000, 3000);
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, true, true, false));
    EXPECT_EQ(Transfers(sim.Trace()),
              (std::vector<std::string>{"W 300000 2042", "R 300000 2042", "W 3007FA 958", "R 3007FA 958"}));

    // A range that reads back other bytes fails the verify.
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.corruptReads = {{0x300800, 0x300801}}; });
    EXPECT_FALSE(adapter->ProgramImage(image, nullptr, true, true, false));
}

TEST_F(FlashTest, AFailingPieceAsksWhetherToGoOn) {
    struct Case {
        std::initializer_list<MessageAnswer> answers;
        std::vector<std::string> writes;
        size_t questions;
    };
    // Pieces 2 and 4 lie in a protected range.
    const Case cases[] = {
        {{MessageAnswer::No}, {"W 400000 2042", "W 4007FA 2042"}, 1},
        {{MessageAnswer::Yes, MessageAnswer::No},
         {"W 400000 2042", "W 4007FA 2042", "W 400FF4 2042", "W 4017EE 2042"},
         2},
        {{MessageAnswer::Yes}, {"W 400000 2042", "W 4007FA 2042", "W 400FF4 2042", "W 4017EE 2042", "W 401FE8 24"}, 2},
    };
    for (const Case& c : cases) {
        Reconfigure([](sim::MachineConfig& m) {
            m.adapters[1].card->faults.writeProtected = {{0x400800, 0x400801}, {0x401800, 0x401801}};
        });
        host.messages.clear();
        host.Answer("Programming error.", c.answers);
        CFirmwareImage image;
        Fill(image, 0x400000, 4 * 2042 + 24);
        EXPECT_FALSE(adapter->ProgramImage(image, &host.progress, true, false, true));
        EXPECT_EQ(Transfers(sim.Trace()), c.writes);
        ASSERT_EQ(host.messages.size(), c.questions);
        EXPECT_EQ(host.Lines()[0], "Programming error.: Error programming block. Continue anyway?");
        EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNo);
    }
    // Without asking, the first failing piece ends the programming.
    host.messages.clear();
    CFirmwareImage image;
    Fill(image, 0x400000, 4 * 2042);
    EXPECT_FALSE(adapter->ProgramImage(image, nullptr, true, false, false));
    EXPECT_EQ(Transfers(sim.Trace()).size(), 2u);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(FlashTest, SetupFailuresWriteNothing) {
    struct Case {
        uint32_t oid;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {kOidBlockProtocols,
         {"Setup Error: Attempt to block protocols failed.", "Card Communication Failed: Update not attempted."}},
        {kOidEnableAux, {"Setup Error: Enable Aux failed.", "Card Communication Failed: Update not attempted."}},
    };
    for (const Case& c : cases) {
        Reconfigure([&](sim::MachineConfig& m) {
            // Opening sends EnableAux once; fail from the next one on.
            m.adapters[1].card->faults.oidStatus = {{c.oid, sim::kNdisNotAccepted, c.oid == kOidEnableAux ? 2u : 1u}};
        });
        host.messages.clear();
        CFirmwareImage image;
        Fill(image, 0x500000, 100);
        EXPECT_FALSE(adapter->ProgramImage(image, nullptr, true, false, true));
        EXPECT_EQ(host.Lines(), c.messages);
        EXPECT_TRUE(Transfers(sim.Trace()).empty());
    }
}

TEST_F(FlashTest, ImageDataOutsideTheFlashIsRefusedBeforeAnyRequest) {
    // Blocks a marker record could once make: above the data area, or
    // with the NVRAM select bit.
    for (const uint32_t address : {0xF00000u, 0xEFFFF0u, 0x807F0000u, 0xFFFFFFFEu}) {
        SCOPED_TRACE(address);
        host.messages.clear();
        CFirmwareImage image;
        Fill(image, 0x10000, 100);
        const uint8_t marker[2] = {0xDE, 0xC0};
        ASSERT_TRUE(image.AppendData(marker, address, 2) || address == 0xEFFFF0u);
        if (address == 0xEFFFF0u) Fill(image, address, 0x20);  // runs on past 0xF00000
        EXPECT_FALSE(adapter->ProgramImage(image, nullptr, true, false, true));
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].caption, "Programming error.");
        EXPECT_TRUE(sim.Trace().empty());
    }
}

TEST_F(FlashTest, AnAuxBlockLargerThanTheRecordIsRefused) {
    AuxRecord record{};
    record.address = 0x500000;
    record.count = AuxRecord::kMaxData + 1;
    for (const bool force : {true, false}) {
        EXPECT_FALSE(adapter->WriteAuxBlock(record, force, true));
        EXPECT_FALSE(adapter->WriteAux(record));
    }
    EXPECT_TRUE(sim.Trace().empty());
}

TEST_F(FlashTest, ReadCardPdaPrefersTheRamCopy) {
    CPda pda;
    EXPECT_TRUE(adapter->ReadCardPda(pda));
    EXPECT_EQ(Transfers(sim.Trace()), (std::vector<std::string>{"R 7F0000 1024"}));
    CPda expected;
    sample::FillCardPda(expected);
    EXPECT_EQ(pda.GetRecords(), expected.GetRecords());

    // An erased RAM copy: the NVRAM copy is read and judged instead.
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->ramPda = "erased"; });
    EXPECT_TRUE(adapter->ReadCardPda(pda));
    EXPECT_EQ(Transfers(sim.Trace()), (std::vector<std::string>{"R 7F0000 1024", "R 807F0000 1024"}));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(FlashTest, AnInvalidPdaShowsBothCopies) {
    // A RAM copy that loads but fails its CRC: the NVRAM copy is read for
    // the message; the PDA keeps what was loaded.
    Reconfigure([](sim::MachineConfig& m) {
        m.adapters[1].card->ramPda = "words";
        m.adapters[1].card->ramPdaWords = {4, 0x0101, 0x1102, 0x3322, 0x5544, 2, 0, 0xBEEF};
    });
    CPda pda;
    EXPECT_FALSE(adapter->ReadCardPda(pda));
    ASSERT_EQ(host.messages.size(), 1u);
    const Message& shown = host.messages[0];
    EXPECT_EQ(shown.caption, "Invalid PDA data:");
    EXPECT_FALSE(shown.owned);
    EXPECT_TRUE(shown.text.starts_with(" From RAM:\r\n 4 101 1102 3322 5544 2 0 beef ffff")) << shown.text;
    EXPECT_NE(shown.text.find("\r\n From NVRAM:\r\n 7 1 4e50 3720"), std::string::npos) << shown.text;
    EXPECT_NE(pda.FindRecord(kPdrMacAddress), nullptr);
    EXPECT_EQ(Transfers(sim.Trace()), (std::vector<std::string>{"R 7F0000 1024", "R 807F0000 1024"}));

    // Nothing valid anywhere: the RAM copy erased, and every read of the
    // PDA area returning other bytes than the flash holds.
    Reconfigure([](sim::MachineConfig& m) {
        m.adapters[1].card->ramPda = "erased";
        m.adapters[1].card->faults.corruptReads = {{0x7F0000, 0x7F0400}};
    });
    host.messages.clear();
    EXPECT_FALSE(adapter->ReadCardPda(pda));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.starts_with(" From RAM:\r\n a5a5 a5a5")) << host.messages[0].text;
}

TEST_F(FlashTest, WrittenPdaIsLoadedAtTheNextReset) {
    CPda pda;
    ASSERT_TRUE(adapter->ReadCardPda(pda));
    const uint16_t serial[] = {4, kPdrSerialNumber, 0x4241, 0x4443, 0x0000};
    pda.SetRecord(serial);
    sim.Trace();
    // Without force the piece is compared first (with the copy the card
    // loaded, which differs), then written.
    ASSERT_TRUE(adapter->WriteCardPda(pda, false, false));
    const auto trace = sim.Trace();
    EXPECT_EQ(Oids(trace), (std::vector<uint32_t>{kOidBlockProtocols, kOidCheckSupport, kOidEnableAux, kOidEnableAux,
                                                  kOidReadAux, kOidWriteAux, kOidCheckSupport}));

    // The RAM copy is still the old PDA until the card resets.
    CPda before;
    ASSERT_TRUE(adapter->ReadCardPda(before));
    EXPECT_EQ(before.FindRecord(kPdrSerialNumber)[0], 7);
    ASSERT_TRUE(adapter->EndCardAccess());
    adapter->Close();

    // A new process sees the card as it was left.
    sim.machine.reset();
    Open();
    CPda after;
    ASSERT_TRUE(adapter->ReadCardPda(after));
    EXPECT_EQ(after.GetRecords(), pda.GetRecords());
}

TEST_F(FlashTest, Type1CardsIgnoreAddressBits17And18) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->type = 1; });
    CPda pda;
    sample::FillCardPda(pda);
    ASSERT_TRUE(adapter->WriteCardPda(pda, true, false));
    EXPECT_EQ(Transfers(sim.Trace()),
              (std::vector<std::string>{"W 3F0000 " + std::to_string(2 * pda.ToWords().size())}));
    ASSERT_TRUE(adapter->EndCardAccess());
    // Written at 0x3F0000, it lies at 0x390000.
    std::vector<uint8_t> bytes(4);
    ASSERT_TRUE(sim.Machine().Card(1)->ReadFlash(0x390000, bytes.data(), 4));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x07, 0x00, 0x01, 0x00}));
    CPda read;
    ASSERT_TRUE(adapter->ReadCardPda(read));
    EXPECT_EQ(read.GetRecords(), pda.GetRecords());
}

TEST_F(FlashTest, APdaThatDoesNotFitIsNeverWritten) {
    CPda pda;
    for (uint16_t code = 0x1000; code < 0x1000 + 60; ++code) {
        std::vector<uint16_t> record(10, 0);
        record[0] = 9;
        record[1] = code;
        pda.SetRecord(record.data());
    }
    for (const bool force : {false, true}) {
        EXPECT_FALSE(adapter->WriteCardPda(pda, force, false));
        EXPECT_TRUE(sim.Trace().empty());
    }
}

TEST_F(FlashTest, ProgrammedFirmwareRunsAfterTheReset) {
    CFirmwareFile file;
    CFirmwareImage image;
    std::istringstream text(sample::ImageText(sample::StationImage(sample::ReleaseStation())));
    ASSERT_NE(file.Load(text, &image, nullptr), 0);
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, true, false, false));
    std::string versions;
    ASSERT_TRUE(adapter->GetFirmwareVersions(versions, 1));
    EXPECT_EQ(versions, "Primary: 1.3.6   Station: 1.5.0");
    ASSERT_TRUE(adapter->EndCardAccess());
    ASSERT_TRUE(adapter->GetFirmwareVersions(versions, 1));
    EXPECT_EQ(versions, "Primary: 1.3.6   Station: 1.7.4");
}

}  // namespace
}  // namespace varnel
