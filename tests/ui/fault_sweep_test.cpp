// The example update (the sample release's link file) against a card that
// fails at every point of the run: once for each request with the card dying
// after it, and once for each request of each OID with that OID failing from
// there on. Whatever fails, the run claims no success it did not reach, the
// card keeps its old or its new PDA (or the old one is saved in a backup),
// the handle is closed, and a clean update afterwards repairs the card. The
// firmware backup is on: the card's old firmware is on the card or in a
// complete backup file, and restoring that backup returns the flash to it.
// And a run killed outright at chosen moments leaves its unfinished record,
// naming its backups, and no lock behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "card/adapter.h"
#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"
#include "platform/stop_request.h"
#include "tests/support/dialog_fixture.h"
#include "tests/support/forwarding_library.h"
#include "tests/support/run_outcome.h"
#include "update/firmware_backup.h"
#include "update/history.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// The card's flash: its sectors that are not erased, by base address.
using Flash = std::map<uint32_t, std::vector<uint8_t>>;

std::string Hex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08X", unsigned{value});
    return text;
}

// The sectors in which two flashes differ ("" when they are equal).
std::string FlashDifference(const Flash& a, const Flash& b) {
    std::map<uint32_t, bool> differs;
    for (const auto& [base, bytes] : a) differs[base] = !b.contains(base) || b.at(base) != bytes;
    for (const auto& [base, bytes] : b) differs[base] = differs[base] || !a.contains(base);
    std::string text;
    for (const auto& [base, different] : differs)
        if (different) text += (text.empty() ? "sectors " : ", ") + Hex(base);
    return text;
}

class FaultSweep : public test::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        fs::copy(sim.MachineDir() / "cards", factory.Path() / "cards", fs::copy_options::recursive);
        sample::FillCardPda(oldPda);
        sample::FillCardPda(newPda);
        ASSERT_TRUE(MergePdaTextFile(newPda, Release("changes.pda")));
        ASSERT_EQ(ConfigureSetPointAndIntegrator(newPda), 1);
    }

    // The card as the factory left it, with these faults, and no backups.
    void FactoryCard(const sim::CardFaults& faults) {
        dialog.reset();
        sim.machine.reset();
        fs::remove_all(sim.MachineDir() / "cards");
        fs::copy(factory.Path() / "cards", sim.MachineDir() / "cards", fs::copy_options::recursive);
        fs::remove_all(BackupDirectory());
        fs::remove(HistoryPath());
        Faults(faults);
    }
    // The same card in a new process, with these faults.
    void Faults(const sim::CardFaults& faults) {
        Reconfigure([&](sim::MachineConfig& m) {
            m.latencyEnabled = false;
            m.adapters[1].card->faults = faults;
        });
        sim.Trace();
    }

    // The example update: the release's link file, then Update!
    RunOutcome RunUpdate() {
        host = test::ScriptHost();
        dialog.reset();
        CVarnelDlg& dlg = Dialog();
        dlg.OnInitDialog({});
        host.openFile = Release("OEMRelease.oem");
        dlg.OnDownload();
        dlg.OnUpdate();
        return test::Outcome(dlg);
    }

    // A new dialog over `library` (the card's requests pass through it),
    // with the release's link file taken, ready for Update!
    void DialogWithTheRelease(NdisLibrary& library) {
        host = test::ScriptHost();
        dialog = std::make_unique<CVarnelDlg>(library, sim.Machine(), host);
        dialog->SetBackupDirectory(BackupDirectory());
        dialog->SetHistoryPath(HistoryPath());
        dialog->SetLockDirectory(sim.dir.Path() / "locks");
        dialog->OnInitDialog({});
        host.openFile = Release("OEMRelease.oem");
        dialog->OnDownload();
    }

    fs::path BackupDirectory() const { return sim.dir.Path() / "backups"; }
    fs::path HistoryPath() const { return sim.dir.Path() / "history.jsonl"; }

    Flash ReadFlash() {
        Flash flash;
        sim::SimCard& card = *sim.Machine().Card(1);
        for (const auto& entry : fs::directory_iterator(sim.MachineDir() / "cards" / "0001" / "flash")) {
            const auto base = static_cast<uint32_t>(std::stoul(entry.path().stem().string(), nullptr, 16));
            std::vector<uint8_t> bytes(sim::kSectorSize);
            EXPECT_TRUE(card.ReadFlash(base, bytes.data(), sim::kSectorSize));
            if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0xFF; }))
                flash[base] = std::move(bytes);
        }
        return flash;
    }

    // The PDA in the card's flash, as the card would load it: "old", "new",
    // or what else it is.
    std::string FlashPda() {
        sim::SimCard& card = *sim.Machine().Card(1);
        AuxRecord copy{};
        if (!card.ReadFlash(card.PdaAddress(), copy.data, kPdaBytes)) return "unreadable";
        CPda pda;
        if (!LoadPdaCopy(pda, copy)) return "invalid";
        if (pda.GetRecords() == oldPda.GetRecords()) return "old";
        if (pda.GetRecords() == newPda.GetRecords()) return "new";
        return "other (" + std::to_string(pda.GetRecords().size()) + " records)";
    }

    // A clean update afterwards must succeed and leave the reference flash.
    void ExpectACleanUpdateRepairs(const Flash& reference, std::vector<std::string>& broken) {
        if (RunUpdate() != RunOutcome::Succeeded) broken.push_back("a clean update afterwards fails");
        else if (const std::string difference = FlashDifference(ReadFlash(), reference); !difference.empty())
            broken.push_back("a clean update afterwards leaves the flash different in " + difference);
    }

    // The flash below the PDA sector: the firmware.
    std::vector<uint8_t> Firmware() {
        sim::SimCard& card = *sim.Machine().Card(1);
        std::vector<uint8_t> bytes(card.PdaAddress());
        EXPECT_TRUE(card.ReadFlash(0, bytes.data(), static_cast<uint32_t>(bytes.size())));
        return bytes;
    }

    // The firmware backups in the backups folder that load whole.
    std::vector<FirmwareBackup> FirmwareBackups() {
        std::vector<FirmwareBackup> found;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(BackupDirectory(), ec)) {
            FirmwareBackup backup;
            if (entry.path().extension() == ".srec" && LoadFirmwareBackup(entry.path().string(), backup))
                found.push_back(std::move(backup));
        }
        return found;
    }

    // The old firmware is on the card, or a complete backup holds every byte
    // the update changed; restoring that backup returns the flash to it.
    void ExpectTheOldFirmwareKept(const std::vector<uint8_t>& old, std::vector<std::string>& broken) {
        const std::vector<uint8_t> now = Firmware();
        if (now == old) return;
        std::vector<std::string> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(BackupDirectory(), ec))
            if (entry.path().extension() == ".srec") files.push_back(entry.path().string());
        const std::vector<FirmwareBackup> backups = FirmwareBackups();
        if (files.size() != 1 || backups.size() != 1) {
            broken.push_back("the firmware changed, and " + std::to_string(backups.size()) + " of " +
                             std::to_string(files.size()) + " firmware backups load");
            return;
        }
        std::vector<uint8_t> restored = now;
        for (const FlashRange& r : backups[0].ranges)
            std::copy(r.bytes.begin(), r.bytes.end(), restored.begin() + r.address);
        if (restored != old) {
            broken.push_back(
                "the firmware changed outside its backup's ranges, or the backup does not hold the old bytes");
            return;
        }
        ++restores;
        host = test::ScriptHost();
        dialog.reset();
        CVarnelDlg& dlg = Dialog();
        dlg.OnInitDialog({});
        dlg.OnRestoreFirmware(files[0]);
        if (test::Outcome(dlg) != RunOutcome::Succeeded) broken.push_back("restoring the firmware backup fails");
        else if (Firmware() != old) broken.push_back("restoring the firmware backup leaves other flash bytes");
    }

    bool BackupHoldsOldPda() {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(BackupDirectory(), ec)) {
            CPda saved;
            if (MergePdaTextFile(saved, entry.path().string()) && saved.GetRecords() == oldPda.GetRecords())
                return true;
        }
        return false;
    }

    test::TempDir factory;
    size_t restores = 0;  // the cases that left the card's firmware changed
    CPda oldPda;          // the card's PDA from the factory
    CPda newPda;          // the PDA the example update makes of it
};

TEST_F(FaultSweep, EveryFailingRequestLeavesARepairableCard) {
    // A clean update: the reference flash, and the requests it makes.
    FactoryCard({});
    const std::vector<uint8_t> oldFirmware = Firmware();
    ASSERT_EQ(RunUpdate(), RunOutcome::Succeeded);
    ASSERT_FALSE(dialog->Report().firmwareBackup.empty());
    const Flash reference = ReadFlash();
    ASSERT_EQ(FlashPda(), "new");
    const std::map<uint32_t, uint32_t> counts = sim.Machine().RequestCounts(1);
    uint32_t requests = 0;
    for (const auto& [oid, count] : counts) requests += count;
    ASSERT_GT(requests, 10u);

    struct Case {
        std::string name;
        sim::CardFaults faults;
        uint32_t oid = 0;  // the failing OID, 0 for all (the card died)
        NdisStatus status = kNdisFailure;
    };
    std::vector<Case> cases;
    for (uint32_t k = 1; k < requests; ++k) {
        Case c{"card dies after request " + std::to_string(k), {}, 0, sim::kNdisAdapterRemoved};
        c.faults.diesAfterRequests = k;
        cases.push_back(c);
    }
    for (const auto& [oid, count] : counts)
        for (uint32_t n = 1; n <= count; ++n) {
            Case c{"OID " + Hex(oid) + " fails from its request " + std::to_string(n), {}, oid, kNdisFailure};
            c.faults.oidStatus = {{oid, kNdisFailure, n}};
            cases.push_back(c);
        }

    for (const Case& c : cases) {
        FactoryCard(c.faults);
        const RunOutcome outcome = RunUpdate();
        std::vector<std::string> broken;
        const auto trace = sim.Trace();
        if (std::none_of(trace.begin(), trace.end(), [&](const nlohmann::json& line) {
                return line["status"] == c.status && (c.oid == 0 || line["oid"] == c.oid);
            }))
            broken.push_back("the fault never struck");
        if (outcome == RunOutcome::Succeeded) {
            if (const std::string difference = FlashDifference(ReadFlash(), reference); !difference.empty())
                broken.push_back("success reported, but the flash differs from a clean update's in " + difference);
        }
        const std::string pda = FlashPda();
        if (pda != "old" && pda != "new" && !BackupHoldsOldPda())
            broken.push_back("the PDA in flash is " + pda + " and no backup holds the old one");
        if (sim.Machine().OpenHandles() != 0) broken.push_back("the adapter handle is left open");

        Faults({});
        ExpectTheOldFirmwareKept(oldFirmware, broken);
        ExpectACleanUpdateRepairs(reference, broken);

        std::string text;
        for (const std::string& b : broken) text += "\n    " + b;
        EXPECT_TRUE(broken.empty()) << c.name << ":" << text;
    }
    // Failures in the middle of programming left the firmware part new.
    EXPECT_GT(restores, 10u);
}

// Raises a stop request once the request numbered `at` (counted from Arm)
// has returned, as a signal that comes while it is in flight would.
class StopAtRequest : public test::ForwardingLibrary {
public:
    using ForwardingLibrary::ForwardingLibrary;
    void Arm(size_t at, StopKind kind) {
        m_at = at;
        m_kind = kind;
        oids.clear();
    }
    NdisStatus MakeNdisRequest(AdapterHandle handle, DriverRequest& request, Overlapped& overlapped,
                               uint32_t wait) override {
        const NdisStatus status = ForwardingLibrary::MakeNdisRequest(handle, request, overlapped, wait);
        oids.push_back(request.oid);
        if (oids.size() == m_at) RequestStop(m_kind);
        return status;
    }
    std::vector<uint32_t> oids;  // the requests since Arm

private:
    size_t m_at = 0;
    StopKind m_kind = StopKind::None;
};

TEST_F(FaultSweep, AStopRequestAtAnyRequestCancelsOrEndsTheRunRecorded) {
    FactoryCard({});
    const Flash factoryFlash = ReadFlash();
    ASSERT_EQ(FlashPda(), "old");

    // The update with a stop request in flight at request `at` (0: none).
    std::vector<uint32_t> oids;
    std::string status, fullStatus;
    const auto run = [&](size_t at, StopKind kind) {
        StopAtRequest stopper(sim.Machine());
        DialogWithTheRelease(stopper);
        stopper.Arm(at, kind);
        dialog->OnUpdate();
        const RunOutcome outcome = test::Outcome(*dialog);
        const bool open = sim.Machine().OpenHandles() != 0;
        status = dialog->Status();
        fullStatus = dialog->FullStatus();
        dialog.reset();
        oids = stopper.oids;
        ClearStopRequest();
        return std::make_pair(outcome, open);
    };
    const auto writes = [&](size_t from, size_t to) {
        return static_cast<size_t>(
            std::count(oids.begin() + static_cast<long>(from), oids.begin() + static_cast<long>(to), kOidWriteAux));
    };
    ASSERT_EQ(run(0, StopKind::None).first, RunOutcome::Succeeded);
    const Flash reference = ReadFlash();
    const size_t requests = oids.size();
    const size_t allWrites = writes(0, requests);
    ASSERT_GT(allWrites, 10u);
    // Ctrl-C at every request; the other stop requests, which differ only in
    // their name, where one kind of request gives way to another (the first
    // and the last flash write among them).
    const std::vector<uint32_t> clean = oids;
    const auto moment = [&](StopKind kind, size_t at) {
        return kind == StopKind::Interrupt || at == 1 || at == requests || clean[at - 1] != clean[at - 2] ||
               clean[at - 1] != clean[at];
    };

    for (const StopKind kind : {StopKind::Interrupt, StopKind::Terminate, StopKind::HangUp}) {
        for (size_t at = 1; at <= requests; ++at) {
            if (!moment(kind, at)) continue;
            FactoryCard({});
            const auto [outcome, open] = run(at, kind);
            const size_t before = writes(0, std::min(at, oids.size()));
            const size_t after = writes(std::min(at, oids.size()), oids.size());
            std::vector<std::string> broken;
            std::string history = test::ReadFile(HistoryPath().string());
            const auto said = [&](const std::string& caption) {
                return std::any_of(host.messages.begin(), host.messages.end(), [&](const Message& m) {
                    return m.caption == caption && m.text.find(StopName(kind)) != std::string::npos;
                });
            };
            if (before == 0) {
                // Nothing written yet: the run is cancelled and writes nothing.
                if (outcome != RunOutcome::Cancelled) broken.push_back("not cancelled before writing");
                if (after != 0) broken.push_back("wrote to the card after the stop");
                if (!FlashDifference(ReadFlash(), factoryFlash).empty()) broken.push_back("the flash changed");
                if (const Result<varnel::History> shown = ReadHistory(HistoryPath()); !shown || !shown->records.empty())
                    broken.push_back("a history record of a run that wrote nothing");
                if (!said("Update Cancelled")) broken.push_back("the user is not told why it was cancelled");
            } else if (before == allWrites) {
                // The last piece was in flight: nothing was left to stop.
                if (outcome != RunOutcome::Succeeded) broken.push_back("a complete update not reported as such");
                if (!FlashDifference(ReadFlash(), reference).empty()) broken.push_back("the flash is not the update's");
            } else {
                if (outcome != RunOutcome::Interrupted) broken.push_back("not ended as interrupted");
                if (after != 0) broken.push_back(std::to_string(after) + " pieces written after the one in flight");
                if (history.find("\"outcome\":\"interrupted\"") == std::string::npos)
                    broken.push_back("no history record of the interrupted run");
                if (!said("Update Stopped")) broken.push_back("the user is not told what the card holds");
                if (status.size() > CVarnelDlg::kStatusBoxChars) broken.push_back("the status overflows its box");
                if (fullStatus.find("Card PDA saved to " + BackupDirectory().string()) == std::string::npos)
                    broken.push_back("the full status does not name the backup: " + fullStatus);
                const std::string pda = FlashPda();
                if (pda != "old" && pda != "new" && !BackupHoldsOldPda())
                    broken.push_back("the PDA in flash is " + pda + " and no backup holds the old one");
            }
            if (open || sim.Machine().OpenHandles() != 0) broken.push_back("the adapter handle is left open");
            if (CurrentStopMode() != StopMode::Default) broken.push_back("the stop mode is left changed");

            ExpectACleanUpdateRepairs(reference, broken);

            std::string text;
            for (const std::string& b : broken) text += "\n    " + b;
            EXPECT_TRUE(broken.empty()) << StopName(kind) << " at request " << at << " of " << requests << ":" << text;
        }
    }
}

// Kills its own process once the request numbered `at` has returned: a
// run ended by SIGKILL (or a power cut) at that moment, with no chance to
// say or record anything.
class KillAtRequest : public test::ForwardingLibrary {
public:
    KillAtRequest(NdisLibrary& inner, size_t at) : ForwardingLibrary(inner), m_at(at) {}
    NdisStatus MakeNdisRequest(AdapterHandle handle, DriverRequest& request, Overlapped& overlapped,
                               uint32_t wait) override {
        const NdisStatus status = ForwardingLibrary::MakeNdisRequest(handle, request, overlapped, wait);
        if (++m_requests == m_at) ::kill(::getpid(), SIGKILL);
        return status;
    }

private:
    size_t m_at;
    size_t m_requests = 0;
};

TEST_F(FaultSweep, ARunKilledAtAnyMomentLeavesItsMarkAndItsBackupRestores) {
    FactoryCard({});
    const std::vector<uint8_t> oldFirmware = Firmware();
    const auto prepare = [&](test::ForwardingLibrary& library) { DialogWithTheRelease(library); };
    // A clean run: its requests, and the flash it leaves.
    StopAtRequest counter(sim.Machine());
    prepare(counter);
    counter.Arm(0, StopKind::None);
    dialog->OnUpdate();
    ASSERT_EQ(test::Outcome(*dialog), RunOutcome::Succeeded);
    dialog.reset();
    const Flash reference = ReadFlash();
    const std::vector<uint32_t> clean = counter.oids;
    const size_t requests = clean.size();
    const auto allWrites = static_cast<size_t>(std::count(clean.begin(), clean.end(), kOidWriteAux));
    // Killed where one kind of request gives way to another (the first and
    // the last flash write among them), and every few writes in between.
    std::vector<size_t> moments;
    size_t written = 0;
    for (size_t at = 1; at <= requests; ++at) {
        if (clean[at - 1] == kOidWriteAux) ++written;
        if (at == 1 || at == requests || clean[at - 1] != clean[at - 2] || clean[at - 1] != clean[at] ||
            (clean[at - 1] == kOidWriteAux && written % 25 == 0))
            moments.push_back(at);
    }

    size_t killedWhileWriting = 0;
    for (const size_t at : moments) {
        FactoryCard({});
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            KillAtRequest killer(sim.Machine(), at);
            prepare(killer);
            dialog->OnUpdate();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        std::vector<std::string> broken;
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) broken.push_back("the run was not killed");
        const size_t writes =
            static_cast<size_t>(std::count(clean.begin(), clean.begin() + static_cast<long>(at), kOidWriteAux));
        // The card as the killed run left it, read afresh.
        Faults({});
        std::vector<HistoryRecord> shown;
        const Result<> read = ReadHistoryRecordsNewestFirst(
            HistoryPath(), [&](std::string_view, HistoryRecord& r) { return shown.push_back(std::move(r)), true; },
            [&](const std::string& w) { broken.push_back("history warning: " + w); });
        if (!read) broken.push_back("the history cannot be read: " + read.Reason());
        const bool changed = Firmware() != oldFirmware || FlashPda() != "old";
        if (changed) {
            ++killedWhileWriting;
            // The history names the unfinished run and its backups; or,
            // killed after its last write, the run it recorded whole.
            const bool recorded = shown.size() == 1 && shown[0].outcome == "succeeded";
            if (recorded) {
                if (writes != allWrites) broken.push_back("a run killed part way recorded as a success");
                if (!FlashDifference(ReadFlash(), reference).empty())
                    broken.push_back("recorded whole, but the flash differs");
            } else if (shown.size() != 1 || shown[0].outcome != "unfinished") {
                broken.push_back("the flash changed, and the history shows no unfinished run: " +
                                 std::to_string(shown.size()) + " record(s)");
            } else {
                std::error_code ec;
                if (!shown[0].firmwareBackup || !fs::exists(*shown[0].firmwareBackup, ec))
                    broken.push_back("the unfinished record names no firmware backup that exists");
                if (shown[0].backup && !fs::exists(*shown[0].backup, ec))
                    broken.push_back("the unfinished record names a PDA backup that does not exist");
            }
            const std::string pda = FlashPda();
            if (pda != "old" && pda != "new" && !BackupHoldsOldPda())
                broken.push_back("the PDA in flash is " + pda + " and no backup holds the old one");
            // Its backup returns the firmware byte for byte.
            ExpectTheOldFirmwareKept(oldFirmware, broken);
        } else {
            // Killed before its first write changed the flash: at most its
            // mark that it was about to write.
            for (const HistoryRecord& r : shown)
                if (r.outcome != "unfinished") broken.push_back("a finished record of a run that changed nothing");
        }
        // The killed run's lock is gone with it: the next run takes the card.
        ExpectACleanUpdateRepairs(reference, broken);

        std::string text;
        for (const std::string& b : broken) text += "\n    " + b;
        EXPECT_TRUE(broken.empty()) << "killed at request " << at << " of " << requests << ":" << text;
    }
    EXPECT_GT(killedWhileWriting, 3u);
}

}  // namespace
}  // namespace varnel
