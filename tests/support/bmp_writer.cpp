#include "support/bmp_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <filesystem>
#include <fstream>
#include <random>

namespace tessera::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Masks = std::array<std::uint32_t, 4>;

void put(Bytes& b, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void patch32(Bytes& b, std::size_t at, std::size_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The nearest value a field of this mask can hold, shifted into place.
std::uint32_t encodeChannel(std::uint8_t c, std::uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    return static_cast<std::uint32_t>((c * std::uint64_t{mask >> shift} + 127) / 255 << shift);
}

// The fields of a pixel: the layout's masks, else 5-6-5 for 16-bit bit fields and 5-5-5 without, and 8-8-8
// for deeper pixels, with an alpha byte where a 32-bit pixel has room or bit fields are to carry it.
Masks masksFor(const BmpLayout& l) {
    if (const Masks given = {l.masks[0], l.masks[1], l.masks[2], l.masks[3]}; given != Masks{}) return given;
    if (l.bitCount == 16)
        return l.compression == 3 ? Masks{0xF800, 0x07E0, 0x001F, 0} : Masks{0x7C00, 0x03E0, 0x001F, 0};
    return {0x00FF0000, 0x0000FF00, 0x000000FF,
            l.bitCount == 32 && (l.compression != 3 || l.withAlpha) ? 0xFF000000u : 0};
}

// The colour table (the layout's, else the picture's colours in order of first appearance, padded with black)
// and each pixel's index into it, top row first.
std::vector<BmpColor> paletteFor(const Picture& p, const BmpLayout& l, Bytes& indices) {
    // The core header cannot say how many entries it has, so it always gets the full table.
    const std::size_t size = l.headerSize == 12 || l.paletteSize == 0 ? std::size_t{1} << l.bitCount
                                                                      : static_cast<std::size_t>(l.paletteSize);
    std::vector<BmpColor> pal = l.palette;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            auto it = std::find(pal.begin(), pal.end(), p.at(x, y));
            if (it == pal.end()) it = pal.insert(pal.end(), p.at(x, y));
            indices.push_back(static_cast<std::uint8_t>(it - pal.begin()));
        }
    if (pal.size() > size) ADD_FAILURE() << "the picture needs " << pal.size() << " colours, the table has " << size;
    pal.resize(size, BmpColor{0, 0, 0});
    return pal;
}

// One stored row, padded to 4 bytes: colour-table indices packed from the high bits, or masked fields.
void writeRow(Bytes& b, const Picture& p, int bitCount, const Masks& masks, const std::uint8_t* indices, int y) {
    const std::size_t start = b.size();
    unsigned acc = 0;
    for (int x = 0, bits = 0; x < p.width; ++x) {
        if (bitCount > 8) {
            const BmpColor c = p.at(x, y);
            put(b,
                encodeChannel(c.r, masks[0]) | encodeChannel(c.g, masks[1]) | encodeChannel(c.b, masks[2]) |
                    encodeChannel(p.alphaAt(x, y), masks[3]),
                bitCount / 8);
        } else {
            acc = acc << bitCount | indices[x];
            if ((bits += bitCount) == 8 || x == p.width - 1) {
                b.push_back(static_cast<std::uint8_t>(acc << (8 - bits)));
                acc = bits = 0;
            }
        }
    }
    b.resize(start + (b.size() - start + 3) / 4 * 4);
}

// One row as encoded runs (of equal indices for RLE8, of a repeating pair for RLE4) and an end of line.
// Absolute runs and deltas are left to files written out byte by byte.
void writeRleRow(Bytes& b, const std::uint8_t* row, int width, bool rle4) {
    for (int x = 0, n = 1; x < width; x += n) {
        for (n = 1; x + n < width && n < 255 && row[x + n] == row[x + (rle4 ? n % 2 : 0)];)
            ++n;
        put(b, static_cast<std::uint32_t>(n), 1);
        put(b, rle4 ? row[x] << 4 | (n > 1 ? row[x + 1] : 0) : row[x], 1);
    }
    b.insert(b.end(), {0, 0});
}

} // namespace

Picture::Picture(int w, int h, BmpColor fill, std::uint8_t alpha)
    : width(w), height(h), bgra(static_cast<std::size_t>(w) * h * 4) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            set(x, y, fill, alpha);
}

std::vector<std::uint8_t> writeBmp(const Picture& p, const BmpLayout& l) {
    const bool paletted = l.bitCount <= 8;
    const Masks masks = masksFor(l);
    Bytes indices;
    const std::vector<BmpColor> pal = paletted ? paletteFor(p, l, indices) : std::vector<BmpColor>{};

    Bytes b = {'B', 'M'};
    b.resize(14); // file size and pixel data offset patched below
    put(b, l.headerSize, 4);
    if (l.headerSize == 12) {
        for (int v : {p.width, p.height, 1, l.bitCount})
            put(b, static_cast<std::uint32_t>(v), 2);
    } else {
        // Width, height, planes and depth (16 bits each), compression, image size (patched below), 72 dpi twice,
        // table entries (when fewer than the depth allows), important colours.
        const std::int64_t entries = paletted && pal.size() < (std::size_t{1} << l.bitCount) ? pal.size() : 0;
        const std::int64_t fields[] = {
            p.width, l.topDown ? -p.height : p.height, 1, l.bitCount, l.compression, 0, 2835, 2835, entries, 0};
        for (int i = 0; i < 10; ++i)
            put(b, static_cast<std::uint32_t>(fields[i]), i == 2 || i == 3 ? 2 : 4);
        if (l.headerSize >= 108) {
            for (std::uint32_t m : masks)
                put(b, m, 4);
            put(b, 0x73524742, 4); // 'sRGB': the endpoints and gammas that follow are unused
            b.resize(b.size() + 48);
        }
        if (l.headerSize >= 124) put(b, 4, 4); // rendering intent: pictures; no profile
        // Other sizes get zeros, so that tests can build headers the decoder must refuse.
        b.resize(std::max<std::size_t>(b.size(), 14 + l.headerSize));
        if (l.headerSize == 40 && l.compression == 3)
            for (int i = 0; i < 3; ++i)
                put(b, masks[i], 4);
    }
    for (const BmpColor& c : pal) {
        b.insert(b.end(), {c.b, c.g, c.r});
        if (l.headerSize != 12) b.push_back(0);
    }

    const std::size_t offset = b.size();
    const bool rle = l.compression == 1 || l.compression == 2;
    for (int fileRow = 0; fileRow < p.height; ++fileRow) {
        const int y = l.topDown ? fileRow : p.height - 1 - fileRow;
        const std::uint8_t* row = paletted ? indices.data() + static_cast<std::size_t>(y) * p.width : nullptr;
        rle ? writeRleRow(b, row, p.width, l.compression == 2) : writeRow(b, p, l.bitCount, masks, row, y);
    }
    if (rle) b.back() = 1; // the last end of line ends the bitmap
    patch32(b, 2, b.size());
    patch32(b, 10, offset);
    if (l.headerSize != 12) patch32(b, 34, b.size() - offset);
    return b;
}

std::vector<std::uint8_t> writeBmp1(const Picture& p, BmpColor entry0, BmpColor entry1) {
    return writeBmp(p, BmpLayout{.bitCount = 1, .palette = {entry0, entry1}});
}

std::string tempDir() {
    // One directory per test process, removed when the process ends so that test runs leave nothing behind.
    static const struct Dir {
        std::filesystem::path path = [] {
            const auto dir =
                std::filesystem::temp_directory_path() /
                ("tessera-tests-" + std::to_string(std::random_device{}()) + std::to_string(std::random_device{}()));
            std::filesystem::create_directories(dir);
            return dir;
        }();
        ~Dir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } dir;
    return dir.path.string();
}

std::string writeTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = (std::filesystem::path(tempDir()) / name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
    return path;
}

} // namespace tessera::test
