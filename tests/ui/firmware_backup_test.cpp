// The firmware backup an update saves before its first flash write, and
// putting it back: the round trip, another card's backup, a cut or altered
// file, a read that fails, and the one read per piece it costs.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "card/adapter.h"
#include "image/firmware_file.h"
#include "tests/support/dialog_fixture.h"
#include "tests/support/run_outcome.h"
#include "update/firmware_backup.h"
#include "update/visible_text.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class FirmwareBackupTest : public test::DialogTest {
protected:
    // The card's flash below its PDA sector, where firmware lives.
    std::vector<uint8_t> Firmware() {
        sim::SimCard& card = *sim.Machine().Card(1);
        std::vector<uint8_t> bytes(card.PdaAddress());
        EXPECT_TRUE(card.ReadFlash(0, bytes.data(), static_cast<uint32_t>(bytes.size())));
        return bytes;
    }

    // The sample release's update.
    RunOutcome Update() {
        CVarnelDlg& dlg = Dialog();
        host.openFile = Release("OEMRelease.oem");
        dlg.OnDownload();
        dlg.OnUpdate();
        return test::Outcome(dlg);
    }

    RunOutcome Restore(const std::string& path) {
        host = test::ScriptHost();
        dialog.reset();
        Start().OnRestoreFirmware(path);
        return test::Outcome(*dialog);
    }

    // The backup text with the header line that begins with `key` replaced
    // by `line` (any bytes).
    static std::string ReplaceHeader(const std::string& text, const std::string& key, const std::string& line) {
        std::string out;
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find('\n', start) + 1;
            std::string record = text.substr(start, end - start);
            start = end;
            if (record.starts_with("S0")) {
                std::string data;
                for (size_t i = 8; i + 3 < record.size(); i += 2)
                    data += static_cast<char>(std::stoul(record.substr(i, 2), nullptr, 16));
                if (data.starts_with(key))
                    record = test::SRecord('0', 0, 2, std::vector<uint8_t>(line.begin(), line.end())) + "\n";
            }
            out += record;
        }
        return out;
    }

    size_t Count(const std::vector<nlohmann::json>& trace, uint32_t oid) {
        return static_cast<size_t>(
            std::count_if(trace.begin(), trace.end(), [&](const nlohmann::json& l) { return l["oid"] == oid; }));
    }
};

TEST_F(FirmwareBackupTest, RestoringTheBackupReturnsTheFlashByteForByte) {
    const std::vector<uint8_t> before = Firmware();
    Start();
    ASSERT_EQ(Update(), RunOutcome::Succeeded);
    const std::string saved = dialog->Report().firmwareBackup;
    ASSERT_FALSE(saved.empty());
    ASSERT_TRUE(host.summaries[0].find("Card firmware will be saved before writing, to: " + saved + "\n") !=
                std::string::npos)
        << host.summaries[0];
    const std::vector<uint8_t> updated = Firmware();
    EXPECT_NE(updated, before);

    // The file names the card and the firmware it held.
    FirmwareBackup backup;
    ASSERT_TRUE(test::Worked(LoadFirmwareBackup(saved, backup)));
    EXPECT_EQ(backup.mac, "00-60-1D-12-34-56");
    EXPECT_EQ(backup.serial, "SN 99A01234");
    EXPECT_EQ(FirmwareBackupVersions(backup), "Primary 1.3.6, Station 1.5.0");
    for (const FlashRange& r : backup.ranges)
        EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.end(), before.begin() + r.address)) << r.address;

    ASSERT_EQ(Restore(saved), RunOutcome::Succeeded) << ::testing::PrintToString(host.Lines());
    EXPECT_TRUE(Firmware() == before) << "the flash is not what it was before the update";
    // A downgrade, said as an update says it; the card's PDA and the firmware
    // it overwrote were saved first.
    const std::string& summary = host.summaries.at(0);
    EXPECT_NE(summary.find("Firmware it returns to (read from the data written): Primary 1.3.6, Station 1.5.0\n"
                           "Warning! This is a downgrade for Primary firmware. (1.4.2 --> 1.3.6)\n"
                           "Warning! This is a downgrade for Station firmware. (1.7.4 --> 1.5.0)\n"),
              std::string::npos)
        << summary;
    const RunReport& report = dialog->Report();
    EXPECT_EQ(report.action, "firmware restore");
    EXPECT_EQ(report.after.primary, "1.3.6");
    EXPECT_EQ(report.after.station, "1.5.0");
    EXPECT_TRUE(fs::exists(report.backup));
    EXPECT_TRUE(fs::exists(report.firmwareBackup));
    EXPECT_NE(report.firmwareBackup, saved);
    // The closing box says what was put back and names both backups.
    EXPECT_EQ(host.messages.back().caption, "Update Complete");
    EXPECT_EQ(host.messages.back().text, "Firmware Restored!   \n\nThe card's flash holds again the bytes saved in\n" +
                                             saved + "\n\nCard PDA saved to " + report.backup +
                                             "\nCard firmware saved to " + report.firmwareBackup);
    const std::string history = test::ReadFile((sim.dir.Path() / "history.jsonl").string());
    EXPECT_NE(history.find("\"action\":\"firmware restore\""), std::string::npos);
    EXPECT_NE(history.find("\"firmware_backup\":\"" + saved + "\""), std::string::npos);

    // The backup of the restore puts the update back in turn.
    const std::string restoreBackup = report.firmwareBackup;
    ASSERT_EQ(Restore(restoreBackup), RunOutcome::Succeeded);
    EXPECT_EQ(dialog->Report().after.station, "1.7.4");
    EXPECT_TRUE(Firmware() == updated);
}

TEST_F(FirmwareBackupTest, AnotherCardsBackupIsWrittenOnlyWhenTheUserSaysSo) {
    Start();
    ASSERT_EQ(Update(), RunOutcome::Succeeded);
    FirmwareBackup backup;
    ASSERT_TRUE(test::Worked(LoadFirmwareBackup(dialog->Report().firmwareBackup, backup)));
    backup.mac = "00-60-1D-AB-CD-EF";
    const Result<std::string> text = FormatFirmwareBackup(backup);
    ASSERT_TRUE(test::Worked(text));
    const std::string other = sim.dir.File("other.srec");
    test::WriteFile(other, *text);
    const std::vector<uint8_t> updated = Firmware();
    sim.Trace();

    // The question's default (Enter, --yes, no terminal) is No.
    EXPECT_EQ(Restore(other), RunOutcome::Cancelled);
    EXPECT_EQ(Count(sim.Trace(), kOidWriteAux), 0u);
    EXPECT_EQ(Firmware(), updated);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, "Restore Another Card's Firmware?");
    EXPECT_TRUE(host.messages[0].safeDefault);
    EXPECT_NE(host.summaries.at(0).find("This backup was saved from ANOTHER card.\n"), std::string::npos);

    host = test::ScriptHost();
    dialog.reset();
    host.Answer("Restore Another Card's Firmware?", {MessageAnswer::Yes});
    Start().OnRestoreFirmware(other);
    EXPECT_EQ(test::Outcome(*dialog), RunOutcome::Succeeded) << ::testing::PrintToString(host.Lines());
    EXPECT_EQ(dialog->Report().after.station, "1.5.0");
}

TEST_F(FirmwareBackupTest, ACutOrAlteredBackupIsRefusedWithItsReason) {
    Start();
    ASSERT_EQ(Update(), RunOutcome::Succeeded);
    const std::string good = test::ReadFile(dialog->Report().firmwareBackup);
    const size_t dataLine = good.find("\nS3") + 1;
    const size_t end = good.find("\nS7") + 1;
    // A data byte changed, its record's checksum made to match again.
    std::string resummed = good;
    {
        const size_t lineEnd = good.find('\n', dataLine);
        std::string line = good.substr(dataLine, lineEnd - dataLine);
        std::vector<uint8_t> bytes;
        for (size_t i = 2; i + 2 < line.size(); i += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
        bytes[6] ^= 0x01;  // the second data byte
        const uint32_t address =
            uint32_t{bytes[1]} << 24 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 8 | bytes[4];
        std::string fixed = test::SRecord('3', address, 4, std::vector<uint8_t>(bytes.begin() + 5, bytes.end()));
        resummed.replace(dataLine, lineEnd - dataLine, fixed);
    }
    std::string flipped = good;
    flipped[dataLine + 14] = flipped[dataLine + 14] == '0' ? '1' : '0';
    struct Case {
        const char* name;
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"cut inside a record", good.substr(0, dataLine + 20),
         "line 9: its byte count does not match its length (the file was cut)"},
        {"cut between records", good.substr(0, end), "the file ends before its end record (S7): it was cut"},
        {"a digit changed", flipped, "its checksum does not match: the record was altered"},
        {"a byte changed with its checksum", resummed,
         "its data do not match the SHA-256 digest in its header: the file was altered or cut"},
        {"records dropped", good.substr(0, dataLine) + good.substr(good.find('\n', dataLine) + 1),
         "its data do not match the SHA-256 digest"},
        {"not a backup", "S00600004844521B\n" + good.substr(dataLine), "not a Varnel firmware backup"},
        {"a header text changed", ReplaceHeader(good, "SERIAL ", "SERIAL SN 00000001"),
         "its header text does not match its HEADER-SHA256 digest"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = sim.dir.File("bad.srec");
        test::WriteFile(path, c.text);
        sim.Trace();
        EXPECT_EQ(Restore(path), RunOutcome::Failed);
        EXPECT_TRUE(sim.Trace().empty()) << "the card was reached";
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_NE(host.messages[0].text.find(c.reason), std::string::npos) << host.messages[0].text;
        EXPECT_EQ(dialog->Status(), "Nothing was written.");
    }
}

TEST_F(FirmwareBackupTest, AFailedReadWritesNothing) {
    // The run's reads: the card's PDA twice (at selection and in the run),
    // the PDA copy in flash is not read (no .pda file), then the backup's.
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.oidStatus = {{kOidReadAux, 0xC0000001, 20}}; });
    const std::vector<uint8_t> before = Firmware();
    Start({Release("station.hex")});
    dialog->OnUpdate();
    EXPECT_EQ(test::Outcome(*dialog), RunOutcome::Failed);
    EXPECT_EQ(
        host.Lines(),
        (std::vector<std::string>{"Cannot Continue: The card's firmware could not be read, so nothing was written."}));
    EXPECT_EQ(dialog->Status(), "Firmware backup failed! Nothing was written.");
    EXPECT_EQ(Count(sim.Trace(), kOidWriteAux), 0u);
    EXPECT_EQ(Firmware(), before);
    EXPECT_FALSE(fs::exists(sim.dir.Path() / "backups"));
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
}

// Backup on costs one read per piece written, and with --no-force the
// compare takes the backup's read: no second one.
TEST_F(FirmwareBackupTest, OneReadPerPieceAndNoSecondRead) {
    struct Run {
        size_t reads, writes;
    };
    const auto run = [&](bool backup, bool force) {
        FreshCard();
        Reconfigure([](sim::MachineConfig&) {});
        Start({Release("station.hex")});
        dialog->SetFirmwareBackup(backup);
        dialog->SetForceAll(force);
        dialog->OnUpdate();
        EXPECT_EQ(test::Outcome(*dialog), RunOutcome::Succeeded);
        EXPECT_EQ(dialog->Report().firmwareBackup.empty(), !backup);
        const auto trace = sim.Trace();
        return Run{Count(trace, kOidReadAux), Count(trace, kOidWriteAux)};
    };
    const Run plain = run(false, true);
    const Run backedUp = run(true, true);
    ASSERT_GT(plain.writes, 10u);
    EXPECT_EQ(backedUp.writes, plain.writes);
    EXPECT_EQ(backedUp.reads, plain.reads + plain.writes);
    const Run compared = run(false, false);
    const Run comparedWithBackup = run(true, false);
    EXPECT_EQ(comparedWithBackup.reads, compared.reads);
    EXPECT_EQ(comparedWithBackup.writes, compared.writes);
    // --no-firmware-backup: the summary says there is none.
    EXPECT_NE(host.summaries.size(), 0u);
    FreshCard();
    Start({Release("station.hex")});
    dialog->SetFirmwareBackup(false);
    host.confirmSummary = false;
    dialog->OnUpdate();
    ASSERT_EQ(host.summaries.size(), 1u);
    EXPECT_TRUE(
        host.summaries[0].ends_with("The card's firmware will not be saved before writing (no firmware backup).\n"));
}

// A restore writes only what it says: the whole plan is checked against
// the card (its flash, its PDA sector) before anything is written, the
// versions it promises are read from the data, and the file's texts are
// shown with their control characters visible.
TEST_F(FirmwareBackupTest, ARestoreWritesOnlyWhatItSays) {
    Start();
    ASSERT_EQ(Update(), RunOutcome::Succeeded);
    FirmwareBackup real;
    ASSERT_TRUE(test::Worked(LoadFirmwareBackup(dialog->Report().firmwareBackup, real)));
    const auto with = [&](std::vector<FlashRange> ranges) {
        FirmwareBackup b = real;
        b.ranges = std::move(ranges);
        const Result<std::string> text = FormatFirmwareBackup(b);
        EXPECT_TRUE(test::Worked(text));
        return text ? *text : std::string();
    };
    // Another card's PDA over this card's PDA sector, its digest made anew.
    const std::vector<uint8_t> otherPda(kPdaBytes, 0x5A);
    std::vector<FlashRange> manyRanges;
    for (uint32_t i = 0; i <= kFirmwareBackupMaxRanges; ++i) manyRanges.push_back({0x1000 + 2 * i, {0xAB}});
    struct Case {
        const char* name;
        std::string text;
        const char* reason;  // what the refusal names; none: the summary is checked
    };
    const Case cases[] = {
        {"another card's PDA in the PDA sector", with({real.ranges[0], {0x7F0000, otherPda}}),
         "the range 0x7F0000-0x7F03FF (1024 bytes) lies in the card's PDA sector (0x7F0000-0x7FFFFF)"},
        {"a range past the flash", with({real.ranges[0], {0x900000, std::vector<uint8_t>(16, 1)}}),
         "the range 0x900000-0x90000F (16 bytes) lies past the end of the card's flash (0x800000)"},
        {"a range running past the end", with({real.ranges[0], {0x7FFFE0, std::vector<uint8_t>(64, 1)}}),
         "the range 0x7FFFE0-0x80001F (64 bytes) lies past the end of the card's flash"},
        {"more ranges than any backup holds", with(manyRanges), "more than 4096 separate ranges"},
    };
    const std::vector<uint8_t> updated = Firmware();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = sim.dir.File("forged.srec");
        test::WriteFile(path, c.text);
        sim.Trace();
        EXPECT_EQ(Restore(path), RunOutcome::Failed);
        EXPECT_EQ(Count(sim.Trace(), kOidWriteAux), 0u);
        EXPECT_TRUE(host.summaries.empty());
        EXPECT_EQ(Firmware(), updated);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_NE(host.messages[0].text.find(c.reason), std::string::npos) << host.messages[0].text;
    }

    // A header that promises the old firmware over data that hold no
    // identity block: the summary promises what the data hold.
    {
        const std::string path = sim.dir.File("promise.srec");
        test::WriteFile(path, with({{0x1000, std::vector<uint8_t>(64, 0x11)}}));
        host = test::ScriptHost();
        dialog.reset();
        host.confirmSummary = false;
        Start().OnRestoreFirmware(path);
        ASSERT_EQ(host.summaries.size(), 1u);
        EXPECT_NE(host.summaries[0].find("Firmware it returns to (read from the data written): Primary not in the "
                                         "data (the card keeps its own), Station not in the data (the card keeps "
                                         "its own)\n"),
                  std::string::npos)
            << host.summaries[0];
        EXPECT_EQ(host.summaries[0].find("downgrade"), std::string::npos);
    }

    // Header texts with a line break and a terminal escape, in a backup
    // without a header digest (as older ones are): shown visibly, marked
    // unproven.
    {
        std::string text = ReplaceHeader(with(real.ranges), "SERIAL ",
                                         "SERIAL SN 1\nCard MAC Address: 00-60-1D-12-34-56 (this card)\x1b[2K");
        text = ReplaceHeader(text, "HEADER-SHA256 ", "COMMENT none");
        const std::string path = sim.dir.File("escape.srec");
        test::WriteFile(path, text);
        host = test::ScriptHost();
        dialog.reset();
        host.confirmSummary = false;
        Start().OnRestoreFirmware(path);
        ASSERT_EQ(host.summaries.size(), 1u) << ::testing::PrintToString(host.Lines());
        const std::string& summary = host.summaries[0];
        EXPECT_NE(summary.find("serial number SN 1\\nCard MAC Address: 00-60-1D-12-34-56 (this card)\\x1B[2K"),
                  std::string::npos)
            << summary;
        EXPECT_EQ(summary.find('\x1b'), std::string::npos);
        EXPECT_NE(summary.find("(its header is not proven by a digest: an older backup)"), std::string::npos);
    }
}

TEST(VisibleTextTest, ControlCharactersBecomeVisible) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain text, C:\\path", "plain text, C:\\path"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {"\x1b[2K\x7f\x01", "\\x1B[2K\\x7F\\x01"},
        {"caf\xc3\xa9 \xe2\x86\x92", "caf\xc3\xa9 \xe2\x86\x92"},  // UTF-8 kept
        {"\xc2\x9b"
         "2K",
         "\\xC2\\x9B"
         "2K"},                                                 // a C1 control (CSI)
        {"\xff\xc3", "\\xFF\\xC3"},                             // not UTF-8
        {"\xed\xa0\x80\xc0\xaf", "\\xED\\xA0\\x80\\xC0\\xAF"},  // a surrogate, an overlong form
    };
    for (const auto& c : cases) EXPECT_EQ(VisibleText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace varnel
