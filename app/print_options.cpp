#include "app/print_options.h"

#include <cctype>
#include <climits>

namespace tessera {

int integerValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(v);
}

std::pair<int, int> readSelection(const std::string& text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos || dash == 0) return {integerValue(text), 0};
    const std::size_t second = text.find('-', dash + 1);
    const std::string last = text.substr(dash + 1, second == std::string::npos ? std::string::npos : second - dash - 1);
    return {integerValue(text.substr(0, dash)), integerValue(last)};
}

} // namespace tessera
