// Arbitrary bytes into the BMP decoder: a bad file must come back as an Error, never a crash, a hang or a read
// out of bounds, and a decoded image must be the shape its header promises. The pixel limit is lower than the
// default so that each input decodes quickly; the size checks it guards are the same at any limit.

#include "image/bmp_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const tessera::Result<tessera::BmpInfo> info = tessera::probeBmp(file);

    tessera::BmpLimits limits;
    limits.maxPixels = std::int64_t{1} << 16;
    const tessera::Result<tessera::BmpImage> img = tessera::decodeBmp(file, limits);
    if (!img) {
        if (img.error().message.empty()) std::abort();
        return 0;
    }

    // Whatever decodes must also probe, with the same answer.
    if (!info || info->width != img->info.width || info->height != img->info.height ||
        info->bitCount != img->info.bitCount || info->topDown != img->info.topDown)
        std::abort();
    const std::size_t pixels = static_cast<std::size_t>(img->width()) * static_cast<std::size_t>(img->height());
    if (img->bgr.size() != pixels * 3) std::abort();
    if (img->info.bitCount <= 8) {
        if (img->indices.size() != pixels || img->palette.empty() ||
            img->palette.size() > (std::size_t{1} << img->info.bitCount))
            std::abort();
        for (std::uint8_t i : img->indices)
            if (i >= img->palette.size()) std::abort();
    } else if (!img->indices.empty() || !img->palette.empty()) {
        std::abort();
    }
    return 0;
}
