// How nvlogo print reads --range: exactly the images a person means, or a refusal.

#include "cli/print_range.h"

#include <gtest/gtest.h>

namespace tessera::cli {
namespace {

TEST(PrintRange, ListsInTheGivenOrderAndRefusesEverythingElse) {
    const std::pair<const char*, std::vector<int>> taken[] = {
        {"7", {7}}, {"1,3,5-7", {1, 3, 5, 6, 7}}, {"9,2-3,2", {9, 2, 3, 2}}, {"255", {255}}, {"2-2", {2}}};
    for (const auto& [text, images] : taken) {
        auto r = parsePrintRange(text);
        ASSERT_TRUE(r) << text << ": " << r.error().message;
        EXPECT_EQ(*r, images) << text;
    }
    EXPECT_EQ(parsePrintRange("all")->size(), 255u);
    for (const char* text :
         {"254-257", "256", "-3", "99999999999", "abc", "0", "", "5-2", "2-2-3", "1,,3", "1,3,", "1, 3", "+4", "3-"}) {
        auto r = parsePrintRange(text);
        ASSERT_FALSE(r) << text;
        EXPECT_EQ(r.error().kind, ErrorKind::BadInput);
        EXPECT_NE(r.error().message.find(std::string("'") + text + "'"), std::string::npos) << r.error().message;
    }
}

} // namespace
} // namespace tessera::cli
