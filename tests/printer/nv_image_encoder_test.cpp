// The encoder against an independent literal reading of the plain file kinds, its documented edge cases,
// and the rule that every other layout encodes exactly like its 24-bit twin.

#include "printer/nv_image_encoder.h"

#include "support/bmp_writer.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace tessera {
namespace {

using test::BmpLayout;
using test::Picture;

// Plain bottom-up BI_RGB files with a 40-byte header, written here byte by byte so that the comparison
// with the reference does not go through the test writer. rgb: top row first, 3 bytes B, G, R per pixel.
std::vector<std::uint8_t> plainBmp(int w, int h, int bits, const std::vector<std::uint8_t>& bgr,
                                   const std::vector<BmpColor>& table = {}) {
    const int stride = (w * bits + 31) / 32 * 4;
    const std::size_t offset = 54 + 4 * table.size();
    std::vector<std::uint8_t> f(offset + static_cast<std::size_t>(stride) * h, 0);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put(2, static_cast<std::uint32_t>(f.size()), 4);
    put(10, static_cast<std::uint32_t>(offset), 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(w), 4);
    put(22, static_cast<std::uint32_t>(h), 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(bits), 2);
    put(46, static_cast<std::uint32_t>(table.size()), 4);
    for (std::size_t i = 0; i < table.size(); ++i) {
        f[54 + 4 * i] = table[i].b;
        f[55 + 4 * i] = table[i].g;
        f[56 + 4 * i] = table[i].r;
    }
    for (int yi = 0; yi < h; ++yi) {
        std::uint8_t* row = &f[offset + static_cast<std::size_t>(h - 1 - yi) * stride];
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* px = &bgr[(static_cast<std::size_t>(yi) * w + x) * 3];
            if (bits == 1) {
                if (px[0]) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            } else {
                std::memcpy(row + x * bits / 8, px, 3);
                if (bits == 32) row[x * 4 + 3] = 0x5A; // must be ignored
            }
        }
    }
    return f;
}

// Gradients with noise: exercises every grey level and the clamping at both ends of the offset range.
std::vector<std::uint8_t> testPixels(int w, int h, unsigned seed, bool whiteCorner) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * w + x) * 3];
            const int base = (x * 255 / std::max(1, w - 1) + y * 7) % 256;
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(std::clamp(base + int(rng() % 61) - 30, 0, 255));
        }
    // The bottom-left pixel decides white-first.
    std::uint8_t* corner = &bgr[static_cast<std::size_t>(h - 1) * w * 3];
    if (whiteCorner) std::memset(corner, 255, 3);
    else if (corner[0] == 255 && corner[1] == 255 && corner[2] == 255) corner[0] = 254;
    return bgr;
}

Status encodeBytes(NvImageEncoder& enc, const std::vector<std::uint8_t>& file, int mode, int level) {
    auto image = decodeBmp(file);
    if (!image) return image.error();
    return enc.encodeImage(*image, mode, level);
}

std::vector<std::uint8_t> rasterOf(const NvImageEncoder& enc) {
    return {enc.raster().begin(), enc.raster().begin() + enc.rasterLength()};
}

// Whether the dot at column x, image row yi (from the top) prints.
bool dotAt(const NvImageEncoder& enc, int x, int yi) {
    const int bands = enc.paddedHeight() / 8;
    return enc.raster()[static_cast<std::size_t>(x) * bands + yi / 8] >> (7 - yi % 8) & 1;
}

void expectMatchesReference(const std::vector<std::uint8_t>& file, const std::string& what) {
    NvImageEncoder enc;
    for (int mode = 0; mode < 3; ++mode)
        for (int level = 0; level <= 10; ++level) {
            auto ref = test::referenceEncode(file, mode, level);
            ASSERT_GT(ref.xUnits, 0) << what;
            ASSERT_TRUE(encodeBytes(enc, file, mode, level)) << what;
            ASSERT_EQ(enc.paddedWidth() / 8, ref.xUnits) << what;
            ASSERT_EQ(enc.paddedHeight() / 8, ref.yUnits) << what;
            ASSERT_EQ(rasterOf(enc), ref.raster) << what << " mode " << mode << " level " << level;
        }
}

TEST(NvImageEncoderReference, PlainFilesGiveTheDefinedBytesInEveryModeAndLevel) {
    // Widths and heights around multiples of 8, including W8 = 8 (the diffusion's wrap-around into the next
    // row) and a width whose 24-bit rows need padding.
    const int sizes[][2] = {{1, 1}, {8, 8}, {7, 9}, {10, 10}, {13, 5}, {17, 23}, {64, 16}, {8, 40}};
    unsigned seed = 1;
    for (auto [w, h] : sizes)
        for (int bits : {24, 32})
            for (bool white : {false, true}) {
                const auto file = plainBmp(w, h, bits, testPixels(w, h, seed++, white));
                expectMatchesReference(file, std::to_string(w) + "x" + std::to_string(h) + "x" +
                                                 std::to_string(bits) + (white ? " white-first" : ""));
            }
}

TEST(NvImageEncoderReference, OneBitFilesGiveTheDefinedBytes) {
    std::mt19937 rng(7);
    for (auto [w, h] : {std::pair{5, 3}, {8, 8}, {21, 11}, {40, 17}}) {
        std::vector<std::uint8_t> bits(static_cast<std::size_t>(w) * h * 3);
        for (std::size_t i = 0; i < bits.size(); i += 3) bits[i] = rng() % 2;
        const BmpColor black{0, 0, 0}, white{255, 255, 255}, grey{200, 200, 200};
        for (auto table : {std::vector{black, white}, std::vector{white, black}, std::vector{grey, white}})
            expectMatchesReference(plainBmp(w, h, 1, bits, table), "1-bit " + std::to_string(w));
    }
}

TEST(NvImageEncoderReference, LargestPlaneSizeMatches) {
    // 896 is the widest multiple of 8 that fits a 900-byte plane row.
    const auto file = plainBmp(896, 648, 24, testPixels(896, 648, 99, false));
    NvImageEncoder enc;
    for (int mode = 0; mode < 3; ++mode) {
        auto ref = test::referenceEncode(file, mode, 5);
        ASSERT_TRUE(encodeBytes(enc, file, mode, 5));
        EXPECT_EQ(rasterOf(enc), ref.raster) << "mode " << mode;
        EXPECT_EQ(enc.rasterLength(), 896 * 648 / 8);
    }
}

// --- the documented cases, one value at a time --------------------------------------------------------

std::vector<std::uint8_t> uniform(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < px.size(); i += 3) {
        px[i] = b;
        px[i + 1] = g;
        px[i + 2] = r;
    }
    return px;
}

int printedDots(const NvImageEncoder& enc, int w, int h) {
    int n = 0;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) n += dotAt(enc, x, y);
    return n;
}

TEST(NvImageEncoder, PaddingToMultiplesOfEightLeavesTheMarginBlank) {
    NvImageEncoder enc;
    ASSERT_TRUE(encodeBytes(enc, plainBmp(10, 10, 24, uniform(10, 10, 0, 0, 0)), Threshold, 5));
    EXPECT_EQ(enc.paddedWidth(), 16);
    EXPECT_EQ(enc.paddedHeight(), 16);
    EXPECT_EQ(enc.rasterLength(), 32);
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 16; ++y) EXPECT_EQ(dotAt(enc, x, y), x < 10 && y < 10) << x << "," << y;
}

TEST(NvImageEncoder, ThresholdGreyAndBrightness) {
    NvImageEncoder enc;
    const auto grey128 = plainBmp(8, 8, 24, uniform(8, 8, 128, 128, 128));
    ASSERT_TRUE(encodeBytes(enc, grey128, Threshold, 5)); // grey value 127 is not above 128
    EXPECT_EQ(printedDots(enc, 8, 8), 64);
    ASSERT_TRUE(encodeBytes(enc, grey128, Threshold, 4)); // 142 > 123
    EXPECT_EQ(printedDots(enc, 8, 8), 0);

    auto nearWhite = uniform(8, 8, 255, 255, 255);
    nearWhite[static_cast<std::size_t>(7 * 8) * 3] = 254; // bottom-left not pure white: no white-first
    const auto black = plainBmp(8, 8, 24, uniform(8, 8, 0, 0, 0));
    for (int level = 0; level <= 10; ++level) {
        ASSERT_TRUE(encodeBytes(enc, plainBmp(8, 8, 24, nearWhite), Threshold, level));
        EXPECT_EQ(printedDots(enc, 8, 8), 0) << "level " << level;
        ASSERT_TRUE(encodeBytes(enc, black, Threshold, level));
        EXPECT_EQ(printedDots(enc, 8, 8), 64) << "level " << level;
    }
}

TEST(NvImageEncoder, OrderedDitherOfMidGreyPrints33Of64) {
    NvImageEncoder enc;
    ASSERT_TRUE(encodeBytes(enc, plainBmp(8, 8, 24, uniform(8, 8, 128, 128, 128)), IndexedOrder, 5));
    EXPECT_EQ(printedDots(enc, 8, 8), 33);
}

TEST(NvImageEncoder, WhiteFirstPacksFromThePixelsInEveryModeAndLevel) {
    // Bottom-left white; the other pixels straddle the mean of 128: (127+128+128)/3 = 127 prints,
    // (128+128+129)/3 = 128 does not.
    const int w = 8, h = 2;
    auto px = uniform(w, h, 127, 128, 128);
    for (int x = 0; x < w; x += 2) {
        std::uint8_t* p = &px[static_cast<std::size_t>(x) * 3];
        p[0] = 128;
        p[2] = 129;
    }
    std::memset(&px[static_cast<std::size_t>(w) * 3], 255, 3); // bottom-left
    const auto file = plainBmp(w, h, 24, px);
    NvImageEncoder enc;
    for (int mode = 0; mode < 3; ++mode)
        for (int level : {0, 5, 10}) {
            ASSERT_TRUE(encodeBytes(enc, file, mode, level));
            for (int x = 0; x < w; ++x) EXPECT_EQ(dotAt(enc, x, 0), x % 2 == 1) << x;
            EXPECT_FALSE(dotAt(enc, 0, 1));
            for (int x = 1; x < w; ++x) EXPECT_TRUE(dotAt(enc, x, 1)) << x;
        }
}

TEST(NvImageEncoder, OneBitSenseFollowsColourEntryZero) {
    // Top row: bits 1 0 1 0 ...
    std::vector<std::uint8_t> bits(8 * 1 * 3, 0);
    for (int x = 0; x < 8; x += 2) bits[static_cast<std::size_t>(x) * 3] = 1;
    NvImageEncoder enc;
    ASSERT_TRUE(encodeBytes(enc, plainBmp(8, 1, 1, bits, {{0, 0, 0}, {255, 255, 255}}), IndexedOrder, 0));
    for (int x = 0; x < 8; ++x) EXPECT_EQ(dotAt(enc, x, 0), x % 2 == 1) << "entry 0 black: a 0 bit prints";
    ASSERT_TRUE(encodeBytes(enc, plainBmp(8, 1, 1, bits, {{255, 255, 255}, {0, 0, 0}}), Threshold, 10));
    for (int x = 0; x < 8; ++x) EXPECT_EQ(dotAt(enc, x, 0), x % 2 == 0) << "entry 0 white: a 1 bit prints";
}

TEST(NvImageEncoder, DiffusionAtTheRightEdgeWrapsIntoTheRowAbove) {
    // 8 × 2: the bottom row is light except, in one variant, its last pixel (grey 127, error +127); the top
    // row is dark grey 110. The right-hand shares of that last pixel (8 and 4 of 42: +24, +12) land in
    // columns 0 and 1 of the next storage row, which is the top row of the image, and lift its first pixel
    // above 128. Without the dark last pixel the same top-left pixel prints.
    const int w = 8, h = 2;
    NvImageEncoder enc;
    for (bool darkLast : {false, true}) {
        auto px = uniform(w, h, 110, 110, 110);
        for (int x = 0; x < w; ++x)
            std::memset(&px[(static_cast<std::size_t>(w) + x) * 3], x == 7 && darkLast ? 128 : 250, 3);
        ASSERT_TRUE(encodeBytes(enc, plainBmp(w, h, 24, px), ErrorDiffusion, 5));
        EXPECT_EQ(dotAt(enc, 0, 0), !darkLast);
        EXPECT_EQ(dotAt(enc, 7, 1), darkLast);
    }
}

TEST(NvImageEncoder, RefusesWhatTheCommandCannotCarry) {
    NvImageEncoder enc;
    BmpImage img;
    img.info = {8184, 8, 24, 0, 40, false};
    img.bgr.assign(static_cast<std::size_t>(8184) * 8 * 3, 0);
    EXPECT_TRUE(enc.encodeImage(img, Threshold, 5)); // x = 1023
    EXPECT_EQ(enc.paddedWidth(), 8184);

    img.info.width = 8185;
    img.bgr.assign(static_cast<std::size_t>(8185) * 8 * 3, 0);
    Status s = enc.encodeImage(img, Threshold, 5);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().kind, ErrorKind::BadInput);
    EXPECT_NE(s.error().message.find("too large"), std::string::npos);
    EXPECT_EQ(enc.rasterLength(), 0);

    img.info = {8, 2305, 24, 0, 40, false};
    img.bgr.assign(static_cast<std::size_t>(8) * 2305 * 3, 0);
    EXPECT_FALSE(enc.encodeImage(img, Threshold, 5));
    img.info.height = 2304;
    EXPECT_TRUE(enc.encodeImage(img, Threshold, 5)); // y = 288

    EXPECT_FALSE(enc.encodeImage(img, Threshold, 11));
    EXPECT_FALSE(enc.encodeImage(img, Threshold, -1));
}

TEST(NvImageEncoder, UnreadableFileIsAnErrorNamingIt) {
    NvImageEncoder enc;
    Status s = enc.encodeLogoFile(test::tempDir() + "/no-such-logo.bmp", Threshold, 5);
    ASSERT_FALSE(s);
    EXPECT_NE(s.error().message.find("no-such-logo.bmp"), std::string::npos);
    const std::string junk = test::writeTempFile("junk.bmp", {'B', 'M', 1, 2, 3});
    EXPECT_FALSE(enc.encodeLogoFile(junk, Threshold, 5));
    EXPECT_EQ(enc.rasterLength(), 0);
}

// --- twins ----------------------------------------------------------------------------------------------

Picture colourfulPicture(int w, int h, int colours, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BmpColor> table;
    for (int i = 0; i < colours; ++i)
        table.push_back({static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                         static_cast<std::uint8_t>(rng())});
    Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.set(x, y, table[(x / 3 + y / 2 + rng() % 2) % table.size()]);
    // Runs of one colour, so that RLE writers have encoded runs to write.
    for (int x = 0; x < w / 2; ++x) p.set(x, 0, table[0]);
    return p;
}

// Encodes a file and the 24-bit file of its decoded colours, in every mode and at three levels.
void expectSameAsTwin(const std::vector<std::uint8_t>& file, const std::string& what) {
    auto image = decodeBmp(file);
    ASSERT_TRUE(image) << what << ": " << image.error().message;
    const auto twin = test::writeBmp24(test::pictureOf(*image));
    NvImageEncoder a, b;
    for (int mode = 0; mode < 3; ++mode)
        for (int level : {0, 5, 10}) {
            ASSERT_TRUE(encodeBytes(a, file, mode, level)) << what;
            ASSERT_TRUE(encodeBytes(b, twin, mode, level)) << what;
            ASSERT_EQ(a.paddedWidth(), b.paddedWidth()) << what;
            ASSERT_EQ(a.paddedHeight(), b.paddedHeight()) << what;
            ASSERT_EQ(rasterOf(a), rasterOf(b)) << what << " mode " << mode << " level " << level;
        }
}

TEST(NvImageEncoderTwins, EveryLayoutEncodesLikeIts24BitTwin) {
    const Picture p16 = colourfulPicture(19, 13, 16, 3);
    const Picture p200 = colourfulPicture(23, 11, 200, 4);
    struct Case {
        const char* name;
        const Picture* picture;
        BmpLayout layout;
    };
    std::vector<Case> cases = {
        {"4-bit", &p16, {.bitCount = 4}},
        {"4-bit RLE", &p16, {.bitCount = 4, .compression = 2}},
        {"8-bit", &p200, {.bitCount = 8}},
        {"8-bit RLE", &p200, {.bitCount = 8, .compression = 1}},
        {"8-bit core header", &p200, {.bitCount = 8, .headerSize = 12}},
        {"8-bit top-down", &p200, {.bitCount = 8, .topDown = true}},
        {"16-bit 5-5-5", &p200, {.bitCount = 16}},
        {"16-bit 5-6-5", &p200, {.bitCount = 16, .compression = 3}},
        {"24-bit top-down", &p200, {.bitCount = 24, .topDown = true}},
        {"24-bit V4", &p200, {.bitCount = 24, .headerSize = 108}},
        {"24-bit V5", &p200, {.bitCount = 24, .headerSize = 124}},
        {"24-bit core header", &p200, {.bitCount = 24, .headerSize = 12}},
        {"32-bit bit fields", &p200, {.bitCount = 32, .compression = 3}},
        {"32-bit V5 bit fields", &p200, {.bitCount = 32, .compression = 3, .headerSize = 124}},
        {"32-bit top-down", &p200, {.bitCount = 32, .topDown = true}},
    };
    for (const Case& c : cases) expectSameAsTwin(test::writeBmp(*c.picture, c.layout), c.name);
}

TEST(NvImageEncoderTwins, AlphaIsCompositedOverWhite) {
    Picture p = colourfulPicture(16, 9, 50, 5);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) p.set(x, y, p.at(x, y), static_cast<std::uint8_t>((x * 17 + y * 29) % 256));
    const auto file = test::writeBmp(p, {.bitCount = 32, .compression = 3, .headerSize = 108, .withAlpha = true});
    expectSameAsTwin(file, "32-bit alpha");
    // Fully transparent pixels become white: a transparent bottom-left corner makes the logo white-first.
    p.set(0, p.height - 1, {0, 0, 0}, 0);
    auto image = decodeBmp(test::writeBmp(p, {.bitCount = 32, .compression = 3, .headerSize = 108, .withAlpha = true}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixel(0, 0), (BmpColor{255, 255, 255}));
}

TEST(NvImageEncoderTwins, TopDownFilesPrintUpright) {
    // A black top row only: whatever the file order, the dot prints in the top row.
    Picture p(8, 8);
    for (int x = 0; x < 8; ++x) p.set(x, 0, {0, 0, 0});
    p.set(0, 7, {254, 254, 254});
    NvImageEncoder enc;
    for (bool topDown : {false, true}) {
        ASSERT_TRUE(encodeBytes(enc, test::writeBmp(p, {.bitCount = 24, .topDown = topDown}), Threshold, 5));
        for (int x = 0; x < 8; ++x) {
            EXPECT_TRUE(dotAt(enc, x, 0)) << topDown;
            EXPECT_FALSE(dotAt(enc, x, 7)) << topDown;
        }
    }
}

TEST(NvImageEncoderTwins, PalettedFilesUseColoursNotIndices) {
    // Every pixel uses index 0, a light grey: by its colour it is light and never prints in threshold mode
    // (taking the index 0 as the grey value would print every pixel).
    Picture p(8, 8, {200, 200, 200});
    NvImageEncoder enc;
    for (int bits : {4, 8}) {
        ASSERT_TRUE(encodeBytes(enc, test::writeBmp(p, {.bitCount = bits}), Threshold, 5));
        EXPECT_EQ(printedDots(enc, 8, 8), 0) << bits;
    }
    // With a pure-white entry 0 the logo is white-first by the bottom-left pixel's colour: nothing prints.
    Picture white(8, 8, {255, 255, 255});
    ASSERT_TRUE(encodeBytes(enc, test::writeBmp(white, {.bitCount = 8}), ErrorDiffusion, 5));
    EXPECT_EQ(printedDots(enc, 8, 8), 0);
}

} // namespace
} // namespace tessera
