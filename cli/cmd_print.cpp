// nvlogo print: prints stored logos back, all of them or a list, then cuts.

#include "cli/commands.h"
#include "cli/print_range.h"
#include "cli/transfer.h"
#include "cli/usage.h"

#include <memory>

namespace tessera::cli {

namespace {

struct PrintOptions {
    std::string range = "all";
    int quality = 0;
    PortOptions ports;
    ConfirmMode confirm = ConfirmMode::Auto;
};

int runPrint(const PrintOptions& opt, Context& ctx) {
    auto images = parsePrintRange(opt.range);
    if (!images) return report(ctx, images.error());
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    TransferPlan plan;
    plan.verb = "printed " + (opt.range == "all" ? std::string("all images") : "images " + opt.range);
    plan.intent = "print " + plan.verb.substr(8);
    plan.streamBytes = 4 * images->size() + 4;
    plan.writer = [images = *images, q = opt.quality](CNVUploadCtrl& ctrl) { return ctrl.printNvImageList(images, q); };
    plan.confirm = opt.confirm;
    plan.checkPaper = true;
    return runTransfers(ctx, *targets, plan, opt.ports.fleet);
}

} // namespace

void setupPrint(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<PrintOptions>();
    CLI::App* sub = app.add_subcommand("print", "Print stored logos, then cut");
    sub->add_option("--range", opt->range,
                    "all (default: images 1 to 255), or image numbers 1..255 and ranges A-B separated by commas, "
                    "printed in that order: 3 prints image 3, 1,3,5-7 images 1, 3, 5, 6 and 7")
        ->option_text("all|LIST");
    sub->add_option("--scale", opt->quality, "single (default), double-wide, double-high or double (both)")
        ->transform(oneOfWords({{"single", 0}, {"double-wide", 1}, {"double-high", 2}, {"double", 3}}))
        ->option_text("SCALE");
    addPortOption(*sub, opt->ports);
    addConfirmOption(*sub, opt->confirm);
    addRolloutOptions(*sub, opt->ports, false);
    sub->footer(kTransferHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runPrint(*opt, ctx); });
}

} // namespace tessera::cli
