// nvlogo preview against the library's own conversion, and PNG, JPEG and GIF logos in save.

#include "cli/nvlogo.h"

#include "image/image_file.h"
#include "image/logo_bitmap.h"
#include "printer/nv_image_encoder.h"
#include "support/bmp_writer.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <sstream>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace tessera {
namespace {

using test::nvlogo;
using Bytes = std::vector<std::uint8_t>;
using test::BmpLayout;
using test::slurp;

struct Pgm {
    int width = 0, height = 0;
    Bytes grey;
};
Pgm readPgm(const std::string& path) {
    const Bytes f = slurp(path);
    std::string text(f.begin(), f.end());
    std::istringstream in(text);
    std::string magic;
    int maxval = 0;
    Pgm p;
    in >> magic >> p.width >> p.height >> maxval;
    EXPECT_EQ(magic, "P5");
    const std::size_t start = static_cast<std::size_t>(in.tellg()) + 1;
    p.grey.assign(f.begin() + static_cast<std::ptrdiff_t>(start), f.end());
    return p;
}

// A picture with greys, colours and a gradient, so that every mode and level has decisions to make.
test::Picture sample(int w, int h) {
    test::Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.set(x, y, {static_cast<std::uint8_t>(x * 255 / (w - 1)), static_cast<std::uint8_t>(y * 255 / (h - 1)),
                         static_cast<std::uint8_t>((x + y) % 3 * 120)});
    return p;
}

// The picture limited to the colours of a small palette, for the paletted layouts.
test::Picture paletted(int w, int h, int colours) {
    test::Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto v = static_cast<std::uint8_t>((x + 3 * y) % colours * 255 / (colours - 1));
            p.set(x, y, {v, static_cast<std::uint8_t>(255 - v), v});
        }
    return p;
}

TEST(NvlogoPreview, IsTheLibrarysConversionForTheFilesDepthModeAndLevel) {
    const std::string dir = test::freshDir("preview");
    const struct {
        const char* name;
        Bytes bytes;
        const char* mode;
        int level;
    } cases[] = {
        {"d1.bmp", test::writeBmp1(paletted(19, 11, 2), {0, 255, 0}, {255, 0, 255}), "error-diffusion", 5},
        {"d4.bmp", test::writeBmp(paletted(19, 11, 16), BmpLayout{.bitCount = 4}), "indexed-order", 2},
        {"d16.bmp", test::writeBmp(sample(19, 11), BmpLayout{.bitCount = 16}), "threshold", 9},
        {"d24.bmp", test::writeBmp24(sample(19, 11)), "error-diffusion", 7},
        {"d32.bmp", test::writeBmp(sample(19, 11), BmpLayout{.bitCount = 32}), "indexed-order", 0},
    };
    for (const auto& c : cases) {
        const std::string path = test::writeTempFile(c.name, c.bytes), out = dir + "/out.pgm";
        int bpp = 0, h = 0, w = 0;
        ASSERT_EQ(probeBitmapFile(path, bpp, h, w), 0);
        const auto r = nvlogo({"preview", "-H", c.mode, "-b", std::to_string(c.level), "-o", out, path});
        ASSERT_EQ(r.status, 0) << r.err;
        const int mode = std::string(c.mode) == "threshold" ? 0 : std::string(c.mode) == "error-diffusion" ? 1 : 2;
        LogoBitmap expected;
        ASSERT_TRUE(expected.load(path));
        ASSERT_TRUE(convertForPreview(expected, mode, c.level, bpp));
        const Bytes px = *expected.readPixels();
        const Pgm got = readPgm(out);
        ASSERT_EQ(got.width, w);
        ASSERT_EQ(got.height, h);
        ASSERT_EQ(got.grey.size(), px.size() / 4);
        for (std::size_t i = 0; i < got.grey.size(); ++i)
            ASSERT_EQ(got.grey[i], px[4 * i]) << c.name << " pixel " << i;
    }
}

TEST(NvlogoPreview, DepthSideBySidePrintedAndFormats) {
    const std::string dir = test::freshDir("preview-options");
    const std::string path = test::writeTempFile("grey.bmp", test::writeBmp24(test::Picture(8, 8, {128, 128, 128})));
    auto whites = [](const Pgm& p) { return std::count(p.grey.begin(), p.grey.end(), 255); };

    ASSERT_EQ(nvlogo({"preview", "-H", "indexed-order", "-o", dir + "/a.pgm", path}).status, 0);
    EXPECT_EQ(whites(readPgm(dir + "/a.pgm")), 31);
    ASSERT_EQ(nvlogo({"preview", "-H", "indexed-order", "--bpp", "1", "-o", dir + "/b.pgm", path}).status, 0);
    EXPECT_EQ(whites(readPgm(dir + "/b.pgm")), 0); // thresholded

    ASSERT_EQ(nvlogo({"preview", "--side-by-side", "-o", dir + "/c.pgm", path}).status, 0);
    const Pgm both = readPgm(dir + "/c.pgm");
    EXPECT_EQ(both.width, 16);
    EXPECT_EQ(both.grey[0], 128);
    EXPECT_EQ(both.grey[8], 0);

    // The printer's dots: the encoder's raster, padded to whole bands.
    const std::string odd = test::writeTempFile("odd.bmp", test::writeBmp24(sample(10, 9)));
    ASSERT_EQ(nvlogo({"preview", "--printed", "-H", "error-diffusion", "-b", "3", "-o", dir + "/d.pgm", odd}).status,
              0);
    const Pgm printed = readPgm(dir + "/d.pgm");
    NvImageEncoder enc;
    ASSERT_TRUE(enc.encodeLogoFile(odd, ErrorDiffusion, 3));
    ASSERT_EQ(printed.width, 16);
    ASSERT_EQ(printed.height, 16);
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 16; ++y) {
            const bool dot = enc.raster()[static_cast<std::size_t>(x * 2 + y / 8)] & (0x80 >> (y % 8));
            EXPECT_EQ(printed.grey[static_cast<std::size_t>(y * 16 + x)], dot ? 0 : 255) << x << "," << y;
        }

    ASSERT_EQ(nvlogo({"preview", "-o", dir + "/e.png", path}).status, 0);
    const Bytes png = slurp(dir + "/e.png");
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');

    const auto junk = nvlogo({"preview", "-o", dir + "/f.png", test::writeTempFile("junk.bmp", Bytes(100, 7))});
    EXPECT_EQ(junk.status, 2);
    EXPECT_FALSE(junk.err.empty());
    EXPECT_EQ(nvlogo({"preview", "--bpp", "0", "-o", dir + "/f.png", path}).status, 2);
    EXPECT_TRUE(slurp(dir + "/f.png").empty());
}

void append(void* ctx, void* data, int size) {
    auto* out = static_cast<Bytes*>(ctx);
    out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
}

TEST(NvlogoSave, PngLogosAreEncodedLikeTheirTwentyFourBitTwin) {
    const std::string dir = test::freshDir("save-png");
    const test::Picture p = sample(21, 13);
    Bytes rgba;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const BmpColor c = p.at(x, y);
            rgba.insert(rgba.end(), {c.r, c.g, c.b, 255});
        }
    Bytes png;
    stbi_write_png_to_func(append, &png, p.width, p.height, 4, rgba.data(), p.width * 4);
    const std::string pngPath = test::writeTempFile("logo.png", png);
    const std::string bmpPath = test::writeTempFile("twin.bmp", test::writeBmp24(p));
    for (const char* mode : {"threshold", "error-diffusion", "indexed-order"}) {
        ASSERT_EQ(nvlogo({"save", "-H", mode, "-o", dir + "/png.bit", pngPath}).status, 0);
        ASSERT_EQ(nvlogo({"save", "-H", mode, "-o", dir + "/bmp.bit", bmpPath}).status, 0);
        EXPECT_EQ(slurp(dir + "/png.bit"), slurp(dir + "/bmp.bit")) << mode;
    }
    const auto cut =
        nvlogo({"save", "-o", dir + "/x.bit", test::writeTempFile("cut.png", Bytes(png.begin(), png.begin() + 40))});
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.err.find("cut.png"), std::string::npos);
}

} // namespace
} // namespace tessera
