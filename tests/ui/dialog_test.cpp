// The main dialog: adapter selection and its states, the file list and the
// OEM link file, the compatibility checks, and the version queries.

#include <gtest/gtest.h>

#include <regex>

#include "card/adapter.h"
#include "image/firmware_file.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "tests/support/dialog_fixture.h"
#include "update/compatibility.h"
#include "update/oem_link_file.h"

namespace varnel {
namespace {

using test::DialogTest;

class MainDialog : public DialogTest {};

TEST_F(MainDialog, StartsWithTheFirstValidAdapterOpened) {
    CVarnelDlg& dlg = Start();
    EXPECT_TRUE(dlg.AdapterSelected());
    EXPECT_EQ(dlg.SelectedAdapter(), 1);
    EXPECT_EQ(dlg.View().opened, "Opened: 802.11b Wireless LAN PC Card");
    EXPECT_EQ(dlg.View().pdaMac, "00-60-1D-12-34-56");
    EXPECT_EQ(dlg.View().ndisMac, "00-60-1D-12-34-56");
    EXPECT_EQ(dlg.View().pdaSerial, "SN 99A01234");
    EXPECT_EQ(dlg.PartNumber(), "PN 7741-0203");
    // A run writes every piece, reads nothing back and backs up the firmware
    // unless told otherwise.
    EXPECT_TRUE(dlg.ForceAll());
    EXPECT_FALSE(dlg.Verify());
    EXPECT_TRUE(dlg.FirmwareBackupWanted());
    EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
    EXPECT_TRUE(std::regex_match(dlg.View().version,
                                 std::regex(R"(Ver\. \d+\.\d+\.\d+\.\d+  \([A-Z][a-z]{2} \d{1,2} \d{4}\))")))
        << dlg.View().version;
    EXPECT_TRUE(host.lastView.updateEnabled);
    EXPECT_FALSE(host.lastView.adapterListVisible);
    EXPECT_TRUE(host.lastView.openedVisible);
    EXPECT_EQ(host.lastView.adapters, (std::vector<std::string>{"802.11b Wireless LAN PC Card"}));

    // "To Catch Specified Adapter": the list again, nothing opened.
    dlg.OnCatchAdapter();
    EXPECT_FALSE(dlg.AdapterSelected());
    EXPECT_TRUE(host.lastView.adapterListVisible);
    EXPECT_FALSE(host.lastView.updateEnabled);
    EXPECT_EQ(dlg.View().pdaMac, "");
    EXPECT_EQ(dlg.View().ndisMac, "");
    EXPECT_EQ(dlg.Status(), "No adapter selected.");
}

TEST_F(MainDialog, AdapterSelectionFailures) {
    // No valid adapter at all.
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].answersPrivate = false; });
    CVarnelDlg& none = Start();
    EXPECT_EQ(host.lastView.adapters, (std::vector<std::string>{"<No adapters detected>"}));
    EXPECT_FALSE(none.AdapterSelected());
    none.SelectAdapter(0);
    EXPECT_EQ(none.Status(), "Sorry, that adapter could not be opened.");
    EXPECT_EQ(host.lastView.selectedAdapter, -1);

    // An unsupported card type.
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->type = 7; });
    host.messages.clear();
    CVarnelDlg& unsupported = Start();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{": This program is not compatible with the selected hardware."}));
    EXPECT_FALSE(unsupported.AdapterSelected());
    EXPECT_FALSE(host.lastView.updateEnabled);
    // The window says why nothing can be done, and highlights no entry as
    // if it were open.
    EXPECT_EQ(host.lastView.status, "That card is not compatible with this program: choose another adapter.");
    EXPECT_EQ(host.lastView.selectedAdapter, -1);
    EXPECT_TRUE(host.lastView.adapterListVisible);

    // An invalid PDA: Cancel leaves the adapter unselected, OK goes on with
    // an empty PDA.
    for (const MessageAnswer answer : {MessageAnswer::Cancel, MessageAnswer::Ok}) {
        Reconfigure([](sim::MachineConfig& m) {
            m.adapters[1].card->ramPda = "words";
            m.adapters[1].card->ramPdaWords = {2, 0x0300, 1, 2, 0, 0x1234};
        });
        host = test::ScriptHost();
        host.Answer("Developer Option", {answer});
        CVarnelDlg& dlg = Start();
        ASSERT_EQ(host.messages.size(), 2u);
        EXPECT_EQ(host.messages[0].caption, "Invalid PDA data:");
        EXPECT_EQ(host.Lines()[1], "Developer Option: WARNING! PDA read from card was invalid. Continue anyway?");
        EXPECT_EQ(dlg.AdapterSelected(), answer == MessageAnswer::Ok);
        if (answer == MessageAnswer::Ok) {
            EXPECT_TRUE(dlg.CardPda().Empty());
            EXPECT_EQ(host.lastView.selectedAdapter, 0);
        } else {
            EXPECT_EQ(host.lastView.status, "Adapter not opened: the PDA read from its card was invalid.");
            EXPECT_EQ(host.lastView.selectedAdapter, -1);
            EXPECT_EQ(host.lastView.pdaMac, "");
        }
        EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
    }
}

TEST_F(MainDialog, AFailedLibraryCheckDisablesTheAdapters) {
    // The library answers its start-up probe with an error, yet would open
    // the card: the program keeps to its word and lists no adapter.
    for (const uint32_t code : {2u, 5u, 0x7Eu}) {
        Reconfigure([&](sim::MachineConfig& m) { m.startupError = code; });
        host = test::ScriptHost();
        CVarnelDlg& dlg = Start();
        const auto lines = host.Lines();
        ASSERT_EQ(lines.size(), 2u) << code;
        EXPECT_EQ(lines[1], "Error - file(s) not found: Could not find/load the necessary system files. "
                            "Functionality is disabled.");
        EXPECT_EQ(host.lastView.adapters, (std::vector<std::string>{"<No adapters detected>"})) << code;
        EXPECT_FALSE(dlg.AdapterSelected());
        EXPECT_EQ(host.lastView.status, "Functionality is disabled: the system files could not be loaded.");
        dlg.OnCatchAdapter();  // asking again finds none either
        EXPECT_EQ(host.lastView.adapters, (std::vector<std::string>{"<No adapters detected>"})) << code;
        EXPECT_EQ(host.lastView.status, CVarnelDlg::kDisabledStatus);
        EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
        EXPECT_TRUE(sim.Machine().RequestCounts(1).empty());
    }
}

TEST_F(MainDialog, FileListRules) {
    CVarnelDlg& dlg = Start();
    dlg.AddFile(Release("combined.hex"));
    dlg.AddFile(Release("station.hex"));  // replaces the combined image
    dlg.AddFile(Release("changes.pda"));
    dlg.AddFile(Release("changes.pda"));  // the same file once
    const auto& entries = dlg.Files();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, kFilePda);  // PDA files first
    EXPECT_EQ(entries[0].text, "      / 174");
    EXPECT_EQ(entries[1].type, kFileStation);
    EXPECT_EQ(entries[1].text, "1.7.4");
    EXPECT_TRUE(host.messages.empty());

    dlg.AddFile(Release("primary.hex"));
    ASSERT_EQ(entries.size(), 3u);
    dlg.AddFile(Release("card.pda"));  // a fourth: the list is taken over
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{": The new firmware files will be taken over!!"}));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "5 / 1");
    EXPECT_EQ(dlg.Files().back().path, Release("card.pda"));

    // Unreadable or unknown files are listed as what could be read.
    dlg.ClearFiles();
    dlg.AddFile("/nonexistent/firmware.hex");
    dlg.AddFile("/nonexistent/data.PDA");
    EXPECT_EQ(entries[0].type, kFilePda);
    EXPECT_EQ(entries[0].text, "     ");
    EXPECT_EQ(entries[1].type, kFileUnknownImage);
    EXPECT_EQ(entries[1].text, "Unknown");

    // Paths are kept whole, however long.
    const std::string longPath = "/" + std::string(300, 'x') + "/station.hex";
    dlg.AddFile(longPath);
    ASSERT_EQ(dlg.Files().size(), 3u);
    EXPECT_EQ(dlg.Files()[2].path, longPath);
}

TEST_F(MainDialog, LinkFileRules) {
    test::TempDir dir;
    const auto write = [&](const std::string& name, const std::string& contents) {
        test::WriteFile(dir.File(name), contents);
        return static_cast<uint32_t>(ByteSum(contents));
    };
    const std::string a = test::ReadFile(Release("primary.hex"));
    const std::string b = test::ReadFile(Release("station.hex"));
    const std::string c = test::ReadFile(Release("changes.pda"));
    const uint32_t sum = write("A1.hex", a) + write("B22.hex", b) + write("C333.pda", c);
    struct Case {
        const char* name;
        std::string linkName;
        std::string contents;
        std::vector<std::string> initial;
        std::vector<std::string> messages;
        std::vector<std::string> listed;  // file names, in list order
    };
    const std::string names = "A1.hexB22.hexC333.pda";
    const Case cases[] = {
        {"names of different lengths",
         "OEMRelease.oem",
         names + " " + std::to_string(sum),
         {},
         {},
         {"C333.pda", "A1.hex", "B22.hex"}},
        {"total off by one",
         "OEMRelease.oem",
         names + " " + std::to_string(sum + 1),
         {},
         {": The firmware files had been modified!!"},
         {}},
        {"wrong letter case",
         "OEMrelease.oem",
         names + " " + std::to_string(sum),
         {},
         {": This is not the specified linking file for Firmware update!"},
         {}},
        {"one entry of another kind",
         "OEMRelease.oem",
         names + " " + std::to_string(sum),
         {Release("card.pda")},
         {": The new firmware files will be taken over!!"},
         {"C333.pda"}},
        {"three entries",
         "OEMRelease.oem",
         names + " " + std::to_string(sum),
         {Release("card.pda"), Release("primary.hex"), Release("station.hex")},
         {": The new firmware files will be taken over!!"},
         {"C333.pda", "A1.hex", "B22.hex"}},
        {"four dots",
         "OEMRelease.oem",
         "A.1.hexB22.hexC333.pda 1",
         {},
         {"Error: The link file " + dir.File("OEMRelease.oem") + " cannot be used: not three file names."},
         {}},
        // A missing file would count 0: three of them would prove the sum 0.
        {"missing files",
         "OEMRelease.oem",
         "X1.hexX2.hexX3.pda 0",
         {},
         {"Error: The link file names " + dir.File("X1.hex") + ", which cannot be opened. Nothing was added."},
         {}},
        {"a folder",
         "OEMRelease.oem",
         "A1.hexB22.hexsub.pda " + std::to_string(sum - ByteSum(c)),
         {},
         {"Error: The link file names " + dir.File("sub.pda") + ", which cannot be opened. Nothing was added."},
         {}},
    };
    std::filesystem::create_directory(dir.File("sub.pda"));
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        dialog.reset();
        CVarnelDlg& dlg = Start(k.initial);
        host.messages.clear();
        test::WriteFile(dir.File(k.linkName), k.contents);
        host.openFile = dir.File(k.linkName);
        dlg.OnDownload();
        EXPECT_EQ(host.Lines(), k.messages);
        if (!k.listed.empty() || k.messages.size() == 1) {
            std::vector<std::string> listed;
            for (const FileEntry& e : dlg.Files())
                if (e.path.starts_with(dir.Path().string()))
                    listed.push_back(e.path.substr(dir.Path().string().size() + 1));
            EXPECT_EQ(listed, k.listed);
        }
        std::filesystem::remove(dir.File(k.linkName));
    }
    // The open-file dialog starts in the installation's Firmware folder.
    EXPECT_EQ(host.fileRequests.back().initialFile, "C:\\Program Files\\Varnel\\Firmware\\*.oem");
    EXPECT_EQ(host.fileRequests.back().filter, "Link File (*.oem)|*.oem|");
}

TEST_F(MainDialog, ARegistryPathTooLongForItsBufferIsNoPath) {
    for (const size_t length : {99u, 100u}) {
        const std::string path = "C:\\" + std::string(length - 3, 'p');
        Reconfigure([&](sim::MachineConfig& m) { m.registry["HKEY_CURRENT_USER\\Software\\Varnel"]["Path"] = path; });
        CVarnelDlg& dlg = Start();
        dlg.OnDownload();
        EXPECT_EQ(host.fileRequests.back().initialFile, (length < 100 ? path : "") + "\\Firmware\\*.oem");
    }
}

TEST_F(MainDialog, AFolderIsNotAFile) {
    test::TempDir dir;
    for (const char* name : {"image.hex", "data.pda"}) std::filesystem::create_directory(dir.File(name));
    CVarnelDlg& dlg = Start({Release("station.hex"), Release("card.pda")});
    host.messages.clear();
    dlg.AddFile(dir.File("image.hex"));
    dlg.AddFile(dir.File("data.pda"));
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Error: " + dir.File("image.hex") + " is a folder, not a file.",
                                                      "Error: " + dir.File("data.pda") + " is a folder, not a file."}));
    EXPECT_EQ(dlg.Files().size(), 2u);
    // The readers refuse a folder as they refuse a missing file.
    CFirmwareFile file;
    EXPECT_EQ(file.LoadFile(dir.File("image.hex"), nullptr, nullptr), 0);
    EXPECT_EQ(file.LastFinding(), "File not found.");
    uint16_t words[PdaMaxWords];
    std::string reason;
    EXPECT_EQ(ReadPdaTextFile(words, dir.File("data.pda").c_str(), &reason), 0);
    EXPECT_EQ(reason, "file not found!");
}

TEST_F(MainDialog, LinkFileWithoutRegistryKey) {
    Reconfigure([](sim::MachineConfig& m) { m.registry.clear(); });
    CVarnelDlg& dlg = Start();
    host.messages.clear();
    dlg.OnDownload();  // the user cancels the file dialog
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{": Varnel can't get any data from Registry!!"}));
    EXPECT_EQ(host.fileRequests.back().initialFile, "\\Firmware\\*.oem");
}

TEST(LinkFile, ParsesNamesAndChecksum) {
    struct Case {
        std::string bytes;
        bool ok;
        std::vector<std::string> names;
        uint32_t checksum;
    };
    const Case cases[] = {
        {"A1.hexB22.hexC333.pda 1234", true, {"A1.hex", "B22.hex", "C333.pda"}, 1234},
        {"A1.hexB22.hexC333.pda   +77xyz", true, {"A1.hex", "B22.hex", "C333.pda"}, 77},
        {"A1.hexB22.hexC333.pda 99999999999", true, {"A1.hex", "B22.hex", "C333.pda"}, 4294967295u},
        {"A1.hexB22.hexC333.pda -1", true, {"A1.hex", "B22.hex", "C333.pda"}, 4294967295u},
        {"A1.hexB22.hexC333.pda", false, {}, 0},
        {"A1.hexB22.hex", false, {}, 0},
        {std::string(60, 'x') + ".hexB.hexC.pda 1", false, {}, 0},
        {"A.hexB.hexC.pda 1" + std::string(90, ' '), false, {}, 0},
        {"A.h.x.hex 1", false, {}, 0},  // three dots, one inside an extension
    };
    for (const Case& c : cases) {
        const auto link = ParseLinkFile(c.bytes);
        ASSERT_EQ(link.Ok(), c.ok) << c.bytes;
        if (!link) continue;
        EXPECT_EQ(link->names, c.names);
        EXPECT_EQ(link->checksum, c.checksum) << c.bytes;
    }
}

class Checks : public DialogTest {
protected:
    // Loads an image built from `layout` and checks it against the card.
    bool Check(const sample::ImageLayout& layout, std::string& summary, bool withCardPlatform = true) {
        CVarnelDlg& dlg = Start();
        CPda card;
        card.CopyFrom(dlg.CardPda());
        if (!withCardPlatform) card.RemoveRecord(kPdrPlatform);
        std::istringstream text(sample::ImageText(layout));
        CFirmwareFile file;
        EXPECT_NE(file.Load(text, nullptr, nullptr), 0);
        EXPECT_TRUE(dlg.Adapter().Open(1, false));
        host.messages.clear();
        return CheckImage(file, card, dlg.Adapter(), host, summary);
    }
};

TEST_F(Checks, PlatformsAndVersions) {
    using sample::ImageLayout;
    const auto version = sample::MakeVersion;
    struct Case {
        const char* name;
        ImageLayout layout;
        bool cardPlatform;
        std::string summary;
    };
    ImageLayout noPlatforms = sample::StationImage(version(0x1F, 1, 7, 4));
    noPlatforms.platforms.clear();
    ImageLayout nothing = noPlatforms;
    nothing.station.reset();
    ImageLayout downgrade = sample::CombinedImage(version(0x15, 1, 3, 5), version(0x1F, 1, 4, 9));
    const Case cases[] = {
        {"station only", sample::StationImage(version(0x1F, 1, 7, 4)), true, "Version information: Station: 1.7.4\n"},
        {"equal versions are no downgrade", sample::StationImage(version(0x1F, 1, 5, 0)), true,
         "Version information: Station: 1.5.0\n"},
        {"downgrades", downgrade, true,
         "Warning! This is a downgrade for Primary firmware. (1.3.6 --> 1.3.5)\n"
         "Warning! This is a downgrade for Station firmware. (1.5.0 --> 1.4.9)\n"
         "Version information: Primary: 1.3.5, Station: 1.4.9\n"},
        {"no platforms in file", noPlatforms, true,
         "WARNING! - No platform information in file.\n This image may not work on the selected card.\n"
         "Version information: Station: 1.7.4\n"},
        {"no platform on card", sample::StationImage(version(0x1F, 1, 7, 4)), false,
         "WARNING! - No platform ID on card!\n This image may not work on the selected card.\n"
         "Version information: Station: 1.7.4\n"},
        {"neither", nothing, false,
         "WARNING! - No platform information on card or in file!\nThis image may not work on the selected card.\n"
         "Version information: <unknown file contents>\n"},
    };
    for (const Case& c : cases) {
        dialog.reset();
        std::string summary;
        EXPECT_TRUE(Check(c.layout, summary, c.cardPlatform)) << c.name;
        EXPECT_EQ(summary, c.summary) << c.name;
        EXPECT_TRUE(host.messages.empty()) << c.name;
    }
}

TEST_F(Checks, UnreadableRids) {
    // Primary unreadable: asked; Station unreadable: no test, no question.
    Reconfigure([](sim::MachineConfig& m) {
        m.adapters[1].card->faults.unreadableRids = {kRidPrimaryIdentity, kRidStationIdentity};
    });
    const auto combined = sample::CombinedImage(sample::ReleasePrimary(), sample::ReleaseStation());
    std::string summary;
    EXPECT_FALSE(Check(combined, summary));
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"RID read error: Unable to read RID. Continue anyway?"}));
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Question);
    EXPECT_EQ(summary, "");

    dialog.reset();
    host.Answer("RID read error", {MessageAnswer::Ok});
    summary.clear();
    EXPECT_TRUE(Check(combined, summary));
    EXPECT_EQ(summary, "Version information: Primary: 1.4.2, Station: 1.7.4\n");
}

TEST_F(MainDialog, VersionQueries) {
    struct Case {
        int32_t driver;
        std::string text;
    };
    for (const Case& c : {Case{0x00010203, "Version: 1.2.3"}, Case{0x0001020F, "Version: 1.2.15"},
                          Case{0x000A0B0C, "Version: a.b.12"}}) {
        Reconfigure([&](sim::MachineConfig& m) { m.adapters[1].driverVersion = c.driver; });
        CVarnelDlg& dlg = Start();
        host.messages.clear();
        dlg.OnQueryDriverVersion();
        EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Driver Version for Selected Card: " + c.text}));
        EXPECT_TRUE(host.messages[0].owned);
        EXPECT_EQ(sim.Machine().OpenHandles(), 0u);
        EXPECT_EQ(host.messages[0].kind, MessageKind::Answer);
    }

    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.unreadableRids = {kRidStationIdentity}; });
    CVarnelDlg& dlg = Start();
    host.messages.clear();
    dlg.OnQueryFirmwareVersion();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Current Firmware Versions: \n\nWLAN STA firmware 1.5.0   "}));
    EXPECT_EQ(host.messages[0].kind, MessageKind::Answer);

    // Without a selected adapter nothing else happens.
    dlg.OnCatchAdapter();
    host.messages.clear();
    dlg.OnQueryFirmwareVersion();
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Error: Cannot continue - No adapter selected."}));
    // The refusal is a notice, which a terminal prints with the errors.
    EXPECT_EQ(host.messages[0].kind, MessageKind::Notice);
}

TEST(ToolTips, ByControlId) {
    EXPECT_EQ(CVarnelDlg::ToolTipText(kIdcUpdate), "Update the selected card");
    EXPECT_EQ(CVarnelDlg::ToolTipText(kIdcFileList),
              "Files in this list will be downloaded to the card when the \"Update\" button is pressed.  To add "
              "OEMRelease.oem file, use the \"Download..\" button.");
    EXPECT_EQ(CVarnelDlg::ToolTipText(kIdcStatus), "");
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

// A front end overrides only what it shows: here only the open-file dialog.
// What it leaves to the Host's defaults declines: the warning before the
// update is answered as not confirmed, and nothing reaches the card.
TEST_F(MainDialog, AHostThatShowsLittleNeverLetsARunGoAhead) {
    struct OpenOnly : Host {
        std::string file;
        std::optional<std::string> OpenFile(const OpenFileRequest&) override { return file; }
    } shown;
    shown.file = Release("OEMRelease.oem");
    CVarnelDlg dlg(sim.Machine(), sim.Machine(), shown);
    dlg.SetBackupDirectory(sim.dir.Path() / "backups");
    dlg.SetHistoryPath(sim.dir.Path() / "history.jsonl");
    dlg.SetLockDirectory(sim.dir.Path() / "locks");
    dlg.OnInitDialog({});
    dlg.OnDownload();
    ASSERT_EQ(dlg.Files().size(), 3u);
    sim.Trace();
    dlg.OnUpdate();
    EXPECT_EQ(Writes(), 0u);
    EXPECT_FALSE(std::filesystem::exists(sim.dir.Path() / "history.jsonl"));

    // The bare Host: every question gets its safe answer.
    Host bare;
    EXPECT_EQ(bare.ShowMessage({"Replace?", "", MessageIcon::Question, MessageButtons::YesNo}), MessageAnswer::No);
    EXPECT_EQ(bare.ShowMessage({"Go on?", "", MessageIcon::Warning, MessageButtons::OkCancel}), MessageAnswer::Cancel);
    EXPECT_FALSE(bare.ConfirmWarning("Warning", "text"));
    EXPECT_FALSE(bare.ConfirmSummary("summary"));
    EXPECT_FALSE(bare.OpenFile({}));
    ProgressBar& bar = bare.ShowWaitWindow("Programming", "");
    bar.SetRange(0, 10);
    bar.SetPosition(5);
    bare.HideWaitWindow();
}

}  // namespace
}  // namespace varnel
