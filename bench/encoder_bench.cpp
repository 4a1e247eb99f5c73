// Encoder throughput: a 900 × 648 24-bit logo in each half-toning mode, and saving 255 such logos.
// Run: build/linux/bench/encoder_bench

#include "printer/nv_upload_ctrl.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using namespace tessera;

constexpr int kWidth = 900, kHeight = 648;

// A 24-bit bottom-up BMP with gradients and a pattern, so that no mode hits a trivial path (the bottom-left
// pixel is not white).
std::vector<std::uint8_t> makeLogoFile() {
    const int stride = (kWidth * 3 + 3) / 4 * 4;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(stride * kHeight);
    std::vector<std::uint8_t> f(54 + dataSize, 0);
    auto put16 = [&](std::size_t at, std::uint32_t v) {
        f[at] = static_cast<std::uint8_t>(v);
        f[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, static_cast<std::uint32_t>(f.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, kWidth);
    put32(22, kHeight);
    put16(26, 1);
    put16(28, 24);
    put32(34, dataSize);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &f[54 + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 255 / kWidth);
            p[1] = static_cast<std::uint8_t>(y * 255 / kHeight);
            p[2] = static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) ? 200 : 40);
        }
    return f;
}

const std::string& logoPath() {
    static const std::string path = [] {
        auto p = std::filesystem::temp_directory_path() / "tessera-bench-logo.bmp";
        auto bytes = makeLogoFile();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }();
    return path;
}

void BM_EncodeLogo(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    NvImageEncoder encoder;
    for (auto _ : state) {
        Status s = encoder.encodeLogoFile(logoPath(), mode, 5);
        if (!s) state.SkipWithError(s.error().message.c_str());
        benchmark::DoNotOptimize(encoder.raster().data());
    }
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(kWidth) * kHeight, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EncodeLogo)->Arg(Threshold)->Arg(ErrorDiffusion)->Arg(IndexedOrder)->ArgName("mode")
    ->Unit(benchmark::kMillisecond);

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
    state.counters["pixels/s"] = benchmark::Counter(255.0 * kWidth * kHeight,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Save255Logos)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
