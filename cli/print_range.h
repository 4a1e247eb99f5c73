#pragma once
// The --range of nvlogo print. The command line reads ranges strictly, unlike the dialog's selection box:
// a typing slip must not print other images than those meant.

#include "base/result.h"

#include <string>
#include <vector>

namespace tessera::cli {

// "all" (any case): the image numbers 1..255. Otherwise a comma-separated list, without spaces, of image
// numbers 1..255 and ranges A-B with A ≤ B, expanded in the given order ("1,3,5-7" gives 1 3 5 6 7).
// Anything else is BadInput naming the text and what is wrong with it.
Result<std::vector<int>> parsePrintRange(const std::string& text);

} // namespace tessera::cli
