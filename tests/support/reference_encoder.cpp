#include "support/reference_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace tessera::test {

namespace {

constexpr int kPlaneW = 900, kPlaneH = 650;

std::uint32_t le32(const std::vector<std::uint8_t>& f, std::size_t at) {
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<std::uint32_t>(f[at + 3]) << 24;
}
std::uint16_t le16(const std::vector<std::uint8_t>& f, std::size_t at) {
    return static_cast<std::uint16_t>(f[at] | f[at + 1] << 8);
}

const int kOffset[11] = {75, 60, 45, 30, 15, 0, -10, -20, -30, -40, -50};
const int kM[8][8] = {
    {0, 48, 12, 60, 3, 51, 15, 63},  {32, 16, 44, 28, 35, 19, 47, 31}, {8, 56, 4, 52, 11, 59, 7, 55},
    {40, 24, 36, 20, 43, 27, 39, 23}, {2, 50, 14, 62, 1, 49, 13, 61},  {34, 18, 46, 30, 33, 17, 45, 29},
    {10, 58, 6, 54, 9, 57, 5, 53},   {42, 26, 38, 22, 41, 25, 37, 21},
};

struct Planes {
    std::uint8_t grey[kPlaneH * kPlaneW];
    std::uint8_t dot[kPlaneH * kPlaneW];
};

} // namespace

ReferenceRaster referenceEncode(const std::vector<std::uint8_t>& f, int mode, int level) {
    ReferenceRaster out;
    if (f.size() < 58 || f[0] != 'B' || f[1] != 'M' || le32(f, 14) != 40) return out;
    const bool needsHalftone = le32(f, 10) == 54 || le16(f, 28) == 8 || le16(f, 28) == 4;
    const bool whiteFirst = f[54] == 0xFF && f[55] == 0xFF && f[56] == 0xFF;

    const int W = static_cast<int>(le32(f, 18)), H = static_cast<int>(le32(f, 22));
    const int bitcount = le16(f, 28);
    const std::size_t bits = le32(f, 10);
    const int stride = (W * bitcount + 31) / 32 * 4;
    const int W8 = (W + 7) / 8 * 8, H8 = (H + 7) / 8 * 8;
    if (W <= 0 || H <= 0 || W8 > kPlaneW || H8 > kPlaneH) return out;
    if (bits + static_cast<std::size_t>(stride) * H > f.size()) return out;
    auto row = [&](int y) { return &f[bits + static_cast<std::size_t>(y) * stride]; };

    auto planes = std::make_unique<Planes>();
    std::memset(planes.get(), 0, sizeof(Planes));
    auto grey = [&](int x, int y) -> int {
        if (x >= W || y >= H) return 0;
        const std::uint8_t* r = row(y);
        const int o = kOffset[level];
        int v = 0;
        if (bitcount == 24 || bitcount == 32) {
            const std::size_t i = static_cast<std::size_t>(x) * bitcount / 8;
            const int B = std::clamp(r[i] + o, 0, 255), G = std::clamp(r[i + 1] + o, 0, 255),
                      R = std::clamp(r[i + 2] + o, 0, 255);
            v = static_cast<int>((G * 0.587 + R * 0.299) + B * 0.114);
        } else if (bitcount == 8) {
            v = std::clamp(r[x] + o, 0, 255);
        } else if (bitcount == 4) {
            v = std::clamp(r[x / 2] + o, 0, 255);
        }
        planes->grey[y * kPlaneW + x] = static_cast<std::uint8_t>(v);
        return v;
    };

    if (needsHalftone) {
        if (mode == 0) {
            const int T = 5 * level + 103;
            for (int y = 0; y < H8; ++y)
                for (int x = 0; x < W8; ++x) planes->dot[y * kPlaneW + x] = grey(x, y) > T ? 255 : 0;
        } else if (mode == 2) {
            const int palette[2] = {0, 255};
            for (int y = 0; y < H8; ++y)
                for (int x = 0; x < W8; ++x) {
                    const int g = grey(x, y);
                    const int q = g * 64 / 255, L = q / 64, fr = q % 64;
                    planes->dot[y * kPlaneW + x] = static_cast<std::uint8_t>(kM[y % 8][x % 8] < fr ? 255 : palette[L]);
                }
        } else {
            for (int y = 0; y < H8; ++y)
                for (int x = 0; x < W8; ++x) grey(x, y);
            std::vector<std::uint8_t> work(static_cast<std::size_t>(W8 + 4) * (H8 + 4));
            for (int y = 0; y < H8; ++y) std::memcpy(&work[static_cast<std::size_t>(y) * W8], &planes->grey[y * kPlaneW], W8);
            const int dy[12] = {0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2};
            const int dx[12] = {1, 2, -2, -1, 0, 1, 2, -2, -1, 0, 1, 2};
            const int wt[12] = {8, 4, 2, 4, 8, 4, 2, 1, 2, 4, 2, 1};
            for (int y = 0; y < H8; ++y)
                for (int x = 0; x < W8; ++x) {
                    const int p = work[static_cast<std::size_t>(y) * W8 + x];
                    int e;
                    if (p > 128) {
                        planes->dot[y * kPlaneW + x] = 255;
                        e = p - 255;
                    } else {
                        planes->dot[y * kPlaneW + x] = 0;
                        e = p;
                    }
                    for (int k = 0; k < 12; ++k) {
                        if (x + dx[k] < 0) continue;
                        std::uint8_t& b = work[static_cast<std::size_t>((y + dy[k]) * W8 + x + dx[k])];
                        b = static_cast<std::uint8_t>(std::clamp(b + wt[k] * e / 42, 0, 255));
                    }
                }
        }
    }

    out.xUnits = W8 / 8;
    out.yUnits = H8 / 8;
    for (int x = 0; x < W8; ++x)
        for (int b = 0; b < H8 / 8; ++b) {
            std::uint8_t byte = 0;
            for (int k = 0; k < 8; ++k) {
                const int yi = 8 * b + k;
                bool d = false;
                if (x < W && yi < H) {
                    const int y = H - 1 - yi;
                    const std::uint8_t* r = row(y);
                    const std::size_t i = static_cast<std::size_t>(x) * bitcount / 8;
                    if (!needsHalftone) {
                        const int bit = r[i] >> (7 - x % 8) & 1;
                        d = whiteFirst ? bit == 1 : bit == 0;
                    } else if (whiteFirst) {
                        d = (r[i] + r[i + 1] + r[i + 2]) / 3 < 128;
                    } else {
                        d = planes->dot[y * kPlaneW + x] == 0;
                    }
                }
                if (d) byte |= static_cast<std::uint8_t>(0x80 >> k);
            }
            out.raster.push_back(byte);
        }
    return out;
}

} // namespace tessera::test
