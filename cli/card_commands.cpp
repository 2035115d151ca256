// varnel-cli machine init/show, adapters, info, pda backup: the card and
// the simulated machine.

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
#include "platform/file_system.h"
#include "platform/utc_stamp.h"
#include "sample/default_machine.h"
#include "sim/machine_dir.h"
#include "update/run_report.h"
#include "update/json_text.h"

namespace varnel::cli {

namespace {

using Json = nlohmann::ordered_json;

std::unique_ptr<Session> OpenSession(const GlobalOptions& options, bool simulated = false) {
    auto session = Session::Open(options, simulated);
    if (!session) {
        Complain("machine", session.Reason());
        return nullptr;
    }
    return std::move(*session);
}

}  // namespace

int MachineInit(const GlobalOptions& globals, const MachineInitOptions& options) {
    const int cards = options.cards;
    const auto directory = sim::ResolveMachineDirectory(globals.Machine());
    const Result<> made = directory ? sample::InitDefaultMachine(*directory, options.force, options.latency, cards,
                                                                 options.realisticTiming)
                                    : directory.Error();
    if (!made) {
        Complain("machine init", made.Reason());
        return kExitRefused;
    }
    std::cout << "Created the default machine in " << directory->string();
    if (cards > 1) std::cout << ", with " << cards << " cards (adapters 1 to " << cards << ")";
    std::cout << "\n";
    return kExitDone;
}

int MachineShow(const GlobalOptions& options, const NoOptions&) {
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
        std::cout << "Card of adapter " << i << " (" << adapters[i].displayName
                  << "): firmware loaded at its last reset: "
                  << "Primary " << card->Primary().major << "." << card->Primary().minor << "."
                  << card->Primary().variant << ", Station " << card->Station().major << "." << card->Station().minor
                  << "." << card->Station().variant << "\n";
    }
    return kExitDone;
}

int Adapters(const GlobalOptions& options, const JsonOption& option) {
    const bool json = option.json;
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

int Info(const GlobalOptions& options, const JsonOption& option) {
    const bool json = option.json;
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
    const auto show = [](const Json& v) {
        return v.is_null() ? std::string("-") : v.is_string() ? v.get<std::string>() : v.dump();
    };
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

namespace {

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

}  // namespace

int PdaBackup(const GlobalOptions& options, const PdaBackupOptions& backup) {
    const std::string& outPath = backup.out;
    auto session = OpenSession(options);
    if (!session) return kExitRefused;
    if (!CardPda(*session, options, "pda backup")) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    const int position = dialog.FindAdapter(dialog.SelectedAdapter());
    const std::string header = "Varnel PDA backup\nAdapter " + std::to_string(dialog.SelectedAdapter()) + ": " +
                               dialog.AdapterList()[static_cast<size_t>(position)].name + "\nMAC address " +
                               dialog.View().pdaMac + "\nRead " + UtcTimeText();
    if (const Result<> written = WriteFileAtomically(outPath, FormatPdaText(dialog.CardPda(), header)); !written) {
        Complain(outPath, written.Reason());
        return kExitRefused;
    }
    std::cout << "Wrote the PDA of adapter " << dialog.SelectedAdapter() << " (" << dialog.CardPda().GetRecords().size()
              << " records) to " << outPath << "\n";
    return kExitDone;
}

int CardRead(const GlobalOptions& options, const CardReadOptions& args) {
    const std::optional<std::string>& rangeText = args.range;
    const std::string& outPath = args.out;
    // A range that is no range is refused before the card is opened; where
    // the card's flash ends is known once it is.
    constexpr uint32_t kNoLimit = 0xFFFFFFFF;
    // So is an output that can never be written, before the whole flash is read.
    if (outPath.empty()) {
        Complain("-o", "no output file named");
        return kExitRefused;
    }
    if (std::error_code ec; files::IsDirectory(outPath, ec)) {
        Complain(outPath, "is a folder: name the file to write");
        return kExitRefused;
    }
    if (rangeText) {
        if (const Result<FlashSpan> parsed = ParseFlashRange(*rangeText, kNoLimit); !parsed) {
            Complain("--range", parsed.Reason());
            return kExitRefused;
        }
    }
    auto session = OpenSession(options);
    if (!session) return kExitRefused;
    // Reading the flash (for support) works whatever the card's PDA holds:
    // an invalid one is said, and the card opened all the same.
    static_cast<void>(session->Terminal().AddAnswer("Developer Option=OK"));
    if (!session->SelectAdapter(options)) return kExitRefused;
    CVarnelDlg& dialog = session->Dialog();
    CAdapter& adapter = dialog.Adapter();
    const uint32_t flashEnd = CardFlashEnd(adapter);
    if (flashEnd == 0) {
        Complain("card read", "the card's type is not supported, so where its flash ends is not known");
        return kExitRefused;
    }
    const Result<FlashSpan> parsed = rangeText ? ParseFlashRange(*rangeText, flashEnd) : FlashBelowPda(adapter);
    if (!parsed) {
        Complain("--range", parsed.Reason());
        return kExitRefused;
    }
    const FlashSpan& range = *parsed;
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
    writer.Header("Varnel flash " + (mac.empty() ? std::string("?") : mac) + " " + Hex(range.start, 8) + "-" +
                  Hex(range.end, 8));
    writer.Data(range.start, bytes);
    writer.Termination(0);
    if (const Result<> written = WriteFileAtomically(outPath, text.str()); !written) {
        Complain(outPath, written.Reason());
        return kExitRefused;
    }
    std::cout << "Wrote " << range.Size() << " bytes of the flash of adapter " << dialog.SelectedAdapter() << ", "
              << Hex(range.start, 8) << " to " << Hex(range.end, 8) << ", to " << outPath << "\n";
    return kExitDone;
}

namespace {

// "card" is the card's PDA; anything else a .pda file, read into an empty
// PDA. Null, with the reason on stderr, when it cannot be had.
const CPda* DiffSide(const std::string& side, const GlobalOptions& options, std::unique_ptr<Session>& session,
                     CPda& file) {
    if (side == "card") {
        if (!session) session = OpenSession(options);
        return session ? CardPda(*session, options, "card") : nullptr;
    }
    if (const Result<> merged = MergePdaTextFile(file, side); !merged) {
        Complain(side, merged.Reason());
        return nullptr;
    }
    return &file;
}

}  // namespace

int PdaDiff(const GlobalOptions& options, const PdaDiffOptions& diff) {
    const std::string& a = diff.a;
    const std::string& b = diff.b;
    const bool json = diff.json;
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

}  // namespace varnel::cli
