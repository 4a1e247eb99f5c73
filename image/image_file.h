#pragma once
// Reading logo image files: for the dialog's previews by the name's kind, for the command line and the
// encoder by the file's content. Transparent areas come out as the background colour (white).

#include "base/result.h"
#include "image/bmp_decoder.h"
#include "image/logo_bitmap.h"
#include "image/picture.h"

#include <optional>
#include <string>

namespace tessera {

enum ImageKind : int {
    BitmapKind = 0,
    IconKind = 1,
    JpegKind = 2,
    GifKind = 3,
    OtherKind = 4,
};

// The kind a path names, from its upper-cased text: ".BMP", then ".ICO", then ".JPG" or ".JPEG", then ".GIF".
// A text counts only where it first occurs, and only past the first character; the first test that matches
// decides, so a folder "X.BMP" makes every file in it a bitmap.
ImageKind classifyImagePath(const std::string& path);

// The image the dialog loads for a path: bitmaps through the BMP decoder, icons, JPEG and GIF pictures (and
// bitmaps so named) drawn over the colour; none for any other kind or a file that cannot be decoded.
std::optional<PixelImage> loadImageFile(const std::string& path, Colour colour);

// Draws the picture at its size in 0.01 mm taken back to pixels at 96 per inch, over the colour (no fill for
// kBackgroundColour: the canvas starts black). None when that size cannot be held.
std::optional<PixelImage> renderPicture(const DecodedPicture& picture, Colour colour);

// 0 with the file's own bits per pixel, height and width when it decodes as a BMP file (whatever its name);
// −1 otherwise.
int probeBitmapFile(const std::string& path, int& bitsPerPixel, int& height, int& width);

// The picture of a decoded BMP in the exchange format.
PixelImage pixelImageOfBmp(const BmpImage& bmp);

// A file recognised by its content (BMP, ICO, JPEG, GIF or PNG) as the command line reads it: its picture
// over white and its own colour depth.
struct ImageFileContent {
    PictureFormat format = PictureFormat::Unknown;
    PixelImage image;
    int bitsPerPixel = 0;
};
Result<ImageFileContent> readImageFile(const std::string& path);

// A logo for the encoder: a BMP file decoded as it is; a PNG, JPEG or GIF file as the 24-bit bitmap of its
// colours over white (bottom row first, no colour table). Errors name the path.
Result<BmpImage> decodeLogoFile(const std::string& path);

} // namespace tessera
