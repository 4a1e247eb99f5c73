#include "base/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessera {

TEST(ByteReader, ReadsLittleEndianAndFailsForGoodAtTheEnd) {
    const std::vector<std::uint8_t> data = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF};
    const struct {
        std::size_t start;
        std::uint32_t first, second; // u16 then u32
        bool failed;
        std::size_t left;
    } cases[] = {
        {0, 0x0201, 0x06050403, false, 1},
        {2, 0x0403, 0, true, 0}, // the u32 crosses the end: zero, and nothing left to read
        {7, 0, 0, true, 0},      // starts at the end
        {99, 0, 0, true, 0},     // starts past it
    };
    for (const auto& c : cases) {
        ByteReader r(data, c.start);
        EXPECT_EQ(r.u16(), c.first) << c.start;
        EXPECT_EQ(r.u32(), c.second) << c.start;
        EXPECT_EQ(r.failed(), c.failed) << c.start;
        EXPECT_EQ(r.remaining(), c.left) << c.start;
        if (c.failed) {
            EXPECT_EQ(r.u8(), 0) << "a failed reader reads nothing more";
        }
    }
}

} // namespace tessera
