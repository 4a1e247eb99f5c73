#include "printer/nv_image_encoder.h"

#include "image/flat_diffusion.h"
#include "image/image_file.h"

#include <algorithm>
#include <cstddef>

namespace tessera {

namespace {

constexpr int kBrightnessOffsets[kBrightnessLevels] = {75, 60, 45, 30, 15, 0, -10, -20, -30, -40, -50};

constexpr BmpColor kWhite{255, 255, 255};

// Takes the dots row by row in storage order (the bottom row of the image first) and packs each band of 8
// image rows into the raster's column bytes as soon as the band's top row has arrived, so that no plane of
// the whole image is ever held.
class BandPacker {
  public:
    BandPacker(std::vector<std::uint8_t>& band, std::uint8_t* raster, int width8, int height)
        : raster_(raster), width8_(width8), height_(height), bands_((height + 7) / 8) {
        // Zeroed once: the rows of the lowest band below the image stay blank, and no producer writes the
        // columns past the image.
        band.assign(static_cast<std::size_t>(width8) * 8, 0);
        rows_ = band.data();
    }

    // Where the dots of storage row y go, 1 where the printer prints: the producer writes the image's
    // columns only.
    std::uint8_t* row(int y) const { return rows_ + static_cast<std::size_t>((height_ - 1 - y) % 8) * width8_; }

    // Called for y = 0, 1, .. once row(y) is filled.
    void rowDone(int y) {
        const int yi = height_ - 1 - y;
        if (yi % 8 == 0) pack(yi / 8);
    }

  private:
    void pack(int band) {
        const std::size_t w = static_cast<std::size_t>(width8_);
        const std::uint8_t* r = rows_;
        std::uint8_t* out = raster_ + band;
        for (std::size_t x = 0; x < w; ++x, out += bands_)
            *out = static_cast<std::uint8_t>(r[x] << 7 | r[w + x] << 6 | r[2 * w + x] << 5 | r[3 * w + x] << 4 |
                                             r[4 * w + x] << 3 | r[5 * w + x] << 2 | r[6 * w + x] << 1 | r[7 * w + x]);
    }

    std::uint8_t* raster_;
    std::uint8_t* rows_ = nullptr;
    int width8_, height_, bands_;
};

const std::uint8_t* bgrRow(const BmpImage& image, int y) {
    return image.bgr.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width()) * 3;
}

} // namespace

const std::uint8_t kDitherMatrix[8][8] = {
    {0, 48, 12, 60, 3, 51, 15, 63},  {32, 16, 44, 28, 35, 19, 47, 31}, {8, 56, 4, 52, 11, 59, 7, 55},
    {40, 24, 36, 20, 43, 27, 39, 23}, {2, 50, 14, 62, 1, 49, 13, 61},  {34, 18, 46, 30, 33, 17, 45, 29},
    {10, 58, 6, 54, 9, 57, 5, 53},   {42, 26, 38, 22, 41, 25, 37, 21},
};

int brightnessOffset(int level) { return kBrightnessOffsets[std::clamp(level, 0, kBrightnessLevels - 1)]; }

GreyFormula::GreyFormula(int offset) {
    for (int c = 0; c < 256; ++c) {
        const double v = std::clamp(c + offset, 0, 255);
        blue_[c] = v * 0.114;
        green_[c] = v * 0.587;
        red_[c] = v * 0.299;
    }
}

int literalGrey(int bPrime, int gPrime, int rPrime) {
    // The printed bytes depend on this exact expression: double precision, this order, truncation.
    return static_cast<int>((static_cast<double>(gPrime) * 0.587 + static_cast<double>(rPrime) * 0.299) +
                            static_cast<double>(bPrime) * 0.114);
}

Status NvImageEncoder::encodeLogoFile(const std::string& path, int mode, int level, LogoFamily family) {
    rasterLength_ = 0;
    auto image = decodeLogoFile(path);
    if (!image) return image.error();
    return encodeImage(*image, mode, level, family);
}

std::vector<std::uint8_t> NvImageEncoder::graphicsRows() const {
    if (rasterLength_ == 0) return {};
    const std::size_t rowBytes = (static_cast<std::size_t>(width_) + 7) / 8;
    std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(height_), 0);
    const std::size_t bands = static_cast<std::size_t>(paddedHeight_) / 8;
    for (int x = 0; x < width_; ++x) {
        const std::uint8_t* column = raster_.data() + static_cast<std::size_t>(x) * bands;
        const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
        std::uint8_t* out = rows.data() + x / 8;
        for (int y = 0; y < height_; ++y, out += rowBytes)
            if (column[y / 8] & (0x80 >> (y % 8))) *out |= bit;
    }
    return rows;
}

Status NvImageEncoder::encodeImage(const BmpImage& image, int mode, int level, LogoFamily family) {
    rasterLength_ = 0;
    halftoneSkipped_ = false;
    if (level < 0 || level >= kBrightnessLevels)
        return badInput("brightness level " + std::to_string(level) + " is outside 0..10");
    const int w = image.width(), h = image.height();
    if (w <= 0 || h <= 0) return badInput("the image is empty");
    const int xUnits = (w + 7) / 8, yUnits = (h + 7) / 8;
    if (family == LogoFamily::Graphics && (w > kMaxGraphicsWidth || h > kMaxGraphicsHeight))
        return badInput("image of " + std::to_string(w) + " x " + std::to_string(h) +
                        " dots is too large for the printer's NV graphics (at most " +
                        std::to_string(kMaxGraphicsWidth) + " x " + std::to_string(kMaxGraphicsHeight) + ")");
    if (family == LogoFamily::BitImage && (xUnits > kMaxNvWidthUnits || yUnits > kMaxNvHeightUnits))
        return badInput("image of " + std::to_string(w) + " x " + std::to_string(h) +
                        " dots is too large for the printer's NV image command (at most " +
                        std::to_string(kMaxNvWidthUnits * 8) + " x " + std::to_string(kMaxNvHeightUnits * 8) + ")");
    width_ = w;
    height_ = h;

    paddedWidth_ = xUnits * 8;
    paddedHeight_ = yUnits * 8;
    const std::size_t length = static_cast<std::size_t>(paddedWidth_) * static_cast<std::size_t>(yUnits);
    if (raster_.size() < length) raster_.resize(length);
    BandPacker packer(band_, raster_.data(), paddedWidth_, h);
    // Every path makes the dots of storage rows 0 .. h − 1 (the padding rows above the image never print
    // and, in error diffusion, pass their errors only further up), and of the image's columns.
    auto eachRow = [&](auto&& makeRow) {
        for (int y = 0; y < h; ++y) {
            makeRow(y, packer.row(y));
            packer.rowDone(y);
        }
    };

    halftoneSkipped_ = image.info.bitCount > 1 && image.pixel(0, 0) == kWhite;
    if (image.info.bitCount <= 1) {
        // A dot for every 0 bit, or every 1 bit when colour-table entry 0 is white.
        const bool whiteFirst = !image.palette.empty() && image.palette[0] == kWhite;
        eachRow([&](int y, std::uint8_t* dots) {
            const std::uint8_t* idx = image.indices.data() + static_cast<std::size_t>(y) * w;
            for (int x = 0; x < w; ++x)
                dots[x] = (idx[x] != 0) == whiteFirst;
        });
    } else if (halftoneSkipped_) {
        // White first: straight from the pixels, whatever the mode; (B + G + R) div 3 < 128.
        eachRow([&](int y, std::uint8_t* dots) {
            const std::uint8_t* px = bgrRow(image, y);
            for (int x = 0; x < w; ++x, px += 3)
                dots[x] = px[0] + px[1] + px[2] < 384;
        });
    } else {
        const GreyFormula grey(brightnessOffset(level));
        switch (mode) {
        case Threshold: {
            // The level acts twice in this mode: through the grey offset and through the threshold.
            const int threshold = 5 * level + 103;
            eachRow([&](int y, std::uint8_t* dots) {
                const std::uint8_t* px = bgrRow(image, y);
                for (int x = 0; x < w; ++x, px += 3)
                    dots[x] = grey(px[0], px[1], px[2]) <= threshold;
            });
            break;
        }
        case IndexedOrder: {
            // White where the matrix entry is below (g × 64) div 255; that is 64 for g = 255, always white.
            std::uint8_t level64[256];
            for (int g = 0; g < 256; ++g)
                level64[g] = static_cast<std::uint8_t>(g * 64 / 255);
            eachRow([&](int y, std::uint8_t* dots) {
                const std::uint8_t* px = bgrRow(image, y);
                const std::uint8_t* m = kDitherMatrix[y % 8];
                for (int x = 0; x < w; ++x, px += 3)
                    dots[x] = m[x % 8] >= level64[grey(px[0], px[1], px[2])];
            });
            break;
        }
        default: {
            FlatDiffusion plane(work_, paddedWidth_);
            // Cells outside the bitmap start at 0: they relay the errors they receive and add none.
            auto loadRow = [&](int y) {
                std::uint8_t* cells = plane.row(y);
                std::fill(cells, cells + paddedWidth_, std::uint8_t{0});
                if (y >= h) return;
                const std::uint8_t* px = bgrRow(image, y);
                for (int x = 0; x < w; ++x, px += 3)
                    cells[x] = static_cast<std::uint8_t>(grey(px[0], px[1], px[2]));
            };
            for (int y = 0; y < FlatDiffusion::kRowsAhead; ++y)
                loadRow(y);
            white_.resize(static_cast<std::size_t>(paddedWidth_));
            eachRow([&](int y, std::uint8_t* dots) {
                loadRow(y + FlatDiffusion::kRowsAhead);
                plane.diffuseRow(y, white_.data());
                for (int x = 0; x < w; ++x)
                    dots[x] = white_[x] ^ 1;
            });
            break;
        }
        }
    }
    rasterLength_ = static_cast<int>(length);
    return {};
}

} // namespace tessera
