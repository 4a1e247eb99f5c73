// Which byte streams count as a whole upload stream, and where the others stop making sense.

#include "printer/stream_check.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

} // namespace
} // namespace tessera
