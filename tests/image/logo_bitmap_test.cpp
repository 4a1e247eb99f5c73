// The preview's conversions: the grey arithmetic, each filter's dots on known inputs, the chain's handling of
// failures, and the pixel operations of a LogoBitmap.

#include "image/logo_bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A picture of one colour (blue, green, red) in the exchange format, with a junk fourth byte.
Bytes solid(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Bytes px(static_cast<std::size_t>(w * h) * 4);
    for (std::size_t i = 0; i < px.size(); i += 4) px[i] = b, px[i + 1] = g, px[i + 2] = r, px[i + 3] = 0x5A;
    return px;
}
Bytes grey(int w, int h, std::uint8_t v) { return solid(w, h, v, v, v); }

LogoBitmap holding(const Bytes& px, int w, int h) {
    LogoBitmap bmp;
    EXPECT_TRUE(bmp.replacePixels(px, w, h));
    return bmp;
}

// 1 for each white pixel, 0 for black; fails the test on anything that is neither.
std::vector<int> dots(const LogoBitmap& bmp) {
    std::vector<int> out;
    const Bytes px = *bmp.readPixels();
    for (std::size_t i = 0; i < px.size(); i += 4) {
        const bool white = px[i] == 255 && px[i + 1] == 255 && px[i + 2] == 255 && px[i + 3] == 0;
        const bool black = px[i] == 0 && px[i + 1] == 0 && px[i + 2] == 0 && px[i + 3] == 0;
        EXPECT_TRUE(white || black) << "pixel " << i / 4;
        out.push_back(white ? 1 : 0);
    }
    return out;
}
int whiteCount(const LogoBitmap& bmp) {
    int n = 0;
    for (int d : dots(bmp)) n += d;
    return n;
}

TEST(PreviewBrightness, OffsetsOfEveryLevel) {
    const int expected[11] = {75, 60, 45, 30, 15, 0, -10, -20, -30, -40, -50};
    for (int level = 0; level <= 10; ++level) EXPECT_EQ(previewBrightnessOffset(level), expected[level]) << level;
    EXPECT_EQ(previewBrightnessOffset(-3), 75);
    EXPECT_EQ(previewBrightnessOffset(99), -50);
}

TEST(ThresholdFilter, DecidesOnTheIntegerGreyPlusOffset) {
    // Blue, green, red, level, then 1 for white.
    const std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, int, int> cases[] = {
        {128, 128, 128, 5, 0}, // 128 is not above 128
        {128, 128, 128, 4, 1}, // 143
        {0, 0, 255, 5, 0},     // red: grey 76
        {0, 255, 0, 5, 1},     // green: 153
        {255, 0, 0, 5, 0},     // blue: 25
        {0, 0, 255, 0, 1},     // red at level 0: 151
        {0, 0, 255, 1, 1},     // 136
        {0, 0, 255, 2, 0},     // 121
        {129, 129, 129, 5, 1},
        {178, 178, 178, 10, 0}, // 128 after -50
        {179, 179, 179, 10, 1},
    };
    for (const auto& [b, g, r, level, white] : cases) {
        LogoBitmap bmp = holding(solid(1, 1, b, g, r), 1, 1);
        ASSERT_TRUE(bmp.threshold(level));
        EXPECT_EQ(dots(bmp)[0], white) << int(b) << "," << int(g) << "," << int(r) << " level " << level;
    }
    // White and black stay what they are at every level, the first pixel included.
    for (int level = 0; level <= 10; ++level) {
        Bytes px = grey(3, 1, 255);
        px[4] = px[5] = px[6] = 0;
        LogoBitmap bmp = holding(px, 3, 1);
        ASSERT_TRUE(bmp.threshold(level));
        EXPECT_EQ(dots(bmp), (std::vector<int>{1, 0, 1})) << level;
    }
}

TEST(IndexedOrderFilter, WhiteWhereTheMatrixIsBelowTheLuminanceStep) {
    // Black at level 1: v′ = 60, q = 15, a step at which the matrix and its transpose differ.
    LogoBitmap dark = holding(grey(8, 8, 0), 8, 8);
    ASSERT_TRUE(dark.indexedOrder(1));
    EXPECT_EQ(whiteCount(dark), 15);
    // The matrix row is the image row counted from the top.
    const std::vector<int> d = dots(dark);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(d[y * 8 + x], kPreviewDitherMatrix[y][x] < 15 ? 1 : 0) << x << "," << y;

    // Pure white stays white: v′ is clamped to 255 before the step.
    LogoBitmap white = holding(grey(8, 8, 255), 8, 8);
    ASSERT_TRUE(white.indexedOrder(0));
    EXPECT_EQ(whiteCount(white), 64);
}

TEST(ErrorDiffusionFilter, KnownRowsAndTheFlatPlaneWrap) {
    // Worked by hand from the rule (grey, then shares of 8, 4, 2 and 1 of 42 over a plane one picture wide,
    // truncated towards zero, clamped after each): a row, a column whose right-hand shares wrap into the rows
    // below, and a 5 x 4 picture at level 3 whose clamping and negative truncation matter.
    Bytes odd;
    for (int i = 0; i < 20; ++i)
        odd.insert(odd.end(), {static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i * 91 + 17),
                               static_cast<std::uint8_t>(255 - i * 23), 0});
    // Pixels, width, height, level, then the dots.
    const std::tuple<Bytes, int, int, int, std::vector<int>> cases[] = {
        {grey(4, 1, 128), 4, 1, 5, {0, 1, 0, 1}},
        {grey(1, 6, 128), 1, 6, 5, {0, 1, 1, 0, 0, 1}},
        {odd, 5, 4, 3, {0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 1, 1, 0, 0, 1, 0, 0, 1}},
    };
    for (const auto& [px, w, h, level, expected] : cases) {
        LogoBitmap bmp = holding(px, w, h);
        ASSERT_TRUE(bmp.errorDiffusion(level));
        EXPECT_EQ(dots(bmp), expected) << w << " x " << h;
    }
}

TEST(ConvertForPreview, ModeAndRecordedDepthChooseTheFilter) {
    // Grey 128 at level 5 separates the three: threshold all black, diffusion half white, dither 31 of 64.
    auto converted = [](int mode, int bpp) {
        LogoBitmap bmp = holding(grey(8, 8, 128), 8, 8);
        EXPECT_TRUE(convertForPreview(bmp, mode, 5, bpp));
        return whiteCount(bmp);
    };
    EXPECT_EQ(converted(0, 24), 0);
    EXPECT_EQ(converted(2, 24), 31);
    EXPECT_GT(converted(1, 24), 0);
    EXPECT_EQ(converted(1, 1), 0);
    EXPECT_EQ(converted(2, 1), 0);
    EXPECT_EQ(converted(2, 4), 31);

    LogoBitmap untouched = holding(grey(2, 2, 128), 2, 2);
    EXPECT_FALSE(convertForPreview(untouched, 3, 5, 24));
    EXPECT_EQ(*untouched.readPixels(), grey(2, 2, 128));
}

// Test filters: one that fails, one that changes the size.
class FailingFilter : public ImageFilter {
  public:
    bool apply(const std::uint8_t*, int, int, std::uint8_t*, int, int) const override { return false; }
};
class SizedFilter : public ImageFilter {
  public:
    SizedFilter(int w, int h) : w_(w), h_(h) {}
    std::pair<int, int> outputSize(int, int) const override { return {w_, h_}; }

  private:
    int w_, h_;
};

TEST(FilterChain, FailuresKeepTheOldImage) {
    const Bytes original = grey(3, 2, 200);
    LogoBitmap empty;
    EXPECT_FALSE(empty.threshold(5));
    EXPECT_FALSE(empty.hasImage());

    LogoBitmap bmp = holding(original, 3, 2);
    EXPECT_TRUE(bmp.applyFilters({}));
    EXPECT_EQ(*bmp.readPixels(), original);

    const FailingFilter failing;
    const ThresholdFilter threshold(5);
    const ImageFilter* chain[] = {&threshold, &failing};
    EXPECT_FALSE(bmp.applyFilters(chain));
    EXPECT_EQ(*bmp.readPixels(), original);

    // A size that cannot be held is refused before anything is allocated.
    const SizedFilter huge(kLogoMaxDimension + 1, 1), none(0, 5);
    EXPECT_FALSE(bmp.applyFilter(huge));
    EXPECT_FALSE(bmp.applyFilter(none));
    EXPECT_EQ(*bmp.readPixels(), original);
    EXPECT_EQ(bmp.width(), 3);
}

TEST(LogoBitmapPixels, ReplaceCopyAndRelease) {
    LogoBitmap a;
    EXPECT_FALSE(a.replacePixels(Bytes(7), 2, 1)); // short buffer
    const Bytes px = solid(2, 2, 1, 2, 3);
    ASSERT_TRUE(a.replacePixels(px, 2, 2));
    LogoBitmap b;
    EXPECT_FALSE(b.copyFrom(&b));
    ASSERT_TRUE(b.copyFrom(&a));
    ASSERT_TRUE(b.threshold(5));
    EXPECT_EQ(*a.readPixels(), px); // the copy is independent
    EXPECT_FALSE(a.replacePixels(Bytes(4), 1, 2)); // a failed replacement keeps the old image
    EXPECT_EQ(*a.readPixels(), px);
    a.release();
    EXPECT_FALSE(a.hasImage());
}

} // namespace
} // namespace tessera
