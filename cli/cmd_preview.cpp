// nvlogo preview: the converted picture that the dialog shows beside a logo, or what the printer will print.

#include "cli/commands.h"
#include "cli/graphics_family.h"
#include "cli/usage.h"

#include "base/file_io.h"
#include "image/image_file.h"
#include "image/logo_bitmap.h"
#include "printer/nv_image_encoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace tessera::cli {

namespace {

struct PreviewOptions {
    int mode = Threshold;
    int level = 5;
    int bitsPerPixel = 0; // 0: the file's own
    bool sideBySide = false;
    bool printed = false;
    Family family = Family::BitImage;
    std::string output;
    std::string image;
};

// The output picture, top row first, white where no picture lies: grey bytes for PGM, red, green and blue
// for PNG. The bytes start after room for the file's header, so that a PGM file needs no second copy.
struct Canvas {
    int width = 0, height = 0, channels = 3;
    std::size_t start = 0;
    std::vector<std::uint8_t> bytes;

    Canvas(int w, int h, int c, const std::string& header) : width(w), height(h), channels(c), start(header.size()) {
        const std::size_t size =
            start + static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(c);
        bytes.reserve(size);
        bytes.assign(header.begin(), header.end());
        bytes.resize(size, 255);
    }
    void blit(const PixelImage& img, int left) {
        for (int y = 0; y < img.height; ++y) {
            const std::uint8_t* s = &img.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) * 4];
            std::uint8_t* d = &bytes[start + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                              static_cast<std::size_t>(left)) *
                                                 static_cast<std::size_t>(channels)];
            for (int x = 0; x < img.width; ++x, s += 4, d += channels) {
                if (channels == 1)
                    d[0] = static_cast<std::uint8_t>((3 * s[2] + 6 * s[1] + s[0]) / 10);
                else
                    d[0] = s[2], d[1] = s[1], d[2] = s[0];
            }
        }
    }
};

// The printer's dots as a picture: black where a dot prints, over the padded area that NV bit images send,
// or over the logo's own area that NV graphics send.
PixelImage pictureOfRaster(const NvImageEncoder& enc, bool ownArea) {
    PixelImage img;
    img.width = ownArea ? enc.width() : enc.paddedWidth();
    img.height = ownArea ? enc.height() : enc.paddedHeight();
    img.pixels.assign(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height) * 4, 255);
    const int bands = enc.paddedHeight() / 8;
    for (int x = 0; x < img.width; ++x)
        for (int y = 0; y < img.height; ++y) {
            const std::uint8_t byte = enc.raster()[static_cast<std::size_t>(x) * static_cast<std::size_t>(bands) + static_cast<std::size_t>(y / 8)];
            if (byte & (0x80u >> (y % 8))) {
                std::uint8_t* p = &img.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) + static_cast<std::size_t>(x)) * 4];
                p[0] = p[1] = p[2] = 0;
            }
            img.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) + static_cast<std::size_t>(x)) * 4 + 3] = 0;
        }
    return img;
}

bool endsWith(const std::string& path, const char* extension) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == extension;
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

std::vector<std::uint8_t> encodePng(const Canvas& canvas) {
    std::vector<std::uint8_t> file;
    if (!stbi_write_png_to_func(appendBytes, &file, canvas.width, canvas.height, 3, canvas.bytes.data(),
                                canvas.width * 3))
        file.clear();
    return file;
}

int runPreview(const PreviewOptions& opt, Context& ctx) {
    if (Status s = checkOutput(opt.output, {opt.image}); !s) return report(ctx, s.error());
    // The name says what the file holds; PNG data in a file named .jpg would mislead whoever opens it.
    const bool pgm = endsWith(opt.output, ".pgm");
    if (opt.output != "-" && !pgm && !endsWith(opt.output, ".png"))
        return report(ctx, badInput(opt.output + ": preview writes PNG or PGM files; name the output .png or .pgm "
                                                 "(or - for PNG on standard output)"));
    if (opt.family == Family::Graphics && !opt.printed)
        return report(ctx, badInput("--family chooses the printed dots: it goes with --printed"));
    Result<ImageFileContent> source = readImageFile(opt.image);
    if (!source) return report(ctx, source.error());

    PixelImage printed;
    LogoBitmap view;
    const PixelImage* shown = nullptr;
    if (opt.printed) {
        // The encoder reads the file itself, exactly as save and upload do.
        NvImageEncoder enc;
        if (source->format == PictureFormat::Ico) return report(ctx, badInput(opt.image + ": icons cannot be sent to the printer"));
        const bool graphics = opt.family == Family::Graphics;
        Status s =
            enc.encodeLogoFile(opt.image, opt.mode, opt.level, graphics ? LogoFamily::Graphics : LogoFamily::BitImage);
        if (!s) return report(ctx, s.error());
        if (enc.halftoneSkipped()) noteHalftoneSkipped(ctx, opt.image);
        printed = pictureOfRaster(enc, graphics);
        shown = &printed;
    } else {
        // The source picture is needed again only beside the converted one.
        view.take(opt.sideBySide ? source->image : std::move(source->image));
        const int depth = opt.bitsPerPixel > 0 ? opt.bitsPerPixel : source->bitsPerPixel;
        if (!convertForPreview(view, opt.mode, opt.level, depth))
            return report(ctx, badInput(opt.image + ": the picture cannot be converted"));
        shown = view.pixelImage();
    }

    const PixelImage& left = source->image;
    const int width = opt.sideBySide ? left.width + shown->width : shown->width;
    const int height = opt.sideBySide ? std::max(left.height, shown->height) : shown->height;
    if (!isHoldableSize(width, height)) return report(ctx, badInput(opt.image + ": the preview is too large"));
    Canvas canvas(width, height, pgm ? 1 : 3,
                  pgm ? "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" : std::string());
    if (opt.sideBySide) {
        canvas.blit(left, 0);
        canvas.blit(*shown, left.width);
    } else {
        canvas.blit(*shown, 0);
    }
    std::vector<std::uint8_t> file = pgm ? std::move(canvas.bytes) : encodePng(canvas);
    if (file.empty()) return report(ctx, ioError(opt.output + ": the PNG could not be encoded"));
    if (opt.output == "-") {
        ctx.out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        ctx.out.flush();
        return ctx.out ? kExitOk : report(ctx, ioError("standard output: write failed"));
    }
    Status written = writeFileAtomically(opt.output, file);
    if (!written) return report(ctx, written.error());
    return kExitOk;
}

} // namespace

void setupPreview(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<PreviewOptions>();
    CLI::App* sub =
        app.add_subcommand("preview", "Write the converted preview of an image (BMP, ICO, JPEG, GIF or PNG) "
                                      "as PNG (OUT ending in .png, or - for standard output) or PGM (.pgm)");
    addHalftoneOption(*sub, opt->mode);
    addBrightnessOption(*sub, opt->level);
    sub->add_option("--bpp", opt->bitsPerPixel,
                    "The colour depth recorded for the logo (default: the file's own); 1 thresholds in every mode")
        ->check(integerIn(1, 32))
        ->option_text("BITS");
    sub->add_flag("--side-by-side", opt->sideBySide, "Put the source picture left of the converted one");
    sub->add_flag("--printed", opt->printed,
                  "Show what the printer will print: the encoder's dots for this mode and level, over the padded "
                  "area of NV bit images or, with --family graphics, over the logo's own");
    addFamilyOption(*sub, opt->family, false);
    sub->add_option("-o,--output", opt->output,
                    "Output file (required): NAME.png, NAME.pgm, or - for PNG on standard output")
        ->option_text("OUT")
        ->required();
    sub->add_option("IMAGE", opt->image, "The image file")->required();
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runPreview(*opt, ctx); });
}

} // namespace tessera::cli
