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

constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;

class Bytes {
  public:
    void u8(unsigned v) { out.push_back(static_cast<std::uint8_t>(v & 0xFF)); }
    void u16(unsigned v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void patch32(std::size_t pos, std::size_t v) {
        for (int i = 0; i < 4; ++i)
            out[pos + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void padTo(std::size_t start, std::size_t multiple) {
        while ((out.size() - start) % multiple != 0)
            u8(0);
    }
    std::size_t size() const { return out.size(); }

    std::vector<std::uint8_t> out;
};

// The nearest value a field of this mask can hold, shifted into place.
std::uint32_t encodeChannel(std::uint8_t c, std::uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const std::uint64_t max = mask >> shift;
    return static_cast<std::uint32_t>((c * max + 127) / 255 << shift);
}

std::array<std::uint32_t, 4> masksFor(const BmpLayout& layout) {
    std::array<std::uint32_t, 4> m = {layout.masks[0], layout.masks[1], layout.masks[2], layout.masks[3]};
    if (layout.compression != kBiBitfields) {
        if (layout.bitCount == 16) return {0x7C00, 0x03E0, 0x001F, 0};
        return m;
    }
    if (m == std::array<std::uint32_t, 4>{}) {
        if (layout.bitCount == 16) return {0xF800, 0x07E0, 0x001F, 0};
        return {0x00FF0000, 0x0000FF00, 0x000000FF, layout.withAlpha ? 0xFF000000u : 0u};
    }
    return m;
}

std::vector<BmpColor> paletteFor(const Picture& p, const BmpLayout& layout) {
    const std::size_t full = std::size_t{1} << layout.bitCount;
    // The core header cannot say how many entries it has, so it always gets the full table.
    const std::size_t size =
        layout.headerSize == 12 || layout.paletteSize == 0 ? full : static_cast<std::size_t>(layout.paletteSize);
    std::vector<BmpColor> pal = layout.palette;
    if (pal.empty()) {
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                if (std::find(pal.begin(), pal.end(), p.at(x, y)) == pal.end()) pal.push_back(p.at(x, y));
    }
    if (pal.size() > size) ADD_FAILURE() << "the picture has " << pal.size() << " colours, the table " << size;
    pal.resize(size, BmpColor{0, 0, 0});
    return pal;
}

// Colour-table indices, top row first.
std::vector<std::uint8_t> indicesFor(const Picture& p, const std::vector<BmpColor>& pal) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(p.width) * p.height, 0);
    bool reported = false;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            auto it = std::find(pal.begin(), pal.end(), p.at(x, y));
            if (it == pal.end()) {
                if (!reported) ADD_FAILURE() << "pixel " << x << "," << y << " has a colour outside the table";
                reported = true;
                continue;
            }
            out[static_cast<std::size_t>(y) * p.width + x] = static_cast<std::uint8_t>(it - pal.begin());
        }
    }
    return out;
}

void writeRow(Bytes& b, const Picture& p, const BmpLayout& layout, const std::array<std::uint32_t, 4>& masks,
              const std::uint8_t* indices, int yTop) {
    const std::size_t start = b.size();
    if (layout.bitCount <= 8) {
        unsigned acc = 0;
        int bits = 0;
        for (int x = 0; x < p.width; ++x) {
            acc = acc << layout.bitCount | indices[x];
            bits += layout.bitCount;
            if (bits == 8) {
                b.u8(acc);
                acc = 0;
                bits = 0;
            }
        }
        if (bits != 0) b.u8(acc << (8 - bits));
    } else {
        for (int x = 0; x < p.width; ++x) {
            const BmpColor c = p.at(x, yTop);
            const std::uint8_t a = p.alphaAt(x, yTop);
            if (layout.bitCount == 24 || (layout.bitCount == 32 && layout.compression != kBiBitfields)) {
                b.u8(c.b);
                b.u8(c.g);
                b.u8(c.r);
                if (layout.bitCount == 32) b.u8(a); // meaningless here, and the decoder must ignore it
                continue;
            }
            std::uint32_t v = encodeChannel(c.r, masks[0]) | encodeChannel(c.g, masks[1]) |
                              encodeChannel(c.b, masks[2]) | encodeChannel(a, masks[3]);
            if (layout.bitCount == 16)
                b.u16(v);
            else
                b.u32(v);
        }
    }
    b.padTo(start, 4);
}

// Length of the run starting at x that one encoded code can hold: equal indices for RLE8, a repeating pair of
// nibbles for RLE4.
int runAt(const std::uint8_t* row, int x, int end, bool rle4) {
    int n = 1;
    while (x + n < end && n < 255 && row[x + n] == row[x + (rle4 ? n % 2 : 0)])
        ++n;
    return n;
}

int zerosAt(const std::uint8_t* row, int x, int end) {
    int n = 0;
    while (x + n < end && row[x + n] == 0)
        ++n;
    return n;
}

// Encodes one row from column 0, using every kind of code: deltas over gaps of index 0 (which the decoder
// leaves as 0), encoded runs, absolute runs, and single-pixel runs where an absolute run would be too short.
// Trailing zeros are left out. Returns the column where the cursor ends.
int encodeRleRow(Bytes& b, const std::uint8_t* row, int width, bool rle4) {
    int end = width;
    while (end > 0 && row[end - 1] == 0)
        --end;
    int x = 0;
    while (x < end) {
        if (int z = zerosAt(row, x, end); z >= 4) {
            b.u8(0);
            b.u8(2);
            b.u8(static_cast<unsigned>(std::min(z, 255)));
            b.u8(0);
            x += std::min(z, 255);
            continue;
        }
        if (int run = runAt(row, x, end, rle4); run >= 3) {
            b.u8(static_cast<unsigned>(run));
            b.u8(rle4 ? unsigned{row[x]} << 4 | row[x + 1] : row[x]);
            x += run;
            continue;
        }
        int n = 0;
        while (x + n < end && n < 255 && runAt(row, x + n, end, rle4) < 3 && zerosAt(row, x + n, end) < 4)
            ++n;
        if (n < 3) {
            for (int i = 0; i < n; ++i) {
                b.u8(1);
                b.u8(rle4 ? unsigned{row[x + i]} << 4 : row[x + i]);
            }
        } else {
            b.u8(0);
            b.u8(static_cast<unsigned>(n));
            const std::size_t start = b.size();
            for (int i = 0; i < n; i += rle4 ? 2 : 1)
                b.u8(rle4 ? unsigned{row[x + i]} << 4 | (i + 1 < n ? row[x + i + 1] : 0) : row[x + i]);
            b.padTo(start, 2);
        }
        x += n;
    }
    return end;
}

void writeRle(Bytes& b, const Picture& p, const BmpLayout& layout, const std::vector<std::uint8_t>& indices) {
    const bool rle4 = layout.compression == kBiRle4;
    int cx = 0, cy = 0;
    for (int fileRow = 0; fileRow < p.height; ++fileRow) {
        const int yTop = layout.topDown ? fileRow : p.height - 1 - fileRow;
        const std::uint8_t* row = indices.data() + static_cast<std::size_t>(yTop) * p.width;
        if (std::all_of(row, row + p.width, [](std::uint8_t i) { return i == 0; })) continue;
        if (cy < fileRow && cx != 0) {
            b.u8(0);
            b.u8(0);
            ++cy;
            cx = 0;
        }
        while (cy < fileRow) { // whole rows of index 0 skipped in one move
            const int dy = std::min(fileRow - cy, 255);
            b.u8(0);
            b.u8(2);
            b.u8(0);
            b.u8(static_cast<unsigned>(dy));
            cy += dy;
        }
        cx = encodeRleRow(b, row, p.width, rle4);
    }
    b.u8(0);
    b.u8(1);
}

} // namespace

Picture::Picture(int w, int h, BmpColor fill, std::uint8_t alpha)
    : width(w), height(h), bgra(static_cast<std::size_t>(w) * h * 4) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            set(x, y, fill, alpha);
}

void Picture::set(int x, int yFromTop, BmpColor c, std::uint8_t alpha) {
    std::uint8_t* p = &bgra[(static_cast<std::size_t>(yFromTop) * width + x) * 4];
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
    p[3] = alpha;
}

BmpColor Picture::at(int x, int yFromTop) const {
    const std::uint8_t* p = &bgra[(static_cast<std::size_t>(yFromTop) * width + x) * 4];
    return BmpColor{p[0], p[1], p[2]};
}

std::uint8_t Picture::alphaAt(int x, int yFromTop) const {
    return bgra[(static_cast<std::size_t>(yFromTop) * width + x) * 4 + 3];
}

std::vector<std::uint8_t> writeBmp(const Picture& p, const BmpLayout& layout) {
    const bool paletted = layout.bitCount <= 8;
    const std::array<std::uint32_t, 4> masks = masksFor(layout);
    const std::vector<BmpColor> pal = paletted ? paletteFor(p, layout) : std::vector<BmpColor>{};
    const std::vector<std::uint8_t> indices = paletted ? indicesFor(p, pal) : std::vector<std::uint8_t>{};

    Bytes b;
    b.u8('B');
    b.u8('M');
    b.u32(0); // file size, patched below
    b.u32(0);
    b.u32(0); // pixel data offset, patched below
    b.u32(layout.headerSize);
    std::size_t imageSizeAt = 0;
    if (layout.headerSize == 12) {
        b.u16(static_cast<unsigned>(p.width));
        b.u16(static_cast<unsigned>(p.height));
        b.u16(1);
        b.u16(static_cast<unsigned>(layout.bitCount));
    } else {
        b.u32(static_cast<std::uint32_t>(p.width));
        b.u32(static_cast<std::uint32_t>(layout.topDown ? -p.height : p.height));
        b.u16(1);
        b.u16(static_cast<unsigned>(layout.bitCount));
        b.u32(layout.compression);
        imageSizeAt = b.size();
        b.u32(0);
        b.u32(2835); // 72 dpi
        b.u32(2835);
        const std::size_t full = std::size_t{1} << std::min(layout.bitCount, 24);
        b.u32(paletted && pal.size() < full ? static_cast<std::uint32_t>(pal.size()) : 0);
        b.u32(0);
        if (layout.headerSize >= 108) {
            for (std::uint32_t m : masks)
                b.u32(m);
            b.u32(0x73524742); // 'sRGB'
            for (int i = 0; i < 9 + 3; ++i)
                b.u32(0); // endpoints and gammas, unused with sRGB
        }
        if (layout.headerSize >= 124) {
            b.u32(4); // rendering intent: pictures
            b.u32(0); // no profile
            b.u32(0);
            b.u32(0);
        }
        // Other sizes get zeros, so that tests can build headers the decoder must refuse.
        while (b.size() < 14 + layout.headerSize)
            b.u8(0);
        if (layout.headerSize == 40 && layout.compression == kBiBitfields)
            for (int i = 0; i < 3; ++i)
                b.u32(masks[i]);
    }
    for (const BmpColor& c : pal) {
        b.u8(c.b);
        b.u8(c.g);
        b.u8(c.r);
        if (layout.headerSize != 12) b.u8(0);
    }

    const std::size_t offset = b.size();
    if (layout.compression == kBiRle8 || layout.compression == kBiRle4) {
        writeRle(b, p, layout, indices);
    } else {
        for (int fileRow = 0; fileRow < p.height; ++fileRow) {
            const int yTop = layout.topDown ? fileRow : p.height - 1 - fileRow;
            writeRow(b, p, layout, masks,
                     paletted ? indices.data() + static_cast<std::size_t>(yTop) * p.width : nullptr, yTop);
        }
    }
    b.patch32(2, b.size());
    b.patch32(10, offset);
    if (imageSizeAt != 0) b.patch32(imageSizeAt, b.size() - offset);
    return std::move(b.out);
}

std::vector<std::uint8_t> writeBmp1(const Picture& p, BmpColor entry0, BmpColor entry1) {
    BmpLayout layout;
    layout.bitCount = 1;
    layout.palette = {entry0, entry1};
    return writeBmp(p, layout);
}

Picture pictureOf(const BmpImage& image) {
    Picture p(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            p.set(x, image.height() - 1 - y, image.pixel(x, y));
    return p;
}

namespace {

// One directory per test process, removed when the process ends so that test runs leave nothing behind.
class TempDir {
  public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("tessera-tests-" + std::to_string(rd()) + std::to_string(rd()));
        std::error_code ec;
        std::filesystem::create_directories(path_, ec);
        if (ec) ADD_FAILURE() << "cannot create " << path_.string() << ": " << ec.message();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace

std::string tempDir() {
    static TempDir dir;
    return dir.path().string();
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
