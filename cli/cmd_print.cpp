// nvlogo print: prints stored logos back, all of them or a list, then cuts.

#include "cli/commands.h"
#include "cli/graphics_family.h"
#include "cli/print_range.h"
#include "cli/transfer.h"
#include "cli/usage.h"

#include "printer/printer_status.h"

#include <memory>

namespace tessera::cli {

namespace {

struct PrintOptions {
    std::string range = "all";
    int quality = 0;
    PortOptions ports;
    ConfirmMode confirm = ConfirmMode::Auto;
    Family family = Family::BitImage;
    std::string keys;
    bool rangeGiven = false;
};

constexpr const char* kNeedsKeys = "nothing printed: the printer does not give its NV graphics key list; name the "
                                   "keys with --keys";

// Writes the graphics printout of the keys.
StreamWriter graphicsPrints(std::vector<std::string> keys, int scale) {
    return [keys = std::move(keys), scale](CNVUploadCtrl& ctrl) {
        return writeGraphicsPrints(ctrl.dispatcher(), keys, scale) ? 1 : 0;
    };
}

int runGraphicsPrint(const PrintOptions& opt, Context& ctx, const std::vector<PortTarget>& targets) {
    if (opt.rangeGiven) return report(ctx, badInput("--range numbers NV bit images; NV graphics are named by --keys"));
    auto keys = parseKeyOption(opt.keys);
    if (!keys) return report(ctx, keys.error());
    TransferPlan plan;
    plan.confirm = opt.confirm;
    plan.checkPaper = true;
    plan.family = "NV graphics";
    if (*keys) {
        plan.verb = "printed NV graphics " + graphicsKeyList(**keys);
        plan.intent = "print NV graphics " + graphicsKeyList(**keys);
        plan.streamBytes = 11 * (*keys)->size() + 4;
        plan.writer = graphicsPrints(**keys, opt.quality);
        return runTransfers(ctx, targets, plan, opt.ports.fleet);
    }
    if (opt.confirm == ConfirmMode::Off)
        return report(ctx, badInput("--confirm off asks the printer nothing: name the keys to print with --keys"));
    // Every key of the printer's own list, in its order.
    plan.verb = "printed every NV graphics key";
    plan.intent = "print every NV graphics key";
    plan.streamBytes = 4;
    plan.needsAnswers = kNeedsKeys;
    plan.preflight = [scale = opt.quality](PrinterConversation& c,
                                           std::chrono::milliseconds bound) -> Result<PreflightVerdict> {
        auto listed = readGraphicsKeys(c, bound);
        if (!listed) return listed.error();
        PreflightVerdict verdict;
        if (!*listed)
            verdict.refusal = kNeedsKeys;
        else if ((*listed)->empty())
            verdict.refusal = "nothing printed: the printer holds no NV graphics";
        else
            verdict.writer = graphicsPrints(**listed, scale);
        return verdict;
    };
    return runTransfers(ctx, targets, plan, opt.ports.fleet);
}

int runPrint(const PrintOptions& opt, Context& ctx) {
    if (opt.family == Family::Graphics) {
        auto targets = parsePortSpecs(opt.ports);
        if (!targets) return report(ctx, targets.error());
        return runGraphicsPrint(opt, ctx, *targets);
    }
    if (!opt.keys.empty()) return report(ctx, badInput("--keys belongs to --family graphics"));
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
    addFamilyOption(*sub, opt->family, false);
    addKeysOption(*sub, opt->keys,
                  "NV graphics: the keys to print, in this order (default: every key the printer lists, in its "
                  "order)");
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
    sub->callback([opt, sub, &ctx] {
        opt->rangeGiven = sub->get_option("--range")->count() > 0;
        ctx.exitCode = runPrint(*opt, ctx);
    });
}

} // namespace tessera::cli
