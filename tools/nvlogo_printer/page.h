#pragma once
// What the virtual printer puts on paper: the images printed since the last cut, drawn as one picture.

#include "base/result.h"
#include "tools/nvlogo_printer/graphics_store.h"
#include "tools/nvlogo_printer/nv_file.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tessera::vp {

// One FS p, or one NV graphics print: a stored image or logo and its scale factors (1 or 2 each way). Both
// are shared with their store, so an erase or a new definition after the print does not change what was
// printed.
struct Print {
    std::shared_ptr<const NvImage> image;
    int scaleX = 1;
    int scaleY = 1;
    std::shared_ptr<const GraphicsImage> graphic; // printed in place of image, when set

    int dotsWide() const { return graphic ? graphic->width : image->widthDots(); }
    int dotsHigh() const { return graphic ? graphic->height : image->heightDots(); }
    bool dot(int column, int row) const { return graphic ? graphic->dot(column, row) : image->dot(column, row); }
    int width() const { return dotsWide() * scaleX; }
    int height() const { return dotsHigh() * scaleY; }
};

// A grey picture, rows from the top: 0 where a dot is printed, 255 paper.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> grey;

    bool dot(int x, int y) const { return grey[static_cast<std::size_t>(y) * width + x] == 0; }
};

// The prints stacked top to bottom and left-aligned on paper paperDots wide; what lies beyond the paper's
// right edge is not printed. With paperDots 0 the page is as wide as the widest print (nothing is cut off).
Bitmap renderPage(std::span<const Print> prints, int paperDots);

// The PNG file of the bitmap (8-bit grey).
Result<std::vector<std::uint8_t>> encodePng(const Bitmap& bitmap);

} // namespace tessera::vp
