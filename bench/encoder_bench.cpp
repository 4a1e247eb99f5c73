// Encoder throughput: a 900 × 648 24-bit logo in each half-toning mode, read from its file as save and upload
// read it; saving 255 such logos; and the C yardstick doing the same job (read, grey, threshold or Stucki,
// pack). Run: build/linux/bench/encoder_bench

#include "bench_logo.h"
#include "c_converter.h"
#include "printer/nv_upload_ctrl.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace tessera;
using bench::kLogoHeight;
using bench::kLogoWidth;
using bench::logoPath;

void pixelRate(benchmark::State& state, double logos = 1.0) {
    state.counters["pixels/s"] =
        benchmark::Counter(logos * kLogoWidth * kLogoHeight, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_EncodeLogo(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    NvImageEncoder encoder;
    for (auto _ : state) {
        Status s = encoder.encodeLogoFile(logoPath(), mode, 5);
        if (!s) state.SkipWithError(s.error().message.c_str());
        benchmark::DoNotOptimize(encoder.raster().data());
    }
    pixelRate(state);
}
BENCHMARK(BM_EncodeLogo)->Arg(Threshold)->Arg(ErrorDiffusion)->Arg(IndexedOrder)->ArgName("mode")
    ->Unit(benchmark::kMillisecond);

// The yardstick: mode 0 float threshold, 1 float Stucki.
void BM_CConverter(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::size_t size = 0;
        std::uint8_t* file = c_read_file(logoPath().c_str(), &size);
        c_logo logo;
        if (!file || c_convert(file, size, mode, &logo) != 0) {
            state.SkipWithError("the C converter failed");
            break;
        }
        benchmark::DoNotOptimize(logo.raster);
        c_free_logo(&logo);
        std::free(file);
    }
    pixelRate(state);
}
BENCHMARK(BM_CConverter)->Arg(C_THRESHOLD)->Arg(C_STUCKI)->ArgName("stucki")->Unit(benchmark::kMillisecond);

void BM_Save255Logos(benchmark::State& state) {
    const std::vector<std::string> logos(255, logoPath());
    const std::string out = (std::filesystem::temp_directory_path() / "tessera-bench-255.bit").string();
    MemorySink unused;
    CNVUploadCtrl ctrl(unused);
    for (auto _ : state) {
        if (ctrl.saveLogoFile(out, logos, Threshold, 5, BIN) != CNVUploadCtrl::kSaveWritten)
            state.SkipWithError(ctrl.lastError().message.c_str());
    }
    std::filesystem::remove(out);
    pixelRate(state, 255.0);
}
BENCHMARK(BM_Save255Logos)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
