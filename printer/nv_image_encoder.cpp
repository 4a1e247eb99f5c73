#include "printer/nv_image_encoder.h"

#include "image/image_file.h"

#include <algorithm>
#include <cstddef>

namespace tessera {

namespace {

constexpr int kBrightnessOffsets[kBrightnessLevels] = {75, 60, 45, 30, 15, 0, -10, -20, -30, -40, -50};

// Error-diffusion shares in the order they are applied: (row offset, column offset, weight of 42).
struct Share {
    int dy, dx, weight;
};
constexpr Share kDiffusion[] = {
    {0, 1, 8}, {0, 2, 4},                                    //
    {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}, //
    {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1},
};
constexpr int kDiffusionDivisor = 42;

std::uint8_t clampByte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

constexpr BmpColor kWhite{255, 255, 255};

} // namespace

const std::uint8_t kDitherMatrix[8][8] = {
    {0, 48, 12, 60, 3, 51, 15, 63},  {32, 16, 44, 28, 35, 19, 47, 31}, {8, 56, 4, 52, 11, 59, 7, 55},
    {40, 24, 36, 20, 43, 27, 39, 23}, {2, 50, 14, 62, 1, 49, 13, 61},  {34, 18, 46, 30, 33, 17, 45, 29},
    {10, 58, 6, 54, 9, 57, 5, 53},   {42, 26, 38, 22, 41, 25, 37, 21},
};

int brightnessOffset(int level) { return kBrightnessOffsets[std::clamp(level, 0, kBrightnessLevels - 1)]; }

Status NvImageEncoder::encodeLogoFile(const std::string& path, int mode, int level) {
    rasterLength_ = 0;
    auto image = decodeLogoFile(path);
    if (!image) return image.error();
    return encodeImage(*image, mode, level);
}

Status NvImageEncoder::encodeImage(const BmpImage& image, int mode, int level) {
    rasterLength_ = 0;
    halftoneSkipped_ = false;
    if (level < 0 || level >= kBrightnessLevels)
        return badInput("brightness level " + std::to_string(level) + " is outside 0..10");
    const int w = image.width(), h = image.height();
    if (w <= 0 || h <= 0) return badInput("the image is empty");
    const int xUnits = (w + 7) / 8, yUnits = (h + 7) / 8;
    if (xUnits > kMaxNvWidthUnits || yUnits > kMaxNvHeightUnits)
        return badInput("image of " + std::to_string(w) + " x " + std::to_string(h) +
                        " dots is too large for the printer's NV image command (at most " +
                        std::to_string(kMaxNvWidthUnits * 8) + " x " + std::to_string(kMaxNvHeightUnits * 8) + ")");

    paddedWidth_ = xUnits * 8;
    paddedHeight_ = yUnits * 8;
    const std::size_t cells = static_cast<std::size_t>(paddedWidth_) * static_cast<std::size_t>(paddedHeight_);
    greyRaster_.assign(cells, 0);
    dotRaster_.assign(cells, 0);

    if (image.info.bitCount <= 1) {
        const bool whiteFirst = !image.palette.empty() && image.palette[0] == kWhite;
        pack(image, false, whiteFirst);
        return {};
    }

    const bool whiteFirst = image.pixel(0, 0) == kWhite;
    halftoneSkipped_ = whiteFirst;
    switch (mode) {
    case Threshold:
        convertThreshold(image, level);
        break;
    case IndexedOrder:
        convertOrderedDither(image, level);
        break;
    default:
        convertErrorDiffusion(image, level);
        break;
    }
    pack(image, true, whiteFirst);
    return {};
}

int NvImageEncoder::greyValue(const BmpImage& image, int x, int y, int offset) const {
    if (x >= image.width() || y >= image.height()) return 0;
    const BmpColor c = image.pixel(x, y);
    const int b = std::clamp(c.b + offset, 0, 255);
    const int g = std::clamp(c.g + offset, 0, 255);
    const int r = std::clamp(c.r + offset, 0, 255);
    // The printed bytes depend on this exact expression: double precision, this order, truncation.
    const double v = (static_cast<double>(g) * 0.587 + static_cast<double>(r) * 0.299) + static_cast<double>(b) * 0.114;
    return static_cast<int>(v);
}

void NvImageEncoder::fillGrey(const BmpImage& image, int level) {
    const int offset = brightnessOffset(level);
    for (int y = 0; y < paddedHeight_; ++y)
        for (int x = 0; x < paddedWidth_; ++x)
            greyRaster_[static_cast<std::size_t>(y) * paddedWidth_ + x] =
                static_cast<std::uint8_t>(greyValue(image, x, y, offset));
}

void NvImageEncoder::convertThreshold(const BmpImage& image, int level) {
    fillGrey(image, level);
    // The level acts twice in this mode: through the grey offset and through the threshold.
    const int threshold = 5 * level + 103;
    for (std::size_t i = 0; i < greyRaster_.size(); ++i) dotRaster_[i] = greyRaster_[i] > threshold ? 255 : 0;
}

void NvImageEncoder::convertErrorDiffusion(const BmpImage& image, int level) {
    fillGrey(image, level);
    const int w8 = paddedWidth_, h8 = paddedHeight_;
    // The plane is flat with stride w8: a share past the right edge lands at the start of the next row, and
    // shares below the last row fall into the spare bytes. The printed result depends on this wrap-around.
    std::vector<std::uint8_t> work(static_cast<std::size_t>(w8 + 4) * static_cast<std::size_t>(h8 + 4), 0);
    std::copy(greyRaster_.begin(), greyRaster_.end(), work.begin());
    for (int y = 0; y < h8; ++y) {
        for (int x = 0; x < w8; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * w8 + x;
            const int p = work[at];
            int e;
            if (p > 128) {
                dotRaster_[at] = 255;
                e = p - 255;
            } else {
                dotRaster_[at] = 0;
                e = p;
            }
            for (const Share& s : kDiffusion) {
                if (x + s.dx < 0) continue;
                const std::size_t to = static_cast<std::size_t>((y + s.dy) * w8 + (x + s.dx));
                work[to] = clampByte(work[to] + s.weight * e / kDiffusionDivisor);
            }
        }
    }
}

void NvImageEncoder::convertOrderedDither(const BmpImage& image, int level) {
    const int offset = brightnessOffset(level);
    static constexpr std::uint8_t kPalette[2] = {0, 255};
    for (int y = 0; y < paddedHeight_; ++y) {
        for (int x = 0; x < paddedWidth_; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * paddedWidth_ + x;
            const int g = greyValue(image, x, y, offset);
            greyRaster_[at] = static_cast<std::uint8_t>(g);
            const int q = g * 64 / 255;
            const int l = q / 64, f = q % 64;
            dotRaster_[at] = kDitherMatrix[y % 8][x % 8] < f ? 255 : kPalette[l];
        }
    }
}

void NvImageEncoder::pack(const BmpImage& image, bool halftoned, bool whiteFirst) {
    const int w = image.width(), h = image.height();
    const int bands = paddedHeight_ / 8;
    const std::size_t length = static_cast<std::size_t>(paddedWidth_) * static_cast<std::size_t>(bands);
    if (raster_.size() < length) raster_.resize(length);

    auto dot = [&](int x, int yi) -> bool {
        if (x >= w || yi >= h) return false;
        const int y = h - 1 - yi; // storage row, 0 at the bottom
        if (!halftoned) {
            const bool bit = image.indices[static_cast<std::size_t>(y) * w + x] != 0;
            return whiteFirst ? bit : !bit;
        }
        if (whiteFirst) {
            const BmpColor c = image.pixel(x, y);
            return (c.b + c.g + c.r) / 3 < 128;
        }
        return dotRaster_[static_cast<std::size_t>(y) * paddedWidth_ + x] == 0;
    };

    std::size_t n = 0;
    for (int x = 0; x < paddedWidth_; ++x) {
        for (int b = 0; b < bands; ++b) {
            std::uint8_t byte = 0;
            for (int k = 0; k < 8; ++k)
                if (dot(x, 8 * b + k)) byte |= static_cast<std::uint8_t>(0x80u >> k);
            raster_[n++] = byte;
        }
    }
    rasterLength_ = static_cast<int>(n);
}

} // namespace tessera
