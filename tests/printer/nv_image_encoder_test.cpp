// The encoder against golden upload streams checked by hand (tests/data/golden), and the edge cases that
// a small picture shows best.

#include "printer/nv_image_encoder.h"

#include "base/byte_sink.h"
#include "printer/nv_command_stream.h"
#include "support/bmp_writer.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tessera {
namespace {

using test::Picture;

std::vector<std::uint8_t> streamOf(const std::string& path, int mode, int level) {
    NvImageEncoder encoder;
    auto logos = encodeLogos(encoder, {path}, mode, level);
    EXPECT_TRUE(logos) << path << ": " << logos.error().message;
    MemorySink sink;
    if (logos) {
        EXPECT_TRUE(writeLogoDefinitions(sink, *logos));
    }
    return sink.bytes;
}

TEST(NvImageEncoderGolden, EveryListedCaseGivesItsStoredStream) {
    const std::string dir = test::testDataDir() + "/golden/";
    std::ifstream list(dir + "cases.txt");
    std::string line;
    int cases = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string input, expected;
        int mode = -1, level = -1;
        ASSERT_TRUE(fields >> input >> mode >> level >> expected) << line;
        const auto want = test::slurp(dir + expected);
        ASSERT_FALSE(want.empty()) << expected;
        EXPECT_EQ(streamOf(dir + input, mode, level), want) << line;
        ++cases;
    }
    EXPECT_GE(cases, 10);
}

// A plain 24-bit picture of one colour, with a bottom-left pixel that is not white.
std::string fieldFile(const std::string& name, int w, int h, BmpColor c) {
    Picture p(w, h, c);
    if (c == BmpColor{255, 255, 255}) p.set(0, h - 1, {254, 255, 255});
    return test::writeTempFile(name, test::writeBmp24(p));
}

bool dotAt(const NvImageEncoder& enc, int x, int yFromTop) {
    const int bands = enc.paddedHeight() / 8;
    return enc.raster()[static_cast<std::size_t>(x) * bands + yFromTop / 8] >> (7 - yFromTop % 8) & 1;
}

TEST(NvImageEncoder, ThresholdPrintsUpToTheLevelsBound) {
    // Grey values against 5 × level + 103 after the level's offset: equal prints, one above does not.
    struct Case {
        BmpColor c;
        int level;
        bool prints;
    } cases[] = {
        {{128, 128, 129}, 5, true},  // grey 128, bound 128
        {{129, 129, 129}, 5, false}, // 129
        {{128, 128, 128}, 4, false}, // 127 + 15 = 142 against 123
        {{28, 28, 28}, 0, true},     // 28 + 75 = 103 against 103
        {{0, 0, 0}, 10, true},
        {{254, 255, 255}, 0, false},
    };
    NvImageEncoder enc;
    for (const Case& c : cases) {
        ASSERT_TRUE(enc.encodeLogoFile(fieldFile("t.bmp", 8, 8, c.c), Threshold, c.level));
        EXPECT_EQ(dotAt(enc, 3, 3), c.prints) << int(c.c.b) << " " << int(c.c.g) << " " << int(c.c.r) << " level "
                                               << c.level;
    }
}

TEST(NvImageEncoder, OneBitSenseFollowsColourEntryZero) {
    Picture p(8, 1, {0, 0, 0});
    for (int x = 0; x < 8; x += 2) p.set(x, 0, {255, 255, 255});
    NvImageEncoder enc;
    for (bool whiteFirst : {false, true}) {
        const BmpColor black{0, 0, 0}, white{255, 255, 255};
        const auto file = whiteFirst ? test::writeBmp1(p, white, black) : test::writeBmp1(p, black, white);
        ASSERT_TRUE(enc.encodeLogoFile(test::writeTempFile("one.bmp", file), IndexedOrder, 0));
        for (int x = 0; x < 8; ++x) EXPECT_EQ(dotAt(enc, x, 0), x % 2 == 1) << x << " " << whiteFirst;
        EXPECT_FALSE(enc.halftoneSkipped());
    }
}

TEST(NvImageEncoder, RefusesWhatTheCommandCannotCarry) {
    struct Case {
        int w, h, level;
        bool ok;
    } cases[] = {{8184, 8, 5, true}, {8185, 8, 5, false}, {8, 2304, 5, true}, {8, 2305, 5, false},
                 {8, 8, 11, false},  {8, 8, -1, false},   {0, 8, 5, false}};
    NvImageEncoder enc;
    for (const Case& c : cases) {
        BmpImage img;
        img.info = {c.w, c.h, 24, 0, 40, false};
        img.bgr.assign(static_cast<std::size_t>(c.w) * c.h * 3, 0);
        Status s = enc.encodeImage(img, Threshold, c.level);
        EXPECT_EQ(bool(s), c.ok) << c.w << " x " << c.h << " level " << c.level;
        if (!s) {
            EXPECT_EQ(s.error().kind, ErrorKind::BadInput);
            EXPECT_EQ(enc.rasterLength(), 0);
        }
    }
}

} // namespace
} // namespace tessera
