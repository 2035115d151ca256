// The card's production data is never lost: what the run does when it
// cannot read the card's PDA or type, what the backup keeps, and what the
// dialog holds after a run that stopped.

#include <gtest/gtest.h>

#include "card/adapter.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "platform/atomic_file.h"
#include "tests/support/dialog_fixture.h"
#include "tests/support/run_outcome.h"

namespace varnel {
namespace {

using test::DialogTest;

class PdaSafety : public DialogTest {
protected:
    // The PDA copy in the card's flash.
    std::vector<uint8_t> FlashPda() {
        std::vector<uint8_t> bytes(kPdaBytes);
        EXPECT_TRUE(sim.Machine().Card(1)->ReadFlash(kPdaAddressType6405, bytes.data(), kPdaBytes));
        return bytes;
    }
    // The records of the PDA copy in the card's flash (none when it is not
    // a valid copy).
    CPda::Records FlashPdaRecords() {
        AuxRecord record{};
        std::copy_n(FlashPda().begin(), kPdaBytes, record.data);
        CPda written;
        EXPECT_TRUE(LoadPdaCopy(written, record));
        return written.GetRecords();
    }
    void EraseFlashPda() {
        const std::vector<uint8_t> erased(kPdaBytes, 0xFF);
        const Result<> written = sim.Machine().Card(1)->WriteFlash(kPdaAddressType6405, erased.data(), kPdaBytes);
        ASSERT_TRUE(written.Ok()) << written.Reason();
    }
    // The PDA backups (the firmware backups beside them are not counted).
    std::vector<std::filesystem::path> Backups() {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(sim.dir.Path() / "backups", ec))
            if (e.path().extension() != ".srec") files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }
};

const char* const kUnreadable =
    "Cannot Continue: The card's production data (PDA) could not be read, so nothing was written to the card.";

TEST_F(PdaSafety, WithoutTheCardsPdaNothingIsWrittenUnlessTheUserReplacesIt) {
    struct Case {
        const char* name;
        bool erased;  // both copies hold no PDA (else the run's Aux read fails)
        std::vector<std::string> files;
        std::optional<MessageAnswer> answer;  // to "Replace the Card's PDA?"
        std::string firstMessage;
        RunOutcome outcome;
    };
    const Case cases[] = {
        {"read fails, image only", false, {"station.hex"}, {}, kUnreadable, RunOutcome::Failed},
        {"read fails, partial .pda", false, {"changes.pda", "station.hex"}, {}, kUnreadable, RunOutcome::Failed},
        {"erased, partial .pda", true, {"changes.pda", "station.hex"}, {}, kUnreadable, RunOutcome::Failed},
        // The question's default (Enter, no terminal) is No.
        {"erased, whole .pda, default answer",
         true,
         {"card.pda", "station.hex"},
         {},
         "Replace the Card's PDA?: The card's production data (PDA) could not be read.",
         RunOutcome::Cancelled},
        {"read fails, whole .pda, Yes: no backup, no write",
         false,
         {"card.pda", "station.hex"},
         MessageAnswer::Yes,
         "Replace the Card's PDA?: The card's production data (PDA) could not be read.",
         RunOutcome::Failed},
        {"erased, whole .pda, Yes",
         true,
         {"card.pda", "station.hex"},
         MessageAnswer::Yes,
         "Replace the Card's PDA?: The card's production data (PDA) could not be read.",
         RunOutcome::Succeeded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshCard();
        Reconfigure([&](sim::MachineConfig& m) {
            // The PDA read at selection works; the run's own read fails.
            if (!c.erased) m.adapters[1].card->faults.oidStatus = {{kOidReadAux, 0xC0000001, 2}};
            else m.adapters[1].card->ramPda = "erased";
        });
        if (c.erased) EraseFlashPda();
        const std::vector<uint8_t> before = FlashPda();
        std::vector<std::string> files;
        for (const std::string& f : c.files) files.push_back(Release(f));
        host.Answer("Developer Option", {MessageAnswer::Ok});  // select the card all the same
        CVarnelDlg& dlg = Start(files);
        if (c.answer) host.Answer("Replace the Card's PDA?", {*c.answer});
        host.messages.clear();
        std::filesystem::remove_all(sim.dir.Path() / "backups");
        dlg.OnUpdate();
        for (const Message& m : host.messages)
            if (m.caption == "Replace the Card's PDA?") {
                EXPECT_TRUE(m.safeDefault);
            }

        // The invalid copies are shown first when they could be read.
        std::vector<std::string> lines = host.Lines();
        std::erase_if(lines, [](const std::string& l) { return l.starts_with("Invalid PDA data:"); });
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(lines[0].starts_with(c.firstMessage)) << lines[0];
        EXPECT_EQ(test::Outcome(dlg), c.outcome);
        EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
        if (c.outcome != RunOutcome::Succeeded) {
            EXPECT_EQ(Writes(), 0u);
            EXPECT_TRUE(host.summaries.empty());
            EXPECT_EQ(dlg.Status(),
                      c.answer ? "PDA backup failed! Nothing was written." : "PDA read error! Nothing was written.");
            // The dialog shows no production data it does not have.
            EXPECT_TRUE(dlg.CardPda().Empty());
            EXPECT_EQ(dlg.View().pdaMac, "");
            continue;
        }
        // The recovery writes the .pda files' PDA, and the erased flash copy
        // is kept byte for byte beside the backup.
        ASSERT_EQ(host.summaries.size(), 1u);
        EXPECT_TRUE(host.summaries[0].starts_with("Card PDA could not be read: it is replaced by the PDA of the .pda "
                                                  "files.\n  MAC Address: 00-60-1D-12-34-56\n"));
        const auto backups = Backups();
        ASSERT_EQ(backups.size(), 2u);
        EXPECT_EQ(backups[0].extension(), ".bin");
        EXPECT_EQ(test::ReadFile(backups[0].string()), std::string(before.begin(), before.end()));
        EXPECT_EQ(backups[1].string(), dlg.Report().backup);
        CPda expected;
        ASSERT_TRUE(MergePdaTextFile(expected, Release("card.pda")));
        ASSERT_GE(ConfigureSetPointAndIntegrator(expected), 0);
        EXPECT_EQ(FlashPdaRecords(), expected.GetRecords());
    }
}

TEST_F(PdaSafety, TheBackupKeepsTheCopyTheWriteReplaces) {
    // The card runs with another PDA than the one in its flash (it was
    // written since the last reset): the backup is of the flash copy.
    CPda running;
    sample::CardIdentity other;
    other.serialNumber = "SN RUNNING1";
    sample::FillCardPda(running, other);
    Reconfigure([&](sim::MachineConfig& m) {
        m.adapters[1].card->ramPda = "words";
        m.adapters[1].card->ramPdaWords = running.ToWords();
    });
    CPda inFlash;
    sample::FillCardPda(inFlash);

    CVarnelDlg& dlg = Start({Release("changes.pda"), Release("station.hex")});
    dlg.OnUpdate();
    ASSERT_EQ(test::Outcome(dlg), RunOutcome::Succeeded) << ::testing::PrintToString(host.Lines());
    CPda saved;
    ASSERT_TRUE(MergePdaTextFile(saved, dlg.Report().backup));
    EXPECT_EQ(saved.GetRecords(), inFlash.GetRecords());
    EXPECT_EQ(Backups().size(), 1u);  // a valid flash copy needs no raw file
    // The summary said where it would go, before it was written.
    EXPECT_NE(host.summaries.at(0).find("Card PDA will be saved before writing, to: " + dlg.Report().backup + "\n"),
              std::string::npos);
}

TEST_F(PdaSafety, ABackupNeverTakesANameAnotherRunTook) {
    // Another run saves its backup under the planned name while the summary
    // is open (two runs in the same second): that backup stays, and this
    // run's goes under the next free name, which the status and the report
    // give. The update and the restore alike.
    const struct {
        const char* name;
        std::function<void(CVarnelDlg&)> run;
    } cases[] = {
        {"update", [](CVarnelDlg& dlg) { dlg.OnUpdate(); }},
        {"pda restore", [this](CVarnelDlg& dlg) { dlg.OnRestorePda(Release("card.pda"), false); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(sim.dir.Path() / "backups");
        std::string planned;
        host.onSummary = [&planned](const std::string& summary) {
            const std::string label = "Card PDA will be saved before writing, to: ";
            const size_t at = summary.find(label);
            ASSERT_NE(at, std::string::npos) << summary;
            planned = summary.substr(at + label.size(), summary.find('\n', at) - at - label.size());
            std::filesystem::create_directories(std::filesystem::path(planned).parent_path());
            test::WriteFile(planned, "; another run's backup\n");
        };
        dialog.reset();
        CVarnelDlg& dlg = Start({Release("card.pda"), Release("station.hex")});
        c.run(dlg);
        host.onSummary = nullptr;
        EXPECT_EQ(test::Outcome(dlg), RunOutcome::Succeeded) << dlg.Status();
        ASSERT_TRUE(planned.ends_with(".pda")) << planned;
        const std::string next = planned.substr(0, planned.size() - 4) + "-2.pda";
        EXPECT_EQ(test::ReadFile(planned), "; another run's backup\n");
        EXPECT_EQ(dlg.Report().backup, next);
        EXPECT_EQ(dlg.Report().backup, next);
        EXPECT_NE(dlg.FullStatus().find("Card PDA saved to " + next), std::string::npos) << dlg.FullStatus();
        uint16_t words[PdaMaxWords];
        EXPECT_GT(ReadPdaTextFile(words, next.c_str()), 0);
        EXPECT_EQ(Backups().size(), 2u);
    }
    // The primitive: a taken name is never written over, and no temporary
    // file is left.
    test::TempDir dir;
    test::WriteFile(dir.File("b.pda"), "first");
    bool taken = false;
    const Result<> second = WriteNewFile(dir.File("b.pda"), "second", &taken);
    EXPECT_FALSE(second.Ok());
    EXPECT_TRUE(taken) << second.Reason();
    const Result<> third = WriteNewFile(dir.File("c.pda"), "third", &taken);
    EXPECT_TRUE(third.Ok()) << third.Reason();
    EXPECT_FALSE(taken);
    EXPECT_EQ(test::ReadFile(dir.File("b.pda")), "first");
    EXPECT_EQ(test::ReadFile(dir.File("c.pda")), "third");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

TEST_F(PdaSafety, ARunThatStopsLeavesTheCardsPdaInTheDialog) {
    test::TempDir files;
    test::WriteFile(files.File("new-id.pda"), "4 0101 1102 3322 5544\n7 0003 4e53 3020 3030 3030 3030 0000\n");
    CVarnelDlg& dlg = Start({files.File("new-id.pda"), Release("station.hex")});
    const std::string mac = dlg.View().pdaMac;
    const std::string serial = dlg.View().pdaSerial;
    ASSERT_EQ(mac, "00-60-1D-12-34-56");
    host.confirmSummary = false;
    dlg.OnUpdate();
    ASSERT_EQ(test::Outcome(dlg), RunOutcome::Cancelled);
    EXPECT_EQ(dlg.View().pdaMac, mac);
    EXPECT_EQ(dlg.View().pdaSerial, serial);
    EXPECT_EQ(host.lastView.pdaMac, mac);
    CPda card;
    sample::FillCardPda(card);
    EXPECT_EQ(dlg.CardPda().GetRecords(), card.GetRecords());
    EXPECT_EQ(Writes(), 0u);
}

TEST_F(PdaSafety, AnAssumedCardTypeWritesNoPda) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.unreadableRids = {kRidCardType}; });
    CVarnelDlg& dlg = Start({Release("changes.pda"), Release("station.hex")});
    EXPECT_TRUE(dlg.Adapter().m_bCardTypeAssumed);
    host.messages.clear();
    dlg.OnUpdate();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{
                                "Cannot Continue: The card's type could not be read, so where its PDA lies in flash "
                                "is not known. Nothing was written to the card."}));
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
    EXPECT_EQ(dlg.Status(), "Card type unknown! Nothing was written.");

    // Images alone are placed by their own addresses, not by the card type.
    host.messages.clear();
    dialog.reset();
    CVarnelDlg& images = Start({Release("station.hex")});
    images.OnUpdate();
    EXPECT_EQ(test::Outcome(images), RunOutcome::Succeeded);
    EXPECT_EQ(images.FullStatus(), "Update Successful! Card firmware saved to " + images.Report().firmwareBackup);
    // The success of that run is not shown for the next one, which stops.
    host.confirmSummary = false;
    images.OnUpdate();
    EXPECT_EQ(test::Outcome(images), RunOutcome::Cancelled);
    EXPECT_EQ(images.Status(), "");
    EXPECT_EQ(host.lastView.status, "");
}

TEST_F(PdaSafety, TheBackupAndTheWriteAreOfTheCardAsAnotherProcessLeftIt) {
    // The desktop program has the card selected (its PDA read) when another
    // process restores another card's PDA onto it.
    CVarnelDlg& dlg = Start({Release("changes.pda"), Release("station.hex")});
    CPda restored;
    sample::CardIdentity other;
    other.serialNumber = "SN 99A09999";
    sample::FillCardPda(restored, other);
    {
        const std::unique_ptr<sim::SimMachine> loaded = test::LoadMachine(sim.MachineDir());
        sim::SimMachine& process = *loaded;
        test::ScriptHost otherHost;
        CAdapter restore(process, process, otherHost);
        ASSERT_TRUE(restore.Open(1, true));
        ASSERT_TRUE(restore.WriteCardPda(restored, true, false));
        ASSERT_TRUE(restore.EndCardAccess());
        restore.Close();
    }

    dlg.OnUpdate();
    ASSERT_EQ(test::Outcome(dlg), RunOutcome::Succeeded) << ::testing::PrintToString(host.Lines());
    // The backup holds what the card held, and the update changed that.
    CPda saved;
    ASSERT_TRUE(MergePdaTextFile(saved, dlg.Report().backup));
    EXPECT_EQ(saved.GetRecords(), restored.GetRecords());
    CPda expected;
    sample::FillCardPda(expected, other);
    ASSERT_TRUE(MergePdaTextFile(expected, Release("changes.pda")));
    ASSERT_GE(ConfigureSetPointAndIntegrator(expected), 0);
    EXPECT_EQ(FlashPdaRecords(), expected.GetRecords());
}

}  // namespace
}  // namespace varnel
