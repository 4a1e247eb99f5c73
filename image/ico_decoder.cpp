#include "image/ico_decoder.h"

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

namespace tessera {

namespace {

constexpr std::size_t kDirHeader = 6, kDirEntry = 16;
// Bitmap entries are drawn from memory the size of the directory's largest icons; anything bigger in a DIB
// header is a broken or hostile file.
constexpr int kMaxBitmapEntrySide = 1024;

std::uint32_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8;
}
std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

std::size_t rowBytes(std::int64_t width, int bits) { return static_cast<std::size_t>((width * bits + 31) / 32 * 4); }

Result<DecodedPicture> decodeBitmapEntry(std::span<const std::uint8_t> d, const PictureLimits& limits) {
    if (d.size() < 40) return badInput("icon bitmap header is cut short");
    const std::uint32_t headerSize = le32(d, 0);
    if (headerSize < 40 || headerSize > d.size()) return badInput("icon bitmap header has a bad size");
    const auto w = static_cast<std::int32_t>(le32(d, 4));
    const auto doubledH = static_cast<std::int32_t>(le32(d, 8));
    const int bits = static_cast<int>(le16(d, 14));
    const std::uint32_t compression = le32(d, 16);
    const std::uint32_t clrUsed = le32(d, 32);
    // The header's height covers the colour image and the mask together.
    if (w <= 0 || doubledH <= 0 || doubledH % 2 != 0 || w > kMaxBitmapEntrySide || doubledH / 2 > kMaxBitmapEntrySide)
        return badInput("icon bitmap has a bad size");
    const int h = doubledH / 2;
    if (static_cast<std::int64_t>(w) * h > limits.maxPixels) return badInput("icon bitmap is too large");
    if (compression != 0) return badInput("compressed icon bitmaps are not supported");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return badInput("icon bitmap has " + std::to_string(bits) + " bits per pixel");

    std::size_t colours = 0;
    if (bits <= 8) {
        const std::size_t full = std::size_t{1} << bits;
        colours = clrUsed == 0 ? full : clrUsed;
        if (colours > full) return badInput("icon colour table is larger than its depth allows");
    }
    const std::size_t tableAt = headerSize;
    const std::size_t xorAt = tableAt + colours * 4;
    const std::size_t xorStride = rowBytes(w, bits), andStride = rowBytes(w, 1);
    const std::size_t andAt = xorAt + xorStride * static_cast<std::size_t>(h);
    const std::size_t end = andAt + andStride * static_cast<std::size_t>(h);
    if (end > d.size()) return badInput("icon bitmap data is cut short");

    DecodedPicture pic;
    pic.width = w;
    pic.height = h;
    pic.bitsPerPixel = bits;
    pic.rgba.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0);
    bool anyAlpha = false;
    for (int y = 0; y < h; ++y) {
        const std::size_t row = xorAt + static_cast<std::size_t>(y) * xorStride; // y counts from the bottom
        const std::size_t top = static_cast<std::size_t>(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            std::uint8_t r = 0, g = 0, b = 0, a = 255;
            if (bits <= 8) {
                const std::size_t bitPos = static_cast<std::size_t>(x) * static_cast<std::size_t>(bits);
                const unsigned byte = d[row + bitPos / 8];
                const unsigned index = (byte >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
                if (index >= colours) return badInput("icon pixel names a colour beyond its table");
                const std::size_t c = tableAt + index * 4;
                b = d[c], g = d[c + 1], r = d[c + 2];
            } else {
                const std::size_t p = row + static_cast<std::size_t>(x) * static_cast<std::size_t>(bits / 8);
                b = d[p], g = d[p + 1], r = d[p + 2];
                if (bits == 32) {
                    a = d[p + 3];
                    anyAlpha = anyAlpha || a != 0;
                }
            }
            std::uint8_t* out = &pic.rgba[(top * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4];
            out[0] = r, out[1] = g, out[2] = b, out[3] = a;
        }
    }
    // The mask decides transparency unless the entry has a real alpha channel (a 32-bit entry whose alpha is
    // all zero is an old-style icon and relies on its mask too).
    const bool useMask = bits != 32 || !anyAlpha;
    for (int y = 0; y < h && useMask; ++y) {
        const std::size_t row = andAt + static_cast<std::size_t>(y) * andStride;
        const std::size_t top = static_cast<std::size_t>(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const bool transparent = (d[row + static_cast<std::size_t>(x) / 8] >> (7 - x % 8)) & 1;
            pic.rgba[(top * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4 + 3] = transparent ? 0 : 255;
        }
    }
    return pic;
}

} // namespace

std::size_t chooseIcoEntry(std::span<const IcoEntryInfo> entries) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const IcoEntryInfo& e = entries[i];
        const IcoEntryInfo& b = entries[best];
        const int de = std::abs(e.width - 32) + std::abs(e.height - 32);
        const int db = std::abs(b.width - 32) + std::abs(b.height - 32);
        if (de < db || (de == db && e.bitCount > b.bitCount)) best = i;
    }
    return best;
}

Result<DecodedPicture> decodeIco(std::span<const std::uint8_t> file, const PictureLimits& limits) {
    if (file.size() < kDirHeader) return badInput("icon directory is cut short");
    if (le16(file, 0) != 0 || le16(file, 2) != 1) return badInput("not an icon file");
    const std::size_t count = le16(file, 4);
    if (count == 0) return badInput("icon file holds no image");
    if (kDirHeader + count * kDirEntry > file.size()) return badInput("icon directory is cut short");

    std::vector<IcoEntryInfo> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kDirHeader + i * kDirEntry;
        IcoEntryInfo& e = entries[i];
        e.width = file[at] == 0 ? 256 : file[at];
        e.height = file[at + 1] == 0 ? 256 : file[at + 1];
        e.bitCount = static_cast<int>(le16(file, at + 6));
        e.size = le32(file, at + 8);
        e.offset = le32(file, at + 12);
    }
    const IcoEntryInfo& chosen = entries[chooseIcoEntry(entries)];
    if (chosen.offset > file.size() || chosen.size > file.size() - chosen.offset)
        return badInput("icon image lies outside the file");
    const std::span<const std::uint8_t> data = file.subspan(chosen.offset, chosen.size);

    Result<DecodedPicture> pic = sniffPictureFormat(data) == PictureFormat::Png ? decodeStbPicture(data, limits)
                                                                                : decodeBitmapEntry(data, limits);
    if (!pic) return withContext("icon image", pic.error());
    pic->himetricWidth = himetricOfPixels(pic->width);
    pic->himetricHeight = himetricOfPixels(pic->height);
    return pic;
}

} // namespace tessera
