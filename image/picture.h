#pragma once
// Decoded pictures of the kinds that are not bitmaps (icons, JPEG, GIF, PNG), before they are drawn onto a
// background. Every decoder here checks each size against the bytes it has before reading, and refuses
// pictures larger than the limits below, so that a small hostile file cannot make it allocate gigabytes.

#include "base/result.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tessera {

inline constexpr int kPictureMaxDimension = 30000;
inline constexpr std::int64_t kPictureMaxPixels = std::int64_t{1} << 26;

struct PictureLimits {
    std::int64_t maxPixels = kPictureMaxPixels;
};

// Pixels top row first, 4 bytes each: red, green, blue and a straight (not premultiplied) alpha, 0 meaning
// fully transparent. The physical size is in 0.01 mm, as a picture reports it; drawing turns it back into
// pixels at 96 per inch.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    int himetricWidth = 0;
    int himetricHeight = 0;
    int bitsPerPixel = 0; // the file's own colour depth, as far as the format tells it
    std::vector<std::uint8_t> rgba;
};

enum class PictureFormat { Unknown, Bmp, Ico, Jpeg, Gif, Png };

// Recognises a file by its first bytes, whatever its name.
PictureFormat sniffPictureFormat(std::span<const std::uint8_t> bytes);

// Rounds a × b / c to the nearest integer, halves away from zero; −1 when c is 0 or the result does not fit
// an int (the platform's own rule for this computation).
int mulDiv(int a, int b, int c);

// The size in 0.01 mm of a picture of the given pixels at 96 pixels per inch.
int himetricOfPixels(int pixels);

// JPEG, GIF (its first frame) and PNG files; anything else is refused.
Result<DecodedPicture> decodeStbPicture(std::span<const std::uint8_t> bytes, const PictureLimits& limits = {});

} // namespace tessera
