#include "app/settings_files.h"

#include "app/print_options.h"

#include <cstdint>

namespace tessera {

namespace {

constexpr std::string_view kHeader = "[LOGO]";
constexpr std::string_view kLineEnd = "\r\r\n";
constexpr std::array<const char*, 6> kPortKeys = {"Port", "BaudRate", "BitLength", "Parity", "StopBit", "HandShake"};

// The lines of a text: each up to its LF, the LF dropped, and every CR directly before it too, so lines
// written with CR CR LF, CR LF or LF read the same. A last line without LF counts when it is not empty.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return lines;
}

std::string_view valueAfterEquals(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view{} : line.substr(eq + 1);
}

std::string_view field(std::string_view text, int k) {
    for (int i = 0; i < k; ++i) {
        const auto bar = text.find('|');
        if (bar == std::string_view::npos) return {};
        text.remove_prefix(bar + 1);
    }
    return text.substr(0, text.find('|'));
}

} // namespace

std::string composeLogoList(const std::vector<LogoEntry>& entries) {
    if (entries.empty()) return {};
    std::string text = std::string(kHeader) + std::string(kLineEnd);
    int number = 0;
    for (const LogoEntry& e : entries) {
        text += "Logofile" + std::to_string(++number) + "=" + e.filePath + "|" + e.displayName + "|" +
                std::to_string(e.nvSize) + "|" + std::to_string(e.height) + "|" + std::to_string(e.width);
        text += kLineEnd;
    }
    return text;
}

std::vector<StoredLogo> parseLogoList(std::string_view text) {
    const auto lines = linesOf(text);
    std::vector<StoredLogo> logos;
    if (lines.empty() || lines.front() != kHeader) return logos;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        const std::string_view value = valueAfterEquals(lines[i]);
        logos.push_back({std::string(field(value, 0)), std::string(field(value, 1))});
    }
    return logos;
}

std::string composePortSelections(const PortSelections& selections) {
    std::string text = std::string(kHeader) + std::string(kLineEnd);
    for (std::size_t i = 0; i < kPortKeys.size(); ++i)
        text += std::string(kPortKeys[i]) + "=" + std::to_string(selections[i]) + std::string(kLineEnd);
    return text;
}

bool parsePortSelections(std::string_view text, PortSelections& selections) {
    const auto lines = linesOf(text);
    if (lines.empty() || lines.front() != kHeader) return false;
    for (std::size_t i = 0; i < selections.size(); ++i) {
        // The key plays no part; only the line's position says which list it is for.
        std::string_view value = i + 1 < lines.size() ? valueAfterEquals(lines[i + 1]) : std::string_view{};
        value = value.substr(0, value.find('='));
        selections[i] = integerValue(value);
    }
    return true;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        int extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - i <= static_cast<std::size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

} // namespace tessera
