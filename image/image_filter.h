#pragma once
// The conversions that turn a logo into the black-and-white picture of the dialog's converted preview. They
// work on pixels in the exchange format (see logo_bitmap.h). None of this reaches the printer: the encoder
// has its own grey formula and row order, so the preview and the printed logo can differ.

#include <cstdint>
#include <utility>

namespace tessera {

// Grey offset of a brightness level: +75 at 0 ("Light") in steps of 15, 0 at 5, −50 at 10 in steps of 10.
// Levels outside 0..10 count as the nearest end.
int previewBrightnessOffset(int level);

// The 8 × 8 ordered-dither matrix, indexed [row from the top mod 8][column mod 8].
extern const std::uint8_t kPreviewDitherMatrix[8][8];

class ImageFilter {
  public:
    virtual ~ImageFilter() = default;
    // The size of the image that apply produces from one of (width, height).
    virtual std::pair<int, int> outputSize(int width, int height) const { return {width, height}; }
    // Writes dst (dstWidth × dstHeight pixels) from src and tells whether it succeeded. The base copies the
    // part of src that dst covers; the rest of dst keeps what it held.
    virtual bool apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
                       int dstHeight) const;
};

// White where the adjusted grey v = clamp((3R + 6G + B) div 10 + offset) is above 128.
class ThresholdFilter : public ImageFilter {
  public:
    explicit ThresholdFilter(int level) : level_(level) {}
    bool apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
               int dstHeight) const override;

  private:
    int level_;
};

// Stucki error diffusion of v′ (the floating-point luminance of v) over a flat plane, every row left to right.
class ErrorDiffusionFilter : public ImageFilter {
  public:
    explicit ErrorDiffusionFilter(int level) : level_(level) {}
    bool apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
               int dstHeight) const override;

  private:
    int level_;
};

// Ordered dither of v′ with the 8 × 8 matrix, rows counted from the top.
class IndexedOrderFilter : public ImageFilter {
  public:
    explicit IndexedOrderFilter(int level) : level_(level) {}
    bool apply(const std::uint8_t* src, int srcWidth, int srcHeight, std::uint8_t* dst, int dstWidth,
               int dstHeight) const override;

  private:
    int level_;
};

} // namespace tessera
