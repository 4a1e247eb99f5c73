#include "image/logo_bitmap.h"

#include "image/image_file.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <tuple>

namespace tessera {

namespace {

std::size_t bufferBytes(int w, int h) { return static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4; }

} // namespace

bool isHoldableSize(int width, int height) {
    return width > 0 && height > 0 && width <= kLogoMaxDimension && height <= kLogoMaxDimension &&
           static_cast<std::int64_t>(width) * height <= kLogoMaxPixels;
}

void fillWithColour(std::span<std::uint8_t> pixels, Colour colour) {
    if (colour == kWhiteColour || colour == kBackgroundColour) {
        std::fill(pixels.begin(), pixels.end(), std::uint8_t{0xFF});
        return;
    }
    const std::uint8_t b = static_cast<std::uint8_t>(colour >> 16), g = static_cast<std::uint8_t>(colour >> 8),
                       r = static_cast<std::uint8_t>(colour);
    for (std::size_t i = 0; i + 4 <= pixels.size(); i += 4) {
        pixels[i] = b;
        pixels[i + 1] = g;
        pixels[i + 2] = r;
        pixels[i + 3] = 0;
    }
}

bool LogoBitmap::load(const std::string& path, Colour colour) {
    if (image_) return false;
    std::optional<PixelImage> img = loadImageFile(path, colour == kBackgroundColour ? background_ : colour);
    if (!img) return false;
    image_ = std::move(*img);
    return true;
}

std::optional<std::vector<std::uint8_t>> LogoBitmap::readPixels() const {
    if (!image_) return std::nullopt;
    return image_->pixels;
}

bool LogoBitmap::replacePixels(std::span<const std::uint8_t> pixels, int width, int height) {
    if (!isHoldableSize(width, height) || pixels.size() < bufferBytes(width, height)) return false;
    PixelImage img;
    img.width = width;
    img.height = height;
    img.pixels = takeSpare();
    img.pixels.assign(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(bufferBytes(width, height)));
    hold(std::move(img));
    return true;
}

void LogoBitmap::hold(std::optional<PixelImage> image) {
    if (image_) {
        spare_ = std::move(image_->pixels);
        spare_.clear();
    }
    image_ = std::move(image);
}

bool LogoBitmap::copyFrom(const LogoBitmap* other) {
    if (!other || !other->image_) return false;
    if (!isHoldableSize(other->image_->width, other->image_->height)) return false;
    if (other == this) return true;
    PixelImage img;
    img.width = other->image_->width;
    img.height = other->image_->height;
    img.pixels = takeSpare();
    img.pixels.assign(other->image_->pixels.begin(), other->image_->pixels.end());
    hold(std::move(img));
    return true;
}

bool LogoBitmap::threshold(int level) { return applyFilter(ThresholdFilter(level)); }
bool LogoBitmap::errorDiffusion(int level) { return applyFilter(ErrorDiffusionFilter(level)); }
bool LogoBitmap::indexedOrder(int level) { return applyFilter(IndexedOrderFilter(level)); }

bool LogoBitmap::applyFilter(const ImageFilter& filter) {
    const ImageFilter* list[1] = {&filter};
    return applyFilters(list);
}

bool LogoBitmap::applyFilters(std::span<const ImageFilter* const> filters) {
    if (!image_) return false;
    if (filters.empty()) return true;

    int w = image_->width, h = image_->height;
    int maxW = w, maxH = h;
    {
        int cw = w, ch = h;
        for (const ImageFilter* f : filters) {
            std::tie(cw, ch) = f->outputSize(cw, ch);
            // A size that cannot be held fails here, before any buffer of it is allocated.
            if (!isHoldableSize(cw, ch)) return false;
            maxW = std::max(maxW, cw);
            maxH = std::max(maxH, ch);
        }
    }
    if (!isHoldableSize(maxW, maxH)) return false;

    // The first filter reads the held pixels in place (apply does not change its source); only a chain of
    // several needs a source buffer of its own. The destination becomes the new image without a copy.
    const std::uint8_t* src = image_->pixels.data();
    std::vector<std::uint8_t> srcBuffer;
    std::vector<std::uint8_t> dst = takeSpare();
    dst.resize(bufferBytes(maxW, maxH));
    fillWithColour(dst, background_);

    for (std::size_t i = 0; i < filters.size(); ++i) {
        if (i > 0) {
            srcBuffer.assign(dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(bufferBytes(w, h)));
            src = srcBuffer.data();
            fillWithColour(dst, background_);
        }
        const auto [nw, nh] = filters[i]->outputSize(w, h);
        if (!filters[i]->apply(src, w, h, dst.data(), nw, nh)) return false;
        w = nw;
        h = nh;
    }
    if (dst.size() != bufferBytes(w, h)) return replacePixels(dst, w, h);
    PixelImage img;
    img.width = w;
    img.height = h;
    img.pixels = std::move(dst);
    hold(std::move(img));
    return true;
}

bool convertForPreview(LogoBitmap& image, int mode, int level, int sourceBitsPerPixel) {
    switch (mode) {
    case 0:
        return image.threshold(level);
    case 1:
        return sourceBitsPerPixel <= 1 ? image.threshold(level) : image.errorDiffusion(level);
    case 2:
        return sourceBitsPerPixel <= 1 ? image.threshold(level) : image.indexedOrder(level);
    default:
        return false;
    }
}

} // namespace tessera
