#include "image/image_filter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace tessera {

const std::uint8_t kPreviewDitherMatrix[8][8] = {
    {0, 48, 12, 60, 3, 51, 15, 63},  {32, 16, 44, 28, 35, 19, 47, 31}, {8, 56, 4, 52, 11, 59, 7, 55},
    {40, 24, 36, 20, 43, 27, 39, 23}, {2, 50, 14, 62, 1, 49, 13, 61},  {34, 18, 46, 30, 33, 17, 45, 29},
    {10, 58, 6, 54, 9, 57, 5, 53},   {42, 26, 38, 22, 41, 25, 37, 21},
};

int previewBrightnessOffset(int level) {
    level = std::clamp(level, 0, 10);
    if (level == 5) return 0;
    return level < 5 ? 15 * (5 - level) : 10 * (5 - level);
}

namespace {

struct Share {
    int dy, dx, weight;
};
// Stucki weights of 42, in the order they are applied; the clamping after each share makes the order matter.
constexpr Share kStucki[] = {
    {0, 1, 8}, {0, 2, 4},                                    //
    {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}, //
    {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1},
};

std::size_t pixelCount(int w, int h) { return static_cast<std::size_t>(w) * static_cast<std::size_t>(h); }

// The integer grey of a pixel plus the level's offset, clamped to a byte.
int adjustedGrey(const std::uint8_t* px, int offset) {
    const int grey = (3 * px[2] + 6 * px[1] + px[0]) / 10;
    return std::clamp(grey + offset, 0, 255);
}

// The floating-point luminance of a grey put into all three channels. The preview's pixels depend on this
// exact expression: double precision, this order, truncation toward zero (v or v − 1).
int luminanceOfGrey(int v) {
    const double g = v, r = v, b = v;
    return static_cast<int>((g * 0.587 + r * 0.299) + b * 0.114);
}

void putGrey(std::uint8_t* px, bool white) {
    const std::uint8_t c = white ? 255 : 0;
    px[0] = px[1] = px[2] = c;
    px[3] = 0;
}

bool sameSize(int sw, int sh, int dw, int dh) { return sw == dw && sh == dh && sw > 0 && sh > 0; }

} // namespace

bool ImageFilter::apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
                        int dstHeight) const {
    // Only the overlap: a derived filter that grows the image must not make the copy read past src.
    const int w = std::min(srcWidth, dstWidth), h = std::min(srcHeight, dstHeight);
    for (int y = 0; y < h; ++y)
        std::memcpy(dst + pixelCount(dstWidth, y) * 4, src + pixelCount(srcWidth, y) * 4, static_cast<std::size_t>(w) * 4);
    return true;
}

bool ThresholdFilter::apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
                            int dstHeight) const {
    if (!sameSize(srcWidth, srcHeight, dstWidth, dstHeight)) return false;
    const int offset = previewBrightnessOffset(level_);
    const std::size_t n = pixelCount(srcWidth, srcHeight);
    for (std::size_t i = 0; i < n; ++i) {
        const int v = adjustedGrey(src + 4 * i, offset);
        // v in all three channels through the same integer formula gives v back.
        const int again = (3 * v + 6 * v + v) / 10;
        putGrey(dst + 4 * i, again > 128);
    }
    return true;
}

bool ErrorDiffusionFilter::apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst,
                                 int dstWidth, int dstHeight) const {
    if (!sameSize(srcWidth, srcHeight, dstWidth, dstHeight)) return false;
    const int offset = previewBrightnessOffset(level_);
    const int w = srcWidth, h = srcHeight;
    // One flat plane with stride w: a share past the right edge lands in the first columns of the next row,
    // and shares below the last row fall into the spare bytes. The preview's dots depend on this wrap.
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(w + 4) * static_cast<std::size_t>(h + 4), 0);
    const std::size_t n = pixelCount(w, h);
    for (std::size_t i = 0; i < n; ++i)
        plane[i] = static_cast<std::uint8_t>(luminanceOfGrey(adjustedGrey(src + 4 * i, offset)));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t at = pixelCount(w, y) + static_cast<std::size_t>(x);
            const int p = plane[at];
            const bool white = p > 128;
            const int e = white ? p - 255 : p;
            putGrey(dst + 4 * at, white);
            for (const Share& s : kStucki) {
                if (x + s.dx < 0) continue;
                const std::size_t to = pixelCount(w, y + s.dy) + static_cast<std::size_t>(x + s.dx);
                plane[to] = static_cast<std::uint8_t>(std::clamp(plane[to] + s.weight * e / 42, 0, 255));
            }
        }
    }
    return true;
}

bool IndexedOrderFilter::apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst,
                               int dstWidth, int dstHeight) const {
    if (!sameSize(srcWidth, srcHeight, dstWidth, dstHeight)) return false;
    static constexpr std::uint8_t kPalette[2] = {0, 255};
    const int offset = previewBrightnessOffset(level_);
    for (int y = 0; y < srcHeight; ++y) {
        for (int x = 0; x < srcWidth; ++x) {
            const std::size_t at = (pixelCount(srcWidth, y) + static_cast<std::size_t>(x)) * 4;
            const int v = luminanceOfGrey(adjustedGrey(src + at, offset));
            const int q = v * 64 / 255;
            const int l = q / 64, f = q % 64;
            // f > 0 only when q < 64, so L + 1 never passes the palette's end.
            const std::uint8_t grey = kPreviewDitherMatrix[y % 8][x % 8] < f ? kPalette[std::min(l + 1, 1)] : kPalette[l];
            putGrey(dst + at, grey == 255);
        }
    }
    return true;
}

} // namespace tessera
