#include "printer/nv_graphics.h"

#include <algorithm>
#include <cstdio>

namespace tessera {

namespace {

// GS ( L counts its parameters in 16 bits; a longer define takes GS 8 L and 32 bits.
constexpr std::uint64_t kMaxShortCount = 65535;
constexpr std::size_t kDefineParams = 11; // 30 43 30 kc1 kc2 01 xL xH yL yH 31

Status send(ByteSink& sink, std::span<const std::uint8_t> bytes) {
    if (!sink.write(bytes)) return ioError("the printer did not take the data");
    return {};
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::uint8_t lo(std::uint64_t v, int byte) {
    return static_cast<std::uint8_t>(v >> (8 * byte));
}

} // namespace

bool validGraphicsKey(std::string_view key) {
    return key.size() == 2 && std::all_of(key.begin(), key.end(), [](char c) {
               const auto b = static_cast<unsigned char>(c);
               return b >= 0x20 && b <= 0x7E;
           });
}

Result<std::vector<std::string>> parseGraphicsKeys(std::string_view list) {
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view item = list.substr(start, comma - start);
        std::string key(item);
        if (item.size() == 5 && item[0] == 'x') {
            const int d[4] = {hexDigit(item[1]), hexDigit(item[2]), hexDigit(item[3]), hexDigit(item[4])};
            if (std::all_of(d, d + 4, [](int v) { return v >= 0; }))
                key = {static_cast<char>(d[0] << 4 | d[1]), static_cast<char>(d[2] << 4 | d[3])};
        }
        if (!validGraphicsKey(key))
            return badInput("key \"" + std::string(item) +
                            "\": a key is two characters 20..7E hexadecimal (A1), or x and four hexadecimal digits "
                            "(x2C41)");
        keys.push_back(std::move(key));
        if (comma == list.size()) return keys;
        start = comma + 1;
    }
}

std::string graphicsKeyText(std::string_view key) {
    if (key.find_first_of(" ,") == std::string_view::npos) return std::string(key);
    std::string text(1, 'x');
    return text.append(graphicsKeyHex(key));
}

std::string graphicsKeyHex(std::string_view key) {
    std::string hex;
    for (char c : key) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(c));
        hex += two;
    }
    return hex;
}

std::string graphicsKeyList(std::span<const std::string> keys) {
    std::string s;
    for (std::size_t i = 0; i < keys.size(); ++i)
        s += (i == 0 ? "" : i + 1 == keys.size() ? " and " : ", ") + graphicsKeyText(keys[i]);
    return s;
}

Result<std::vector<std::string>> keysForLogos(std::size_t logos, const std::vector<std::string>& given) {
    if (given.empty()) {
        if (logos > kMaxDefaultKeys)
            return badInput(std::to_string(logos) + " logos: more than " + std::to_string(kMaxDefaultKeys) +
                            " need their keys named with --keys");
        std::vector<std::string> keys;
        for (std::size_t n = 1; n <= logos; ++n)
            keys.push_back({static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)});
        return keys;
    }
    if (given.size() != logos)
        return badInput(std::to_string(given.size()) + (given.size() == 1 ? " key" : " keys") + " for " +
                        std::to_string(logos) + (logos == 1 ? " logo" : " logos") + ": --keys names one per logo");
    for (std::size_t i = 0; i < given.size(); ++i)
        if (std::find(given.begin(), given.begin() + static_cast<std::ptrdiff_t>(i), given[i]) !=
            given.begin() + static_cast<std::ptrdiff_t>(i))
            return badInput("key " + graphicsKeyText(given[i]) + " is given twice: each logo needs its own key");
    return given;
}

Result<std::vector<GraphicsLogo>> encodeGraphicsLogos(NvImageEncoder& encoder, const std::vector<std::string>& paths,
                                                      const std::vector<std::string>& keys, int mode, int level) {
    std::vector<GraphicsLogo> logos;
    logos.reserve(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (Status s = encoder.encodeLogoFile(path, mode, level, LogoFamily::Graphics); !s) {
            // As with bit images: a logo that cannot be read is the list's fault.
            Error e = s.error();
            e.kind = ErrorKind::BadInput;
            if (e.message.rfind(path + ":", 0) == 0) return e;
            return withContext(path, std::move(e));
        }
        logos.push_back(
            {path, keys[i], encoder.width(), encoder.height(), encoder.graphicsRows(), encoder.halftoneSkipped()});
    }
    return logos;
}

std::uint64_t graphicsListBytes(std::span<const GraphicsLogo> logos) {
    std::uint64_t total = 0;
    for (const GraphicsLogo& logo : logos)
        total += logo.storeBytes();
    return total;
}

std::vector<std::uint8_t> graphicsDefineCommand(const GraphicsLogo& logo) {
    const std::uint64_t count = kDefineParams + logo.rows.size();
    std::vector<std::uint8_t> cmd;
    cmd.reserve(8 + count);
    if (count <= kMaxShortCount)
        cmd = {0x1D, 0x28, 0x4C, lo(count, 0), lo(count, 1)};
    else
        cmd = {0x1D, 0x38, 0x4C, lo(count, 0), lo(count, 1), lo(count, 2), lo(count, 3)};
    const auto w = static_cast<std::uint64_t>(logo.width), h = static_cast<std::uint64_t>(logo.height);
    cmd.insert(cmd.end(), {0x30, 0x43, 0x30, static_cast<std::uint8_t>(logo.key[0]),
                           static_cast<std::uint8_t>(logo.key[1]), 0x01, lo(w, 0), lo(w, 1), lo(h, 0), lo(h, 1), 0x31});
    cmd.insert(cmd.end(), logo.rows.begin(), logo.rows.end());
    return cmd;
}

Status writeGraphicsDefinitions(ByteSink& sink, std::span<const GraphicsLogo> logos, bool keep) {
    static constexpr std::uint8_t kInit[2] = {0x1B, 0x40};
    if (Status s = send(sink, kInit); !s) return s;
    if (!keep)
        if (Status s = writeGraphicsErase(sink, {}); !s) return s;
    for (const GraphicsLogo& logo : logos)
        if (Status s = send(sink, graphicsDefineCommand(logo)); !s) return s;
    return {};
}

std::uint64_t graphicsDefinitionBytes(std::span<const GraphicsLogo> logos, bool keep) {
    std::uint64_t total = keep ? 2 : 12;
    for (const GraphicsLogo& logo : logos)
        total += (kDefineParams + logo.rows.size() <= kMaxShortCount ? 5 : 7) + kDefineParams + logo.rows.size();
    return total;
}

Status writeGraphicsPrints(ByteSink& sink, std::span<const std::string> keys, int scale) {
    const auto x = static_cast<std::uint8_t>(1 + (scale & 1)), y = static_cast<std::uint8_t>(1 + (scale >> 1 & 1));
    for (const std::string& key : keys) {
        const auto k1 = static_cast<std::uint8_t>(key[0]), k2 = static_cast<std::uint8_t>(key[1]);
        const std::uint8_t cmd[11] = {0x1D, 0x28, 0x4C, 0x06, 0x00, 0x30, 0x45, k1, k2, x, y};
        if (Status s = send(sink, cmd); !s) return s;
    }
    static constexpr std::uint8_t kCut[4] = {0x1D, 0x56, 0x42, 0x01};
    return send(sink, kCut);
}

Status writeGraphicsErase(ByteSink& sink, std::span<const std::string> keys) {
    if (keys.empty()) {
        static constexpr std::uint8_t kDeleteAll[10] = {0x1D, 0x28, 0x4C, 0x05, 0x00, 0x30, 0x41, 0x43, 0x4C, 0x52};
        return send(sink, kDeleteAll);
    }
    for (const std::string& key : keys) {
        const auto k1 = static_cast<std::uint8_t>(key[0]), k2 = static_cast<std::uint8_t>(key[1]);
        const std::uint8_t cmd[9] = {0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x42, k1, k2};
        if (Status s = send(sink, cmd); !s) return s;
    }
    return {};
}

} // namespace tessera
