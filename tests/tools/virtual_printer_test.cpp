// The virtual printer's command interpreter on byte streams, NV bit images and NV graphics, with storage and
// paper faked in memory; then the files that keep its NV images and NV graphics, and its directory of printouts.

#include "tools/nvlogo_printer/virtual_printer.h"

#include "base/file_io.h"
#include "printer/logo_files.h"
#include "printer/nv_image_encoder.h"
#include "support/bmp_writer.h"
#include "support/test_paths.h"
#include "tools/nvlogo_printer/disk_host.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include <filesystem>

namespace tessera::vp {
namespace {

using test::freshDir;
using test::slurp;

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// The printer's storage and paper, kept in memory.
struct FakeHost : PrinterHost {
    ImageList stored;
    std::vector<Bitmap> pages;
    std::vector<std::string> lines, errors; // errors are in lines too
    bool failWrites = false;

    Status defineImages(ImageList images) override {
        if (failWrites) return ioError("disk full");
        stored = std::move(images);
        return {};
    }
    Status eraseImages() override { return defineImages({}); }
    std::shared_ptr<const NvImage> image(int n) override {
        return n >= 1 && n <= int(stored.size()) ? stored[n - 1] : nullptr;
    }
    void cutPage(const Bitmap& page) override { pages.push_back(page); }
    void log(const std::string& line) override { lines.push_back(line); }
    void error(const std::string& line) override {
        errors.push_back(line);
        log(line);
    }
    bool logged(const std::string& start) const {
        for (const auto& l : lines)
            if (l.rfind(start, 0) == 0) return true;
        return false;
    }
};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An FS q image: its size bytes and data filled with one byte value.
Bytes image(int x, int y, std::uint8_t fill = 0xFF) {
    Bytes b(4 + 8 * std::size_t(x) * y, fill);
    b[0] = std::uint8_t(x);
    b[1] = std::uint8_t(x >> 8);
    b[2] = std::uint8_t(y);
    b[3] = std::uint8_t(y >> 8);
    return b;
}
Bytes head(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}
Bytes define(int n, const Bytes& images) {
    return Bytes{0x1C, 0x71, std::uint8_t(n)} + images;
}
Bytes print(int n, int m) {
    return {0x1C, 0x70, std::uint8_t(n), std::uint8_t(m)};
}
const Bytes kCut = {0x1D, 0x56, 0x00};
// An NV graphics define of one colour, its rows filled with one byte value.
Bytes defineCommand(const std::string& key, int w, int h, std::uint8_t fill = 0x5A) {
    return graphicsDefineCommand({"", key, w, h, Bytes(static_cast<std::size_t>((w + 7) / 8) * h, fill), false});
}

struct Session {
    FakeHost host;
    Bytes replies;
    explicit Session(const Bytes& stream, PrinterConfig config = {}, const ImageList& before = {}) {
        host.stored = before;
        VirtualPrinter printer(host, config);
        replies = printer.feed(stream);
        printer.finish();
    }
};

TEST(VirtualPrinter, CommandsSplitAtAnyPointGiveTheSameResult) {
    const Bytes stream = Bytes{0x1B, 0x40, 0x1D, 0x61, 0x01} + define(2, image(1, 1, 0x81) + image(2, 1, 0x0F)) +
                         print(1, 0) + print(2, 0x33) + Bytes{0x1D, 0x56, 66, 3, 0x00, 0x41} + print(1, 1);
    const Session whole(stream);
    EXPECT_EQ(whole.host.lines, (std::vector<std::string>{
                                    "ESC @ initialise",
                                    "GS a 1 automatic status on",
                                    "FS q define 2 images (a real printer uses them after a reset)",
                                    "FS p print image 1 scaling 0 (normal)",
                                    "FS p print image 2 scaling 3 (quadruple)",
                                    "GS V feed 3 and cut",
                                    "ignored byte 41",
                                    "FS p print image 1 scaling 1 (double width)",
                                }));
    ASSERT_EQ(whole.host.pages.size(), 2u);

    auto same = [&](const std::vector<std::span<const std::uint8_t>>& pieces, const std::string& what) {
        FakeHost host;
        VirtualPrinter printer(host, {});
        Bytes replies;
        for (auto piece : pieces)
            replies = replies + printer.feed(piece);
        printer.finish();
        EXPECT_EQ(host.lines, whole.host.lines) << what;
        EXPECT_EQ(replies, whole.replies) << what;
        EXPECT_EQ(formatNvFile(host.stored), formatNvFile(whole.host.stored)) << what;
        ASSERT_EQ(host.pages.size(), whole.host.pages.size()) << what;
        for (std::size_t i = 0; i < host.pages.size(); ++i)
            EXPECT_EQ(host.pages[i].grey, whole.host.pages[i].grey);
    };
    const std::span<const std::uint8_t> all(stream);
    for (std::size_t i = 0; i <= stream.size(); ++i)
        same({all.first(i), all.subspan(i)}, "split at " + std::to_string(i));
    std::vector<std::span<const std::uint8_t>> bytes;
    for (std::size_t i = 0; i < stream.size(); ++i)
        bytes.push_back(all.subspan(i, 1));
    same(bytes, "byte by byte");
}

TEST(VirtualPrinter, RejectedDefinitionsLeaveTheStoredImages) {
    const ImageList before = {std::make_shared<const NvImage>(NvImage{1, 1, Bytes(8, 0xAA)})};
    const Bytes reset = {0x1B, 0x40};
    // Data of an image over the capacity, which would erase the store were it read as commands.
    const Bytes eraseData = {0x01, 0x00, 0x01, 0x00, 0x1C, 0x65, 0, 0, 0, 0, 0, 0};
    const struct {
        const char* name;
        Bytes stream;
        bool goesOn; // the command after it is still executed
    } cases[] = {
        {"no images", define(0, {}) + reset, true},
        {"x = 0", define(1, image(0, 1)) + reset, true},
        {"y = 289", define(1, head(image(1, 289), 4)) + reset, true},
        {"x = 1024", define(2, image(1, 1) + Bytes{0x00, 0x04, 0x01, 0x00}) + reset, true},
        {"over capacity", define(2, image(2, 1) + eraseData) + reset, true},
        {"cut off in a header", define(2, image(1, 1) + Bytes{0x01, 0x00}), false},
        {"cut off in the data", head(define(1, image(1, 1)), 10), false},
    };
    for (const auto& c : cases) {
        const Session run(c.stream, {.capacity = 20}, before);
        EXPECT_EQ(run.host.stored, before) << c.name;
        ASSERT_EQ(run.host.errors.size(), 2u) << c.name; // what went wrong, and the error state it leaves
        EXPECT_EQ(run.host.errors[0].rfind("FS q error: ", 0), 0u) << c.name;
        EXPECT_FALSE(run.host.logged("FS q define")) << c.name;
        EXPECT_FALSE(run.host.logged("FS e")) << c.name;
        EXPECT_EQ(run.host.logged("ESC @"), c.goesOn) << c.name;
    }
    // Exactly the capacity fits: 8 + 4 bytes per 1 x 1 image.
    EXPECT_EQ(Session(define(2, image(1, 1) + image(1, 1)), {.capacity = 24}).host.stored.size(), 2u);

    FakeHost host;
    host.stored = before;
    host.failWrites = true;
    VirtualPrinter printer(host, {});
    (void)printer.feed(define(1, image(1, 1)) + Bytes{0x1C, 0x65});
    EXPECT_EQ(host.stored, before);
    EXPECT_EQ(host.lines.front(), "FS q error: disk full, NV images unchanged");
    EXPECT_EQ(host.lines.back(), "FS e error: disk full, NV images unchanged");
    EXPECT_EQ(VirtualPrinter(host, {}).feed(Bytes{0x1C, 0x65, 0x10, 0x04, 3}), Bytes{0x52}); // an erase not stored
}

TEST(VirtualPrinter, ScalingDrawsEachDotAsABlock) {
    // An 8 x 16 image, one unit wide and two high, with a dot at (0, 8) and one at (7, 15): each column's
    // two bytes come one after the other, bit 7 at the top.
    Bytes img = image(1, 2, 0x00);
    img[4 + 1] = 0x80;
    img[4 + 15] = 0x01;
    const struct {
        int m, sx, sy;
    } scalings[] = {{0, 1, 1}, {1, 2, 1}, {2, 1, 2}, {3, 2, 2}, {0x30, 1, 1}, {0x31, 2, 1}, {0x32, 1, 2}, {0x33, 2, 2}};
    for (const auto& s : scalings) {
        const Session run(define(1, img) + print(1, s.m), {.paperDots = 8}); // double width is cut off
        ASSERT_EQ(run.host.pages.size(), 1u) << s.m;
        const Bitmap& page = run.host.pages[0];
        EXPECT_EQ(page.width, 8) << s.m;
        ASSERT_EQ(page.height, 16 * s.sy) << s.m;
        for (int y = 0; y < page.height; ++y)
            for (int x = 0; x < page.width; ++x) {
                const bool dot = (x / s.sx == 0 && y / s.sy == 8) || (x / s.sx == 7 && y / s.sy == 15);
                EXPECT_EQ(page.dot(x, y), dot) << s.m << " at " << x << "," << y;
            }
    }
    for (int m : {4, 0x2F, 0x34}) {
        const Session run(define(1, img) + print(1, m));
        EXPECT_TRUE(run.host.pages.empty()) << m;
        EXPECT_TRUE(run.host.logged("FS p image 1 scaling ")) << m;
    }
}

TEST(VirtualPrinter, PagesRunFromCutToCutAndEndAtThePapersEdge) {
    const Bytes stream = define(2, image(1, 1) + image(100, 2)) + print(1, 0) + print(2, 0) + kCut + kCut +
                         print(9, 0) + kCut + print(1, 2) + Bytes{0x1D, 0x56, 65, 0x1B} + print(1, 0);
    const Session run(stream);
    ASSERT_EQ(run.host.pages.size(), 3u);
    const Bitmap& first = run.host.pages[0];
    EXPECT_EQ(first.width, 576);
    EXPECT_EQ(first.height, 8 + 16);
    EXPECT_TRUE(first.dot(7, 7));
    EXPECT_FALSE(first.dot(8, 7));   // the narrow image is left-aligned, paper white beside it
    EXPECT_TRUE(first.dot(575, 23)); // the wide one stacked under it, cut off at the edge
    EXPECT_TRUE(run.host.logged("FS p print image 2 scaling 0 (normal): 800 dots wide, clipped to the paper's 576"));
    const auto wide = std::make_shared<const NvImage>(NvImage{100, 1, Bytes(800, 0xFF)});
    EXPECT_EQ(renderPage(std::vector<Print>{{wide, 2, 1}}, 0).width, 1600); // decoding: as wide as it is
    EXPECT_EQ(run.host.pages[1].width, 576);
    EXPECT_EQ(run.host.pages[1].height, 16);
    EXPECT_EQ(run.host.pages[2].height, 8); // printed before the connection ended
    EXPECT_TRUE(run.host.logged("FS p image 9 is not stored, nothing printed"));
    EXPECT_TRUE(run.host.logged("GS V feed 27 and cut"));

    const Session full(define(1, image(1, 1)) + print(1, 0) + print(1, 0) + print(1, 0),
                       {.paperDots = 8, .maxPagePixels = 128});
    ASSERT_EQ(full.host.pages.size(), 2u);
    EXPECT_EQ(full.host.pages[0].height, 16);
    EXPECT_TRUE(full.host.logged("page full: cut"));
}

TEST(VirtualPrinter, StrayBytesAndRunsOfTheSameEventTakeOneLine) {
    Bytes all; // print --range all
    for (int n = 1; n <= 255; ++n)
        all = all + print(n, 0);
    const Bytes reset = {0x1B, 0x40};
    const struct {
        const char* name;
        Bytes stream;
        PrinterConfig config;
        std::vector<std::string> lines;
    } cases[] = {
        {"stray bytes",
         {0x00, 0x41, 0x1B, 0x1B, 0x40, 0x1C, 0x1D, 0x61, 0x00, 0x1D, 0x56, 0x07, 0x1C, 0x70, 0x01},
         {},
         {"ignored 2 bytes (41 1B)", "ESC @ initialise", "ignored byte 1C", "GS a 0 automatic status off",
          "GS V 07 is not a cut mode, ignored", "connection ended inside FS p"}},
        {"none stored",
         all + reset + reset,
         {},
         {"FS p: 255 images not stored, nothing printed (1, 2, 3, 4, 5, 6, 7, 8 ... 255)",
          "ESC @ initialise (2 times)"}},
        {"garbage", Bytes(3000, 0x7F), {}, {"ignored 3000 bytes (7F 7F 7F 7F 7F 7F 7F 7F ... 7F)"}},
        {"nine prints, the cover open",
         Bytes(all.begin(), all.begin() + 36),
         {.coverOpen = true},
         {"FS p: 9 images, the cover is open, nothing printed (1, 2, 3, 4, 5, 6, 7, 8, 9)"}},
        {"one print, no paper", print(7, 0), {.paper = PaperState::End}, {"FS p image 7: no paper, nothing printed"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Session(c.stream, c.config).host.lines, c.lines) << c.name;
}

TEST(VirtualPrinter, AnswersLikeAPrinterOfItsModelAndState) {
    const Bytes ask = {0x10, 0x04, 1, 0x10, 0x04, 2, 0x10, 0x04, 3, 0x10, 0x04, 4, 0x1D, 0x72, 1};
    const Bytes capacity = {0x1D, 0x28, 0x4C, 2, 0, 0x30, 0x30};
    Bytes hidden = image(1, 1, 0x00); // DLE EOT 1 inside image data is data
    std::copy_n(ask.begin(), 3, hidden.begin() + 4);
    const struct {
        const char* name;
        PrinterConfig config;
        Bytes stream, replies;
    } cases[] = {
        {"ready", {}, ask, {0x12, 0x12, 0x12, 0x12, 0x00}},
        {"near end", {.paper = PaperState::NearEnd}, ask, {0x12, 0x12, 0x12, 0x1E, 0x03}},
        {"paper end", {.paper = PaperState::End}, ask, {0x1A, 0x32, 0x12, 0x7E, 0x0F}},
        {"cover open", {.coverOpen = true}, ask, {0x1A, 0x16, 0x12, 0x12, 0x00}},
        {"a rejected definition", {}, define(0, {}) + ask, {0x1A, 0x52, 0x52, 0x12}},
        {"graphics cannot store FS q",
         {.model = PrinterModel::Graphics},
         define(1, image(1, 1)) + ask,
         {0x1A, 0x52, 0x52, 0x12}},
        {"mute", {.model = PrinterModel::Mute}, ask + capacity + Bytes{0x1D, 0x61, 1, 0x1D, 0x49, 66}, {}},
        {"capacity", {.graphicsCapacity = 1000}, capacity, {0x37, 0x30, '1', '0', '0', '0', 0x00}},
        {"bit-image skips GS ( L", {.model = PrinterModel::BitImage}, capacity + Bytes{0x10, 0x04, 1}, {0x12}},
        {"parameters are no commands",
         {},
         Bytes{0x1D, 0x38, 0x4C, 3, 0, 0, 0, 0x10, 0x04, 1} + define(1, hidden) + ask,
         {0x12, 0x12, 0x12, 0x12, 0x00}},
        {"automatic status at once and after a change",
         {},
         Bytes{0x1D, 0x61, 1} + define(0, {}),
         {0x10, 0x00, 0x00, 0x00, 0x18, 0x40, 0x00, 0x00}},
        {"GS I", {.serialNumber = "VP9"}, {0x1D, 0x49, 1, 0x1D, 0x49, 68}, {0x20, 0x5F, 'V', 'P', '9', 0x00}},
    };
    for (const auto& c : cases) {
        const Session run(c.stream, c.config);
        EXPECT_EQ(run.replies, c.replies) << c.name;
    }
    // With no paper or the cover open nothing prints.
    EXPECT_TRUE(Session(define(1, image(1, 1)) + print(1, 0), {.coverOpen = true}).host.pages.empty());
}

TEST(VirtualPrinter, KeyListBlocksWaitForTheHostsAckNakOrCan) {
    FakeHost host;
    VirtualPrinter printer(host, {});
    Bytes defines;
    for (int k = 0; k < 90; ++k)
        defines = defines + defineCommand({char('A' + k / 10), char('0' + k % 10)}, 1, 1);
    EXPECT_TRUE(printer.feed(defines).empty());
    const Bytes query = {0x1D, 0x28, 0x4C, 4, 0, 0x30, 0x40, 'K', 'C'};
    const struct {
        Bytes bytes;
        std::size_t replySize; // 37 72 S, two bytes a key, 00
        std::uint8_t s;
        char first; // the first key's letter: a NAK has the block sent again
    } steps[] = {{query, 84, 0x41, 'A'},
                 {{0x06}, 84, 0x41, 'E'},
                 {{0x15}, 84, 0x41, 'E'},
                 {{0x06}, 24, 0x40, 'I'},
                 {{0x06}, 0, 0, 0}};
    for (const auto& step : steps) {
        const Bytes reply = printer.feed(step.bytes);
        ASSERT_EQ(reply.size(), step.replySize);
        EXPECT_EQ(reply.empty() ? 0 : reply[2], step.s);
        EXPECT_EQ(reply.empty() ? 0 : reply[3], step.first);
    }
    printer.flushLog();
    EXPECT_EQ(host.lines.back(), "key list: done");
    EXPECT_FALSE(printer.awaitingHost());
    (void)printer.feed(query);
    printer.hostSilent();
    EXPECT_FALSE(printer.awaitingHost());
    // A host that moves on: the key list ends and the byte is a command.
    (void)printer.feed(query);
    EXPECT_EQ(printer.feed(Bytes{0x10, 0x04, 1}), Bytes{0x12});
}

TEST(VirtualPrinter, GraphicsPrintsTheOwnAreaOfTheBitImagePrintoutDotForDot) {
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
            const Session a(fsq + Bytes{0x1C, 0x70, 1, std::uint8_t(0x30 + scale), 0x1D, 0x56, 0});
            const Session b(define + Bytes{0x1D, 0x28, 0x4C, 6, 0, 0x30, 0x45, 'G', '1', sx, sy, 0x1D, 0x56, 0});
            ASSERT_EQ(a.host.pages.size(), 1u);
            ASSERT_EQ(b.host.pages.size(), 1u);
            const Bitmap &padded = a.host.pages[0], &own = b.host.pages[0];
            ASSERT_EQ(own.height, 11 * sy);
            ASSERT_EQ(padded.height, 16 * sy);
            EXPECT_TRUE(std::equal(own.grey.begin(), own.grey.end(), padded.grey.begin())) << mode << scale;
            EXPECT_NE(std::count(own.grey.begin(), own.grey.end(), 0), 0);
        }
    }
}

TEST(VirtualPrinter, GraphicsStoresOnlyWholeDefinesThatFit) {
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
        Session run(a1 + c.stream, {.model = c.model, .graphicsCapacity = 100});
        EXPECT_EQ(run.host.graphicsKeys(), c.keys) << c.name;
        EXPECT_EQ(!run.host.errors.empty(), c.error) << c.name;
        EXPECT_LE(run.host.graphics()->usedBytes(), 100u) << c.name;
    }
    // Capacity and free capacity answer from the store: 100, and 100 − 22.
    const Bytes ask = {0x1D, 0x28, 0x4C, 2, 0, 0x30, 0x30, 0x1D, 0x28, 0x4C, 2, 0, 0x30, 0x33};
    EXPECT_EQ(Session(a1 + ask, {.graphicsCapacity = 100}).replies,
              (Bytes{0x37, 0x30, '1', '0', '0', 0, 0x37, 0x31, '7', '8', 0}));
}

// --- the files: the NV images, the NV graphics and the printouts -------------------------------------------

// Two images, 1 x 1 and 2 x 1 units.
const Bytes kFile = Bytes{0x1B, 0x40} + define(2, image(1, 1, 0x80) + image(2, 1, 0x01));

TEST(NvFile, ReadsExactlyOneDefinition) {
    auto images = parseNvFile(kFile);
    ASSERT_TRUE(images) << images.error().message;
    ASSERT_EQ(images->size(), 2u);
    EXPECT_EQ((*images)[1]->widthDots(), 16);
    EXPECT_TRUE((*images)[0]->dot(3, 0));
    EXPECT_FALSE((*images)[0]->dot(3, 1));
    EXPECT_EQ(formatNvFile(*images), kFile);
    EXPECT_TRUE(parseNvFile({})->empty());

    auto text = parseImageFile(formatLogoFile(kFile, HEX));
    ASSERT_TRUE(text);
    EXPECT_EQ(formatNvFile(*text), kFile);

    auto with = [](std::size_t at, std::initializer_list<std::uint8_t> values) {
        Bytes b = kFile;
        std::copy(values.begin(), values.end(), b.begin() + std::ptrdiff_t(at));
        return b;
    };
    Bytes cut = kFile, longer = kFile;
    cut.pop_back();
    longer.push_back(0);
    for (const Bytes& bad : {cut, longer, Bytes(kFile.begin(), kFile.begin() + 7), with(0, {0x1C}), with(4, {0}),
                             with(4, {3}), with(5, {0}), with(7, {0x21, 0x01}) /* y = 289 */}) {
        auto r = parseNvFile(bad);
        EXPECT_FALSE(r) << bad.size();
        if (!r) {
            EXPECT_NE(r.error().message.find("offset"), std::string::npos);
        }
    }
}

TEST(NvStore, TheFileIsWhatThePrinterHolds) {
    const std::string dir = freshDir("nvstore");
    const std::string path = dir + "/nv.bit";
    NvStore store(path);
    ASSERT_TRUE(store.load(100));
    EXPECT_EQ(store.count(), 0u);
    EXPECT_TRUE(fs::exists(path)); // written back: a file it cannot keep is found at the start
    ASSERT_TRUE(store.define(*parseNvFile(kFile)));
    EXPECT_EQ(slurp(path), kFile);

    NvStore again(path);
    ASSERT_TRUE(again.load(32));
    EXPECT_EQ(again.image(2)->widthDots(), 16);
    EXPECT_EQ(again.image(3), nullptr);
    EXPECT_EQ(again.image(0), nullptr);
    EXPECT_EQ(NvStore(path).load(31).error().kind, ErrorKind::BadInput); // 12 + 20 bytes of images

    ASSERT_TRUE(again.erase());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);

    ASSERT_TRUE(writeFileAtomically(path, Bytes(kFile.begin(), kFile.end() - 1)));
    EXPECT_EQ(NvStore(path).load(1000).error().kind, ErrorKind::BadInput);

    NvStore nowhere(dir + "/missing/nv.bit");
    EXPECT_EQ(nowhere.load(1000).error().kind, ErrorKind::Io);
    EXPECT_FALSE(nowhere.define(*parseNvFile(kFile)));
    EXPECT_EQ(nowhere.count(), 0u);
}

TEST(PrintDirectory, NumbersOnFromTheHighestFileAndWritesPng) {
    const std::string dir = freshDir("prints");
    for (const char* name : {"print-0003.png", "print-0011.png", "print-0099.txt", "print-x.png", "other.png"})
        test::writeTempFile(std::string("prints/") + name, {});
    PrintDirectory prints(dir);
    ASSERT_TRUE(prints.open());

    auto image = std::make_shared<const NvImage>(NvImage{1, 1, Bytes{0x80, 0, 0, 0, 0, 0, 0, 0x01}});
    const Bitmap page = renderPage(std::vector<Print>{{image, 2, 1}}, 20);
    EXPECT_EQ(*prints.write(page), "print-0012.png");
    EXPECT_EQ(*prints.write(page), "print-0013.png");

    const Bytes png = slurp(dir + "/print-0012.png");
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), int(png.size()), &w, &h, &channels, 1);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 8);
    std::vector<int> black;
    for (int i = 0; i < w * h; ++i) {
        if (pixels[i] == 0)
            black.push_back(i);
        else
            EXPECT_EQ(pixels[i], 255);
    }
    stbi_image_free(pixels);
    EXPECT_EQ(black, (std::vector<int>{0, 1, 7 * 20 + 14, 7 * 20 + 15}));
}

TEST(GraphicsFile, KeepsTheStoreAcrossARestart) {
    const std::string path = freshDir("graphics-store") + "/nv.bit.graphics";
    const Bytes both = Bytes{0x1B, 0x40} + defineCommand("A1", 9, 3) + defineCommand("x,", 16, 1);
    {
        GraphicsFile file(path);
        ASSERT_TRUE(file.load(100));
        EXPECT_TRUE(slurp(path).empty());
        ASSERT_TRUE(file.change([&](GraphicsStore& s) {
            s = *parseGraphicsFile(both);
            return Status{};
        }));
    }
    EXPECT_EQ(slurp(path), both);
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
