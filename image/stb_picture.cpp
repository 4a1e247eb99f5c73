// The one translation unit that holds the JPEG, GIF and PNG decoder. Its functions are compiled static, so
// that programs which carry their own copy of the same decoder link without clashing symbols.

#include "image/picture.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

#define STBI_NO_STDIO
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_ONLY_PNG
#define STBI_MAX_DIMENSIONS 30000
// stb_image leaves its decoder state as malloc returns it, and a hostile JPEG whose scan names a Huffman
// table it never defined reads that state: the same bytes then decode or fail depending on what the heap
// held before. Zeroed memory makes every outcome the same for the same bytes.
#define STBI_MALLOC(size) std::calloc(1, size)
#define STBI_REALLOC(p, size) std::realloc(p, size)
#define STBI_FREE(p) std::free(p)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

namespace tessera {

namespace {

bool startsWith(std::span<const std::uint8_t> b, std::initializer_list<std::uint8_t> sig) {
    if (b.size() < sig.size()) return false;
    return std::equal(sig.begin(), sig.end(), b.begin());
}

// The colour depth that a PNG header declares: bits per sample times the samples of its colour type.
int pngBitsPerPixel(std::span<const std::uint8_t> b) {
    if (b.size() < 26) return 0;
    const int depth = b[24];
    switch (b[25]) {
    case 0: return depth;     // grey
    case 2: return depth * 3; // RGB
    case 3: return depth;     // palette
    case 4: return depth * 2; // grey and alpha
    case 6: return depth * 4; // RGBA
    default: return 0;
    }
}

int jpegBitsPerPixel(int components) { return components == 1 ? 8 : 24; }

// The decoder writes a Huffman table's code sizes into a fixed array of 257 and trusts the 16 counts of a
// table to add up to at most 256. It reads a table after every FF C4 it takes for a marker, even where the
// counts run past the segment's length; so every FF C4 in the file is read as it would read it, and a file
// with any table too large is refused.
bool jpegHuffmanTablesFit(std::span<const std::uint8_t> b) {
    auto at = [&](std::size_t i) -> long { return i < b.size() ? b[i] : 0; };
    for (std::size_t pos = 0; pos + 1 < b.size(); ++pos) {
        if (b[pos] != 0xFF || b[pos + 1] != 0xC4) continue;
        long left = (at(pos + 2) << 8 | at(pos + 3)) - 2;
        std::size_t cursor = pos + 4;
        while (left > 0 && cursor < b.size()) {
            long n = 0;
            for (std::size_t i = 0; i < 16; ++i) n += at(cursor + 1 + i);
            if (n > 256) return false;
            cursor += 17 + static_cast<std::size_t>(n);
            left -= 17 + n;
        }
    }
    return true;
}

// The decoder grows its buffer for the image data to a chunk's declared length before it finds out whether the
// file holds that much, and copies a first empty IDAT chunk to no buffer at all. So every chunk up to IEND must
// lie inside the file, and the image data must not start with an empty chunk.
bool pngChunksFit(std::span<const std::uint8_t> b) {
    std::size_t pos = 8;
    bool data = false;
    while (pos + 12 <= b.size()) {
        const std::size_t length =
            std::size_t{b[pos]} << 24 | std::size_t{b[pos + 1]} << 16 | std::size_t{b[pos + 2]} << 8 | b[pos + 3];
        if (length > b.size() - pos - 12) return false;
        if (std::memcmp(&b[pos + 4], "IEND", 4) == 0) return true;
        if (std::memcmp(&b[pos + 4], "IDAT", 4) == 0) {
            if (!data && length == 0) return false;
            data = true;
        }
        pos += 12 + length;
    }
    return pos == b.size();
}

} // namespace

PictureFormat sniffPictureFormat(std::span<const std::uint8_t> b) {
    if (startsWith(b, {'B', 'M'})) return PictureFormat::Bmp;
    if (startsWith(b, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return PictureFormat::Png;
    if (startsWith(b, {0xFF, 0xD8, 0xFF})) return PictureFormat::Jpeg;
    if (startsWith(b, {'G', 'I', 'F', '8'})) return PictureFormat::Gif;
    // An icon directory: reserved 0, type 1, at least one entry.
    if (b.size() >= 6 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0 && (b[4] | b[5]) != 0)
        return PictureFormat::Ico;
    return PictureFormat::Unknown;
}

int mulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const long long num = static_cast<long long>(a) * b;
    long long q = num / c, r = num % c;
    // Round half away from zero: compare twice the remainder with the divisor, both as magnitudes.
    if (2 * std::llabs(r) >= std::llabs(static_cast<long long>(c))) q += ((num < 0) != (c < 0)) ? -1 : 1;
    if (q > INT_MAX || q < INT_MIN) return -1;
    return static_cast<int>(q);
}

int himetricOfPixels(int pixels) { return mulDiv(pixels, 2540, 96); }

Result<DecodedPicture> decodeStbPicture(std::span<const std::uint8_t> bytes, const PictureLimits& limits) {
    const PictureFormat format = sniffPictureFormat(bytes);
    if (format != PictureFormat::Jpeg && format != PictureFormat::Gif && format != PictureFormat::Png)
        return badInput("not a JPEG, GIF or PNG file");
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return badInput("the file is too large");
    if (format == PictureFormat::Jpeg && !jpegHuffmanTablesFit(bytes)) return badInput("JPEG Huffman table is too large");
    if (format == PictureFormat::Png && !pngChunksFit(bytes)) return badInput("PNG chunk lies outside the file or is empty");
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int length = static_cast<int>(bytes.size());

    // The header alone first, so that the size is refused before any pixel memory is taken.
    int w = 0, h = 0, comp = 0;
    if (!stbi_info_from_memory(data, length, &w, &h, &comp))
        return badInput(std::string("cannot decode the picture: ") + stbi_failure_reason());
    if (w <= 0 || h <= 0 || w > kPictureMaxDimension || h > kPictureMaxDimension ||
        static_cast<std::int64_t>(w) * h > limits.maxPixels)
        return badInput("picture of " + std::to_string(w) + " x " + std::to_string(h) + " pixels is too large");

    int dw = 0, dh = 0, dcomp = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, length, &dw, &dh, &dcomp, 4);
    if (!pixels) return badInput(std::string("cannot decode the picture: ") + stbi_failure_reason());
    if (dw != w || dh != h) {
        stbi_image_free(pixels);
        return badInput("the picture's size changed while decoding");
    }
    DecodedPicture pic;
    pic.width = w;
    pic.height = h;
    pic.himetricWidth = himetricOfPixels(w);
    pic.himetricHeight = himetricOfPixels(h);
    pic.bitsPerPixel = format == PictureFormat::Png ? pngBitsPerPixel(bytes)
                       : format == PictureFormat::Gif ? 8
                                                      : jpegBitsPerPixel(comp);
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4;
    pic.rgba.assign(pixels, pixels + n);
    stbi_image_free(pixels);
    return pic;
}

} // namespace tessera
