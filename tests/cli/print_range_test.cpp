// How nvlogo print reads --range: exactly the images a person means, or a refusal.

#include "cli/print_range.h"

#include <gtest/gtest.h>

namespace tessera::cli {
namespace {

TEST(PrintRange, ListsInTheGivenOrderAndRefusesEverythingElse) {
    const struct {
        const char* text;
        std::vector<int> images; // empty: refused
    } cases[] = {
        {"7", {7}},
        {"1,3,5-7", {1, 3, 5, 6, 7}},
        {"9,2-3,2", {9, 2, 3, 2}},
        {"255", {255}},
        {"2-2", {2}},
        {"254-257", {}},
        {"256", {}},
        {"-3", {}},
        {"99999999999", {}},
        {"abc", {}},
        {"0", {}},
        {"", {}},
        {"5-2", {}},
        {"2-2-3", {}},
        {"1,,3", {}},
        {"1,3,", {}},
        {"1, 3", {}},
        {"+4", {}},
        {"3-", {}},
    };
    for (const auto& c : cases) {
        auto r = parsePrintRange(c.text);
        if (c.images.empty()) {
            ASSERT_FALSE(r) << c.text;
            EXPECT_EQ(r.error().kind, ErrorKind::BadInput);
            EXPECT_NE(r.error().message.find(std::string("'") + c.text + "'"), std::string::npos) << r.error().message;
        } else {
            ASSERT_TRUE(r) << c.text << ": " << r.error().message;
            EXPECT_EQ(*r, c.images) << c.text;
        }
    }
    auto all = parsePrintRange("all");
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 255u);
    EXPECT_EQ(all->back(), 255);
}

} // namespace
} // namespace tessera::cli
