// nvlogo info: what each logo is and what it costs in the printer's NV memory.

#include "cli/commands.h"

#include "app/logo_entry.h"
#include "base/json_writer.h"
#include "image/image_file.h"
#include "printer/nv_command_stream.h"
#include "printer/nv_graphics.h"
#include "printer/nv_image_encoder.h"

#include <memory>
#include <ostream>

namespace tessera::cli {

namespace {

// The NV memory of most printers of the supported models; larger lists are worth a word before an upload.
constexpr std::int64_t kUsualNvBytes = 262144;

struct InfoOptions {
    bool json = false;
    std::vector<std::string> logos;
};

int runInfo(const InfoOptions& opt, Context& ctx) {
    int rc = kExitOk;
    std::int64_t total = 0, graphicsTotal = 0;
    int counted = 0;
    json::Writer json;
    json.beginArray();
    for (const std::string& path : opt.logos) {
        // The decoder that save and upload use, so that every logo they take is described as they see it.
        auto image = decodeLogoFile(path);
        if (!image) {
            Error e = image.error();
            e.kind = ErrorKind::BadInput;
            rc = report(ctx, e);
            continue;
        }
        const BmpInfo& info = image->info;
        const bool fits = (info.width + 7) / 8 <= kMaxNvWidthUnits && (info.height + 7) / 8 <= kMaxNvHeightUnits;
        const std::int64_t nvBytes = nvDataSize(info.width, info.height);
        const bool graphicsFits = info.width <= kMaxGraphicsWidth && info.height <= kMaxGraphicsHeight;
        // What an NV graphics key takes: its rows of ceil(width / 8) bytes and the record allowance.
        const std::int64_t graphicsBytes =
            (std::int64_t{info.width} + 7) / 8 * info.height + static_cast<std::int64_t>(kGraphicsRecordBytes);
        if (opt.json) {
            json.beginObject().key("file").value(path).key("width").value(info.width).key("height").value(info.height);
            json.key("bits_per_pixel").value(info.bitCount).key("nv_bytes").value(nvBytes).key("fits").value(fits);
            json.key("graphics_bytes").value(graphicsBytes).key("graphics_fits").value(graphicsFits);
            json.endObject();
        } else {
            ctx.out << path << ": " << info.width << " x " << info.height << " pixels, " << info.bitCount
                    << (info.bitCount == 1 ? " bit" : " bits") << " per pixel, NV size " << nvBytes << " bytes, "
                    << (fits ? "fits" : "too large for the printer (at most 8184 x 2304 dots)") << "; NV graphics size "
                    << graphicsBytes << " bytes"
                    << (graphicsFits ? "" : ", too large for NV graphics (at most 8192 x 2304 dots)") << '\n';
        }
        total += nvBytes + 4;
        graphicsTotal += graphicsBytes;
        ++counted;
    }
    if (opt.json)
        ctx.out << json.endArray().text() << '\n';
    else if (counted > 1)
        ctx.out << "total: " << counted << " logos, " << total
                << " bytes of NV memory (each image its data plus 4 bytes), " << graphicsTotal
                << " bytes of NV graphics memory (each logo its data plus " << kGraphicsRecordBytes << ")\n";
    // Warnings only: the list may be meant for several uploads, or for a printer with more memory.
    if (total > kUsualNvBytes)
        ctx.err << "nvlogo: warning: the logos need " << total << " bytes of NV memory, more than the " << kUsualNvBytes
                << " most printers hold (upload --capacity checks a printer's own size)\n";
    if (opt.logos.size() > static_cast<std::size_t>(kMaxLogosPerUpload))
        ctx.err << "nvlogo: warning: " << opt.logos.size() << " logos, more than the " << kMaxLogosPerUpload
                << " that one upload holds\n";
    return rc;
}

} // namespace

void setupInfo(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<InfoOptions>();
    CLI::App* sub = app.add_subcommand(
        "info", "Show each logo's size, depth and NV size in both families (NV bit images and NV graphics)");
    sub->add_flag("--json", opt->json,
                  "Print a JSON array, one object per logo: file, width, height, bits_per_pixel, nv_bytes, fits, "
                  "graphics_bytes, graphics_fits");
    sub->add_option("LOGO", opt->logos, "Logo files: BMP, PNG, JPEG or GIF (the last three count as 24 bits per pixel)")
        ->required();
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runInfo(*opt, ctx); });
}

} // namespace tessera::cli
