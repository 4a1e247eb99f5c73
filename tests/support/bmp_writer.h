#pragma once
// Writes BMP files of every layout the decoder reads, from one picture, so that tests can build a file and
// its twins (the same colours in another layout) without keeping binary files around.

#include "image/bmp_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::test {

// A picture to write: 4 bytes per pixel (blue, green, red, alpha), y = 0 the top row.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;

    Picture(int w, int h, BmpColor fill = {255, 255, 255}, std::uint8_t alpha = 255);
    std::size_t index(int x, int y) const { return (static_cast<std::size_t>(y) * width + x) * 4; }
    void set(int x, int y, BmpColor c, std::uint8_t alpha = 255) {
        const std::size_t i = index(x, y);
        bgra[i] = c.b, bgra[i + 1] = c.g, bgra[i + 2] = c.r, bgra[i + 3] = alpha;
    }
    BmpColor at(int x, int y) const { return {bgra[index(x, y)], bgra[index(x, y) + 1], bgra[index(x, y) + 2]}; }
    std::uint8_t alphaAt(int x, int y) const { return bgra[index(x, y) + 3]; }
};

struct BmpLayout {
    int bitCount = 24;             // 1, 4, 8, 16, 24, 32
    std::uint32_t compression = 0; // 0 BI_RGB, 1 BI_RLE8, 2 BI_RLE4, 3 BI_BITFIELDS
    std::uint32_t headerSize = 40; // 12, 40, 108, 124
    bool topDown = false;
    // ≤ 8 bits: the colour table. Empty: made from the picture's distinct colours in order of first
    // appearance (top row first), padded with black to paletteSize entries.
    std::vector<BmpColor> palette;
    int paletteSize = 0; // ≤ 8 bits: entries written (0: 2^bitCount); biClrUsed says so when smaller
    // BI_BITFIELDS (and the V4/V5 mask fields): red, green, blue and alpha masks. All zero: 5-6-5 for 16 bits,
    // 8-8-8 with alpha 0xFF000000 for 32 bits when withAlpha, without alpha otherwise.
    std::uint32_t masks[4] = {0, 0, 0, 0};
    bool withAlpha = false; // 32-bit bit fields: write the picture's alpha and declare the alpha mask
};

// The BMP file of the picture in the layout. Colours are quantised to what the layout can hold (5 bits per
// channel for 16-bit 5-5-5, the masks' widths for bit fields); paletted layouts must be given a picture whose
// colours all appear in the palette.
std::vector<std::uint8_t> writeBmp(const Picture& picture, const BmpLayout& layout);

// Shorthands.
inline std::vector<std::uint8_t> writeBmp24(const Picture& p) {
    return writeBmp(p, BmpLayout{});
}
std::vector<std::uint8_t> writeBmp1(const Picture& p, BmpColor entry0, BmpColor entry1);

// Writes bytes to a file under the test's temporary directory (or at an absolute path) and returns its path.
std::string writeTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes);
std::string tempDir();

} // namespace tessera::test
