#include "image/bmp_decoder.h"
#include "support/bmp_writer.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace tessera {
namespace {

using test::BmpLayout;
using test::Picture;
using test::writeBmp;
using Bytes = std::vector<std::uint8_t>;

constexpr BmpColor kBlack{0, 0, 0};
constexpr BmpColor kWhite{255, 255, 255};
constexpr BmpColor kRed{0, 0, 255};
constexpr BmpColor kBlue{255, 0, 0};

void put(Bytes& f, std::size_t at, std::uint32_t v, int size = 4) {
    for (int i = 0; i < size; ++i)
        f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const Bytes& f, std::size_t at) {
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | std::uint32_t{f[at + 3]} << 24;
}

// Field offsets in a file with a 40-byte (or larger) info header.
constexpr std::size_t kOffBits = 10, kHeaderSize = 14, kWidth = 18, kHeight = 22, kPlanes = 26, kBitCount = 28,
                      kCompression = 30, kClrUsed = 46, kAfterInfo = 54;

std::string errorOf(const Bytes& f, const BmpLimits& limits = {}) {
    Result<BmpImage> r = decodeBmp(f, limits);
    if (r) return "(decoded)";
    EXPECT_EQ(r.error().kind, ErrorKind::BadInput);
    return r.error().message;
}

BmpImage decoded(const Bytes& f) {
    Result<BmpImage> r = decodeBmp(f);
    EXPECT_TRUE(r.ok()) << r.error().message;
    return r ? std::move(r).value() : BmpImage{};
}

// ---- Files written out byte by byte, so that the writer and the decoder cannot share a mistake.

// clang-format off
const Bytes k24Bit2x2 = {
    'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                          // file header
    40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, // info header
    0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    255, 0, 0, 0, 255, 0, 0, 0,     // bottom row: blue, green, padding
    0, 0, 255, 255, 255, 255, 0, 0, // top row: red, white, padding
};
// clang-format on

TEST(BmpKnownFiles, TwentyFourBitRowsAndOrder) {
    BmpImage img = decoded(k24Bit2x2);
    ASSERT_EQ(img.width(), 2);
    ASSERT_EQ(img.height(), 2);
    EXPECT_EQ(img.pixel(0, 0), kBlue);
    EXPECT_EQ(img.pixel(1, 0), (BmpColor{0, 255, 0}));
    EXPECT_EQ(img.pixel(0, 1), kRed);
    EXPECT_EQ(img.pixel(1, 1), kWhite);
    EXPECT_TRUE(img.indices.empty());
    EXPECT_FALSE(img.hasAlpha);

    // The last row's padding may be missing, but not its pixels.
    Bytes unpadded(k24Bit2x2.begin(), k24Bit2x2.end() - 2);
    EXPECT_EQ(decoded(unpadded).pixel(1, 1), kWhite);
    unpadded.pop_back();
    EXPECT_EQ(errorOf(unpadded), "truncated: pixel data needs 14 bytes, file has 13 after offset 54");
}

Bytes rleFile(int width, int height, std::uint32_t compression, int entries, const Bytes& data) {
    const int bitCount = compression == 1 ? 8 : 4;
    const std::uint32_t offset = 54 + 4 * static_cast<std::uint32_t>(entries);
    Bytes f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0};
    f.resize(offset, 0);
    put(f, kOffBits, offset);
    put(f, kWidth, static_cast<std::uint32_t>(width));
    put(f, kHeight, static_cast<std::uint32_t>(height));
    put(f, kPlanes, 1, 2);
    put(f, kBitCount, static_cast<std::uint32_t>(bitCount), 2);
    put(f, kCompression, compression);
    put(f, kClrUsed, static_cast<std::uint32_t>(entries));
    for (int i = 0; i < entries; ++i)
        f[kAfterInfo + 4 * i] = static_cast<std::uint8_t>(i * 10); // blue = 10 i
    f.insert(f.end(), data.begin(), data.end());
    put(f, 2, static_cast<std::uint32_t>(f.size()));
    return f;
}

TEST(BmpKnownFiles, RleCodes) {
    const Bytes rle8 = rleFile(4, 4, 1, 3, {3, 1, 0, 0,       // row 0: run of three 1s, end of line
                                            0, 3, 2, 1, 2, 0, // row 1: absolute 2 1 2 with its pad byte
                                            0, 0, 0, 2, 2, 1, // end of line, delta to column 2 of row 3
                                            2, 2, 0, 1});     // run of two 2s, end of bitmap
    EXPECT_EQ(decoded(rle8).indices, (Bytes{1, 1, 1, 0, 2, 1, 2, 0, 0, 0, 0, 0, 0, 0, 2, 2}));

    const Bytes rle4 = rleFile(10, 1, 2, 4,
                               {0, 6, 0x12, 0x31, 0x23, 0, // absolute 1 2 3 1 2 3: three bytes and a pad byte
                                4, 0x31,                   // run alternating 3 1 3 1
                                0, 1});
    BmpImage img = decoded(rle4);
    ASSERT_EQ(img.indices, (Bytes{1, 2, 3, 1, 2, 3, 3, 1, 3, 1}));
    EXPECT_EQ(img.pixel(2, 0).b, 30);

    // Without an end-of-bitmap code the data simply ends; the rest stays index 0.
    EXPECT_EQ(decoded(rleFile(3, 2, 1, 2, {2, 1})).indices, (Bytes{1, 1, 0, 0, 0, 0}));
}

// ---- The same picture in every layout decodes to the same pixels.

const BmpColor kTwinColours[4] = {kWhite, kRed, kBlue, kBlack}; // 0 and 255 survive every channel width

// Rows of runs, of patterns without runs, of a lone pixel, of alternating pairs and of index 0.
Picture twinPicture(int w, int h, int colours) {
    Picture p(w, h, kWhite);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int kinds[5] = {x / 4, x * 3 + y, x == w - 2, 1 + x % 2, 0};
            p.set(x, y, kTwinColours[kinds[y % 5] % colours]);
        }
    }
    return p;
}

BmpLayout layout(int bitCount, std::uint32_t compression = 0, std::uint32_t headerSize = 40, bool topDown = false) {
    return {.bitCount = bitCount, .compression = compression, .headerSize = headerSize, .topDown = topDown};
}

TEST(BmpTwins, EveryLayoutDecodesTheSamePixels) {
    // One line per depth.
    // clang-format off
    const BmpLayout twins[] = {
        layout(1), layout(1, 0, 40, true), layout(1, 0, 12),
        layout(4), layout(4, 0, 12), {.bitCount = 4, .paletteSize = 5}, layout(4, 2), layout(4, 2, 108),
        layout(8), layout(8, 0, 124, true), layout(8, 0, 12), {.bitCount = 8, .paletteSize = 4}, layout(8, 1),
        {.bitCount = 8, .compression = 1, .headerSize = 124, .paletteSize = 4},
        layout(16), layout(16, 0, 40, true), layout(16, 3),
        {.bitCount = 16, .compression = 3, .headerSize = 108, .masks = {0x0F00, 0x00F0, 0x000F}},
        {.bitCount = 16, .compression = 3, .headerSize = 124, .masks = {0x8000, 0x7FE0, 0x001F}},
        layout(24, 0, 40, true), layout(24, 0, 12), layout(24, 0, 124),
        layout(32), layout(32, 0, 108, true), layout(32, 3),
        {.bitCount = 32, .compression = 3, .masks = {0x000000FF, 0xFF000000, 0x0000FF00}},
        {.bitCount = 32, .compression = 3, .headerSize = 108, .masks = {0x3FF00000, 0x000FFC00, 0x000003FF}},
        {.bitCount = 32, .compression = 3, .headerSize = 124, .withAlpha = true}, // opaque alpha
    };
    // clang-format on
    for (int width : {1, 2, 3, 5, 8, 13, 33}) {
        for (int colours : {2, 4}) {
            const Picture picture = twinPicture(width, 9, colours);
            const BmpImage reference = decoded(test::writeBmp24(picture)),
                           reference8 = decoded(writeBmp(picture, layout(8)));
            for (const BmpLayout& l : twins) {
                if (colours > 2 && l.bitCount == 1) continue;
                SCOPED_TRACE("twin " + std::to_string(&l - twins) + ", width " + std::to_string(width) + ", " +
                             std::to_string(colours) + " colours");
                Result<BmpImage> img = decodeBmp(writeBmp(picture, l));
                ASSERT_TRUE(img.ok()) << img.error().message;
                EXPECT_EQ(std::tie(img->info.bitCount, img->info.topDown), std::tie(l.bitCount, l.topDown));
                EXPECT_EQ(img->bgr, reference.bgr);
                if (l.bitCount <= 8) {
                    EXPECT_EQ(img->indices, reference8.indices);
                }
            }
        }
    }
}

Bytes onePixel(BmpLayout l, std::uint32_t raw) {
    Bytes f = writeBmp(Picture(1, 1), l);
    put(f, get32(f, kOffBits), raw, l.bitCount / 8);
    return f;
}

TEST(BmpChannels, FieldsScaleToTheNearestByte) {
    const BmpLayout odd{
        .bitCount = 16, .compression = 3, .headerSize = 108, .masks = {0x0001, 0x000E, 0xFFF0}}; // 1, 3 and 12 bits
    EXPECT_EQ(decoded(onePixel(odd, 1 | 3 << 1 | 2048 << 4)).pixel(0, 0), (BmpColor{128, 109, 255}));
    EXPECT_EQ(decoded(onePixel(odd, 5 << 1 | 9 << 4)).pixel(0, 0), (BmpColor{1, 182, 0}));

    const BmpLayout g565 = layout(16, 3);
    EXPECT_EQ(decoded(onePixel(g565, 1 << 5)).pixel(0, 0).g, 4);
    EXPECT_EQ(decoded(onePixel(g565, 62 << 5)).pixel(0, 0).g, 251);

    // 16-bit BI_RGB is 5-5-5 and its top bit means nothing.
    EXPECT_EQ(decoded(onePixel(layout(16), 0x4210)).pixel(0, 0), (BmpColor{132, 132, 132}));
    EXPECT_EQ(decoded(onePixel(layout(16), 0x8000)).pixel(0, 0), kBlack);

    // A 32-bit-wide field overflows 32-bit arithmetic; absent fields read as 0.
    const BmpLayout wide{.bitCount = 32, .compression = 3, .headerSize = 108, .masks = {0xFFFFFFFF}};
    EXPECT_EQ(decoded(onePixel(wide, 0x80000000)).pixel(0, 0), (BmpColor{0, 0, 128}));
    EXPECT_EQ(decoded(onePixel(wide, 0x7FFFFFFF)).pixel(0, 0), (BmpColor{0, 0, 127}));
}

TEST(BmpChannels, AlphaIsCompositedOverWhiteOnlyWhenDeclared) {
    Picture p(3, 1);
    p.set(0, 0, BmpColor{0, 100, 200}, 128);
    p.set(1, 0, BmpColor{0, 100, 200}, 0);
    p.set(2, 0, BmpColor{0, 100, 200}, 255);
    for (std::uint32_t headerSize : {108u, 124u}) {
        BmpImage img =
            decoded(writeBmp(p, {.bitCount = 32, .compression = 3, .headerSize = headerSize, .withAlpha = true}));
        EXPECT_TRUE(img.hasAlpha);
        EXPECT_EQ(img.pixel(0, 0), (BmpColor{127, 177, 227}));
        EXPECT_EQ(img.pixel(1, 0), kWhite);
        EXPECT_EQ(img.pixel(2, 0), (BmpColor{0, 100, 200}));
    }

    // Alpha bits without a declared alpha mask, or an alpha mask without BI_BITFIELDS, change nothing.
    const BmpLayout noMask{.bitCount = 32, .compression = 3, .withAlpha = true},
        rgbWithMask{.bitCount = 32, .headerSize = 124, .masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}};
    for (const BmpLayout& l : {noMask, rgbWithMask, layout(32)}) {
        BmpImage img = decoded(writeBmp(p, l));
        EXPECT_FALSE(img.hasAlpha);
        EXPECT_EQ(img.pixel(1, 0), (BmpColor{0, 100, 200}));
    }

    // 4-bit alpha 8 of 15 is 136; full red stays 255 and zero green becomes 119.
    const BmpLayout argb4444{
        .bitCount = 16, .compression = 3, .headerSize = 124, .masks = {0x0F00, 0x00F0, 0x000F, 0xF000}};
    BmpImage img = decoded(onePixel(argb4444, 0x8F00));
    EXPECT_TRUE(img.hasAlpha);
    EXPECT_EQ(img.pixel(0, 0), (BmpColor{119, 119, 255}));
}

TEST(BmpChannels, ColourTableSize) {
    Picture p(2, 1, kRed);
    p.set(1, 0, kBlue);
    // More entries declared than the depth allows are clamped to 2^bitCount.
    Bytes f = writeBmp(p, layout(4));
    put(f, kClrUsed, 300);
    EXPECT_EQ(decoded(f).palette.size(), 16u);

    EXPECT_EQ(decoded(writeBmp(p, {.bitCount = 8, .paletteSize = 2})).palette, (std::vector<BmpColor>{kRed, kBlue}));
}

TEST(BmpBadFiles, EveryTruncationIsAnError) {
    const Picture p = twinPicture(32, 2, 2);
    const BmpLayout alpha{.bitCount = 32, .compression = 3, .headerSize = 124, .withAlpha = true};
    // Widths whose rows need no padding, so that every shorter prefix lacks pixel data.
    for (const BmpLayout& l : {layout(1, 0, 12), layout(4), layout(8, 0, 108), layout(16, 3), layout(24), alpha}) {
        const Bytes f = writeBmp(p, l);
        ASSERT_TRUE(decodeBmp(f).ok());
        for (std::size_t n = 0; n < f.size(); ++n) {
            Result<BmpImage> r = decodeBmp(std::span(f).first(n));
            ASSERT_FALSE(r.ok()) << "bit count " << l.bitCount << ", " << n << " bytes";
            EXPECT_FALSE(r.error().message.empty());
        }
    }
    // RLE data may end at any code boundary, so a cut there decodes; inside the headers it never does.
    for (const BmpLayout& l : {layout(8, 1), layout(4, 2)}) {
        const Bytes f = writeBmp(twinPicture(13, 9, 4), l);
        for (std::size_t n = 0; n < f.size(); ++n) {
            Result<BmpImage> r = decodeBmp(std::span(f).first(n));
            EXPECT_TRUE(!r.ok() || n > get32(f, kOffBits)) << n << " bytes";
            EXPECT_TRUE(!r || r->indices.size() == 13u * 9u) << n << " bytes";
        }
    }
}

using BadFile = std::pair<const char*, Bytes>; // a part of the message, the file

Bytes patched(Bytes f, std::size_t at, std::uint32_t v, int size = 4) {
    put(f, at, v, size);
    return f;
}

TEST(BmpBadFiles, HeadersDataAndSizesAreRefusedWithAReason) {
    const Bytes rgb = writeBmp24(Picture(3, 2));
    const Bytes core = writeBmp(Picture(3, 2), layout(24, 0, 12));
    const Bytes fields = writeBmp(Picture(3, 2), layout(16, 3));
    const Bytes v5 = writeBmp(Picture(3, 2), layout(32, 3, 124));
    const Bytes rle = writeBmp(Picture(3, 2), layout(8, 1));
    Bytes badMagic = rgb;
    badMagic[1] = 'A';
    const BadFile cases[] = {
        {"does not start with \"BM\"", {}},
        {"does not start with \"BM\"", badMagic},
        {"truncated: the file has 17 bytes, too few for the file header (18)", Bytes(rgb.begin(), rgb.begin() + 17)},
        {"truncated: the file has 40 bytes, too few for the info header (54)", Bytes(rgb.begin(), rgb.begin() + 40)},
        {"info header size 64 is not supported", patched(rgb, kHeaderSize, 64)},
        {"info header size 56 is not supported", writeBmp(Picture(3, 2), layout(32, 3, 56))},
        {"info header size 0 is not supported", patched(rgb, kHeaderSize, 0)},
        {"width 0 is outside", patched(rgb, kWidth, 0)},
        {"width -3 is outside", patched(rgb, kWidth, static_cast<std::uint32_t>(-3))},
        {"width 30001 is outside", patched(rgb, kWidth, 30001)},
        {"width 0 is outside", patched(core, kWidth, 0, 2)},
        {"height 0 is outside", patched(rgb, kHeight, 0)},
        {"height -30001 is outside", patched(rgb, kHeight, static_cast<std::uint32_t>(-30001))},
        {"height -2147483648 is outside", patched(rgb, kHeight, 0x80000000)},
        {"plane count 2 is not 1", patched(rgb, kPlanes, 2, 2)},
        {"2 bits per pixel is not supported", patched(rgb, kBitCount, 2, 2)},
        {"32 bits per pixel is not supported with a 12-byte", writeBmp(Picture(3, 2), layout(32, 0, 12))},
        {"BI_RLE8 needs 8 bits per pixel, the file has 4",
         patched(writeBmp(Picture(3, 2), layout(4)), kCompression, 1)},
        {"BI_RLE4 needs 4 bits per pixel, the file has 8", patched(rle, kCompression, 2)},
        {"BI_BITFIELDS needs 16 or 32 bits per pixel", patched(rgb, kCompression, 3)},
        {"compression 4 is not supported", patched(rgb, kCompression, 4)},
        {"must be stored bottom-up", writeBmp(Picture(3, 2), layout(8, 1, 40, true))},
        {"truncated: the file has 60 bytes, too few for the bit-field masks (66)",
         Bytes(fields.begin(), fields.begin() + 60)},
        {"red mask 0x00000F0F is not one run of bits", patched(fields, kAfterInfo, 0x0F0F)},
        {"red mask 0x0000F800 and green mask 0x0000FC00 overlap", patched(fields, kAfterInfo + 4, 0xFC00)},
        {"blue mask 0x00FF0000 has bits beyond a 16-bit pixel", patched(fields, kAfterInfo + 8, 0x00FF0000)},
        {"red mask 0x00FF0000 and alpha mask 0xFFFF0000 overlap", patched(v5, kAfterInfo + 12, 0xFFFF0000)},
    };
    for (const auto& [expected, file] : cases) {
        EXPECT_TRUE(test::holds(errorOf(file), expected));
        EXPECT_FALSE(probeBmp(file).ok()) << expected;
    }

    // Data and sizes: the headers alone may pass.
    Picture two(3, 2, kRed);
    two.set(2, 1, kBlue);
    const Bytes eightBit = writeBmp(two, {.bitCount = 8, .paletteSize = 2});
    const std::size_t pixels8 = get32(eightBit, kOffBits);
    const Bytes huge = patched(patched(patched(rgb, kWidth, 30000), kHeight, 30000), kBitCount, 32, 2);
    constexpr BmpLimits kNoLimit{std::numeric_limits<std::int64_t>::max()};
    const BadFile dataCases[] = {
        {"pixel data offset 9999 is past the end of the file (", patched(rgb, kOffBits, 9999)},
        {"pixel data offset 20 lies inside the headers", patched(rgb, kOffBits, 20)},
        {"truncated: pixel data needs 21 bytes, file has 20 after offset 54", Bytes(rgb.begin(), rgb.end() - 4)},
        {"the 256-entry colour table needs 1078 bytes", patched(eightBit, kClrUsed, 0)},
        {"pixel index 1 is past the 1-entry colour table", patched(writeBmp1(two, kRed, kBlue), kClrUsed, 1)},
        {"pixel index 7 is past the 2-entry colour table (column 1 of row 0", patched(eightBit, pixels8, 0x0700, 2)},
        {"30000x30000 is 900000000 pixels, more than the limit of 67108864", huge},
        {"RLE data runs past the end of row 0", rleFile(4, 2, 1, 2, {5, 1})},
        {"RLE data runs past the end of row 1", rleFile(2, 2, 1, 2, {0, 0, 0, 3, 1, 1, 1, 0})},
        {"RLE data runs past the end of row 0", rleFile(3, 1, 2, 2, {4, 0x11})},
        {"RLE data runs past the top of the image", rleFile(2, 2, 1, 2, {0, 0, 0, 0, 1, 1})},
        {"RLE delta (5, 0) from column 0 of row 0 moves past the image", rleFile(4, 2, 1, 2, {0, 2, 5, 0})},
        {"RLE delta (0, 3) from column 1 of row 0", rleFile(4, 2, 1, 2, {1, 1, 0, 2, 0, 3})},
        {"RLE data runs past the end of the file in row 0", rleFile(8, 2, 1, 2, {0, 5, 1, 1})},
        {"cut off at the end of the file, inside a code", rleFile(8, 2, 1, 2, {2, 1, 3})},
        {"cut off at the end of the file, inside a delta", rleFile(8, 2, 1, 2, {0, 2, 1})},
        {"pixel index 7 is past the 2-entry colour table", rleFile(8, 2, 1, 2, {2, 7})},
        {"pixel index 3 is past the 3-entry colour table (column 1", rleFile(8, 2, 2, 3, {2, 0x23})},
    };
    for (const auto& [expected, file] : dataCases)
        EXPECT_TRUE(test::holds(errorOf(file), expected));
    // Sizes are worked out in 64 bits: 30000 rows of 120000 bytes.
    EXPECT_TRUE(test::holds(errorOf(huge, kNoLimit), "pixel data needs 3600000000 bytes"));
    EXPECT_TRUE(test::holds(errorOf(huge, BmpLimits{900000000 - 1}), "more than the limit"));
    EXPECT_TRUE(test::holds(errorOf(huge, BmpLimits{900000000}), "truncated")); // the limit is inclusive
    // The header alone is fine, so probing succeeds.
    Result<BmpInfo> info = probeBmp(huge);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->width, 30000);
    EXPECT_EQ(info->bitCount, 32);
}

TEST(BmpFiles, DecodeFileNamesThePath) {
    const std::string bad = test::writeTempFile("bad.bmp", {'B', 'M', 1, 2, 3});
    Result<BmpImage> r = decodeBmpFile(bad);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::BadInput);
    EXPECT_EQ(r.error().message.rfind(bad + ": truncated", 0), 0u) << r.error().message;

    Result<BmpImage> missing = decodeBmpFile(test::tempDir() + "/missing.bmp");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::Io);
    EXPECT_TRUE(test::holds(missing.error().message, "missing.bmp"));
}

} // namespace
} // namespace tessera
