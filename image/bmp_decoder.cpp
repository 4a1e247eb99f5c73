#include "image/bmp_decoder.h"

#include "base/byte_reader.h"
#include "base/file_io.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

namespace tessera {
namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

std::string num(std::uint64_t v) {
    return std::to_string(v);
}
std::string num(std::int64_t v) {
    return std::to_string(v);
}
std::string num(int v) {
    return std::to_string(v);
}
std::string num(std::uint32_t v) {
    return std::to_string(v);
}

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
    return buf;
}

// One colour channel of a 16- or 32-bit pixel, as a mask. Fields no wider than 16 bits go through a table,
// because a division per channel per pixel dominates decoding a large 32-bit file.
class Channel {
  public:
    Channel() = default;
    explicit Channel(std::uint32_t mask) {
        if (mask == 0) return;
        shift_ = std::countr_zero(mask);
        max_ = mask >> shift_;
        if (max_ <= 0xFFFF) {
            table_.resize(max_ + 1);
            for (std::uint32_t v = 0; v <= max_; ++v)
                table_[v] = scale(v);
        }
    }

    bool present() const { return max_ != 0; }

    std::uint8_t operator()(std::uint32_t pixel) const {
        if (max_ == 0) return 0;
        std::uint32_t v = (pixel >> shift_) & max_;
        return table_.empty() ? scale(v) : table_[v];
    }

  private:
    // 64-bit because a 32-bit-wide field times 255 does not fit in 32 bits.
    std::uint8_t scale(std::uint32_t v) const {
        return static_cast<std::uint8_t>((std::uint64_t{v} * 255 + max_ / 2) / max_);
    }

    int shift_ = 0;
    std::uint32_t max_ = 0;
    std::vector<std::uint8_t> table_;
};

std::uint8_t overWhite(std::uint8_t c, std::uint8_t a) {
    return static_cast<std::uint8_t>((unsigned{c} * a + 255u * (255u - a) + 127u) / 255u);
}

bool contiguous(std::uint32_t mask) {
    if (mask == 0) return true;
    std::uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0; // wraps to 0 for a full 32-bit mask, which is contiguous
}

struct Headers {
    BmpInfo info;
    std::uint32_t pixelOffset = 0;
    std::uint32_t colorsUsed = 0;         // 0 for the core header, which has no such field
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha: 16 and 32 bits per pixel only
    std::size_t headersEnd = 0;           // where the colour table would start
};

Status checkMasks(const std::array<std::uint32_t, 4>& masks, int bitCount) {
    static constexpr const char* kNames[4] = {"red", "green", "blue", "alpha"};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!contiguous(masks[i]))
            return badInput(std::string(kNames[i]) + " mask " + hex(masks[i]) + " is not one run of bits");
        if (bitCount == 16 && (masks[i] >> 16) != 0)
            return badInput(std::string(kNames[i]) + " mask " + hex(masks[i]) + " has bits beyond a 16-bit pixel");
        for (std::size_t j = 0; j < i; ++j) {
            if ((masks[i] & masks[j]) != 0)
                return badInput(std::string(kNames[j]) + " mask " + hex(masks[j]) + " and " + kNames[i] + " mask " +
                                hex(masks[i]) + " overlap");
        }
    }
    return {};
}

std::string truncatedHeader(const char* what, std::size_t need, std::size_t have) {
    return "truncated: the file has " + num(std::uint64_t{have}) + " bytes, too few for " + what + " (" +
           num(std::uint64_t{need}) + ")";
}

// The file header: the signature, the pixel offset and the size of the info header, which must be one of the
// four known sizes and lie inside the file. Leaves `r` at the info header's first field.
Result<std::uint32_t> readFileHeader(std::span<const std::uint8_t> file, ByteReader& r, Headers& h) {
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M')
        return badInput("not a BMP file: it does not start with \"BM\"");
    if (file.size() < kFileHeaderSize + 4)
        return badInput(truncatedHeader("the file header", kFileHeaderSize + 4, file.size()));
    r.skip(2);
    r.u32(); // bfSize: writers disagree about it, and the buffer's size is what bounds every read
    r.u32(); // reserved
    h.pixelOffset = r.u32();
    const std::uint32_t headerSize = r.u32();
    if (headerSize != 12 && headerSize != 40 && headerSize != 108 && headerSize != 124)
        return badInput("info header size " + num(headerSize) + " is not supported (12, 40, 108 and 124 bytes are)");
    if (file.size() < kFileHeaderSize + headerSize)
        return badInput(truncatedHeader("the info header", kFileHeaderSize + headerSize, file.size()));
    return headerSize;
}

// The info header's fields as stored, before they are checked.
struct InfoFields {
    std::int64_t width = 0, height = 0;
    std::uint16_t planes = 0, bitCount = 0;
    std::uint32_t compression = kBiRgb;
};

Result<InfoFields> readInfoFields(ByteReader& r, std::uint32_t headerSize, Headers& h) {
    InfoFields f;
    if (headerSize == 12) {
        f.width = r.u16();
        f.height = r.u16();
        f.planes = r.u16();
        f.bitCount = r.u16();
    } else {
        f.width = r.i32();
        f.height = r.i32();
        f.planes = r.u16();
        f.bitCount = r.u16();
        f.compression = r.u32();
        r.u32(); // biSizeImage: often 0 for BI_RGB, and the data's real extent is checked instead
        r.u32(); // pixels per metre, x
        r.u32(); // and y
        h.colorsUsed = r.u32();
        r.u32(); // biClrImportant
        if (headerSize >= 108)
            for (std::uint32_t& m : h.masks)
                m = r.u32();
    }
    if (r.failed()) return badInput("truncated: the info header is cut off");
    return f;
}

// Width, height (whose sign gives the row order) and planes; sets the row order in `info`.
Status checkGeometry(InfoFields& f, BmpInfo& info) {
    info.topDown = f.height < 0;
    if (info.topDown) f.height = -f.height; // 64-bit, so INT32_MIN negates safely
    if (f.width < 1 || f.width > kBmpMaxDimension)
        return badInput("width " + num(f.width) + " is outside 1.." + num(kBmpMaxDimension));
    if (f.height < 1 || f.height > kBmpMaxDimension)
        return badInput("height " + num(info.topDown ? -f.height : f.height) + " is outside 1.." +
                        num(kBmpMaxDimension) + " (either sign)");
    if (f.planes != 1) return badInput("plane count " + num(int{f.planes}) + " is not 1");
    return {};
}

// The depth the header size allows, and a compression that fits the depth and the row order.
Status checkEncoding(const InfoFields& f, std::uint32_t headerSize, bool topDown) {
    const int bitCount = f.bitCount;
    const bool depthOk = headerSize == 12 ? (bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 24)
                                          : (bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 ||
                                             bitCount == 24 || bitCount == 32);
    if (!depthOk)
        return badInput(num(bitCount) + " bits per pixel is not supported with a " + num(headerSize) +
                        "-byte info header");

    switch (f.compression) {
    case kBiRgb:
        break;
    case kBiRle8:
        if (bitCount != 8) return badInput("BI_RLE8 needs 8 bits per pixel, the file has " + num(bitCount));
        break;
    case kBiRle4:
        if (bitCount != 4) return badInput("BI_RLE4 needs 4 bits per pixel, the file has " + num(bitCount));
        break;
    case kBiBitfields:
        if (bitCount != 16 && bitCount != 32)
            return badInput("BI_BITFIELDS needs 16 or 32 bits per pixel, the file has " + num(bitCount));
        break;
    default:
        return badInput("compression " + num(f.compression) +
                        " is not supported (BI_RGB, BI_RLE8, BI_RLE4 and BI_BITFIELDS are)");
    }
    if (topDown && (f.compression == kBiRle8 || f.compression == kBiRle4))
        return badInput("an RLE-compressed bitmap must be stored bottom-up, but its height is negative");
    return {};
}

// The channel masks of 16- and 32-bit pixels: the file's own with BI_BITFIELDS (after a 40-byte header
// they follow it, and there is no alpha mask), else the fixed layouts. Sets where the headers end.
Status readMasks(std::span<const std::uint8_t> file, const InfoFields& f, std::uint32_t headerSize, Headers& h) {
    h.headersEnd = kFileHeaderSize + headerSize;
    if (f.compression == kBiBitfields) {
        if (headerSize == 40) {
            h.headersEnd += 12;
            if (file.size() < h.headersEnd)
                return badInput(truncatedHeader("the bit-field masks", h.headersEnd, file.size()));
            ByteReader m(file, kFileHeaderSize + headerSize);
            h.masks = {m.u32(), m.u32(), m.u32(), 0};
        }
        return checkMasks(h.masks, f.bitCount);
    }
    if (f.bitCount == 16)
        h.masks = {0x7C00, 0x03E0, 0x001F, 0};
    else if (f.bitCount == 32)
        h.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0}; // the fourth byte means nothing without BI_BITFIELDS
    else
        h.masks = {};
    return {};
}

Result<Headers> readHeaders(std::span<const std::uint8_t> file) {
    Headers h;
    ByteReader r(file);
    const Result<std::uint32_t> headerSize = readFileHeader(file, r, h);
    if (!headerSize) return headerSize.error();
    Result<InfoFields> fields = readInfoFields(r, *headerSize, h);
    if (!fields) return fields.error();
    if (Status s = checkGeometry(*fields, h.info); !s) return s.error();
    if (Status s = checkEncoding(*fields, *headerSize, h.info.topDown); !s) return s.error();
    if (Status s = readMasks(file, *fields, *headerSize, h); !s) return s.error();

    h.info.width = static_cast<int>(fields->width);
    h.info.height = static_cast<int>(fields->height);
    h.info.bitCount = fields->bitCount;
    h.info.compression = fields->compression;
    h.info.headerSize = *headerSize;
    return h;
}

std::string indexPastTable(unsigned index, std::size_t entries, std::int64_t x, std::int64_t y) {
    return "pixel index " + num(int(index)) + " is past the " + num(std::uint64_t{entries}) +
           "-entry colour table (column " + num(x) + " of row " + num(y) + " from the bottom)";
}

Status decodeRle(std::span<const std::uint8_t> file, const Headers& h, std::size_t entries, BmpImage& img) {
    const std::int64_t width = h.info.width, height = h.info.height;
    const bool rle4 = h.info.compression == kBiRle4;
    ByteReader r(file, h.pixelOffset);
    std::int64_t x = 0, y = 0;

    auto put = [&](unsigned index) -> Status {
        if (index >= entries) return badInput(indexPastTable(index, entries, x, y));
        img.indices[static_cast<std::size_t>(y * width + x)] = static_cast<std::uint8_t>(index);
        ++x;
        return {};
    };
    auto room = [&](unsigned count) -> Status {
        if (y >= height) return badInput("RLE data runs past the top of the image");
        if (x + count > width) return badInput("RLE data runs past the end of row " + num(y));
        return {};
    };

    for (;;) {
        // Many writers stop without an end-of-bitmap code; running out at a code boundary is the same thing.
        if (r.remaining() == 0) return {};
        if (r.remaining() == 1) return badInput("RLE data is cut off at the end of the file, inside a code");
        const std::uint8_t count = r.u8();
        const std::uint8_t value = r.u8();
        if (count != 0) {
            if (Status s = room(count); !s) return s;
            for (unsigned i = 0; i < count; ++i) {
                unsigned index = rle4 ? ((i & 1) ? value & 0x0Fu : unsigned{value} >> 4) : value;
                if (Status s = put(index); !s) return s;
            }
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            if (y < height) ++y;
            break;
        case 1: // end of bitmap
            return {};
        case 2: { // delta
            if (r.remaining() < 2) return badInput("RLE data is cut off at the end of the file, inside a delta");
            const std::uint8_t dx = r.u8();
            const std::uint8_t dy = r.u8();
            if (x + dx > width || y + dy > height)
                return badInput("RLE delta (" + num(int{dx}) + ", " + num(int{dy}) + ") from column " + num(x) +
                                " of row " + num(y) + " moves past the image");
            x += dx;
            y += dy;
            break;
        }
        default: { // absolute run of `value` pixels, padded to a 16-bit boundary
            if (Status s = room(value); !s) return s;
            const std::size_t size = rle4 ? (value + 1u) / 2 : value;
            std::span<const std::uint8_t> data = r.bytes(size);
            if (data.empty()) return badInput("RLE data runs past the end of the file in row " + num(y));
            for (unsigned i = 0; i < value; ++i) {
                unsigned index = rle4 ? ((i & 1) ? data[i / 2] & 0x0Fu : unsigned{data[i / 2]} >> 4) : data[i];
                if (Status s = put(index); !s) return s;
            }
            // A missing pad byte at the very end only loses the end-of-bitmap code, which is optional.
            if ((size & 1) != 0 && r.remaining() > 0) r.u8();
            break;
        }
        }
    }
}

// Sizes in 64 bits: a 30000-pixel row of 32 bits times 30000 rows is past 32 bits.
struct RowLayout {
    std::uint64_t rowBytes = 0; // pixels of one row
    std::uint64_t stride = 0;   // with the padding to 4 bytes
    std::uint64_t need = 0;     // every row, without the last row's padding, which is often left off
};

RowLayout rowLayout(const BmpInfo& info) {
    const std::uint64_t bits = static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.bitCount);
    RowLayout l;
    l.rowBytes = (bits + 7) / 8;
    l.stride = (bits + 31) / 32 * 4;
    l.need = (static_cast<std::uint64_t>(info.height) - 1) * l.stride + l.rowBytes;
    return l;
}

Status decodeRows(std::span<const std::uint8_t> file, const Headers& h, std::size_t entries, BmpImage& img) {
    const std::uint64_t width = static_cast<std::uint64_t>(h.info.width);
    const std::uint64_t height = static_cast<std::uint64_t>(h.info.height);
    const int bitCount = h.info.bitCount;
    const RowLayout rows = rowLayout(h.info);

    const std::size_t w = static_cast<std::size_t>(width);
    const bool alpha = h.info.compression == kBiBitfields && h.masks[3] != 0;
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alphaChannel(h.masks[3]);
    img.hasAlpha = alpha;

    for (std::uint64_t fileRow = 0; fileRow < height; ++fileRow) {
        ByteReader r(file, static_cast<std::size_t>(h.pixelOffset + fileRow * rows.stride));
        std::span<const std::uint8_t> row = r.bytes(static_cast<std::size_t>(rows.rowBytes));
        // decodeBmp has checked the size; this keeps a later change to that check from reading past the buffer.
        if (row.empty()) return badInput("truncated: pixel row " + num(fileRow) + " is cut off");
        const std::size_t y = static_cast<std::size_t>(h.info.topDown ? height - 1 - fileRow : fileRow);

        if (bitCount <= 8) {
            std::uint8_t* out = img.indices.data() + y * w;
            for (std::size_t x = 0; x < w; ++x) {
                unsigned index = 0;
                if (bitCount == 1)
                    index = (row[x / 8] >> (7 - x % 8)) & 1u;
                else if (bitCount == 4)
                    index = (x % 2 == 0) ? unsigned{row[x / 2]} >> 4 : row[x / 2] & 0x0Fu;
                else
                    index = row[x];
                if (index >= entries)
                    return badInput(
                        indexPastTable(index, entries, static_cast<std::int64_t>(x), static_cast<std::int64_t>(y)));
                out[x] = static_cast<std::uint8_t>(index);
            }
            continue;
        }

        std::uint8_t* out = img.bgr.data() + y * w * 3;
        if (bitCount == 24) { // blue, green, red as stored
            std::memcpy(out, row.data(), w * 3);
            continue;
        }
        for (std::size_t x = 0; x < w; ++x, out += 3) {
            std::uint32_t v = 0;
            if (bitCount == 16)
                v = std::uint32_t{row[x * 2]} | std::uint32_t{row[x * 2 + 1]} << 8;
            else
                v = std::uint32_t{row[x * 4]} | std::uint32_t{row[x * 4 + 1]} << 8 |
                    std::uint32_t{row[x * 4 + 2]} << 16 | std::uint32_t{row[x * 4 + 3]} << 24;
            out[0] = blue(v);
            out[1] = green(v);
            out[2] = red(v);
            if (alpha) {
                const std::uint8_t a = alphaChannel(v);
                for (int c = 0; c < 3; ++c)
                    out[c] = overWhite(out[c], a);
            }
        }
    }
    return {};
}

} // namespace

Result<BmpInfo> probeBmp(std::span<const std::uint8_t> file) {
    Result<Headers> h = readHeaders(file);
    if (!h) return h.error();
    return h->info;
}

namespace {

// The checks on where the pixels lie, before anything of their size is allocated.
Status checkPixelData(std::span<const std::uint8_t> file, const Headers& h, const BmpLimits& limits) {
    const BmpInfo& info = h.info;
    const std::int64_t pixels = std::int64_t{info.width} * info.height;
    if (pixels > limits.maxPixels)
        return badInput(num(info.width) + "x" + num(info.height) + " is " + num(pixels) +
                        " pixels, more than the limit of " + num(limits.maxPixels));
    if (h.pixelOffset >= file.size())
        return badInput("pixel data offset " + num(h.pixelOffset) + " is past the end of the file (" +
                        num(std::uint64_t{file.size()}) + " bytes)");
    if (h.pixelOffset < h.headersEnd)
        return badInput("pixel data offset " + num(h.pixelOffset) + " lies inside the headers, which end at " +
                        num(std::uint64_t{h.headersEnd}));

    const bool rle = info.compression == kBiRle8 || info.compression == kBiRle4;
    if (!rle) {
        // Before allocating, so that a short file cannot claim a huge image.
        const std::uint64_t need = rowLayout(info).need;
        const std::uint64_t have = file.size() - h.pixelOffset;
        if (need > have)
            return badInput("truncated: pixel data needs " + num(need) + " bytes, file has " + num(have) +
                            " after offset " + num(h.pixelOffset));
    }
    return {};
}

} // namespace

Result<BmpImage> decodeBmp(std::span<const std::uint8_t> file, const BmpLimits& limits) {
    Result<Headers> parsed = readHeaders(file);
    if (!parsed) return parsed.error();
    const Headers& h = *parsed;
    const BmpInfo& info = h.info;
    if (Status s = checkPixelData(file, h, limits); !s) return s.error();
    const bool rle = info.compression == kBiRle8 || info.compression == kBiRle4;
    const std::int64_t pixels = std::int64_t{info.width} * info.height;

    BmpImage img;
    img.info = info;
    std::size_t entries = 0;
    if (info.bitCount <= 8) {
        const std::uint32_t maxEntries = 1u << info.bitCount;
        entries = (h.colorsUsed == 0 || h.colorsUsed > maxEntries) ? maxEntries : h.colorsUsed;
        const std::size_t entrySize = info.headerSize == 12 ? 3 : 4;
        const std::uint64_t end = h.headersEnd + std::uint64_t{entries} * entrySize;
        if (end > file.size())
            return badInput("the " + num(std::uint64_t{entries}) + "-entry colour table needs " + num(end) +
                            " bytes, file has " + num(std::uint64_t{file.size()}));
        ByteReader r(file, h.headersEnd);
        img.palette.resize(entries);
        for (BmpColor& c : img.palette) {
            c.b = r.u8();
            c.g = r.u8();
            c.r = r.u8();
            if (entrySize == 4) r.u8();
        }
    }

    const std::size_t count = static_cast<std::size_t>(pixels);
    if (info.bitCount <= 8) img.indices.assign(count, 0);
    img.bgr.assign(count * 3, 0);

    if (Status s = rle ? decodeRle(file, h, entries, img) : decodeRows(file, h, entries, img); !s) return s.error();

    if (info.bitCount <= 8) {
        for (std::size_t i = 0; i < count; ++i) {
            const BmpColor& c = img.palette[img.indices[i]];
            img.bgr[i * 3] = c.b;
            img.bgr[i * 3 + 1] = c.g;
            img.bgr[i * 3 + 2] = c.r;
        }
    }
    return img;
}

Result<BmpImage> decodeBmp(std::vector<std::uint8_t>&& file, const BmpLimits& limits) {
    Result<Headers> parsed = readHeaders(file);
    if (!parsed || parsed->info.bitCount != 24 || parsed->info.compression != kBiRgb || parsed->info.topDown)
        return decodeBmp(std::span<const std::uint8_t>(file), limits);
    const Headers& h = *parsed;
    if (Status s = checkPixelData(file, h, limits); !s) return s.error();
    // A plain bottom-up 24-bit file holds the pixels already in their order; its rows only lose the
    // headers before them and their padding, so they move down inside the file's own buffer, which then
    // becomes the picture. Each row moves to a place no later than its own, so no row is overwritten before
    // it has moved.
    const std::size_t rowBytes = static_cast<std::size_t>(h.info.width) * 3;
    const std::size_t stride = static_cast<std::size_t>(rowLayout(h.info).stride);
    const std::size_t rows = static_cast<std::size_t>(h.info.height);
    std::uint8_t* data = file.data();
    for (std::size_t y = 0; y < rows; ++y)
        std::memmove(data + y * rowBytes, data + h.pixelOffset + y * stride, rowBytes);
    file.resize(rows * rowBytes);
    BmpImage img;
    img.info = h.info;
    img.bgr = std::move(file);
    return img;
}

Result<BmpImage> decodeBmpFile(const std::string& path, const BmpLimits& limits) {
    Result<std::vector<std::uint8_t>> bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes) return bytes.error(); // file_io's messages already name the path
    Result<BmpImage> img = decodeBmp(*bytes, limits);
    if (!img) return withContext(path, img.error());
    return img;
}

} // namespace tessera
