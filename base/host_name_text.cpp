#include "base/host_name_text.h"

#include <cctype>

namespace tessera {

bool validHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    std::size_t label = 0;
    for (std::size_t i = 0; i <= host.size(); ++i) {
        if (i == host.size() || host[i] == '.') {
            if (label == 0 || label > 63 || host[i - 1] == '-' || host[i - label] == '-') return false;
            label = 0;
        } else if (std::isalnum(static_cast<unsigned char>(host[i])) || host[i] == '-') {
            ++label;
        } else {
            return false;
        }
    }
    return true;
}

std::optional<std::uint32_t> parseIpv4(const std::string& text) {
    std::uint32_t host = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        std::size_t digits = 0;
        unsigned value = 0;
        const bool leadingZero = pos + 1 < text.size() && text[pos] == '0' && std::isdigit(text[pos + 1] & 0xFF);
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || leadingZero) return std::nullopt;
        host = host << 8 | value;
    }
    if (pos != text.size()) return std::nullopt;
    return host;
}

} // namespace tessera
