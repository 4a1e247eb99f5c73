#include "tools/nvlogo_printer/page.h"

#include <algorithm>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace tessera::vp {

Bitmap renderPage(std::span<const Print> prints, int paperDots) {
    Bitmap page;
    page.width = paperDots;
    for (const Print& p : prints) {
        if (paperDots == 0) page.width = std::max(page.width, p.width());
        page.height += p.height();
    }
    page.grey.assign(static_cast<std::size_t>(page.width) * page.height, 255);
    int top = 0;
    for (const Print& p : prints) {
        const int columns = std::min(p.dotsWide(), (page.width + p.scaleX - 1) / p.scaleX);
        for (int column = 0; column < columns; ++column) {
            const int width = std::min(p.scaleX, page.width - column * p.scaleX); // the last may be cut
            for (int row = 0; row < p.dotsHigh(); ++row) {
                if (!p.dot(column, row)) continue;
                for (int dy = 0; dy < p.scaleY; ++dy) {
                    auto* line = &page.grey[static_cast<std::size_t>(top + row * p.scaleY + dy) * page.width];
                    std::fill_n(line + column * p.scaleX, width, std::uint8_t{0});
                }
            }
        }
        top += p.height();
    }
    return page;
}

Result<std::vector<std::uint8_t>> encodePng(const Bitmap& bitmap) {
    std::vector<std::uint8_t> png;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
    };
    if (!stbi_write_png_to_func(append, &png, bitmap.width, bitmap.height, 1, bitmap.grey.data(), bitmap.width))
        return ioError("cannot encode a " + std::to_string(bitmap.width) + " x " + std::to_string(bitmap.height) +
                       " PNG");
    return png;
}

} // namespace tessera::vp
