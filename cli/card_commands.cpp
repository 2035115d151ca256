// varnel-cli machine init/show, adapters, info, pda backup: the card and
// the simulated machine.

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "card/flash_reading.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "image/firmware_file.h"
#include "image/srec_writer.h"
#include "pda/pda_diff.h"
#include "pda/pda_text_file.h"
#include "platform/atomic_file.h"
#include "sample/default_machine.h"
#include "sim/machine_dir.h"
#include "update/run_report.h"
#include "update/json_text.h"

namespace varnel::cli {

namespace {

using Json = nlohmann::ordered_json;

std::string DriverVersionText(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    char text[32];
    std::snprintf(text, sizeof text, "%x.%x.%d", (u >> 16) & 0xFFFF, (u >> 8) & 0xFF, int(u & 0xFF));
    return text;
}

std::string UtcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::unique_ptr<Session> OpenSession(const GlobalOptions& options, bool simulated = false) {
    std::string error;
    auto session = Session::Open(options, &error, simulated);
    if (!session) Complain("machine", error);
    return session;
}

int MachineInit(const GlobalOptions& options, bool force, bool latency, int cards, bool realisticTiming) {
    std::string error;
    const auto directory = sim::ResolveMachineDirectory(options.Machine(), &error);
    if (!directory || !sample::InitDefaultMachine(*directory, force, &error, latency, cards, realisticTiming)) {
        Complain("machine init", error);
        return kExitRefused;
    }
    std::cout << "Created the default machine in " << directory->string();
    if (cards > 1) std::cout << ", with " << cards << " cards (adapters 1 to " << cards << ")";
    std::cout << "\n";
    return kExitDone;
}

int MachineShow(const GlobalOptions& options) {
    auto session = OpenSession(options, true);
    if (!session) return kExitRefused;
    sim::SimMachine& machine = *session->Machine();
    std::cout << "Machine directory: " << machine.Directory().string() << "\n";
    std::ifstream in(machine.Directory() / "machine.json");
    std::cout << in.rdbuf();
    const auto& adapters = machine.Config().adapters;
    for (size_t i = 0; i < adapters.size(); ++i) {
        sim::SimCard* card = machine.Card(i);
        if (!card) continue;
        std::cout << "Card of adapter " << i << " (" << adapters[i].displayName << "): firmware loaded at its last reset: "
                  << "Primary " << card->Primary().major << "." << card->Primary().minor << "." << card->Primary().variant
                  << ", Station " << card->Station().major << "." << card->Station().minor << "."
                  << card->Station().variant << "\n";
    }
    return kExitDone;
}

int Adapters(const GlobalOptions& options, bool json) {
    auto session = OpenSession(options);
    if (!session) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    dialog.InitAdapters(false);
    Json list = Json::array();
    for (const AdapterEntry& entry : dialog.AdapterList()) {
        if (entry.name == CVarnelDlg::kNoAdapters && dialog.FindAdapter(entry.index) < 0) {
            if (!json) std::cout << entry.name << "\n";
            continue;
        }
        if (json) list.push_back({{"adapter", entry.index}, {"name", entry.name}});
        else std::cout << entry.index << "  " << entry.name << "\n";
    }
    if (json) std::cout << JsonText(list, 2) << "\n";
    return kExitDone;
}

int Info(const GlobalOptions& options, bool json) {
    auto session = OpenSession(options);
    if (!session) return kExitRefused;
    if (!session->SelectAdapter(options)) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    CAdapter& adapter = dialog.Adapter();

    std::optional<CComponentVersion> primary;
    std::optional<CComponentVersion> station;
    std::optional<int32_t> driver;
    if (const CVarnelDlg::OpenedAdapter opened(dialog, false); opened.IsOpen()) {
        RidRecord record{};
        if (adapter.ReadRid(record, kRidPrimaryIdentity)) primary = VersionFromRid(record);
        if (adapter.ReadRid(record, kRidStationIdentity)) station = VersionFromRid(record);
        driver = adapter.GetDriverVersion();
    }
    const uint16_t* platform = dialog.CardPda().FindRecord(kPdrPlatform);
    const int position = dialog.FindAdapter(dialog.SelectedAdapter());
    const std::string name = position >= 0 ? dialog.AdapterList()[static_cast<size_t>(position)].name : "";

    const auto text = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
    const DialogView fields = dialog.View();
    const Json out{{"adapter", dialog.SelectedAdapter()},
                   {"name", name},
                   {"card_type", adapter.m_nCardType},
                   {"pda_address", adapter.m_dwPdaAddress},
                   {"pda_mac", text(fields.pdaMac)},
                   {"ndis_mac", text(fields.ndisMac)},
                   {"serial", text(fields.pdaSerial)},
                   {"part_number", text(dialog.PartNumber())},
                   {"platform", platform && platform[0] >= 2 ? Json(platform[2]) : Json(nullptr)},
                   {"primary", primary ? Json(primary->Format()) : Json(nullptr)},
                   {"station", station ? Json(station->Format()) : Json(nullptr)},
                   {"driver_version", driver ? Json(DriverVersionText(*driver)) : Json(nullptr)}};
    if (json) {
        std::cout << JsonText(out, 2) << "\n";
        return kExitDone;
    }
    const auto show = [](const Json& v) { return v.is_null() ? std::string("-") : v.is_string() ? v.get<std::string>() : v.dump(); };
    std::cout << "Adapter:          " << dialog.SelectedAdapter() << "  " << name << "\n"
              << "Card type:        " << adapter.m_nCardType << "\n"
              << "PDA address:      " << Hex(adapter.m_dwPdaAddress, 8) << "\n"
              << "PDA MAC address:  " << show(out["pda_mac"]) << "\n"
              << "Driver MAC:       " << show(out["ndis_mac"]) << "\n"
              << "Serial number:    " << show(out["serial"]) << "\n"
              << "Part number:      " << show(out["part_number"]) << "\n"
              << "Platform:         " << (platform && platform[0] >= 2 ? Hex(platform[2], 4) : "-") << "\n"
              << "Primary:          " << show(out["primary"]) << "\n"
              << "Station:          " << show(out["station"]) << "\n"
              << "Driver version:   " << show(out["driver_version"]) << "\n";
    return kExitDone;
}

// The card's PDA as the dialog read it when it selected the adapter; null,
// with the reason on stderr, when there is none.
const CPda* CardPda(Session& session, const GlobalOptions& options, const std::string& what) {
    if (!session.SelectAdapter(options)) return nullptr;
    if (session.Dialog().CardPda().Empty()) {
        Complain(what, "the card's PDA could not be read");
        return nullptr;
    }
    return &session.Dialog().CardPda();
}

int PdaBackup(const GlobalOptions& options, const std::string& outPath) {
    auto session = OpenSession(options);
    if (!session) return kExitRefused;
    if (!CardPda(*session, options, "pda backup")) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    const int position = dialog.FindAdapter(dialog.SelectedAdapter());
    const std::string header = "Varnel PDA backup\nAdapter " + std::to_string(dialog.SelectedAdapter()) + ": " +
                               dialog.AdapterList()[static_cast<size_t>(position)].name + "\nMAC address " +
                               dialog.View().pdaMac + "\nRead " + UtcNow();
    std::string error;
    if (!WriteFileAtomically(outPath, FormatPdaText(dialog.CardPda(), header), &error)) {
        Complain(outPath, error);
        return kExitRefused;
    }
    std::cout << "Wrote the PDA of adapter " << dialog.SelectedAdapter() << " (" << dialog.CardPda().GetRecords().size()
              << " records) to " << outPath << "\n";
    return kExitDone;
}

int CardRead(const GlobalOptions& options, const std::optional<std::string>& rangeText, const std::string& outPath) {
    // A range that is no range is refused before the card is opened; where
    // the card's flash ends is known once it is.
    constexpr uint32_t kNoLimit = 0xFFFFFFFF;
    FlashSpan range;
    std::string error;
    if (rangeText && !ParseFlashRange(*rangeText, kNoLimit, &range, &error)) {
        Complain("--range", error);
        return kExitRefused;
    }
    auto session = OpenSession(options);
    if (!session) return kExitRefused;
    if (!session->SelectAdapter(options)) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    CAdapter& adapter = dialog.Adapter();
    const uint32_t flashEnd = CardFlashEnd(adapter);
    if (flashEnd == 0) {
        Complain("card read", "the card's type is not supported, so where its flash ends is not known");
        return kExitRefused;
    }
    if (!rangeText) range = FlashBelowPda(adapter);
    else if (!ParseFlashRange(*rangeText, flashEnd, &range, &error)) {
        Complain("--range", error);
        return kExitRefused;
    }
    std::vector<uint8_t> bytes;
    uint32_t failedAt = 0;
    bool read = false;
    {
        const CVarnelDlg::OpenedAdapter opened(dialog, false);
        if (!opened.IsOpen()) return kExitRefused;
        ProgressBar& progress = session->Terminal().ShowWaitWindow(
            "Reading the card's flash, " + Hex(range.start, 8) + " to " + Hex(range.end, 8) + " ...", "");
        read = ReadCardFlash(adapter, range, bytes, &progress, &failedAt);
        session->Terminal().HideWaitWindow();
    }
    if (!read) {
        Complain("card read", "the card's flash could not be read at " + Hex(failedAt, 8) + ", so nothing was written");
        return kExitRefused;
    }
    std::ostringstream text;
    CSRecordWriter writer(text);
    const std::string mac = dialog.View().pdaMac;
    writer.Header("Varnel flash " + (mac.empty() ? std::string("?") : mac) + " " +
                  Hex(range.start, 8) + "-" + Hex(range.end, 8));
    writer.Data(range.start, bytes);
    writer.Termination(0);
    if (!WriteFileAtomically(outPath, text.str(), &error)) {
        Complain(outPath, error);
        return kExitRefused;
    }
    std::cout << "Wrote " << range.Size() << " bytes of the flash of adapter " << dialog.SelectedAdapter() << ", "
              << Hex(range.start, 8) << " to " << Hex(range.end, 8) << ", to " << outPath << "\n";
    return kExitDone;
}

// "card" is the card's PDA; anything else a .pda file, read into an empty
// PDA. Null, with the reason on stderr, when it cannot be had.
const CPda* DiffSide(const std::string& side, const GlobalOptions& options, std::unique_ptr<Session>& session,
                     CPda& file) {
    if (side == "card") {
        if (!session) session = OpenSession(options);
        return session ? CardPda(*session, options, "card") : nullptr;
    }
    std::string reason;
    if (!MergePdaTextFile(file, side, &reason)) {
        Complain(side, reason);
        return nullptr;
    }
    return &file;
}

int PdaDiff(const GlobalOptions& options, const std::string& a, const std::string& b, bool json) {
    std::unique_ptr<Session> session;
    CPda fileA, fileB;
    const CPda* before = DiffSide(a, options, session, fileA);
    if (!before) return kExitRefused;
    const CPda* after = DiffSide(b, options, session, fileB);
    if (!after) return kExitRefused;
    const std::vector<PdaChange> changes = DiffPda(*before, *after);
    if (json) std::cout << JsonText(Json{{"from", a}, {"to", b}, {"changes", PdaChangesJson(changes)}}, 2) << "\n";
    else std::cout << FormatPdaDiff(changes);
    return kExitDone;
}

}  // namespace

void AddCardCommands(CLI::App& app, Outcome& outcome, const GlobalOptions& options) {
    CLI::App* machine = app.add_subcommand("machine", "The simulated machine");
    machine->require_subcommand(1);
    auto force = std::make_shared<bool>(false);
    auto latency = std::make_shared<bool>(false);
    CLI::App* init = machine->add_subcommand("init", "Create the default machine");
    init->add_flag("--force", *force, "Replace an existing machine");
    CLI::Option* latencyFlag =
        init->add_flag("--latency", *latency, "Switch the request latency on, so that progress shows as on a real card");
    auto realisticTiming = std::make_shared<bool>(false);
    init->add_flag("--realistic-timing", *realisticTiming,
                   "Make the cards answer like flash: reads, programming and sector erases take their own time")
        ->excludes(latencyFlag);
    auto cards = std::make_shared<int>(1);
    init->add_option("--cards", *cards, "WLAN cards on the machine (adapters 1 to N; default 1)")
        ->check(CLI::Range(1, sample::kMaxCards))
        ->type_name("N");
    init->callback([&outcome, &options, force, latency, cards, realisticTiming] {
        outcome.run = [&options, force, latency, cards, realisticTiming] {
            return MachineInit(options, *force, *latency, *cards, *realisticTiming);
        };
    });
    machine->add_subcommand("show", "Print the machine's configuration and its cards' state")
        ->callback([&outcome, &options] { outcome.run = [&options] { return MachineShow(options); }; });

    auto adaptersJson = std::make_shared<bool>(false);
    CLI::App* adapters = app.add_subcommand("adapters", "List the valid adapters, as the adapter list shows them");
    adapters->add_flag("--json", *adaptersJson, "Print JSON");
    adapters->callback([&outcome, &options, adaptersJson] {
        outcome.run = [&options, adaptersJson] { return Adapters(options, *adaptersJson); };
    });

    auto infoJson = std::make_shared<bool>(false);
    CLI::App* info = app.add_subcommand("info", "Open the adapter as the dialog does and show the card");
    info->add_flag("--json", *infoJson, "Print JSON");
    info->callback([&outcome, &options, infoJson] { outcome.run = [&options, infoJson] { return Info(options, *infoJson); }; });

    CLI::App* pda = app.get_subcommand("pda");
    auto backupPath = std::make_shared<std::string>();
    CLI::App* backup = pda->add_subcommand("backup", "Read the card's PDA and save it as a .pda file");
    backup->add_option("-o,--output", *backupPath, "The .pda file to write")->required();
    backup->callback([&outcome, &options, backupPath] {
        outcome.run = [&options, backupPath] { return PdaBackup(options, *backupPath); };
    });

    CLI::App* card = app.add_subcommand("card", "The card's flash");
    card->require_subcommand(1);
    struct ReadArgs {
        std::optional<std::string> range;
        std::string out;
    };
    auto read = std::make_shared<ReadArgs>();
    CLI::App* readCommand = card->add_subcommand(
        "read", "Read the card's flash (default: all of it below the PDA area) into an S-record file");
    readCommand
        ->add_option("--range", read->range,
                     "The flash from START up to, not including, END (hex with 0x, or decimal)")
        ->type_name("START:END");
    readCommand->add_option("-o,--output", read->out, "The S-record file to write")->required();
    readCommand->callback([&outcome, &options, read] {
        outcome.run = [&options, read] { return CardRead(options, read->range, read->out); };
    });

    struct DiffArgs {
        std::string a, b;
        bool json = false;
    };
    auto diff = std::make_shared<DiffArgs>();
    CLI::App* diffCommand =
        pda->add_subcommand("diff", "The records B adds to, removes from and changes in A (each a .pda file or 'card')");
    diffCommand->add_option("A", diff->a, ".pda file, or card for the card's PDA")->required();
    diffCommand->add_option("B", diff->b, ".pda file, or card for the card's PDA")->required();
    diffCommand->add_flag("--json", diff->json, "Print JSON");
    diffCommand->callback([&outcome, &options, diff] {
        outcome.run = [&options, diff] { return PdaDiff(options, diff->a, diff->b, diff->json); };
    });
}

}  // namespace varnel::cli
