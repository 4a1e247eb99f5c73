#include "image/image_file.h"

#include "base/file_io.h"
#include "image/ico_decoder.h"

#include <cctype>
#include <cstddef>

namespace tessera {

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

// The platform's picture loader takes bitmaps, icons, JPEG and GIF files by content; PNG is not among them.
Result<DecodedPicture> decodeDialogPicture(std::span<const std::uint8_t> bytes, bool withPng) {
    switch (sniffPictureFormat(bytes)) {
    case PictureFormat::Ico:
        return decodeIco(bytes);
    case PictureFormat::Jpeg:
    case PictureFormat::Gif:
        return decodeStbPicture(bytes);
    case PictureFormat::Png:
        if (withPng) return decodeStbPicture(bytes);
        break;
    case PictureFormat::Bmp: {
        Result<BmpImage> bmp = decodeBmp(bytes);
        if (!bmp) return bmp.error();
        DecodedPicture pic;
        pic.width = bmp->width();
        pic.height = bmp->height();
        pic.himetricWidth = himetricOfPixels(pic.width);
        pic.himetricHeight = himetricOfPixels(pic.height);
        pic.bitsPerPixel = bmp->info.bitCount;
        pic.rgba.resize(static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height) * 4);
        for (int yi = 0; yi < pic.height; ++yi)
            for (int x = 0; x < pic.width; ++x) {
                const BmpColor c = bmp->pixel(x, pic.height - 1 - yi);
                std::uint8_t* o = &pic.rgba[(static_cast<std::size_t>(yi) * static_cast<std::size_t>(pic.width) + static_cast<std::size_t>(x)) * 4];
                o[0] = c.r, o[1] = c.g, o[2] = c.b, o[3] = 255;
            }
        return pic;
    }
    case PictureFormat::Unknown:
        break;
    }
    return badInput(withPng ? "not a BMP, ICO, JPEG, GIF or PNG file" : "not a picture the loader reads");
}

bool findsPastStart(const std::string& upper, const char* text) {
    const std::size_t at = upper.find(text);
    return at != std::string::npos && at > 0;
}

// Alpha compositing over a backdrop byte, rounded as the BMP decoder composites its alpha over white.
std::uint8_t over(int c, int a, int backdrop) {
    return static_cast<std::uint8_t>((c * a + backdrop * (255 - a) + 127) / 255);
}

} // namespace

ImageKind classifyImagePath(const std::string& path) {
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (findsPastStart(upper, ".BMP")) return BitmapKind;
    if (findsPastStart(upper, ".ICO")) return IconKind;
    if (findsPastStart(upper, ".JPG") || findsPastStart(upper, ".JPEG")) return JpegKind;
    if (findsPastStart(upper, ".GIF")) return GifKind;
    return OtherKind;
}

PixelImage pixelImageOfBmp(const BmpImage& bmp) {
    PixelImage img;
    img.width = bmp.width();
    img.height = bmp.height();
    const std::size_t w = static_cast<std::size_t>(img.width);
    img.pixels.assign(w * static_cast<std::size_t>(img.height) * 4, 0);
    std::uint8_t* o = img.pixels.data();
    for (int yi = 0; yi < img.height; ++yi) {
        const std::uint8_t* s = bmp.bgr.data() + static_cast<std::size_t>(img.height - 1 - yi) * w * 3;
        for (std::size_t x = 0; x < w; ++x, s += 3, o += 4)
            o[0] = s[0], o[1] = s[1], o[2] = s[2];
    }
    return img;
}

std::optional<PixelImage> renderPicture(const DecodedPicture& picture, Colour colour) {
    const int w = mulDiv(picture.himetricWidth, 96, 2540);
    const int h = mulDiv(picture.himetricHeight, 96, 2540);
    if (!isHoldableSize(w, h) || picture.width <= 0 || picture.height <= 0 ||
        picture.rgba.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 4)
        return std::nullopt;
    PixelImage img;
    img.width = w;
    img.height = h;
    img.pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0);
    if (colour != kBackgroundColour) fillWithColour(img.pixels, colour);
    // Stretched onto the target size by nearest pixel; the same size maps each pixel onto itself.
    for (int y = 0; y < h; ++y) {
        const std::size_t sy = static_cast<std::size_t>(static_cast<std::int64_t>(y) * picture.height / h);
        for (int x = 0; x < w; ++x) {
            const std::size_t sx = static_cast<std::size_t>(static_cast<std::int64_t>(x) * picture.width / w);
            const std::uint8_t* s = &picture.rgba[(sy * static_cast<std::size_t>(picture.width) + sx) * 4];
            std::uint8_t* d = &img.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4];
            const int a = s[3];
            d[0] = over(s[2], a, d[0]);
            d[1] = over(s[1], a, d[1]);
            d[2] = over(s[0], a, d[2]);
            d[3] = 0;
        }
    }
    return img;
}

std::optional<PixelImage> loadImageFile(const std::string& path, Colour colour) {
    const ImageKind kind = classifyImagePath(path);
    if (kind == OtherKind) return std::nullopt;
    Result<std::vector<std::uint8_t>> bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes) return std::nullopt;
    if (kind == BitmapKind) {
        Result<BmpImage> bmp = decodeBmp(std::move(*bytes));
        if (!bmp) return std::nullopt;
        return pixelImageOfBmp(*bmp);
    }
    Result<DecodedPicture> pic = decodeDialogPicture(*bytes, false);
    if (!pic) return std::nullopt;
    return renderPicture(*pic, colour);
}

int probeBitmapFile(const std::string& path, int& bitsPerPixel, int& height, int& width) {
    Result<BmpImage> bmp = decodeBmpFile(path);
    if (!bmp) return -1;
    bitsPerPixel = bmp->info.bitCount;
    height = bmp->height();
    width = bmp->width();
    return 0;
}

Result<ImageFileContent> readImageFile(const std::string& path) {
    Result<std::vector<std::uint8_t>> bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes) return bytes.error();
    ImageFileContent content;
    content.format = sniffPictureFormat(*bytes);
    if (content.format == PictureFormat::Bmp) {
        Result<BmpImage> bmp = decodeBmp(std::move(*bytes));
        if (!bmp) return withContext(path, bmp.error());
        content.image = pixelImageOfBmp(*bmp);
        content.bitsPerPixel = bmp->info.bitCount;
        return content;
    }
    Result<DecodedPicture> pic = decodeDialogPicture(*bytes, true);
    if (!pic) return withContext(path, pic.error());
    std::optional<PixelImage> img = renderPicture(*pic, kWhiteColour);
    if (!img) return badInput(path + ": the picture is too large");
    content.image = std::move(*img);
    content.bitsPerPixel = pic->bitsPerPixel;
    return content;
}

Result<BmpImage> decodeLogoFile(const std::string& path) {
    Result<std::vector<std::uint8_t>> bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes) return bytes.error(); // file_io's messages already name the path
    const PictureFormat format = sniffPictureFormat(*bytes);
    if (format != PictureFormat::Png && format != PictureFormat::Jpeg && format != PictureFormat::Gif) {
        Result<BmpImage> img = decodeBmp(std::move(*bytes));
        if (!img) return withContext(path, img.error());
        return img;
    }
    Result<DecodedPicture> pic = decodeStbPicture(*bytes);
    if (!pic) return withContext(path, pic.error());
    BmpImage img;
    img.info.width = pic->width;
    img.info.height = pic->height;
    img.info.bitCount = 24;
    img.info.compression = 0;
    img.info.headerSize = 40;
    img.bgr.resize(static_cast<std::size_t>(pic->width) * static_cast<std::size_t>(pic->height) * 3);
    for (int y = 0; y < pic->height; ++y) {
        const std::size_t top = static_cast<std::size_t>(pic->height - 1 - y); // y counts from the bottom
        for (int x = 0; x < pic->width; ++x) {
            const std::uint8_t* s = &pic->rgba[(top * static_cast<std::size_t>(pic->width) + static_cast<std::size_t>(x)) * 4];
            std::uint8_t* d = &img.bgr[(static_cast<std::size_t>(y) * static_cast<std::size_t>(pic->width) + static_cast<std::size_t>(x)) * 3];
            d[0] = over(s[2], s[3], 255);
            d[1] = over(s[1], s[3], 255);
            d[2] = over(s[0], s[3], 255);
        }
    }
    return img;
}

} // namespace tessera
