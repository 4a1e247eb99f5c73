#include "app/logo_entry.h"

#include <limits>

namespace tessera {

std::int64_t nvDataSize(int width, int height) {
    const std::int64_t w8 = width % 8 == 0 ? width : width - width % 8 + 8;
    const std::int64_t bands = height % 8 == 0 ? height / 8 : height / 8 + 1;
    return w8 * bands;
}

LogoEntry::LogoEntry(std::string name, std::string path, int bpp, int w, int h)
    : displayName(std::move(name)), filePath(std::move(path)), bitsPerPixel(bpp), height(h), width(w) {
    const std::int64_t size = nvDataSize(w, h);
    nvSize = size > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                              : static_cast<std::int32_t>(size);
}

} // namespace tessera
