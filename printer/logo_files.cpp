#include "printer/logo_files.h"

namespace tessera {

namespace {

int hexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

} // namespace

std::vector<std::uint8_t> formatLogoFile(std::span<const std::uint8_t> stream, SaveFormat format) {
    if (format != HEX) return {stream.begin(), stream.end()};
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::vector<std::uint8_t> text;
    text.reserve(stream.size() * 3);
    for (std::uint8_t b : stream) {
        text.push_back(static_cast<std::uint8_t>(kDigits[b >> 4]));
        text.push_back(static_cast<std::uint8_t>(kDigits[b & 0x0F]));
        text.push_back(' ');
    }
    return text;
}

Result<std::vector<std::uint8_t>> parseHexText(std::span<const std::uint8_t> text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 3 + 1);
    std::size_t i = 0;
    while (i < text.size()) {
        if (isSpace(text[i])) {
            ++i;
            continue;
        }
        const int hi = hexDigit(text[i]);
        const int lo = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
        if (hi < 0 || lo < 0 || (i + 2 < text.size() && !isSpace(text[i + 2])))
            return badInput("not a hexadecimal byte at offset " + std::to_string(i));
        bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        i += 2;
    }
    return bytes;
}

} // namespace tessera
