#pragma once
// A throwaway simulated machine: the default machine in a temporary
// directory, whose configuration a test may change first, with the request
// trace read back as JSON.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "sample/default_machine.h"
#include "sim/machine_dir.h"
#include "sim/sim_machine.h"
#include "tests/test_support.h"

namespace varnel::test {

// The machine in `directory`, loaded as a program loads it; the test fails
// (std::runtime_error) when it cannot be.
inline std::unique_ptr<sim::SimMachine> LoadMachine(const std::filesystem::path& directory) {
    Result<std::unique_ptr<sim::SimMachine>> machine = sim::SimMachine::Open(directory);
    if (!machine) throw std::runtime_error(machine.Reason());
    return std::move(*machine);
}

class SimFixture {
public:
    SimFixture() { Init(); }

    void Init() {
        if (const Result<> made = sample::InitDefaultMachine(dir.Path() / "machine", true); !made)
            throw std::runtime_error(made.Reason());
    }

    std::filesystem::path MachineDir() const { return dir.Path() / "machine"; }
    std::string TracePath() const { return dir.File("trace.jsonl"); }

    // Changes machine.json, then (re)loads the machine.
    void Configure(const std::function<void(sim::MachineConfig&)>& change) {
        sim::MachineConfig config = sim::DefaultMachineConfig();
        change(config);
        const Result<> written =
            WriteFileAtomically((MachineDir() / "machine.json").string(), sim::FormatMachineConfig(config));
        ASSERT_TRUE(written.Ok()) << written.Reason();
        machine.reset();
    }

    sim::SimMachine& Machine() {
        if (!machine) {
            machine = LoadMachine(MachineDir());
            machine->SetTrace(TracePath());
        }
        return *machine;
    }

    // The requests traced since the last call.
    std::vector<nlohmann::json> Trace() {
        std::vector<nlohmann::json> lines;
        std::ifstream in(TracePath());
        std::string line;
        while (std::getline(in, line)) lines.push_back(nlohmann::json::parse(line));
        std::filesystem::remove(TracePath());
        return lines;
    }

    TempDir dir;
    std::unique_ptr<sim::SimMachine> machine;
};

// The OIDs of traced requests.
inline std::vector<uint32_t> Oids(const std::vector<nlohmann::json>& trace) {
    std::vector<uint32_t> oids;
    for (const auto& line : trace) oids.push_back(line["oid"].get<uint32_t>());
    return oids;
}

}  // namespace varnel::test
