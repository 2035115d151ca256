// Programming a maximum-size image into the simulated card (latency off):
// requests sent against the minimum the piece rule allows, and MB/s.
//   force on:             minimum one write per piece
//   force off, unchanged: minimum one read per piece
//   force off, changed:   minimum one read and one write per piece

#include <benchmark/benchmark.h>

#include <sstream>

#include "card/adapter.h"
#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "sample/default_machine.h"
#include "sim/machine_dir.h"
#include "sim/sim_machine.h"
#include "tests/support/forwarding_library.h"
#include "tests/support/script_host.h"
#include "tests/test_support.h"
#include "sample/sample_release.h"

namespace {

using namespace varnel;

// Counts the requests that reach the simulated driver.
class CountingLibrary : public test::ForwardingLibrary {
public:
    using ForwardingLibrary::ForwardingLibrary;
    NdisStatus MakeNdisRequest(AdapterHandle h, DriverRequest& r, Overlapped& o, uint32_t w) override {
        ++requests;
        return ForwardingLibrary::MakeNdisRequest(h, r, o, w);
    }
    int64_t requests = 0;
};

struct Rig {
    Rig() {
        if (const Result<> made = sample::InitDefaultMachine(dir.Path(), true); !made)
            throw std::runtime_error(made.Reason());
        Result<std::unique_ptr<sim::SimMachine>> opened = sim::SimMachine::Open(dir.Path());
        if (!opened) throw std::runtime_error(opened.Reason());
        machine = std::move(*opened);
        counting = std::make_unique<CountingLibrary>(*machine);
        adapter = std::make_unique<CAdapter>(*counting, *machine, host);
        adapter->Open(1, true);
        for (int salt = 0; salt < 2; ++salt) {
            sample::ImageLayout layout = sample::MaximumImage();
            layout.seed += static_cast<uint32_t>(salt);
            std::istringstream text(sample::ImageText(layout));
            CFirmwareFile file;
            file.Load(text, &images[salt], nullptr);
        }
    }
    test::TempDir dir;
    test::ScriptHost host;
    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<CountingLibrary> counting;
    std::unique_ptr<CAdapter> adapter;
    CFirmwareImage images[2];
};

enum Mode { kForce, kUnchanged, kChanged };

void Program(benchmark::State& state, Mode mode) {
    Rig rig;
    CFirmwareImage& first = rig.images[0];
    const int64_t pieces = first.CountPieces(kPieceMax, kPieceBoundary);
    const int64_t bytes = first.ByteCount();
    rig.adapter->ProgramImage(first, nullptr, true, false, false);  // the card holds image 0
    int64_t requests = 0;
    int64_t minimum = 0;
    int round = 0;
    for (auto _ : state) {
        CFirmwareImage& image = mode == kChanged ? rig.images[++round % 2] : first;
        rig.counting->requests = 0;
        if (!rig.adapter->ProgramImage(image, nullptr, mode == kForce, false, false)) {
            state.SkipWithError("programming failed");
            break;
        }
        requests += rig.counting->requests;
        minimum += mode == kChanged ? 2 * pieces : pieces;
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["pieces"] = static_cast<double>(pieces);
    state.counters["requests_per_KiB"] =
        benchmark::Counter(static_cast<double>(requests) * 1024.0 / static_cast<double>(bytes * state.iterations()));
    state.counters["vs_minimum"] = static_cast<double>(requests) / static_cast<double>(minimum);
}

void BM_ProgramForce(benchmark::State& state) { Program(state, kForce); }
void BM_ProgramUnchanged(benchmark::State& state) { Program(state, kUnchanged); }
void BM_ProgramChanged(benchmark::State& state) { Program(state, kChanged); }
BENCHMARK(BM_ProgramForce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProgramUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProgramChanged)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
