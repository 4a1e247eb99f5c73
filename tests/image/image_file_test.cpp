// Loading logo files: the path classification, the icon decoder, the JPEG/GIF/PNG wrapper, drawing pictures
// over the background, the bitmap probe and the encoder's view of non-BMP logos.

#include "image/ico_decoder.h"
#include "image/image_file.h"
#include "support/bmp_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::writeTempFile;

void append(void* ctx, void* data, int size) {
    auto* out = static_cast<Bytes*>(ctx);
    out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
}
// A PNG of RGBA pixels, top row first.
Bytes pngOf(int w, int h, const Bytes& rgba) {
    Bytes out;
    stbi_write_png_to_func(append, &out, w, h, 4, rgba.data(), w * 4);
    return out;
}

// A 2 × 1 GIF, black then white, with colour 1 (white) transparent when asked; the LZW stream sends a clear
// code before each pixel so that every code is 3 bits.
Bytes gif2x1(bool transparentSecond) {
    Bytes g = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x81, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 0};
    if (transparentSecond) g.insert(g.end(), {0x21, 0xF9, 4, 1, 0, 0, 1, 0});
    // codes 4, 0, 4, 1, 5 at 3 bits each, least significant first
    g.insert(g.end(), {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x04, 0x53, 0, 0x3B});
    return g;
}

void put(Bytes& b, std::uint32_t v, int size = 4) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// An icon entry's info header: the height counts the colour rows and the mask rows.
Bytes infoHeader(int w, int h, int bitCount, std::uint32_t coloursUsed = 0) {
    Bytes d;
    for (std::uint32_t v :
         {40u, std::uint32_t(w), std::uint32_t(2 * h), 1u | bitCount << 16, 0u, 0u, 0u, 0u, coloursUsed, 0u})
        put(d, v);
    return d;
}

struct IcoImage {
    int dirWidth, dirHeight, bitCount;
    Bytes data;
};
Bytes icoFile(const std::vector<IcoImage>& images) {
    Bytes f;
    put(f, 0, 2), put(f, 1, 2), put(f, static_cast<std::uint32_t>(images.size()), 2);
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (const IcoImage& i : images) {
        put(f, (i.dirWidth & 0xFF) | (i.dirHeight & 0xFF) << 8); // no palette, a reserved byte
        put(f, 1, 2), put(f, static_cast<std::uint32_t>(i.bitCount), 2);
        put(f, static_cast<std::uint32_t>(i.data.size())), put(f, offset);
        offset += static_cast<std::uint32_t>(i.data.size());
    }
    for (const IcoImage& i : images) f.insert(f.end(), i.data.begin(), i.data.end());
    return f;
}
// A 24-bit bitmap entry of one colour whose AND mask makes column 0 transparent: a BMP file without its file
// header, the height doubled for the mask rows (every height here fits the low byte).
Bytes bitmapEntry24(int w, int h, BmpColor c) {
    Bytes d = test::writeBmp24(test::Picture(w, h, c));
    d.erase(d.begin(), d.begin() + 14);
    d[8] = static_cast<std::uint8_t>(2 * h);
    for (int y = 0; y < h; ++y) {
        d.push_back(0x80);
        d.resize(d.size() + static_cast<std::size_t>((w + 31) / 32 * 4 - 1), 0);
    }
    return d;
}

// Blue, green, red of pixel (x, y from the top) of an exchange-format image.
std::vector<int> bgrAt(const PixelImage& img, int x, int y) {
    const std::size_t i = (static_cast<std::size_t>(y) * img.width + x) * 4;
    return {img.pixels[i], img.pixels[i + 1], img.pixels[i + 2]};
}

TEST(ClassifyImagePath, OrderCaseAndFirstOccurrence) {
    // Only the first occurrence counts, and only past the first character.
    const std::pair<const char*, ImageKind> cases[] = {
        {"logos/a.bmp", BitmapKind}, {"A.png", OtherKind}, {"X.BMP/PIC.JPG", BitmapKind}, {"LOGO.BMP.GIF", BitmapKind},
        {"a.Ico", IconKind},         {"a.jpg", JpegKind},  {"a.jpeg", JpegKind},          {"a.gif", GifKind},
        {"a.ico.jpg", IconKind},     {".bmp", OtherKind},  {".bmp/a.bmp", OtherKind},     {".jpg/a.jpeg", JpegKind},
        {".gif", OtherKind},         {"", OtherKind}};
    for (const auto& [path, kind] : cases) EXPECT_EQ(classifyImagePath(path), kind) << path;
}

TEST(PictureSize, HimetricRoundsToNearestPixel) {
    EXPECT_EQ(mulDiv(2646, 96, 2540), 100);
    EXPECT_EQ(mulDiv(1323, 96, 2540), 50);
    EXPECT_EQ(mulDiv(5, 1, 2), 3);
    EXPECT_EQ(mulDiv(-5, 1, 2), -3);
    EXPECT_EQ(mulDiv(1, 1, 0), -1);
    EXPECT_EQ(mulDiv(1 << 30, 8, 1), -1);
    for (int px : {1, 2, 31, 32, 100, 999, 30000}) EXPECT_EQ(mulDiv(himetricOfPixels(px), 96, 2540), px);

    DecodedPicture pic;
    pic.width = pic.height = 1;
    pic.rgba = {10, 20, 30, 255};
    pic.himetricWidth = 2646;
    pic.himetricHeight = 1323;
    std::optional<PixelImage> img = renderPicture(pic, kWhiteColour);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 100);
    EXPECT_EQ(img->height, 50);
    EXPECT_EQ(bgrAt(*img, 99, 49), (std::vector<int>{30, 20, 10}));
    pic.himetricWidth = 0;
    EXPECT_FALSE(renderPicture(pic, kWhiteColour));
    pic.himetricWidth = 2646;
    pic.rgba.pop_back();
    EXPECT_FALSE(renderPicture(pic, kWhiteColour));
}

TEST(IcoDecoder, TakesTheEntryNearest32AndItsMask) {
    const Bytes file = icoFile({{16, 16, 24, bitmapEntry24(16, 16, {0, 0, 255})},
                                {32, 32, 24, bitmapEntry24(32, 32, {255, 0, 0})},
                                {48, 48, 24, bitmapEntry24(48, 48, {0, 255, 0})}});
    Result<DecodedPicture> pic = decodeIco(file);
    ASSERT_TRUE(pic) << pic.error().message;
    EXPECT_EQ(pic->width, 32);
    EXPECT_EQ(pic->height, 32);
    EXPECT_EQ(pic->bitsPerPixel, 24);
    std::optional<PixelImage> img = renderPicture(*pic, kWhiteColour);
    ASSERT_TRUE(img);
    EXPECT_EQ(bgrAt(*img, 0, 5), (std::vector<int>{255, 255, 255})); // masked out
    EXPECT_EQ(bgrAt(*img, 1, 5), (std::vector<int>{255, 0, 0}));

    // Equal distance: the deeper entry, then the first; 0 in the directory means 256.
    const IcoEntryInfo entries[] = {{30, 30, 8}, {34, 34, 32}, {0, 0, 32}, {30, 34, 32}};
    EXPECT_EQ(chooseIcoEntry(entries), 1u);
}

TEST(IcoDecoder, PalettedAnd32BitAndPngEntries) {
    // 1-bit 8 × 2: colour table black, white; bits 0xF0; mask clear.
    Bytes one = infoHeader(8, 2, 1);
    one.insert(one.end(), {0, 0, 0, 0, 255, 255, 255, 0});
    one.insert(one.end(), {0xF0, 0, 0, 0, 0xF0, 0, 0, 0}); // colour rows
    one.insert(one.end(), {0, 0, 0, 0, 0, 0, 0, 0});       // mask rows
    Result<DecodedPicture> p1 = decodeIco(icoFile({{8, 2, 1, one}}));
    ASSERT_TRUE(p1) << p1.error().message;
    EXPECT_EQ(p1->bitsPerPixel, 1);
    EXPECT_EQ(p1->rgba[0], 255);   // left half white
    EXPECT_EQ(p1->rgba[4 * 4], 0); // right half black
    EXPECT_EQ(p1->rgba[4 * 4 + 3], 255);

    // 32-bit with alpha: the alpha decides and the mask is ignored.
    Bytes deep = infoHeader(1, 1, 32);
    deep.insert(deep.end(), {1, 2, 3, 77});
    deep.insert(deep.end(), {0x80, 0, 0, 0});
    Result<DecodedPicture> p32 = decodeIco(icoFile({{1, 1, 32, deep}}));
    ASSERT_TRUE(p32) << p32.error().message;
    EXPECT_EQ(p32->rgba, (Bytes{3, 2, 1, 77}));

    const Bytes rgba = {9, 8, 7, 255, 0, 0, 0, 0};
    Result<DecodedPicture> png = decodeIco(icoFile({{2, 1, 32, pngOf(2, 1, rgba)}}));
    ASSERT_TRUE(png) << png.error().message;
    EXPECT_EQ(png->rgba, rgba);
}

TEST(IcoDecoder, BrokenFilesAreRefused) {
    const Bytes good = icoFile({{2, 2, 24, bitmapEntry24(2, 2, {1, 2, 3})}});
    ASSERT_TRUE(decodeIco(good));
    auto refused = [](Bytes f) { return !decodeIco(f).ok(); };
    for (std::size_t cut : {std::size_t{0}, std::size_t{5}, std::size_t{21}, good.size() - 1})
        EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)))) << cut;
    // No images, an entry's offset or size far past the file, an odd entry height, width 16386, RLE.
    const std::vector<std::pair<std::size_t, Bytes>> patches = {
        {4, {0}}, {18, {0xFF, 0xFF, 0xFF, 0xFF}}, {14, {0xF0, 0xFF, 0xFF, 0xFF}}, {30, {3}}, {27, {0x40}}, {38, {1}}};
    for (const auto& [at, bytes] : patches) {
        Bytes f = good;
        std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
        EXPECT_TRUE(refused(f)) << at;
    }
    // A paletted entry whose index passes its short colour table.
    Bytes two = infoHeader(1, 1, 8, 1);
    two.insert(two.end(), {0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(refused(icoFile({{1, 1, 8, two}})));
}

TEST(StbPictures, DecodesGifJpegPngAndRefusesJunk) {
    Result<DecodedPicture> gif = decodeStbPicture(gif2x1(true));
    ASSERT_TRUE(gif) << gif.error().message;
    EXPECT_EQ(gif->rgba[3], 255);
    EXPECT_EQ(gif->rgba[7], 0); // transparent; its colour bytes are the decoder's business
    EXPECT_EQ(decodeStbPicture(gif2x1(false))->rgba, (Bytes{0, 0, 0, 255, 255, 255, 255, 255}));
    EXPECT_EQ(gif->bitsPerPixel, 8);

    Bytes jpg;
    const Bytes grey(16 * 8, 200);
    stbi_write_jpg_to_func(append, &jpg, 16, 8, 1, grey.data(), 95);
    Result<DecodedPicture> j = decodeStbPicture(jpg);
    ASSERT_TRUE(j) << j.error().message;
    EXPECT_EQ(j->width, 16);
    EXPECT_EQ(j->bitsPerPixel, 24); // the writer always stores three components
    EXPECT_NEAR(j->rgba[0], 200, 3);

    const Bytes png = pngOf(1, 1, {1, 2, 3, 4});
    EXPECT_EQ(decodeStbPicture(png)->bitsPerPixel, 32);
    EXPECT_FALSE(decodeStbPicture(Bytes(png.begin(), png.begin() + 30)));
    EXPECT_FALSE(decodeStbPicture(Bytes{'B', 'M', 0, 0}));
    PictureLimits small;
    small.maxPixels = 1;
    EXPECT_FALSE(decodeStbPicture(pngOf(2, 1, Bytes(8, 0)), small));

    // A Huffman table whose counts add up to more than 256 is refused before the decoder builds it.
    Bytes bad = jpg;
    for (std::size_t i = 2; i + 21 < bad.size(); ++i)
        if (bad[i] == 0xFF && bad[i + 1] == 0xC4) {
            for (std::size_t k = 0; k < 16; ++k) bad[i + 5 + k] = 0xFF;
            break;
        }
    EXPECT_FALSE(decodeStbPicture(bad));
}

TEST(LoadImageFile, ByKindThenByContentAndTheProbeByContent) {
    test::Picture p(2, 1, {255, 0, 0});
    p.set(1, 0, {0, 0, 255});
    const Bytes bmp = test::writeBmp24(p);
    std::optional<PixelImage> b = loadImageFile(writeTempFile("logo.bmp", bmp), kWhiteColour);
    ASSERT_TRUE(b);
    EXPECT_EQ(bgrAt(*b, 0, 0), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(b->pixels[3], 0);
    // The name decides the loader: a bitmap under a picture name is still drawn, a GIF under a bitmap
    // name is not, a PNG under any name is not, and kind 4 never loads.
    EXPECT_TRUE(loadImageFile(writeTempFile("bitmap.gif", bmp), kWhiteColour));
    EXPECT_FALSE(loadImageFile(writeTempFile("pic.bmp", gif2x1(false)), kWhiteColour));
    EXPECT_FALSE(loadImageFile(writeTempFile("pic.jpg", pngOf(1, 1, {1, 2, 3, 255})), kWhiteColour));
    EXPECT_FALSE(loadImageFile(writeTempFile("pic.png", bmp), kWhiteColour));
    EXPECT_FALSE(loadImageFile(test::tempDir() + "/missing.bmp", kWhiteColour));

    std::optional<PixelImage> g = loadImageFile(writeTempFile("t.gif", gif2x1(true)), kWhiteColour);
    ASSERT_TRUE(g);
    EXPECT_EQ(bgrAt(*g, 1, 0), (std::vector<int>{255, 255, 255}));

    // LogoBitmap::load: −1 means its background; a second load is refused and keeps the first image.
    LogoBitmap red(0x000000FFu);
    ASSERT_TRUE(red.load(writeTempFile("t2.gif", gif2x1(true))));
    EXPECT_EQ((*red.readPixels())[6], 255); // red over the transparent pixel
    EXPECT_EQ((*red.readPixels())[4], 0);
    EXPECT_FALSE(red.load(writeTempFile("l.bmp", bmp)));
    EXPECT_EQ(red.width(), 2);
    LogoBitmap empty;
    EXPECT_FALSE(empty.load(test::tempDir() + "/missing.ico"));
    EXPECT_FALSE(empty.hasImage());

    // The bitmap probe reports the file's own depth whatever its name.
    int bpp = 0, h = 0, w = 0;
    ASSERT_EQ(probeBitmapFile(writeTempFile("p1.png", test::writeBmp1(p, {255, 0, 0}, {0, 0, 255})), bpp, h, w), 0);
    EXPECT_EQ(std::tie(bpp, h, w), std::make_tuple(1, 1, 2));
    ASSERT_EQ(probeBitmapFile(writeTempFile("p24.bmp", bmp), bpp, h, w), 0);
    EXPECT_EQ(bpp, 24);
    EXPECT_EQ(probeBitmapFile(writeTempFile("p.bmp", gif2x1(false)), bpp, h, w), -1);
}

TEST(DecodeLogoFile, PicturesBecomeBottomUp24BitOverWhite) {
    // Top row: opaque blue, transparent; bottom row: half-transparent black, opaque white.
    const Bytes rgba = {0, 0, 255, 255, 9, 9, 9, 0, 0, 0, 0, 128, 255, 255, 255, 255};
    Result<BmpImage> img = decodeLogoFile(writeTempFile("logo.png", pngOf(2, 2, rgba)));
    ASSERT_TRUE(img) << img.error().message;
    EXPECT_EQ(img->info.bitCount, 24);
    EXPECT_TRUE(img->palette.empty());
    EXPECT_EQ(img->pixel(0, 1), (BmpColor{255, 0, 0}));
    EXPECT_EQ(img->pixel(1, 1), (BmpColor{255, 255, 255}));
    EXPECT_EQ(img->pixel(0, 0), (BmpColor{127, 127, 127}));
    EXPECT_EQ(img->pixel(1, 0), (BmpColor{255, 255, 255}));

    // Icons are not logos.
    EXPECT_FALSE(decodeLogoFile(writeTempFile("i.ico", icoFile({{2, 2, 24, bitmapEntry24(2, 2, {1, 2, 3})}}))));
    Result<BmpImage> missing = decodeLogoFile(test::tempDir() + "/none.png");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::Io);
}

} // namespace
} // namespace tessera
