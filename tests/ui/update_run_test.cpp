// The update run, from the file list to a programmed card, with every stop
// point of the run.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "card/adapter.h"
#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "tests/support/dialog_fixture.h"
#include "tests/support/run_outcome.h"

namespace varnel {
namespace {

using test::DialogTest;

class UpdateRun : public DialogTest {};

TEST_F(UpdateRun, StopPointsWriteNothingAndCloseTheAdapter) {
    test::TempDir files;
    test::WriteFile(files.File("bad.hex"), "S70500000000FB\n");
    test::WriteFile(files.File("bad.pda"), "12345\n");
    test::WriteFile(files.File("domain50.pda"), "7 0103 1 0050 0 0 0 0\n");
    std::string big;
    // 51 records of 10 words: 510 words, as many as a .pda file can hold.
    for (uint16_t code = 0x2000; code < 0x2000 + 51; ++code) big += "9 " + std::to_string(code) + " 0 0 0 0 0 0 0 0\n";
    test::WriteFile(files.File("big.pda"), big);
    sample::ImageLayout ram = sample::StationImage(sample::ReleaseStation());
    std::string ramText = sample::ImageText(ram);
    ramText.replace(ramText.rfind("S705"), std::string::npos, "S70500001000EA\n");  // execution address 0x1000
    test::WriteFile(files.File("ram.hex"), ramText);
    sample::ImageLayout other = sample::StationImage(sample::ReleaseStation());
    other.platforms = {0x0003, 0x0008};
    test::WriteFile(files.File("other.hex"), sample::ImageText(other));

    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::function<void(test::ScriptHost&)> script;
        std::vector<std::string> messages;  // "CAPTION: TEXT"
        std::string status;
        RunOutcome outcome;
    };
    const Case cases[] = {
        {"empty list",
         {},
         nullptr,
         {"No files selected: You must select at least one file to update card"},
         "",
         RunOutcome::Failed},
        {"warning declined",
         {Release("station.hex")},
         [](test::ScriptHost& h) { h.confirmWarning = false; },
         {},
         "",
         RunOutcome::Cancelled},
        {"primary without station",
         {Release("primary.hex")},
         nullptr,
         {"Error: Error - Card requires Station code when updating Primary."},
         "Add Station code to the list.",
         RunOutcome::Failed},
        {"pda without station, cancelled",
         {Release("changes.pda")},
         nullptr,
         {"Warning: Warning - PDA changes will not take effect without station code. "},
         "User cancelled download.",
         RunOutcome::Cancelled},
        {"pda and primary without station",
         {Release("changes.pda"), Release("primary.hex")},
         [](test::ScriptHost& h) { h.Answer("Warning", {MessageAnswer::Ok}); },
         {"Warning: Warning - PDA changes will not take effect without station code. ",
          "Error: Error - Card requires Station code when updating Primary."},
         "Add Station code to the list.",
         RunOutcome::Failed},
        {"bad image",
         {Release("station.hex"), files.File("bad.hex")},
         nullptr,
         {"Cannot Continue: Error in file " + files.File("bad.hex") + "\nERROR: Line 1: Checksum failed.",
          "Cannot Continue: Error Loading Files. Update will not start."},
         "",
         RunOutcome::Failed},
        {"bad pda file",
         {files.File("bad.pda"), Release("station.hex")},
         nullptr,
         {": File not loaded. Format invalid?\nError on line 1: word too long.",
          "Error: Error loading " + files.File("bad.pda")},
         "",
         RunOutcome::Failed},
        {"unknown domain",
         {files.File("domain50.pda"), Release("station.hex")},
         nullptr,
         {"ERROR: Set Point and Integrator values could not be set"},
         "",
         RunOutcome::Failed},
        {"pda too large",
         {files.File("big.pda"), Release("station.hex")},
         nullptr,
         {"Cannot Continue: The merged PDA is too large for the card: its records take more than 512 words. Nothing "
          "was written to the card."},
         "",
         RunOutcome::Failed},
        {"ram image",
         {files.File("ram.hex")},
         nullptr,
         {"Cannot Continue: Sorry, RAM downloads are not supported."},
         "",
         RunOutcome::Failed},
        {"other platform",
         {files.File("other.hex")},
         nullptr,
         {"Incompatible Platform - OEM Notice: Error - This image will not work on the selected card. Current card is "
          "platform 5.  Image built for: 3, 8, "},
         "",
         RunOutcome::Failed},
        {"summary cancelled",
         {Release("station.hex")},
         [](test::ScriptHost& h) { h.confirmSummary = false; },
         {},
         "",
         RunOutcome::Cancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host = test::ScriptHost();
        dialog.reset();
        CVarnelDlg& dlg = Start(c.files);
        if (c.script) c.script(host);
        host.messages.clear();
        dlg.OnUpdate();
        EXPECT_EQ(host.Lines(), c.messages);
        if (!c.status.empty()) {
            EXPECT_EQ(dlg.Status(), c.status);
        }
        EXPECT_EQ(test::Outcome(dlg), c.outcome);
        EXPECT_EQ(Writes(), 0u);
        EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
        const bool checked = c.outcome == RunOutcome::Cancelled && std::string(c.name) == "summary cancelled";
        EXPECT_EQ(host.summaries.size(), checked ? 1u : 0u);
    }
}

TEST_F(UpdateRun, SummaryForACombinedImageAndAPdaFile) {
    CVarnelDlg& dlg = Start({Release("combined.hex"), Release("changes.pda")});
    host.confirmSummary = false;
    dlg.OnUpdate();
    ASSERT_EQ(host.summaries.size(), 1u);
    const std::string& summary = host.summaries[0];
    const std::string head = "Product Part Number: PN 7741-0203\n"
                             "  Serial Number: SN 99A01234\n"
                             "  MAC Address: 00-60-1D-12-34-56\n"
                             "  Current firmware version: Primary: 1.3.6   Station: 1.5.0\n"
                             "---------------------\n"
                             "1 PDA file(s) Loaded OK\n"
                             "Set Point and Integrator Values Calculated.\n"
                             "Changes to the card's PDA:\n"
                             "changed  0x0002 release  word 1\n"
                             "    was  0001\n"
                             "    now  0174\n";
    const std::string tail = ".pda\n"
                             "---------------------\n"
                             "Source File: \"" +
                             Release("combined.hex") +
                             "\"\n"
                             "Version information: Primary: 1.4.2, Station: 1.7.4\n"
                             "---------------------\n"
                             "Card firmware will be saved before writing, to: " +
                             (sim.dir.Path() / "backups").string() + "/flash-00-60-1D-12-34-56-";
    EXPECT_TRUE(summary.starts_with(head)) << summary;
    EXPECT_NE(summary.find(tail), std::string::npos) << summary;
    EXPECT_TRUE(summary.ends_with("Z.srec\n")) << summary;
    EXPECT_NE(
        summary.find(
            "\n    now  06ae 04b2 037e 0e89 05a1 0bc9 0390 0c65 0b3c 0b52 0da5 074d 06f1 0760 03c7 0cab 0336 047a "
            "0323 0df2 05a1 0e32 0661 0bba 0c87 0c73 0b09 0470 0d8a 0dea 0976 0243 0a9c\n"
            "Card PDA will be saved before writing, to: "),
        std::string::npos)
        << summary;
    EXPECT_EQ(host.warnings, (std::vector<std::string>{"Warning !!|Do not detach the STA in the period of firmware "
                                                       "downloaded.  If you do, that might cause a serious damage!"}));
}

// A .pda file is read when it is listed; the run takes those words only
// while the file is unchanged, and reads a changed one anew.
TEST_F(UpdateRun, APdaFileChangedAfterListingIsReadAnew) {
    test::TempDir files;
    const std::string pda = files.File("release.pda");
    test::WriteFile(pda, "2 0002 0174\n");
    CVarnelDlg& dlg = Start({Release("station.hex"), pda});
    ASSERT_FALSE(dlg.Files()[0].pdaWords.empty());
    test::WriteFile(pda, "2 0002 0175\n; longer now\n");
    host.confirmSummary = false;
    dlg.OnUpdate();
    ASSERT_TRUE(dlg.Report().pdaWrite);
    const auto change = std::find_if(dlg.Report().pdaChanges.begin(), dlg.Report().pdaChanges.end(),
                                     [](const PdaChange& c) { return c.code == 0x0002; });
    ASSERT_NE(change, dlg.Report().pdaChanges.end());
    EXPECT_EQ(change->after, (std::vector<uint16_t>{0x0175}));
}

TEST_F(UpdateRun, TheReleaseUpdatesTheCard) {
    // The card's PDA as it was, for the backup.
    CPda before;
    sample::FillCardPda(before);

    CVarnelDlg& dlg = Start();
    host.openFile = Release("OEMRelease.oem");
    dlg.OnDownload();
    ASSERT_EQ(dlg.Files().size(), 3u);
    dlg.OnUpdate();
    // The success box and the status's tooltip name the backup with its
    // whole path; the status box by its file name, within its two lines.
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Update Complete: Update Successful!   \n\nCard PDA saved to " +
                                                      dlg.Report().backup + "\nCard firmware saved to " +
                                                      dlg.Report().firmwareBackup}));
    EXPECT_EQ(test::Outcome(dlg), RunOutcome::Succeeded);
    // The status box names the PDA backup by its file name, within its two
    // lines; the full status (the tooltip, the terminal, the history) names
    // both backups with their whole paths.
    EXPECT_EQ(dlg.Status(),
              "Update Successful! Card PDA saved to " + std::filesystem::path(dlg.Report().backup).filename().string());
    EXPECT_LE(dlg.Status().size(), CVarnelDlg::kStatusBoxChars);
    EXPECT_EQ(dlg.FullStatus(), "Update Successful! Card PDA saved to " + dlg.Report().backup +
                                    ". Card firmware saved to " + dlg.Report().firmwareBackup);
    EXPECT_EQ(host.lastView.status, dlg.Status());
    EXPECT_EQ(host.lastView.statusDetail, dlg.FullStatus());
    EXPECT_EQ(dlg.Report().status, dlg.FullStatus());
    EXPECT_EQ(host.waitMessages,
              (std::vector<std::string>{"Reading the card's firmware for its backup...", "Flash update in progress...",
                                        "Flash update in progress..."}));
    EXPECT_EQ(host.waitDetails,
              (std::vector<std::string>{"", "Image 1 of 2: primary.hex", "Image 2 of 2: station.hex"}));
    EXPECT_FALSE(host.waitShown);
    EXPECT_TRUE(host.mainVisible && host.mainEnabled);
    EXPECT_EQ(host.cursors.back(), Cursor::Arrow);
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);

    // The closing requests end the writing; the restarted card is then
    // asked only for its firmware versions, for the history.
    const std::vector<uint32_t> oids = test::Oids(sim.Trace());
    const auto end = std::find(oids.rbegin(), oids.rend(), kOidEndCardAccess).base();
    ASSERT_GE(end - oids.begin(), 3);
    EXPECT_EQ(std::vector<uint32_t>(end - 3, end),
              (std::vector<uint32_t>{kOidCheckSupport, kOidUnblockProtocols, kOidEndCardAccess}));
    EXPECT_EQ(std::vector<uint32_t>(end, oids.end()), (std::vector<uint32_t>{kOidEnableAux, kOidReadRid, kOidReadRid}));

    // The card runs the new firmware and holds the merged PDA with the
    // derived set point.
    std::string versions;
    ASSERT_TRUE(dlg.Adapter().GetFirmwareVersions(versions, 1));
    EXPECT_EQ(versions, "Primary: 1.4.2   Station: 1.7.4");
    CPda expected;
    sample::FillCardPda(expected);
    ASSERT_TRUE(MergePdaTextFile(expected, Release("changes.pda")));
    ASSERT_EQ(ConfigureSetPointAndIntegrator(expected), 1);
    ASSERT_TRUE(dlg.Adapter().Open(1, false));
    CPda card;
    ASSERT_TRUE(dlg.Adapter().ReadCardPda(card));
    EXPECT_EQ(card.GetRecords(), expected.GetRecords());

    // The flash holds the plugged images byte for byte.
    for (const char* name : {"primary.hex", "station.hex"}) {
        CFirmwareFile file;
        CFirmwareImage image;
        CPlugList plugs;
        ASSERT_NE(file.LoadFile(Release(name), &image, &plugs), 0);
        file.PlugImage(image, plugs, expected, Release(name));
        for (uint16_t n = 1; n <= image.BlockCount(); ++n) {
            std::vector<uint8_t> flash(image.Block(n).length);
            EXPECT_TRUE(sim.Machine().Card(1)->ReadFlash(image.Block(n).address, flash.data(), image.Block(n).length));
            EXPECT_EQ(flash, image.BlockBytes(n)) << name << " block " << n;
        }
    }

    // The card's PDA as read before the update was saved first.
    ASSERT_FALSE(dlg.Report().backup.empty());
    CPda saved;
    ASSERT_TRUE(MergePdaTextFile(saved, dlg.Report().backup));
    EXPECT_EQ(saved.GetRecords(), before.GetRecords());

    // A second update at once keeps the first backup.
    const std::string first = dlg.Report().backup;
    const std::string firstText = test::ReadFile(first);
    dlg.OnUpdate();
    EXPECT_EQ(test::Outcome(dlg), RunOutcome::Succeeded);
    EXPECT_NE(dlg.Report().backup, first);
    EXPECT_EQ(test::ReadFile(first), firstText);
}

TEST_F(UpdateRun, ACardFaultInTheMiddleFailsTheUpdate) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.oidStatus = {{kOidWriteAux, 0xC0000001, 30}}; });
    CVarnelDlg& dlg = Start({Release("station.hex")});
    dlg.OnUpdate();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Programming error.: Error programming block. Continue anyway?",
                                                      ": Update failed while writing to card!"}));
    EXPECT_EQ(dlg.FullStatus(), "Update FAILED. Card firmware saved to " + dlg.Report().firmwareBackup);
    EXPECT_EQ(test::Outcome(dlg), RunOutcome::Failed);
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
}

TEST_F(UpdateRun, AFailedPdaWriteProgramsNoImage) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.writeProtected = {{0x7F0000, 0x7F0001}}; });
    CVarnelDlg& dlg = Start({Release("changes.pda"), Release("station.hex")});
    dlg.OnUpdate();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"PDA Update Complete: PDA Update FAILED"}));
    EXPECT_EQ(host.waitMessages, (std::vector<std::string>{"Reading the card's firmware for its backup..."}));
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
    EXPECT_TRUE(host.mainEnabled);
    EXPECT_EQ(host.cursors.back(), Cursor::Arrow);
}

TEST_F(UpdateRun, NoBackupNoPdaWrite) {
    CVarnelDlg& dlg = Start({Release("changes.pda"), Release("station.hex")});
    test::WriteFile(sim.dir.File("not-a-directory"), "");
    dlg.SetBackupDirectory(sim.dir.Path() / "not-a-directory");
    dlg.OnUpdate();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, "Cannot Continue");
    EXPECT_TRUE(host.messages[0].text.starts_with("The card's PDA could not be saved before writing a new one, so "
                                                  "nothing was written to the card."));
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
}

TEST_F(UpdateRun, AnImageTheReaderCannotHoldIsAnInternalError) {
    test::TempDir files;
    std::string text;
    for (uint32_t a = 0; a < 210000; a += 200) text += test::SRecord('3', a, 4, std::vector<uint8_t>(200, 0x5A)) + "\n";
    test::WriteFile(files.File("huge.hex"), text + "S70500000000FA\n");
    CVarnelDlg& dlg = Start({files.File("huge.hex")});
    dlg.OnUpdate();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Internal Error.: Memory allocation error. Cannot continue",
                                                      "Cannot Continue: Error in file " + files.File("huge.hex"),
                                                      "Cannot Continue: Error Loading Files. Update will not start."}));
    EXPECT_EQ(Writes(), 0u);
}

TEST_F(UpdateRun, AnOldDriverStopsTheUpdateBeforeTheCardIsRead) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].driverVersion = -1; });
    CVarnelDlg& dlg = Start({Release("station.hex")});
    const std::string old = ": This program requires a newer driver version to update cards. Updating is disabled.";
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{old}));  // at selection
    host.messages.clear();
    dlg.OnUpdate();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{old}));
    EXPECT_TRUE(host.summaries.empty());
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
}

}  // namespace
}  // namespace varnel
