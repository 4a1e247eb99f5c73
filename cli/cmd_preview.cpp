// nvlogo preview: the converted picture that the dialog shows beside a logo, or what the printer will print.

#include "cli/commands.h"
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
    std::string output;
    std::string image;
};

// Rows of red, green and blue bytes, top row first.
struct RgbCanvas {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;

    RgbCanvas(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, 255) {}
    std::uint8_t* at(int x, int y) {
        return &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
    }
    void blit(const PixelImage& img, int left) {
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                const std::uint8_t* s = &img.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) + static_cast<std::size_t>(x)) * 4];
                std::uint8_t* d = at(left + x, y);
                d[0] = s[2], d[1] = s[1], d[2] = s[0];
            }
    }
};

// The printer's dots as a picture: black where a dot prints, over the padded area that is sent.
PixelImage pictureOfRaster(const NvImageEncoder& enc) {
    PixelImage img;
    img.width = enc.paddedWidth();
    img.height = enc.paddedHeight();
    img.pixels.assign(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height) * 4, 255);
    const int bands = img.height / 8;
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

std::vector<std::uint8_t> encodeOutput(RgbCanvas& canvas, bool pgm) {
    std::vector<std::uint8_t> file;
    if (pgm) {
        const std::string header = "P5\n" + std::to_string(canvas.width) + " " + std::to_string(canvas.height) + "\n255\n";
        file.assign(header.begin(), header.end());
        for (std::size_t i = 0; i < canvas.rgb.size(); i += 3)
            file.push_back(static_cast<std::uint8_t>((3 * canvas.rgb[i] + 6 * canvas.rgb[i + 1] + canvas.rgb[i + 2]) / 10));
        return file;
    }
    if (!stbi_write_png_to_func(appendBytes, &file, canvas.width, canvas.height, 3, canvas.rgb.data(), canvas.width * 3))
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
    Result<ImageFileContent> source = readImageFile(opt.image);
    if (!source) return report(ctx, source.error());

    PixelImage shown;
    if (opt.printed) {
        // The encoder reads the file itself, exactly as save and upload do.
        NvImageEncoder enc;
        if (source->format == PictureFormat::Ico) return report(ctx, badInput(opt.image + ": icons cannot be sent to the printer"));
        Status s = enc.encodeLogoFile(opt.image, opt.mode, opt.level);
        if (!s) return report(ctx, s.error());
        if (enc.halftoneSkipped()) noteHalftoneSkipped(ctx, opt.image);
        shown = pictureOfRaster(enc);
    } else {
        LogoBitmap view;
        view.take(source->image);
        const int depth = opt.bitsPerPixel > 0 ? opt.bitsPerPixel : source->bitsPerPixel;
        if (!convertForPreview(view, opt.mode, opt.level, depth))
            return report(ctx, badInput(opt.image + ": the picture cannot be converted"));
        PixelImage converted;
        converted.width = view.width();
        converted.height = view.height();
        converted.pixels = *view.readPixels();
        shown = std::move(converted);
    }

    const PixelImage& left = source->image;
    const int width = opt.sideBySide ? left.width + shown.width : shown.width;
    const int height = opt.sideBySide ? std::max(left.height, shown.height) : shown.height;
    if (!isHoldableSize(width, height)) return report(ctx, badInput(opt.image + ": the preview is too large"));
    RgbCanvas canvas(width, height);
    if (opt.sideBySide) {
        canvas.blit(left, 0);
        canvas.blit(shown, left.width);
    } else {
        canvas.blit(shown, 0);
    }
    std::vector<std::uint8_t> file = encodeOutput(canvas, pgm);
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
    sub->add_flag("--printed", opt->printed, "Show what the printer will print: the encoder's dots for this mode and level");
    sub->add_option("-o,--output", opt->output,
                    "Output file (required): NAME.png, NAME.pgm, or - for PNG on standard output")
        ->option_text("OUT")
        ->required();
    sub->add_option("IMAGE", opt->image, "The image file")->required();
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runPreview(*opt, ctx); });
}

} // namespace tessera::cli
