// The simulated card's flash timing: the cost of a request as a function of
// the work it made the card do, the sectors a run erases, and the work the
// machine counts for each request. Nothing here sleeps or reads a clock.

#include <gtest/gtest.h>

#include <chrono>

#include "card/adapter.h"
#include "image/firmware_image.h"
#include "sim/flash_timing.h"
#include "sim/machine_config.h"
#include "tests/support/script_host.h"
#include "tests/support/sim_fixture.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using sim::FlashWork;

TEST(FlashTiming, ARequestCostsItsRoundTripAndTheWorkItMadeTheCardDo) {
    const sim::FlashTiming timing{500, 250, 5500, 700000};
    const struct {
        FlashWork work;
        std::chrono::nanoseconds cost;
    } cases[] = {
        {{}, 500us},                                          // a request that touches no flash
        {{2042, 0, 0}, 500us + 2042 * 250ns},                 // a full read piece
        {{0, 2042, 0}, 500us + 2042 * 5500ns},                // a full write piece in an erased sector
        {{0, 16, 1}, 500us + 16 * 5500ns + 700ms},            // the first write into a sector
        {{0, 32, 2}, 500us + 32 * 5500ns + 1400ms},           // a write across two fresh sectors
        {{6, 4, 1}, 500us + 6 * 250ns + 4 * 5500ns + 700ms},  // every part adds
    };
    for (const auto& c : cases)
        EXPECT_EQ(sim::FlashCost(timing, c.work), c.cost) << c.work.bytesRead << " read, " << c.work.bytesProgrammed
                                                          << " programmed, " << c.work.sectorsErased << " erased";
    // The largest costs a configuration can give stay exact (no 32-bit product).
    const sim::FlashTiming slow{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(sim::FlashCost(slow, {2042, 2042, 2}).count(),
              0xFFFFFFFFll * 1000 + 0xFFFFFFFFll * 2042 * 2 + 0xFFFFFFFFll * 1000 * 2);
}

TEST(FlashTiming, ARunErasesEachSectorOnItsFirstWriteOnly) {
    sim::SectorEraseLog log;
    const struct {
        uint32_t address, count, erased;
    } writes[] = {
        {0x0FFF0, 0x20, 2},                                                 // across a boundary: both sectors
        {0x10000, 16, 0},                                                   // already erased in this run
        {0x20000, 2042, 1},    {0x20000 + 2042, 2042, 0}, {0x2FFFF, 1, 0},  // the sector's last byte
        {0x30000, 0, 0},                                                    // nothing written, nothing erased
        {0xFFFFFFF0, 0x10, 1},                                              // the top of the address space
    };
    for (const auto& w : writes) EXPECT_EQ(log.Write(w.address, w.count), w.erased) << std::hex << w.address;
    log.EndRun();
    EXPECT_EQ(log.Write(0x10000, 1), 1u);  // a new run erases again
}

TEST(FlashTiming, MachineJsonTakesTheTimingAndWritesItBack) {
    const Result<sim::MachineConfig> parsed = sim::ParseMachineConfig(
        R"({"flash_timing": {"enabled": true, "per_sector_erased_us": "0x10", "per_byte_read_ns": 7}})");
    ASSERT_TRUE(parsed.Ok()) << parsed.Reason();
    const sim::MachineConfig& config = *parsed;
    EXPECT_TRUE(config.flashTimingEnabled);
    EXPECT_FALSE(config.latencyEnabled);
    EXPECT_EQ(config.flashTiming.perSectorErasedMicroseconds, 16u);
    EXPECT_EQ(config.flashTiming.perByteReadNanoseconds, 7u);
    EXPECT_EQ(config.flashTiming.perRequestMicroseconds, sim::FlashTiming{}.perRequestMicroseconds);
    const Result<sim::MachineConfig> again = sim::ParseMachineConfig(sim::FormatMachineConfig(config));
    ASSERT_TRUE(again.Ok()) << again.Reason();
    EXPECT_TRUE(again->flashTimingEnabled);
    EXPECT_EQ(again->flashTiming, config.flashTiming);
    EXPECT_FALSE(sim::ParseMachineConfig("{}")->flashTimingEnabled);

    const struct {
        const char* json;
        const char* why;
    } bad[] = {
        {R"({"flash_timing": {"enabled": 1}})", "flash_timing.enabled: expected true or false"},
        {R"({"flash_timing": {"per_byte_programmed_ns": -1}})", "flash_timing.per_byte_programmed_ns: out of range"},
        {R"({"flash_timing": {"per_request_us": "fast"}})", "flash_timing.per_request_us: expected a number"},
    };
    for (const auto& b : bad) {
        const Result<sim::MachineConfig> refused = sim::ParseMachineConfig(b.json);
        ASSERT_FALSE(refused.Ok()) << b.json << " was taken";
        EXPECT_NE(refused.Reason().find(b.why), std::string::npos) << refused.Reason();
    }
}

// The work the machine counts for the requests of a programming run.
class FlashWorkTest : public ::testing::Test {
protected:
    void SetUp() override {
        Open();
        std::vector<uint8_t> bytes(5000);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        image.AppendData(bytes.data(), 0x0FFF0, 0x20);   // two sectors
        image.AppendData(bytes.data(), 0x100000, 5000);  // one more, three pieces
    }
    void Open() {
        adapter = std::make_unique<CAdapter>(sim.Machine(), sim.Machine(), host);
        ASSERT_TRUE(adapter->Open(1, true));
    }
    // The work of the requests since the last call.
    FlashWork Since() {
        const FlashWork now = sim.Machine().FlashWorkDone(1);
        const FlashWork since{now.bytesRead - last.bytesRead, now.bytesProgrammed - last.bytesProgrammed,
                              now.sectorsErased - last.sectorsErased};
        last = now;
        return since;
    }

    test::SimFixture sim;
    test::ScriptHost host;
    std::unique_ptr<CAdapter> adapter;
    CFirmwareImage image;
    FlashWork last;
};

TEST_F(FlashWorkTest, AForcedWriteErasesAndProgramsARewriteWithoutForceOnlyReads) {
    Since();
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, true, false, false));
    EXPECT_EQ(Since(), (FlashWork{0, 5032, 3}));
    // The same bytes again, compared first: read, nothing written.
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, false, false, false));
    EXPECT_EQ(Since(), (FlashWork{5032, 0, 0}));
    // Forced again in the same run: programmed, the sectors already erased.
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, true, false, false));
    EXPECT_EQ(Since(), (FlashWork{0, 5032, 0}));
    // The card resets: the next run erases anew.
    ASSERT_TRUE(adapter->EndCardAccess());
    ASSERT_TRUE(adapter->ProgramImage(image, nullptr, true, false, false));
    EXPECT_EQ(Since(), (FlashWork{0, 5032, 3}));
}

TEST_F(FlashWorkTest, ARefusedWriteCostsOnlyItsRequest) {
    adapter.reset();
    sim.Configure([](sim::MachineConfig& config) {
        config.adapters[1].card->faults.writeProtected.push_back({0x100000, 0x110000});
    });
    Open();
    Since();
    EXPECT_FALSE(adapter->ProgramImage(image, nullptr, true, false, false));
    EXPECT_EQ(Since(), (FlashWork{0, 0x20, 2}));  // the first two pieces; the third is refused
}

}  // namespace
}  // namespace varnel
