#pragma once
// A loaded logo as the dialog's previews hold it, and the conversion that its converted preview shows.
//
// Pixels are held in the exchange format on every platform: 4 bytes per pixel, blue, green, red and a fourth
// byte (ignored on input, 0 on output), rows from the top down, each row exactly 4 × width bytes. So reading
// and replacing pixels are copies; only drawing needs the platform.

#include "image/image_filter.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessera {

// A colour 0x00BBGGRR. kBackgroundColour (−1 as a 32-bit value) stands for a LogoBitmap's own background.
using Colour = std::uint32_t;
inline constexpr Colour kWhiteColour = 0x00FFFFFFu;
inline constexpr Colour kBackgroundColour = 0xFFFFFFFFu;

// Largest picture a LogoBitmap holds; larger ones are refused, never allocated.
inline constexpr int kLogoMaxDimension = 30000;
inline constexpr std::int64_t kLogoMaxPixels = std::int64_t{1} << 26;

struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // width × height × 4, exchange format
};

// True when the size is one a LogoBitmap can hold: both sides 1..kLogoMaxDimension, within kLogoMaxPixels.
bool isHoldableSize(int width, int height);

// Every pixel set to the colour: BB GG RR 00, except that white (0x00FFFFFF or −1) sets every byte to FF.
void fillWithColour(std::span<std::uint8_t> pixels, Colour colour);

class LogoBitmap {
  public:
    explicit LogoBitmap(Colour background = kWhiteColour) : background_(background) {}

    bool hasImage() const { return image_.has_value(); }
    int width() const { return image_ ? image_->width : 0; }
    int height() const { return image_ ? image_->height : 0; }
    Colour background() const { return background_; }

    // Loads the file when nothing is held; false, with nothing changed, when an image is held already or the
    // file gives no image. kBackgroundColour stands for this bitmap's background.
    bool load(const std::string& path, Colour colour = kBackgroundColour);
    // A new copy of the pixels, or none when nothing is held.
    std::optional<std::vector<std::uint8_t>> readPixels() const;
    // The held picture itself, valid until the image changes; null when nothing is held.
    const PixelImage* pixelImage() const { return image_ ? &*image_ : nullptr; }
    // Holds a new image of the buffer's pixels; on failure (a buffer that is not width × height × 4 bytes, or
    // a size that cannot be held) the old image stays.
    bool replacePixels(std::span<const std::uint8_t> pixels, int width, int height);
    // An independent copy of the other's image; false, with nothing changed, when the other holds none.
    bool copyFrom(const LogoBitmap* other);
    void release() { hold(std::nullopt); }
    // Takes the image without converting it (a freshly loaded bitmap handed to a long-lived one).
    void take(PixelImage image) { hold(std::move(image)); }

    bool threshold(int level);
    bool errorDiffusion(int level);
    bool indexedOrder(int level);
    bool applyFilter(const ImageFilter& filter);
    // Runs the filters in order over the held image and replaces it only when every step succeeded.
    bool applyFilters(std::span<const ImageFilter* const> filters);

  private:
    // Replaces the held image; the old one's pixel buffer is kept for the next copy or conversion.
    void hold(std::optional<PixelImage> image);
    // The kept buffer (empty when there is none), for filling with new pixels.
    std::vector<std::uint8_t> takeSpare() { return std::move(spare_); }

    std::optional<PixelImage> image_;
    Colour background_;
    // A view that is copied from its source and converted at every repaint then needs no new memory: the
    // copy and the conversion's result alternate between the held buffer and this one.
    std::vector<std::uint8_t> spare_;
};

// The preview's choice of conversion: Threshold (0) always thresholds; ErrorDiffusion (1) and IndexedOrder (2)
// threshold a logo recorded with at most 1 bit per pixel and use their own filter otherwise. Any other mode
// leaves the image as it is and returns false, as does a conversion that fails.
bool convertForPreview(LogoBitmap& image, int mode, int level, int sourceBitsPerPixel);

} // namespace tessera
