#pragma once
// The picture every benchmark converts: a 900 × 648 24-bit bottom-up BMP with gradients and a checker
// pattern, so that no mode meets a uniform area or a trivial path (the bottom-left pixel is not white).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tessera::bench {

inline constexpr int kLogoWidth = 900, kLogoHeight = 648;

inline std::vector<std::uint8_t> makeLogoFile() {
    const int stride = (kLogoWidth * 3 + 3) / 4 * 4;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(stride * kLogoHeight);
    std::vector<std::uint8_t> f(54 + dataSize, 0);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put(2, static_cast<std::uint32_t>(f.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, kLogoWidth, 4);
    put(22, kLogoHeight, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, dataSize, 4);
    for (int y = 0; y < kLogoHeight; ++y)
        for (int x = 0; x < kLogoWidth; ++x) {
            std::uint8_t* p = &f[54 + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 255 / kLogoWidth);
            p[1] = static_cast<std::uint8_t>(y * 255 / kLogoHeight);
            p[2] = static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) ? 200 : 40);
        }
    return f;
}

// The picture written once to the temporary directory.
inline const std::string& logoPath() {
    static const std::string path = [] {
        auto p = std::filesystem::temp_directory_path() / "tessera-bench-logo.bmp";
        auto bytes = makeLogoFile();
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }();
    return path;
}

} // namespace tessera::bench
