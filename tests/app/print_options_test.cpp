#include "app/print_options.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

TEST(PrintOptions, SelectionTextGivesFirstAndLast) {
    using P = std::pair<int, int>;
    EXPECT_EQ(readSelection("3"), (P{3, 0}));
    EXPECT_EQ(readSelection("2-5"), (P{2, 5}));
    EXPECT_EQ(readSelection("-4"), (P{-4, 0}));
    EXPECT_EQ(readSelection("7-"), (P{7, 0}));
    EXPECT_EQ(readSelection(""), (P{0, 0}));
    EXPECT_EQ(readSelection("abc"), (P{0, 0}));
    EXPECT_EQ(readSelection(" 2 - 9x-12"), (P{2, 9})) << "blanks before a number are skipped, text after it ignored";
    EXPECT_EQ(readSelection("1-2-3"), (P{1, 2}));
    EXPECT_EQ(readSelection("99999999999"), (P{2147483647, 0}));
    EXPECT_EQ(readSelection("-99999999999"), (P{-2147483647 - 1, 0}));
}

} // namespace
} // namespace tessera
