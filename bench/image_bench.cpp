// Loading and plugging a maximum-size firmware image, in bytes of record
// text per second.
//
//   image_bench [benchmark options]       runs the benchmarks
//   image_bench --write-data-only FILE    writes the data-only maximum image
//                                         that objcopy_ratio.sh compares with

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "image/firmware_file.h"
#include "image/firmware_image.h"
#include "image/plug_list.h"
#include "pda/pda.h"
#include "sample/sample_release.h"

namespace {

using namespace varnel;

// The largest image the reader takes, with plug records for the card's data.
sample::ImageLayout PluggedMaximum() {
    sample::ImageLayout layout = sample::MaximumImage();
    layout.station = sample::ReleaseStation();
    layout.plugs = {{CPlugRecord::kFileNamePlug, 0x40, 16},
                    {kPdrMacAddress, 0x60, 6},
                    {kPdrDomain, 0x70, 12},
                    {kPdrSetPoint1, 0x80, 28},
                    {kPdrSetPoint2, 0xA0, 34}};
    return layout;
}

std::string WriteTemporary(const std::string& name, const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() / ("varnel-bench-" + name);
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

void Load(benchmark::State& state, const std::string& path, bool plug) {
    CPda pda;
    sample::FillCardPda(pda);
    const auto fileBytes = static_cast<int64_t>(std::filesystem::file_size(path));
    for (auto _ : state) {
        CFirmwareFile file;
        CFirmwareImage image;
        CPlugList plugs;
        if (file.LoadFile(path, &image, &plugs) == 0) {
            state.SkipWithError(file.LastFinding().c_str());
            break;
        }
        if (plug) benchmark::DoNotOptimize(file.PlugImage(image, plugs, pda, path));
        benchmark::DoNotOptimize(image.BlockCount());
    }
    state.SetBytesProcessed(state.iterations() * fileBytes);
    state.counters["file_bytes"] = static_cast<double>(fileBytes);
}

void BM_LoadAndPlugMaximumImage(benchmark::State& state) {
    static const std::string path = WriteTemporary("plugged.hex", sample::ImageText(PluggedMaximum()));
    Load(state, path, true);
}
BENCHMARK(BM_LoadAndPlugMaximumImage)->Unit(benchmark::kMillisecond);

// The same records objcopy reads: data and the termination record only.
void BM_LoadDataOnlyMaximumImage(benchmark::State& state) {
    const char* given = std::getenv("VARNEL_BENCH_FILE");
    static const std::string path =
        given ? given : WriteTemporary("data-only.hex", sample::ImageText(sample::MaximumImage()));
    Load(state, path, false);
}
BENCHMARK(BM_LoadDataOnlyMaximumImage)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-data-only") == 0) {
        std::ofstream out(argv[2], std::ios::binary);
        out << sample::ImageText(sample::MaximumImage());
        return out ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
