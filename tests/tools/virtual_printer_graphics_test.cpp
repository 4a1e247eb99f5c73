// The virtual printer's NV graphics: what it prints, what it refuses to store, its key list and its file.

#include "base/file_io.h"
#include "fake_printer_host.h"
#include "support/bmp_writer.h"
#include "support/test_paths.h"
#include "tools/nvlogo_printer/disk_host.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tessera::vp {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes defineCommand(const std::string& key, int w, int h, std::uint8_t fill = 0x5A) {
    return graphicsDefineCommand({"", key, w, h, Bytes(static_cast<std::size_t>((w + 7) / 8) * h, fill), false});
}

Bytes run(FakeHost& host, const Bytes& stream, PrinterConfig config = {}) {
    VirtualPrinter printer(host, config);
    Bytes replies = printer.feed(stream);
    printer.finish();
    return replies;
}

TEST(VirtualPrinterGraphics, PrintsTheOwnAreaOfTheBitImagePrintoutDotForDot) {
    test::Picture picture(13, 11);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 13; ++x)
            picture.set(x, y, {std::uint8_t(x * 19 + y * 7), std::uint8_t(x * 20), std::uint8_t(255 - y * 23)});
    const auto image = decodeBmp(test::writeBmp24(picture));
    ASSERT_TRUE(image);
    for (int mode : {Threshold, ErrorDiffusion, IndexedOrder}) {
        NvImageEncoder bits, graphics;
        ASSERT_TRUE(bits.encodeImage(*image, mode, 4));
        ASSERT_TRUE(graphics.encodeImage(*image, mode, 4, LogoFamily::Graphics));
        Bytes fsq = {0x1C, 0x71, 1, 2, 0, 2, 0};
        fsq.insert(fsq.end(), bits.raster().begin(), bits.raster().begin() + bits.rasterLength());
        const Bytes define = graphicsDefineCommand({"", "G1", 13, 11, graphics.graphicsRows(), false});
        for (std::uint8_t scale = 0; scale < 4; ++scale) {
            const std::uint8_t sx = scale & 1 ? 2 : 1, sy = scale & 2 ? 2 : 1;
            FakeHost a, b;
            run(a, fsq + Bytes{0x1C, 0x70, 1, std::uint8_t(0x30 + scale), 0x1D, 0x56, 0});
            run(b, define + Bytes{0x1D, 0x28, 0x4C, 6, 0, 0x30, 0x45, 'G', '1', sx, sy, 0x1D, 0x56, 0});
            ASSERT_EQ(a.pages.size(), 1u);
            ASSERT_EQ(b.pages.size(), 1u);
            const Bitmap &padded = a.pages[0], &own = b.pages[0];
            ASSERT_EQ(own.height, 11 * sy);
            ASSERT_EQ(padded.height, 16 * sy);
            EXPECT_TRUE(std::equal(own.grey.begin(), own.grey.end(), padded.grey.begin())) << mode << scale;
            EXPECT_NE(std::count(own.grey.begin(), own.grey.end(), 0), 0);
        }
    }
}

TEST(VirtualPrinterGraphics, StoresOnlyWholeDefinesThatFit) {
    const Bytes a1 = defineCommand("A1", 9, 3); // 6 data bytes: 22 of the capacity
    Bytes badCount = defineCommand("B2", 8, 1);
    badCount[3] = 13;
    badCount.push_back(0);
    const Bytes longForm = {0x1D, 0x38, 0x4C, 13, 0, 0, 0, 0x30, 0x43, 0x30, 'C', '3', 1, 8, 0, 2, 0, 0x31, 1, 2};
    Bytes twoColours = defineCommand("B2", 8, 1);
    twoColours[10] = 2;
    const struct {
        const char* name;
        Bytes stream;
        std::vector<std::string> keys;
        bool error;
        PrinterModel model = PrinterModel::Graphics;
    } cases[] = {
        {"another key", defineCommand("B2", 8, 2), {"A1", "B2"}, false},
        {"replaced", defineCommand("A1", 64, 3), {"A1"}, false},
        {"GS 8 L", longForm, {"A1", "C3"}, false},
        {"count and size disagree", badCount, {"A1"}, true},
        {"key outside 20..7E", defineCommand({'\x1F', '1'}, 8, 1), {"A1"}, true},
        {"two colours", twoColours, {"A1"}, true},
        {"over capacity", defineCommand("B2", 8, 79), {"A1"}, true},
        {"cut off", Bytes(a1.begin(), a1.end() - 1), {"A1"}, true},
        {"delete one", {0x1D, 0x28, 0x4C, 4, 0, 0x30, 0x42, 'A', '1'}, {}, false},
        {"delete all", {0x1D, 0x28, 0x4C, 5, 0, 0x30, 0x41, 0x43, 0x4C, 0x52}, {}, false},
        {"bit-image model", defineCommand("B2", 8, 2), {}, false, PrinterModel::BitImage},
    };
    for (const auto& c : cases) {
        FakeHost host;
        run(host, a1 + c.stream, {.model = c.model, .graphicsCapacity = 100});
        EXPECT_EQ(host.graphicsKeys(), c.keys) << c.name;
        EXPECT_EQ(!host.errors.empty(), c.error) << c.name;
        EXPECT_LE(host.graphics()->usedBytes(), 100u) << c.name;
    }
    // Capacity and free capacity answer from the store: 100, and 100 − 22.
    FakeHost host;
    const Bytes asked = run(host, a1 + Bytes{0x1D, 0x28, 0x4C, 2, 0, 0x30, 0x30, 0x1D, 0x28, 0x4C, 2, 0, 0x30, 0x33},
                            {.graphicsCapacity = 100});
    EXPECT_EQ(asked, (Bytes{0x37, 0x30, '1', '0', '0', 0, 0x37, 0x31, '7', '8', 0}));
}

TEST(VirtualPrinterGraphics, ListsMoreThanFortyKeysThroughTheHandshake) {
    FakeHost host;
    Bytes stream;
    for (int k = 0; k < 45; ++k)
        stream = stream + defineCommand({char('A' + k / 10), char('0' + k % 10)}, 1, 1);
    VirtualPrinter printer(host, {});
    EXPECT_TRUE(printer.feed(stream).empty());
    const Bytes first = printer.feed(Bytes{0x1D, 0x28, 0x4C, 4, 0, 0x30, 0x40, 'K', 'C'});
    ASSERT_EQ(first.size(), 4u + 80);
    EXPECT_EQ(first[2], 0x41); // more to come
    const Bytes second = printer.feed(Bytes{0x06});
    EXPECT_EQ(std::string(second.begin() + 3, second.end() - 1), "E0E1E2E3E4");
    EXPECT_EQ(second[2], 0x40);
}

TEST(VirtualPrinterGraphics, TheFileKeepsTheStoreAcrossARestart) {
    const std::string path = test::freshDir("graphics-store") + "/nv.bit.graphics";
    const Bytes both = Bytes{0x1B, 0x40} + defineCommand("A1", 9, 3) + defineCommand("x,", 16, 1);
    {
        GraphicsFile file(path);
        ASSERT_TRUE(file.load(100));
        EXPECT_TRUE(test::slurp(path).empty());
        FakeHost host;
        run(host, both);
        ASSERT_TRUE(file.change([&](GraphicsStore& s) {
            s = *host.graphics();
            return Status{};
        }));
    }
    EXPECT_EQ(test::slurp(path), both);
    GraphicsFile again(path);
    ASSERT_TRUE(again.load(40));
    EXPECT_EQ(again.snapshot()->keys(), (std::vector<std::string>{"A1", "x,"}));
    EXPECT_EQ(again.snapshot()->find("A1")->rows, Bytes(6, 0x5A));
    EXPECT_EQ(GraphicsFile(path).load(39).error().kind, ErrorKind::BadInput); // 22 + 18 bytes
    ASSERT_TRUE(writeFileAtomically(path, Bytes(both.begin(), both.end() - 1)));
    EXPECT_EQ(GraphicsFile(path).load(100).error().kind, ErrorKind::BadInput);
}

} // namespace
} // namespace tessera::vp
