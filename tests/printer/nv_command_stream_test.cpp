// The bytes of upload, print and erase, how the writers behave when a write or a logo fails, and which byte
// streams count as a whole saved upload stream; the same for NV graphics.

#include "printer/nv_upload_ctrl.h"

#include "printer/nv_graphics.h"
#include "printer/stream_check.h"
#include "support/bmp_writer.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string logoFile(const std::string& name, int w, int h, BmpColor fill = {0, 0, 0}) {
    test::Picture p(w, h, fill);
    return test::writeTempFile(name, test::writeBmp24(p));
}

// Accepts a number of writes, then fails every one; records what it took.
class FailingSink : public MemorySink {
  public:
    explicit FailingSink(int okWrites) : left_(okWrites) {}
    bool write(std::span<const std::uint8_t> data) override {
        ++calls;
        if (left_-- <= 0) return false;
        return MemorySink::write(data);
    }
    int calls = 0;

  private:
    int left_;
};

TEST(NvUpload, StreamHasHeaderThenSizeAndRasterPerLogoWithPauses) {
    const auto a = logoFile("a.bmp", 10, 10), b = logoFile("b.bmp", 2048, 100), c = logoFile("c.bmp", 8, 8);
    MemorySink sink;
    CNVUploadCtrl ctrl(sink);
    ASSERT_EQ(ctrl.uploadLogos({a, b, c}, Threshold, 5), 1);

    const Bytes& s = sink.bytes;
    ASSERT_EQ(s.size(), 5u + (4 + 32) + (4 + 26624) + (4 + 8));
    EXPECT_EQ(Bytes(s.begin(), s.begin() + 9), (Bytes{0x1B, 0x40, 0x1C, 0x71, 0x03, 0x02, 0x00, 0x02, 0x00}));
    const std::size_t second = 5 + 4 + 32;
    EXPECT_EQ(Bytes(s.begin() + second, s.begin() + second + 4), (Bytes{0x00, 0x01, 0x0D, 0x00}));
    const std::size_t third = second + 4 + 26624;
    EXPECT_EQ(Bytes(s.begin() + third, s.begin() + third + 4), (Bytes{0x01, 0x00, 0x01, 0x00}));
    // Black logos: every dot inside the image prints.
    EXPECT_EQ(s[9], 0xFF);
    EXPECT_EQ(s[10], 0xC0); // column 0, rows 8..15: rows 8 and 9 are inside
    // One pause after each size header, before its raster.
    EXPECT_EQ(sink.pauseOffsets, (std::vector<std::size_t>{9, second + 4, third + 4}));
}

TEST(NvUpload, RefusedListsWriteNothing) {
    const auto good = logoFile("good.bmp", 8, 8);
    const auto broken = test::writeTempFile("broken.bmp", {'B', 'M', 0, 0});
    const auto huge = logoFile("huge.bmp", 8, 2312);
    struct Case {
        std::vector<std::string> logos;
        std::string mentions;
    } cases[] = {
        {std::vector<std::string>(256, good), "256 logos"},
        {{good, broken}, "broken.bmp"},
        {{good, test::tempDir() + "/missing.bmp"}, "missing.bmp"},
        {{good, huge}, "too large"},
    };
    for (const Case& c : cases) {
        MemorySink sink;
        CNVUploadCtrl ctrl(sink);
        EXPECT_EQ(ctrl.uploadLogos(c.logos, Threshold, 5), 0) << c.mentions;
        EXPECT_TRUE(sink.bytes.empty()) << c.mentions;
        EXPECT_EQ(ctrl.lastError().kind, ErrorKind::BadInput) << c.mentions;
        EXPECT_NE(ctrl.lastError().message.find(c.mentions), std::string::npos) << ctrl.lastError().message;
    }
    MemorySink sink;
    CNVUploadCtrl ctrl(sink);
    EXPECT_EQ(ctrl.uploadLogos({}, Threshold, 5), 1);
    EXPECT_TRUE(sink.bytes.empty()) << "an empty list writes nothing and succeeds";
    EXPECT_EQ(ctrl.uploadLogos(std::vector<std::string>(255, good), Threshold, 5), 1);
    EXPECT_EQ(sink.bytes[4], 0xFF);
}

TEST(NvWriters, StopAtTheFirstFailedWrite) {
    const auto a = logoFile("fa.bmp", 8, 8), b = logoFile("fb.bmp", 8, 8);
    for (int ok = 0; ok < 5; ++ok) {
        FailingSink sink(ok);
        CNVUploadCtrl ctrl(sink);
        EXPECT_EQ(ctrl.uploadLogos({a, b}, Threshold, 5), 0);
        EXPECT_EQ(sink.calls, ok + 1) << "no write after the failed one";
        EXPECT_EQ(ctrl.lastError().kind, ErrorKind::Io);
    }
    FailingSink print(3);
    CNVUploadCtrl p(print);
    EXPECT_EQ(p.printNvImages(0, 0, 0), 0);
    EXPECT_EQ(print.calls, 4);
    FailingSink erase(1);
    CNVUploadCtrl e(erase);
    EXPECT_EQ(e.eraseNvImages(), 0);
    EXPECT_EQ(erase.calls, 2);
}

Bytes printed(int first, int last, int quality) {
    MemorySink sink;
    CNVUploadCtrl ctrl(sink);
    EXPECT_EQ(ctrl.printNvImages(first, last, quality), 1);
    return sink.bytes;
}

Bytes fsp(std::initializer_list<int> numbers, std::uint8_t m) {
    Bytes b;
    for (int n : numbers) b.insert(b.end(), {0x1C, 0x70, static_cast<std::uint8_t>(n), m});
    b.insert(b.end(), {0x1D, 0x56, 0x42, 0x01});
    return b;
}

TEST(NvPrint, RangesAndScaling) {
    const Bytes all = printed(0, 0, 3);
    ASSERT_EQ(all.size(), 255u * 4 + 4);
    for (int n = 1; n <= 255; ++n)
        EXPECT_EQ(Bytes(all.begin() + (n - 1) * 4, all.begin() + n * 4), (Bytes{0x1C, 0x70, std::uint8_t(n), 0x33}));
    EXPECT_EQ(printed(2, 4, 0), fsp({2, 3, 4}, 0x30));
    EXPECT_EQ(printed(5, 2, 0), fsp({}, 0x30));
    EXPECT_EQ(printed(7, 0, 1), fsp({7}, 0x31));
    EXPECT_EQ(printed(256, 0, 2), fsp({0}, 0x32));
    EXPECT_EQ(printed(0, 9, 0), fsp({0}, 0x30));
    EXPECT_EQ(printed(-5, 0, 0), fsp({0xFB}, 0x30));
    EXPECT_EQ(printed(-5, 3, 0), fsp({0xFB}, 0x30));
    EXPECT_EQ(printed(3, 3, 7), fsp({3}, 0x30)); // unknown quality: normal scaling
    EXPECT_EQ(printed(255, 257, 0), fsp({255, 0, 1}, 0x30));
}

TEST(NvErase, AlwaysTheSameTenBytes) {
    MemorySink sink;
    CNVUploadCtrl ctrl(sink);
    EXPECT_EQ(ctrl.eraseNvImages(), 1);
    EXPECT_EQ(sink.bytes, (Bytes{0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30, 0x1D, 0x56, 0x42, 0x01}));
}

// A definition of images of the given sizes in units of 8 dots (x, y), their data all zero; extra bytes
// added at the end (or taken off, when negative).
Bytes definition(std::initializer_list<std::pair<int, int>> sizes, int count = -1, int extra = 0) {
    Bytes b = {0x1B, 0x40, 0x1C, 0x71, static_cast<std::uint8_t>(count < 0 ? sizes.size() : count)};
    for (auto [x, y] : sizes) {
        b.insert(b.end(), {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8),
                           static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(y >> 8)});
        b.resize(b.size() + 8 * static_cast<std::size_t>(x * y));
    }
    b.resize(b.size() + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(extra)));
    return b;
}

TEST(StreamCheck, TakesWholeDefinitionsAndNamesTheOffsetOfAnythingElse) {
    const struct {
        Bytes bytes;
        int images; // 0: refused
        const char* at;
    } cases[] = {
        {definition({{1, 1}}), 1, ""},
        {definition({{1023, 1}, {1, 288}, {3, 2}}), 3, ""},
        {{}, 0, "at offset 0:"},
        {{'h', 'e', 'l', 'l', 'o'}, 0, "at offset 0:"},
        {{0x1B, 0x40, 0x1C, 0x70}, 0, "at offset 3:"},
        {{0x1B, 0x40}, 0, "at offset 2: the stream ends inside its start"},
        {{0x1B, 0x40, 0x1C, 0x71}, 0, "at offset 4:"},
        {definition({}, 0), 0, "at offset 4: a definition of 0 images"},
        {definition({{0, 1}}), 0, "at offset 5: image 1 of 1 has the size 0 x 1"},
        {definition({{1024, 1}}), 0, "at offset 5:"},
        {definition({{1, 289}}), 0, "at offset 5:"},
        {definition({{1, 1}}, 2), 0, "at offset 17: the stream ends inside the size of image 2 of 2"},
        {definition({{2, 1}, {1, 1}}, -1, -1), 0, "at offset 36: the stream ends inside the data of image 2 of 2"},
        {definition({{1, 1}}, -1, 1), 0, "at offset 17: 1 more bytes"},
    };
    for (const auto& c : cases) {
        auto r = checkSavedStream(c.bytes);
        if (c.images) {
            ASSERT_TRUE(r) << r.error().message;
            EXPECT_EQ(r->images, c.images);
        } else {
            ASSERT_FALSE(r) << c.at;
            EXPECT_EQ(r.error().kind, ErrorKind::BadInput);
            EXPECT_EQ(r.error().message.rfind(c.at, 0), 0u) << r.error().message;
        }
    }
}

// --- NV graphics: the bytes of each command, the keys the command line takes, and the saved stream's check ---

GraphicsLogo logo(int w, int h, std::string key = "A1") {
    return {"", std::move(key), w, h, Bytes(static_cast<std::size_t>((w + 7) / 8) * h, 0xAA), false};
}

Bytes written(Status (*write)(ByteSink&)) {
    MemorySink sink;
    EXPECT_TRUE(write(sink));
    return sink.bytes;
}

TEST(NvGraphics, EachFunctionsBytes) {
    // 11 + k = 65533 is the largest GS ( L near the switch, 65537 the smallest GS 8 L: 65535 and 65536 cannot occur.
    const struct {
        GraphicsLogo logo;
        Bytes head;
    } defines[] = {
        {logo(9, 2), {0x1D, 0x28, 0x4C, 15, 0, 0x30, 0x43, 0x30, 'A', '1', 1, 9, 0, 2, 0, 0x31}},
        {logo(1448, 362), {0x1D, 0x28, 0x4C, 0xFD, 0xFF, 0x30, 0x43, 0x30, 'A', '1', 1, 0xA8, 5, 0x6A, 1, 0x31}},
        {logo(536, 978), {0x1D, 0x38, 0x4C, 1, 0, 1, 0, 0x30, 0x43, 0x30, 'A', '1', 1, 0x18, 2, 0xD2, 3, 0x31}},
    };
    for (const auto& d : defines) {
        const Bytes cmd = graphicsDefineCommand(d.logo);
        EXPECT_EQ(Bytes(cmd.begin(), cmd.begin() + static_cast<std::ptrdiff_t>(d.head.size())), d.head);
        EXPECT_EQ(cmd.size(), d.head.size() + d.logo.rows.size());
        EXPECT_EQ(graphicsDefinitionBytes(std::span(&d.logo, 1), true), 2 + cmd.size());
    }
    const std::vector<std::string> keys = {"A1", "xy"};
    const Bytes kCut = {0x1D, 0x56, 0x42, 0x01};
    for (int scale = 0; scale < 4; ++scale) {
        MemorySink sink;
        ASSERT_TRUE(writeGraphicsPrints(sink, keys, scale));
        const std::uint8_t x = scale & 1 ? 2 : 1, y = scale & 2 ? 2 : 1;
        EXPECT_EQ(sink.bytes, (Bytes{0x1D, 0x28, 0x4C, 6,    0,    0x30, 0x45, 'A', '1', x,    y,    0x1D, 0x28,
                                     0x4C, 6,    0,    0x30, 0x45, 'x',  'y',  x,   y,   0x1D, 0x56, 0x42, 0x01}));
    }
    EXPECT_EQ(written([](ByteSink& s) { return writeGraphicsErase(s, {}); }),
              (Bytes{0x1D, 0x28, 0x4C, 5, 0, 0x30, 0x41, 0x43, 0x4C, 0x52}));
    EXPECT_EQ(written([](ByteSink& s) { return writeGraphicsErase(s, std::vector<std::string>{"01"}); }),
              (Bytes{0x1D, 0x28, 0x4C, 4, 0, 0x30, 0x42, '0', '1'}));
    const GraphicsLogo two[] = {logo(8, 1, "01"), logo(8, 1, "02")};
    for (bool keep : {false, true}) {
        MemorySink sink;
        ASSERT_TRUE(writeGraphicsDefinitions(sink, two, keep));
        Bytes expected = {0x1B, 0x40};
        if (!keep) expected.insert(expected.end(), {0x1D, 0x28, 0x4C, 5, 0, 0x30, 0x41, 0x43, 0x4C, 0x52});
        for (const auto& l : two) {
            const Bytes cmd = graphicsDefineCommand(l);
            expected.insert(expected.end(), cmd.begin(), cmd.end());
        }
        EXPECT_EQ(sink.bytes, expected);
        EXPECT_EQ(graphicsDefinitionBytes(two, keep), expected.size());
        // What save writes, send accepts, keys in stream order.
        auto summary = checkSavedStream(sink.bytes);
        ASSERT_TRUE(summary) << summary.error().message;
        EXPECT_EQ(summary->family, StreamFamily::Graphics);
        ASSERT_EQ(summary->defines.size(), 2u);
        EXPECT_EQ(summary->defines[1].key, "02");
    }
    EXPECT_EQ(graphicsListBytes(two), 2 * (1 + kGraphicsRecordBytes));
}

TEST(NvGraphics, KeysAsTheCommandLineWritesThem) {
    const struct {
        const char* text;
        std::vector<std::string> keys; // empty: refused
    } cases[] = {
        {"A1", {"A1"}},    {"01,02,zz", {"01", "02", "zz"}},
        {"x2C41", {",A"}}, {"x2041,~~", {" A", "~~"}},
        {"x1", {"x1"}},    {"", {}},
        {"A", {}},         {"ABC", {}},
        {"A1,", {}},       {"x1F41", {}},
        {"x2G41", {}},     {"x2C4", {}},
        {"A\x7F", {}},
    };
    for (const auto& c : cases) {
        auto keys = parseGraphicsKeys(c.text);
        EXPECT_EQ(keys ? *keys : std::vector<std::string>{}, c.keys) << c.text;
    }
    EXPECT_EQ(graphicsKeyText(",A"), "x2C41");
    EXPECT_EQ(graphicsKeyHex("A/"), "412F");
    auto byDefault = keysForLogos(99, {});
    ASSERT_TRUE(byDefault);
    EXPECT_EQ(byDefault->front() + byDefault->back(), "0199");
    EXPECT_FALSE(keysForLogos(100, {}));
    EXPECT_FALSE(keysForLogos(2, {"A1"}));
    EXPECT_FALSE(keysForLogos(2, {"A1", "A1"}));
}

TEST(NvGraphics, StreamCheckRefusesBrokenDefines) {
    MemorySink sink;
    const GraphicsLogo one = logo(9, 2);
    ASSERT_TRUE(writeGraphicsDefinitions(sink, std::span(&one, 1), true));
    const Bytes good = sink.bytes; // 1B 40, 1D 28 4C 0F 00, 30 43 30 'A' '1' 01 09 00 02 00 31 (at 7..17), 4 data
    const struct {
        std::size_t at;
        std::uint8_t value;
        const char* message;
    } cases[] = {
        {5, 16, "at offset 5: define 1 counts 16"},           {10, 0x1F, "at offset 10: define 1 has a key"},
        {13, 0, "at offset 13: define 1 has the size 0 x 2"}, {17, 0x32, "at offset 7: define 1 is not"},
        {99, 0x1D, "at offset 23: the stream ends"},          {99, 0x31, "at offset 22: a define"},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        if (c.at < bad.size())
            bad[c.at] = c.value;
        else
            bad.push_back(c.value);
        auto r = checkSavedStream(bad);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message.rfind(c.message, 0), 0u) << r.error().message;
    }
    EXPECT_FALSE(checkSavedStream(Bytes(good.begin(), good.end() - 1)));
    EXPECT_FALSE(checkSavedStream(Bytes{0x1B, 0x40, 0x1D, 0x28, 0x4C, 5, 0, 0x30, 0x41, 0x43, 0x4C, 0x52}));
}

} // namespace
} // namespace tessera
