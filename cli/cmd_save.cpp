// nvlogo save: the upload stream of a list of logos, stored as a `.bit` or `.txt` file.

#include "cli/commands.h"

#include "printer/nv_upload_ctrl.h"

#include <map>
#include <memory>
#include <ostream>

namespace tessera::cli {

namespace {

struct SaveOptions {
    int mode = Threshold;
    int level = 5;
    int format = BIN;
    std::string output;
    std::vector<std::string> logos;
};

int runSave(const SaveOptions& opt, Context& ctx) {
    MemorySink unused; // saving opens no port
    CNVUploadCtrl ctrl(unused);
    if (opt.output == "-") {
        auto bytes = ctrl.buildLogoFile(opt.logos, opt.mode, opt.level, opt.format);
        if (!bytes) return report(ctx, bytes.error());
        ctx.out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
        ctx.out.flush();
        if (!ctx.out) return report(ctx, ioError("standard output: write failed"));
        return kExitOk;
    }
    if (ctrl.saveLogoFile(opt.output, opt.logos, opt.mode, opt.level, opt.format) != CNVUploadCtrl::kSaveWritten)
        return report(ctx, ctrl.lastError());
    return kExitOk;
}

} // namespace

void setupSave(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<SaveOptions>();
    CLI::App* sub = app.add_subcommand("save", "Write the upload stream of the logos to a .bit or .txt file");
    addHalftoneOption(*sub, opt->mode);
    addBrightnessOption(*sub, opt->level);
    static const std::map<std::string, int> kFormats = {{"bin", BIN}, {"hex", HEX}};
    sub->add_option("-f,--format", opt->format, "bin: the stream's bytes (.bit); hex: the bytes as text (.txt)")
        ->transform(CLI::CheckedTransformer(kFormats, CLI::ignore_case))
        ->option_text("bin|hex")
        ->default_str("bin");
    sub->add_option("-o,--output", opt->output, "Output file, exactly as named; - for standard output")->required();
    sub->add_option("logos", opt->logos, "Logo files, in the order the printer numbers them")->required();
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runSave(*opt, ctx); });
}

} // namespace tessera::cli
