#include "image/image_filter.h"

#include "image/flat_diffusion.h"

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

// v′ of every pixel value, by the three channels' integer grey (0 .. 255 × 10 / 10): the same expressions,
// evaluated once per possible value instead of once per pixel.
struct LuminanceTable {
    std::uint8_t of[256];
    explicit LuminanceTable(int offset) {
        for (int grey = 0; grey < 256; ++grey)
            of[grey] = static_cast<std::uint8_t>(luminanceOfGrey(std::clamp(grey + offset, 0, 255)));
    }
    std::uint8_t operator()(const std::uint8_t* px) const { return of[(3 * px[2] + 6 * px[1] + px[0]) / 10]; }
};

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
    const LuminanceTable luminance(previewBrightnessOffset(level_));
    const int w = srcWidth, h = srcHeight;
    std::vector<std::uint8_t> ring, white(static_cast<std::size_t>(w));
    FlatDiffusion plane(ring, w);
    // Rows below the picture start at 0 and only collect shares that are lost.
    auto loadRow = [&](int y) {
        std::uint8_t* cells = plane.row(y);
        if (y >= h) {
            std::fill(cells, cells + w, std::uint8_t{0});
            return;
        }
        const std::uint8_t* px = src + pixelCount(w, y) * 4;
        for (int x = 0; x < w; ++x, px += 4)
            cells[x] = luminance(px);
    };
    for (int y = 0; y < FlatDiffusion::kRowsAhead; ++y)
        loadRow(y);
    for (int y = 0; y < h; ++y) {
        loadRow(y + FlatDiffusion::kRowsAhead);
        plane.diffuseRow(y, white.data());
        std::uint8_t* out = dst + pixelCount(w, y) * 4;
        for (int x = 0; x < w; ++x, out += 4)
            putGrey(out, white[x] != 0);
    }
    return true;
}

bool IndexedOrderFilter::apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst,
                               int dstWidth, int dstHeight) const {
    if (!sameSize(srcWidth, srcHeight, dstWidth, dstHeight)) return false;
    const LuminanceTable luminance(previewBrightnessOffset(level_));
    // q = (v′ × 64) div 255 picks palette entry q div 64 = 0 (black) or, where the matrix entry is below
    // q mod 64, the next one (white); for q = 64 (v′ = 255) the entry itself is white. Both come to: white
    // exactly where the matrix entry is below q.
    std::uint8_t level64[256];
    for (int v = 0; v < 256; ++v)
        level64[v] = static_cast<std::uint8_t>(v * 64 / 255);
    for (int y = 0; y < srcHeight; ++y) {
        const std::uint8_t* matrixRow = kPreviewDitherMatrix[y % 8];
        const std::size_t at = pixelCount(srcWidth, y) * 4;
        const std::uint8_t* px = src + at;
        std::uint8_t* out = dst + at;
        for (int x = 0; x < srcWidth; ++x, px += 4, out += 4)
            putGrey(out, matrixRow[x % 8] < level64[luminance(px)]);
    }
    return true;
}

} // namespace tessera
