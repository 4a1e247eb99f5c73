// Arbitrary bytes into the icon decoder: a bad file must come back as an Error, never a crash or a read out of
// bounds, and a decoded picture must be the shape it claims and draw at its own size.

#include "image/ico_decoder.h"
#include "image/image_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Capped here for speed (the product's limits stay): 8 KB inputs and pictures of at most 4096 pixels still
    // reach every entry kind and its refusals.
    if (size > 8192) return 0;
    tessera::PictureLimits limits;
    limits.maxPixels = std::int64_t{1} << 12;
    const tessera::Result<tessera::DecodedPicture> pic = tessera::decodeIco(std::span<const std::uint8_t>(data, size), limits);
    if (!pic) {
        if (pic.error().message.empty()) std::abort();
        return 0;
    }
    if (pic->width <= 0 || pic->height <= 0 ||
        pic->rgba.size() != static_cast<std::size_t>(pic->width) * static_cast<std::size_t>(pic->height) * 4)
        std::abort();
    const std::optional<tessera::PixelImage> img = tessera::renderPicture(*pic, tessera::kWhiteColour);
    if (!img || img->width != pic->width || img->height != pic->height) std::abort();
    return 0;
}
