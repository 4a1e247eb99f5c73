#include "cli/print_range.h"

#include <algorithm>
#include <cctype>

namespace tessera::cli {

namespace {

constexpr int kLastImage = 255;

// An image number 1..255 in decimal digits; -1 for anything else.
int imageNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) return -1;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) return -1;
    const int n = std::stoi(text);
    return n >= 1 && n <= kLastImage ? n : -1;
}

} // namespace

Result<std::vector<int>> parsePrintRange(const std::string& text) {
    auto refuse = [&](const std::string& why) -> Error {
        return badInput("--range '" + text + "': " + why +
                        "; say all, or image numbers 1..255 and ranges A-B separated by commas, such as 1,3,5-7");
    };
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::vector<int> images;
    if (lower == "all") {
        for (int n = 1; n <= kLastImage; ++n)
            images.push_back(n);
        return images;
    }
    if (text.empty()) return refuse("no image numbers");
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string piece = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t dash = piece.find('-');
        const int first = imageNumber(piece.substr(0, dash));
        const int last = dash == std::string::npos ? first : imageNumber(piece.substr(dash + 1));
        if (piece.empty()) return refuse("an empty item");
        if (first < 0 || last < 0)
            return refuse(piece + " is not an image number 1..255" +
                          (dash == std::string::npos ? "" : " or a range A-B"));
        if (first > last) return refuse(piece + " runs backwards (A-B needs A <= B)");
        for (int n = first; n <= last; ++n)
            images.push_back(n);
        if (comma == std::string::npos) return images;
        start = comma + 1;
    }
}

} // namespace tessera::cli
