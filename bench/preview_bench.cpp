// The preview's conversion as it runs at every repaint: the dialog's view of a 900 × 648 picture released,
// copied afresh from its source and converted in each mode (the copy is part of what a repaint does, so it is
// timed too), and the C yardstick's float Stucki on the same picture's bytes in memory. Run: build/linux/bench/preview_bench

#include "bench_logo.h"
#include "c_converter.h"
#include "image/image_file.h"
#include "image/logo_bitmap.h"

#include <benchmark/benchmark.h>

namespace {

using namespace tessera;

void convert(benchmark::State& state, int mode) {
    LogoBitmap source;
    source.take(pixelImageOfBmp(*decodeBmp(bench::makeLogoFile())));
    LogoBitmap view; // long-lived, as the dialog's converted view
    for (auto _ : state) {
        view.release();
        view.copyFrom(&source);
        if (!convertForPreview(view, mode, 5, 24)) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(view);
    }
    state.SetItemsProcessed(state.iterations() * bench::kLogoWidth * bench::kLogoHeight);
}

void BM_PreviewThreshold(benchmark::State& s) { convert(s, 0); }
void BM_PreviewErrorDiffusion(benchmark::State& s) { convert(s, 1); }
void BM_PreviewIndexedOrder(benchmark::State& s) { convert(s, 2); }

void BM_CStucki(benchmark::State& state) {
    const std::vector<std::uint8_t> file = bench::makeLogoFile();
    for (auto _ : state) {
        c_logo logo;
        if (c_convert(file.data(), file.size(), C_STUCKI, &logo) != 0) state.SkipWithError("the C converter failed");
        benchmark::DoNotOptimize(logo.dots);
        c_free_logo(&logo);
    }
    state.SetItemsProcessed(state.iterations() * bench::kLogoWidth * bench::kLogoHeight);
}

} // namespace

BENCHMARK(BM_PreviewThreshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewErrorDiffusion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewIndexedOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CStucki)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
