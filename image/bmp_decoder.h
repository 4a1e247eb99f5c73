#pragma once
// Our own BMP decoder: every supported layout is turned into one form, so that the encoder and the previews
// see the same pixels whatever the file's header, depth, compression or row order. Every size is checked
// against the file before it is read; a bad file gets an Error (BadInput) with a reason, never a crash.
//
// Supported: BITMAPCOREHEADER (12), BITMAPINFOHEADER (40), V4 (108) and V5 (124) headers; 1, 4, 8, 16, 24
// and 32 bits per pixel; BI_RGB, BI_RLE8, BI_RLE4 and BI_BITFIELDS; bottom-up and top-down rows.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera {

struct BmpColor {
    std::uint8_t b = 0, g = 0, r = 0;
    bool operator==(const BmpColor&) const = default;
};

// Largest width or height accepted, and largest pixel count, so that a small hostile file cannot make the
// decoder allocate gigabytes.
inline constexpr int kBmpMaxDimension = 30000;
inline constexpr std::int64_t kBmpMaxPixels = std::int64_t{1} << 26;

struct BmpLimits {
    std::int64_t maxPixels = kBmpMaxPixels;
};

// What the headers say, read without decoding the pixels.
struct BmpInfo {
    int width = 0;         // pixels, > 0
    int height = 0;        // rows, > 0 (the sign of the file's height is in topDown)
    int bitCount = 0;      // bits per pixel as stored: 1, 4, 8, 16, 24 or 32
    std::uint32_t compression = 0; // 0 BI_RGB, 1 BI_RLE8, 2 BI_RLE4, 3 BI_BITFIELDS
    std::uint32_t headerSize = 0;  // 12, 40, 108 or 124
    bool topDown = false;  // the file stores its top row first
};

struct BmpImage {
    BmpInfo info;
    // The colour table as stored (1, 4 and 8 bits per pixel), at most 2^bitCount entries.
    std::vector<BmpColor> palette;
    // 1, 4 and 8 bits per pixel: one colour-table index per pixel, width × height, row 0 the bottom row of
    // the image (BMP order, whatever order the file used). Empty for deeper images.
    std::vector<std::uint8_t> indices;
    // Every depth: blue, green, red per pixel, width × height × 3, row 0 the bottom row. Palette entries looked
    // up; 16-bit and bit-field channels scaled to 0..255 as (v × 255 + m div 2) div m for a field of maximum m;
    // a 32-bit BI_RGB file's fourth byte ignored; where the file declares an alpha mask (BI_BITFIELDS with a
    // non-zero alpha mask) each channel is composited over white as (c × a + 255 × (255 − a) + 127) div 255.
    std::vector<std::uint8_t> bgr;
    // True when an alpha mask was declared and applied.
    bool hasAlpha = false;

    int width() const { return info.width; }
    int height() const { return info.height; }
    // Colour of the pixel at column x of storage row y (row 0 at the bottom).
    BmpColor pixel(int x, int y) const {
        std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(info.width) + static_cast<std::size_t>(x)) * 3;
        return BmpColor{bgr[i], bgr[i + 1], bgr[i + 2]};
    }
};

// Reads and validates the file header and the info header only.
Result<BmpInfo> probeBmp(std::span<const std::uint8_t> file);

// Decodes a whole BMP file held in memory.
Result<BmpImage> decodeBmp(std::span<const std::uint8_t> file, const BmpLimits& limits = {});

// The same, taking the file's buffer over: where the file's rows are already the picture's (24 bits per
// pixel, bottom-up, uncompressed) they are moved into place inside it instead of being copied out.
Result<BmpImage> decodeBmp(std::vector<std::uint8_t>&& file, const BmpLimits& limits = {});

// Reads the file (refusing files over 256 MiB) and decodes it; errors are prefixed with the path.
Result<BmpImage> decodeBmpFile(const std::string& path, const BmpLimits& limits = {});

} // namespace tessera
