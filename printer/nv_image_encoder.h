#pragma once
// Turns one logo into the data of one NV bit image: the printer's column format (each byte 8 dots of one
// column, bit 7 the top dot; columns left to right, each from the top band down) and its size in units of
// 8 dots.
//
// The encoder has its own grey formula and visits the rows from the bottom of the image upward, the order
// the BMP file stores them, so the printed logo can differ from the preview. Its rules:
//   - 1 bit per pixel: packed as it stands, a dot where the bit is 0, or where it is 1 when colour-table
//     entry 0 is pure white ("white first"). Mode and level do not apply.
//   - deeper files, taken as the 24-bit picture of their decoded colours: when the bottom-left pixel is pure
//     white, a pixel prints where (B + G + R) div 3 < 128, whatever the mode and level; otherwise the grey
//     value with the level's brightness offset is half-toned by the mode.
// A single thread uses an encoder at a time; the result stays valid until the next call on the same object.

#include "base/result.h"
#include "image/bmp_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessera {

enum HalftoneMode : int {
    Threshold = 0,
    ErrorDiffusion = 1,
    IndexedOrder = 2,
};

inline constexpr int kBrightnessLevels = 11; // 0 "Light" .. 10 "Dark", 5 neutral

// The largest image that FS q can carry: x ≤ 1023 columns of 8 dots and y ≤ 288 bands of 8 dots.
inline constexpr int kMaxNvWidthUnits = 1023;
inline constexpr int kMaxNvHeightUnits = 288;

// The largest logo that NV graphics (GS ( L / GS 8 L) can carry, in dots.
inline constexpr int kMaxGraphicsWidth = 8192;
inline constexpr int kMaxGraphicsHeight = 2304;

// The command family a logo is encoded for. The dots are the same; only the size limits differ.
enum class LogoFamily { BitImage, Graphics };

// Grey offset of a brightness level 0..10: +75 .. −50 (15 per step below 5, 10 per step above).
int brightnessOffset(int level);

// The 8 × 8 ordered-dither matrix, indexed [row mod 8][column mod 8].
extern const std::uint8_t kDitherMatrix[8][8];

// The encoder's grey value of a pixel: trunc((G′ × 0.587 + R′ × 0.299) + B′ × 0.114) in double precision and
// in that order, where each channel′ is the channel plus the level's offset, clamped to 0..255. The products
// are looked up rather than multiplied per pixel; they are the same doubles, so the sums are too (checked
// for every (R′, G′, B′) by bench/grey_formula_check).
class GreyFormula {
  public:
    explicit GreyFormula(int offset);
    int operator()(std::uint8_t b, std::uint8_t g, std::uint8_t r) const {
        return static_cast<int>((green_[g] + red_[r]) + blue_[b]);
    }

  private:
    double blue_[256], green_[256], red_[256];
};

// The formula as written, one multiplication per channel, for checking the tables against.
int literalGrey(int bPrime, int gPrime, int rPrime);

class NvImageEncoder {
  public:
    // Reads the logo file (a BMP, or a PNG, JPEG or GIF file taken as the 24-bit bitmap of its colours over
    // white) and encodes it. Mode 0 threshold, 2 ordered dither, anything else error diffusion;
    // level 0..10. A file that cannot be read or decoded, a level out of range or an image too large for
    // the family's command gives an Error (BadInput, or Io when the file cannot be read) and leaves the
    // previous result untouched except for rasterLength, which is 0.
    Status encodeLogoFile(const std::string& path, int mode, int level, LogoFamily family = LogoFamily::BitImage);

    // Encodes an image that is already decoded.
    Status encodeImage(const BmpImage& image, int mode, int level, LogoFamily family = LogoFamily::BitImage);

    // The dots of the last logo's own width × height area (without the padding), packed as NV graphics
    // rows: top row first, each ceil(width / 8) bytes, bit 7 the leftmost dot, the unused bits 0.
    std::vector<std::uint8_t> graphicsRows() const;

    const std::vector<std::uint8_t>& raster() const { return raster_; }
    int rasterLength() const { return rasterLength_; }
    int paddedWidth() const { return paddedWidth_; }   // the width raised to a multiple of 8, in dots
    int paddedHeight() const { return paddedHeight_; } // the height raised to a multiple of 8, in dots
    int width() const { return width_; }               // the logo's own size, in dots
    int height() const { return height_; }
    // The last logo had more than 1 bit per pixel and a white bottom-left pixel: it was thresholded at the
    // middle grey, and the mode and level did not apply.
    bool halftoneSkipped() const { return halftoneSkipped_; }

  private:
    std::vector<std::uint8_t> raster_;
    int rasterLength_ = 0;
    int paddedWidth_ = 0;
    int paddedHeight_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool halftoneSkipped_ = false;
    // Working rows, kept between calls so that a list of logos allocates once: the dots of one band of 8
    // image rows, the error-diffusion rows in flight and the colours of one diffused row.
    std::vector<std::uint8_t> band_;
    std::vector<std::uint8_t> work_;
    std::vector<std::uint8_t> white_;
};

} // namespace tessera
