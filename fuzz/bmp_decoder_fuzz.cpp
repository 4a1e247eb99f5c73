// Arbitrary bytes into the BMP decoder: a bad file must come back as an Error, never a crash, a hang or a read
// out of bounds, and a decoded image must be the shape its header promises. The work is capped here, not in
// the decoder: inputs of at most 4 KB, and a pixel limit of 4096, far below the default, so that each input
// decodes quickly; the size checks the limit guards are the same at any limit, and every layout, RLE code
// and refusal is reachable from a file that small.

#include "image/bmp_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    const std::span<const std::uint8_t> file(data, size);
    const tessera::Result<tessera::BmpInfo> info = tessera::probeBmp(file);

    tessera::BmpLimits limits;
    limits.maxPixels = std::int64_t{1} << 12;
    const tessera::Result<tessera::BmpImage> img = tessera::decodeBmp(file, limits);
    // Plain bottom-up 24-bit files may also be decoded in their own buffer; that form must agree exactly.
    if (info && info->bitCount == 24 && info->compression == 0 && !info->topDown) {
        const tessera::Result<tessera::BmpImage> moved =
            tessera::decodeBmp(std::vector<std::uint8_t>(data, data + size), limits);
        if (bool(img) != bool(moved) || (!img && img.error().message != moved.error().message)) std::abort();
        if (img && (img->bgr != moved->bgr || img->info.width != moved->info.width ||
                    img->info.height != moved->info.height || !moved->indices.empty()))
            std::abort();
    }
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
