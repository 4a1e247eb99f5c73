// NV graphics: the bytes of each command, the keys the command line takes, and the saved stream's check.

#include "printer/nv_graphics.h"
#include "printer/stream_check.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;

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
