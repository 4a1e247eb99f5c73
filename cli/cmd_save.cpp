// nvlogo save: the upload stream of a list of logos, stored as a `.bit` or `.txt` file.

#include "cli/commands.h"

#include "base/file_io.h"
#include "cli/graphics_family.h"
#include "cli/usage.h"
#include "printer/logo_files.h"
#include "printer/nv_upload_ctrl.h"

#include <memory>
#include <ostream>

namespace tessera::cli {

namespace {

struct SaveOptions {
    int mode = Threshold;
    int level = 5;
    int format = BIN;
    std::string output;
    Family family = Family::BitImage;
    std::string keys;
    bool keep = false;
    std::vector<std::string> logos;
};

// The upload stream of NV graphics without its requests and finishing bytes.
Result<std::vector<std::uint8_t>> graphicsFile(const SaveOptions& opt, Context& ctx) {
    auto given = parseKeyOption(opt.keys);
    if (!given) return given.error();
    auto keys = keysForLogos(opt.logos.size(), given->value_or(std::vector<std::string>{}));
    if (!keys) return keys.error();
    NvImageEncoder encoder;
    auto logos = encodeGraphicsLogos(encoder, opt.logos, *keys, opt.mode, opt.level);
    if (!logos) return logos.error();
    for (const GraphicsLogo& logo : *logos)
        if (logo.halftoneSkipped) noteHalftoneSkipped(ctx, logo.path);
    MemorySink stream;
    if (Status s = writeGraphicsDefinitions(stream, *logos, opt.keep); !s) return s.error();
    return formatLogoFile(stream.bytes, opt.format == HEX ? HEX : BIN);
}

Result<std::vector<std::uint8_t>> bitImageFile(const SaveOptions& opt, Context& ctx) {
    if (!opt.keys.empty() || opt.keep) return badInput("--keys and --keep belong to --family graphics");
    MemorySink unused; // saving opens no port
    CNVUploadCtrl ctrl(unused);
    auto logos = ctrl.prepareUpload(opt.logos, opt.mode, opt.level);
    if (!logos) return logos.error();
    for (const EncodedLogo& logo : *logos)
        if (logo.halftoneSkipped) noteHalftoneSkipped(ctx, logo.path);
    return CNVUploadCtrl::logoFileOf(*logos, opt.format);
}

int runSave(const SaveOptions& opt, Context& ctx) {
    if (Status s = checkOutput(opt.output, opt.logos); !s) return report(ctx, s.error());
    auto bytes = opt.family == Family::Graphics ? graphicsFile(opt, ctx) : bitImageFile(opt, ctx);
    if (!bytes) return report(ctx, bytes.error());
    if (opt.output == "-") {
        ctx.out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
        ctx.out.flush();
        if (!ctx.out) return report(ctx, ioError("standard output: write failed"));
        return kExitOk;
    }
    if (Status s = writeFileAtomically(opt.output, *bytes); !s) return report(ctx, s.error());
    return kExitOk;
}

} // namespace

void setupSave(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<SaveOptions>();
    CLI::App* sub = app.add_subcommand("save", "Write the upload stream of the logos to a .bit or .txt file");
    addHalftoneOption(*sub, opt->mode);
    addBrightnessOption(*sub, opt->level);
    addFamilyOption(*sub, opt->family, false);
    addKeysOption(*sub, opt->keys, "NV graphics: the logos' keys in logo order, as upload takes them");
    sub->add_flag("--keep", opt->keep, "NV graphics: leave out the delete all, as upload --keep does");
    sub->add_option("-f,--format", opt->format,
                    "bin (default): the stream's bytes (.bit); hex: the bytes as text (.txt)")
        ->transform(oneOfWords({{"bin", BIN}, {"hex", HEX}}))
        ->option_text("bin|hex");
    sub->add_option("-o,--output", opt->output,
                    "Output file (required), exactly as named; - for standard output. A link is written "
                    "through; an existing file keeps its permissions")
        ->option_text("OUT")
        ->required();
    sub->add_option("LOGO", opt->logos, "Logo files, in the order the printer numbers them")->required();
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runSave(*opt, ctx); });
}

} // namespace tessera::cli
