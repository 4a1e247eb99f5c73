// nvlogo info: what each logo is and what it costs in the printer's NV memory.

#include "cli/commands.h"

#include "app/logo_entry.h"
#include "image/bmp_decoder.h"
#include "printer/nv_image_encoder.h"

#include <memory>
#include <ostream>

namespace tessera::cli {

namespace {

struct InfoOptions {
    std::vector<std::string> logos;
};

int runInfo(const InfoOptions& opt, Context& ctx) {
    int rc = kExitOk;
    std::int64_t total = 0;
    int counted = 0;
    for (const std::string& path : opt.logos) {
        auto image = decodeBmpFile(path);
        if (!image) {
            Error e = image.error();
            e.kind = ErrorKind::BadInput;
            rc = report(ctx, e);
            continue;
        }
        const BmpInfo& info = image->info;
        const bool fits = (info.width + 7) / 8 <= kMaxNvWidthUnits && (info.height + 7) / 8 <= kMaxNvHeightUnits;
        ctx.out << path << ": " << info.width << " x " << info.height << " pixels, " << info.bitCount
                << (info.bitCount == 1 ? " bit" : " bits") << " per pixel, NV size "
                << nvDataSize(info.width, info.height) << " bytes, "
                << (fits ? "fits" : "too large for the printer (at most 8184 x 2304 dots)") << '\n';
        total += nvDataSize(info.width, info.height) + 4;
        ++counted;
    }
    if (counted > 1)
        ctx.out << "total: " << counted << " logos, " << total
                << " bytes of NV memory (each image its data plus 4 bytes)\n";
    return rc;
}

} // namespace

void setupInfo(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<InfoOptions>();
    CLI::App* sub = app.add_subcommand("info", "Show each logo's size, depth and NV size");
    sub->add_option("logos", opt->logos, "Logo files")->required();
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runInfo(*opt, ctx); });
}

} // namespace tessera::cli
