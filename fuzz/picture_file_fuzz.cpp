// Arbitrary bytes as a JPEG, GIF or PNG file (and anything else the sniffing takes): the in-memory decoder
// first, then the file loaders that the dialog (loadImageFile) and the encoder (decodeLogoFile) use, on the
// same bytes in a scratch file. Nothing may crash; whatever decodes has the shape it claims, over white.

#include "image/ico_decoder.h"
#include "image/image_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <unistd.h>

namespace {

// In memory where the system has a tmpfs: a file written and read back for every input costs more on a disk
// than the decoding does.
const std::string& scratchPath() {
    static const std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    "/picture_file_fuzz." + std::to_string(getpid()) + ".jpg";
    static const int removed = std::atexit([] { ::unlink(path.c_str()); });
    (void)removed;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    // Capped here for speed (the product's limits stay): 4 KB inputs and pictures of at most 256 pixels still
    // reach every format's decoder and its refusals.
    if (size > 4096) return 0;
    tessera::PictureLimits limits;
    limits.maxPixels = std::int64_t{1} << 8;
    const tessera::Result<tessera::DecodedPicture> pic = tessera::decodeStbPicture(bytes, limits);
    if (!pic) {
        if (pic.error().message.empty()) std::abort();
        // The file loaders would take as long to refuse a huge picture; only small ones go on, and icons
        // whose own decoder takes them within the same limit (the loaders' limits are the product's).
        if (tessera::sniffPictureFormat(bytes) != tessera::PictureFormat::Ico || !tessera::decodeIco(bytes, limits))
            return 0;
    } else if (pic->rgba.size() != static_cast<std::size_t>(pic->width) * static_cast<std::size_t>(pic->height) * 4) {
        std::abort();
    }

    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    const std::optional<tessera::PixelImage> img = tessera::loadImageFile(scratchPath(), tessera::kWhiteColour);
    if (img && img->pixels.size() != static_cast<std::size_t>(img->width) * static_cast<std::size_t>(img->height) * 4)
        std::abort();
    if (pic) {
        // The dialog's loader takes JPEG and GIF pictures by content but not PNG.
        const bool dialogKind = tessera::sniffPictureFormat(bytes) != tessera::PictureFormat::Png;
        if (dialogKind && (!img || img->width != pic->width || img->height != pic->height)) std::abort();
        const tessera::Result<tessera::BmpImage> logo = tessera::decodeLogoFile(scratchPath());
        if (!logo || logo->info.bitCount != 24 || logo->width() != pic->width ||
            logo->bgr.size() != static_cast<std::size_t>(pic->width) * static_cast<std::size_t>(pic->height) * 3)
            std::abort();
    }
    return 0;
}
