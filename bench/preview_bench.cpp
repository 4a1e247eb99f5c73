// The preview's conversion as it runs at every repaint: a fresh copy of a 900 × 648 picture converted in each
// mode (the copy is part of what a repaint does, so it is timed too).
// Run: build/linux/bench/preview_bench

#include "image/logo_bitmap.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using namespace tessera;

constexpr int kWidth = 900, kHeight = 648;

// Gradients and a checker pattern, so that every mode has both colours to decide between.
LogoBitmap makeSource() {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * kWidth + x) * 4];
            p[0] = static_cast<std::uint8_t>(x * 255 / kWidth);
            p[1] = static_cast<std::uint8_t>(y * 255 / kHeight);
            p[2] = static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) ? 200 : 40);
        }
    LogoBitmap source;
    source.replacePixels(px, kWidth, kHeight);
    return source;
}

void convert(benchmark::State& state, int mode) {
    const LogoBitmap source = makeSource();
    for (auto _ : state) {
        LogoBitmap view;
        view.copyFrom(&source);
        if (!convertForPreview(view, mode, 5, 24)) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(view);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_PreviewThreshold(benchmark::State& s) { convert(s, 0); }
void BM_PreviewErrorDiffusion(benchmark::State& s) { convert(s, 1); }
void BM_PreviewIndexedOrder(benchmark::State& s) { convert(s, 2); }

} // namespace

BENCHMARK(BM_PreviewThreshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewErrorDiffusion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewIndexedOrder)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
