#pragma once
// The printing range as the Printout operation reads it.

#include <string>
#include <string_view>
#include <utility>

namespace tessera {

// The first and last image numbers of the "Selection" text: "3" gives (3, 0), "2-5" (2, 5), "-4" (−4, 0),
// "7-" (7, 0), "" (0, 0). Numbers are read like the C library's atoi (leading blanks, a sign, digits up to
// the first non-digit, none gives 0), saturating at the int range instead of overflowing.
std::pair<int, int> readSelection(const std::string& text);

// A number read like the C library's atoi, saturating at the int range.
int integerValue(std::string_view text);

} // namespace tessera
