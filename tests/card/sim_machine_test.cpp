// The simulated machine as a device: every process that loads the machine
// directory sees one card (what one writes, the next handle of another
// reads, and no write undoes another's), and a card's flash files are taken
// only when each can be a sector.

#include "sim/sim_machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "card/adapter.h"
#include "pda/pda.h"
#include "sample/sample_release.h"
#include "sim/firmware_identity.h"
#include "tests/support/script_host.h"
#include "tests/support/sim_fixture.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// One process's view of the machine: its own load of the directory.
struct Process {
    explicit Process(const fs::path& directory)
        : loaded(test::LoadMachine(directory)), machine(*loaded), adapter(machine, machine, host) {}

    // The PDA the card loaded at its last reset, read through a new handle.
    auto CardPda() {
        CPda pda;
        EXPECT_TRUE(adapter.Open(1, true));
        EXPECT_TRUE(adapter.ReadCardPda(pda));
        adapter.Close();
        return pda.GetRecords();
    }
    // The PDA copy in flash, read through a new handle.
    auto FlashPda() {
        CPda pda;
        AuxRecord record{};
        EXPECT_TRUE(adapter.Open(1, true));
        EXPECT_TRUE(adapter.ReadFlashPda(record));
        EXPECT_TRUE(LoadPdaCopy(pda, record));
        adapter.Close();
        return pda.GetRecords();
    }
    std::string Versions() {
        std::string text;
        EXPECT_TRUE(adapter.Open(1, true));
        EXPECT_TRUE(adapter.GetFirmwareVersions(text, 1));
        adapter.Close();
        return text;
    }

    std::unique_ptr<sim::SimMachine> loaded;
    sim::SimMachine& machine;
    test::ScriptHost host;
    CAdapter adapter;
};

std::vector<uint8_t> Flash(sim::SimMachine& machine, uint32_t address, uint32_t count) {
    std::vector<uint8_t> bytes(count);
    EXPECT_TRUE(machine.Card(1)->ReadFlash(address, bytes.data(), count));
    return bytes;
}

TEST(SharedCard, WhatOneProcessWritesTheNextHandleOfAnotherReadsAndNoWriteUndoesIt) {
    test::SimFixture sim;
    CPda factory;
    sample::FillCardPda(factory);
    CPda restored;
    sample::CardIdentity other;
    other.serialNumber = "SN 99A09999";
    other.mac[5] = 0x99;
    sample::FillCardPda(restored, other);

    // The desktop program has read the card (its PDA, its firmware).
    Process desktop(sim.MachineDir());
    ASSERT_EQ(desktop.CardPda(), factory.GetRecords());
    const std::string versionsBefore = desktop.Versions();

    // Another process restores another PDA and programs a Station identity,
    // then resets the card.
    {
        Process restore(sim.MachineDir());
        ASSERT_TRUE(restore.adapter.Open(1, true));
        ASSERT_TRUE(restore.adapter.WriteCardPda(restored, true, false));
        const sim::IdentityBlock station = sim::EncodeIdentity(CComponentVersion::kStationId, {4, 1, 9});
        const Result<> written = restore.machine.Card(1)->WriteFlash(sim::kStationBase + sim::kIdentityOffset,
                                                                     station.data(), station.size());
        ASSERT_TRUE(written.Ok()) << written.Reason();
        ASSERT_TRUE(restore.adapter.EndCardAccess());
        restore.adapter.Close();
    }

    // The desktop program's next handle sees the card as it is now.
    EXPECT_EQ(desktop.CardPda(), restored.GetRecords());
    EXPECT_EQ(desktop.FlashPda(), restored.GetRecords());
    const std::string versionsAfter = desktop.Versions();
    EXPECT_NE(versionsAfter, versionsBefore);
    EXPECT_NE(versionsAfter.find("1.9.4"), std::string::npos) << versionsAfter;
    EXPECT_EQ(desktop.machine.Card(1)->Station(), (sim::FirmwareIdentity{4, 1, 9}));

    // It writes into the sector that holds the PDA, and into the Station
    // identity's: the other process's changes stay beside its own.
    const uint32_t pdaAddress = desktop.machine.Card(1)->PdaAddress();
    const std::vector<uint8_t> mark = {0x12, 0x34, 0x56, 0x78};
    for (const uint32_t address : {pdaAddress + 0x1000, sim::kStationBase + 0x100}) {
        const Result<> written = desktop.machine.Card(1)->WriteFlash(address, mark.data(), 4);
        ASSERT_TRUE(written.Ok()) << written.Reason();
    }

    Process later(sim.MachineDir());
    EXPECT_EQ(later.FlashPda(), restored.GetRecords());
    EXPECT_EQ(Flash(later.machine, pdaAddress + 0x1000, 4), mark);
    EXPECT_EQ(Flash(later.machine, sim::kStationBase + 0x100, 4), mark);
    EXPECT_NE(later.Versions().find("1.9.4"), std::string::npos);
}

TEST(SectorFiles, AFileThatCannotBeASectorRefusesTheMachineByName) {
    struct Case {
        const char* name;
        std::function<bool(const fs::path&)> make;  // false: the file system cannot make it here
        std::string says;
    };
    const auto sized = [](uintmax_t size) {
        return [size](const fs::path& file) {
            { std::ofstream create(file, std::ios::binary | std::ios::trunc); }
            std::error_code ec;
            fs::resize_file(file, size, ec);  // sparse: nothing of it is on the disk
            return !ec;
        };
    };
    const Case cases[] = {
        {"empty", sized(0), "is 0 bytes, not the 65536 of a sector"},
        {"one byte short", sized(0xFFFF), "is 65535 bytes, not the 65536 of a sector"},
        {"one byte long", sized(0x10001), "is 65537 bytes, not the 65536 of a sector"},
        // Read, it would take the whole disk's time and the memory's size.
        {"a sparse 64 GiB", sized(uintmax_t{1} << 36), "is 68719476736 bytes, not the 65536 of a sector"},
        {"a folder", [](const fs::path& file) { return fs::create_directory(file); }, "is not a regular file"},
        {"a link to a device",
         [](const fs::path& file) {
             std::error_code ec;
             fs::create_symlink("/dev/zero", file, ec);
             return !ec && fs::exists("/dev/zero");
         },
         "is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::SimFixture sim;
        const fs::path file = sim.MachineDir() / "cards" / "0001" / "flash" / "007F0000.bin";
        const std::string pda = test::ReadFile(file.string());
        fs::remove(file);
        if (!c.make(file)) {
            std::cout << "skipped: " << c.name << " cannot be made here\n";
            continue;
        }
        const auto refused = sim::SimMachine::Open(sim.MachineDir());
        ASSERT_FALSE(refused.Ok()) << "the machine was taken";
        EXPECT_EQ(refused.Reason(), "flash sector file " + file.string() + " " + c.says);

        // A machine loaded before the file went wrong refuses each request
        // that needs it, and changes nothing.
        fs::remove_all(file);
        test::WriteFile(file.string(), pda);
        const std::unique_ptr<sim::SimMachine> loaded = test::LoadMachine(sim.MachineDir());
        fs::remove(file);
        ASSERT_TRUE(c.make(file));
        sim::SimCard& card = *loaded->Card(1);
        std::vector<uint8_t> bytes(4);
        const Result<> read = card.ReadFlash(card.PdaAddress(), bytes.data(), 4);
        ASSERT_FALSE(read.Ok());
        EXPECT_EQ(read.Reason(), "flash sector file " + file.string() + " " + c.says);
        const Result<> written = card.WriteFlash(card.PdaAddress(), bytes.data(), 4);
        ASSERT_FALSE(written.Ok());
        EXPECT_EQ(written.Reason(), "flash sector file " + file.string() + " " + c.says);
        if (fs::is_regular_file(file)) {
            EXPECT_NE(fs::file_size(file), sim::kSectorSize);
        }
    }
}

}  // namespace
}  // namespace varnel
