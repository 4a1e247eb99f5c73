#include "image/ico_decoder.h"

#include "base/byte_reader.h"

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

namespace tessera {

namespace {

constexpr std::size_t kDirEntry = 16;
// Bitmap entries are drawn from memory the size of the directory's largest icons; anything bigger in a DIB
// header is a broken or hostile file.
constexpr int kMaxBitmapEntrySide = 1024;

std::size_t rowBytes(std::int64_t width, int bits) { return static_cast<std::size_t>((width * bits + 31) / 32 * 4); }

Result<DecodedPicture> decodeBitmapEntry(std::span<const std::uint8_t> d, const PictureLimits& limits) {
    ByteReader header(d);
    const std::uint32_t headerSize = header.u32();
    const std::int32_t w = header.i32();
    const std::int32_t doubledH = header.i32();
    header.u16(); // planes
    const int bits = header.u16();
    const std::uint32_t compression = header.u32();
    header.skip(12); // image size and resolution
    const std::uint32_t clrUsed = header.u32();
    header.u32(); // important colours
    if (header.failed()) return badInput("icon bitmap header is cut short");
    if (headerSize < 40 || headerSize > d.size()) return badInput("icon bitmap header has a bad size");
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
    ByteReader r(file);
    const std::uint16_t reserved = r.u16();
    const std::uint16_t type = r.u16();
    const std::size_t count = r.u16();
    if (r.failed()) return badInput("icon directory is cut short");
    if (reserved != 0 || type != 1) return badInput("not an icon file");
    if (count == 0) return badInput("icon file holds no image");
    if (r.remaining() < count * kDirEntry) return badInput("icon directory is cut short");

    std::vector<IcoEntryInfo> entries(count);
    for (IcoEntryInfo& e : entries) {
        const std::uint8_t width = r.u8(), height = r.u8();
        e.width = width == 0 ? 256 : width;
        e.height = height == 0 ? 256 : height;
        r.skip(4); // colour count, reserved, planes
        e.bitCount = r.u16();
        e.size = r.u32();
        e.offset = r.u32();
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
