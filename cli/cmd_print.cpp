// nvlogo print: prints stored logos back, all of them or a range.

#include "cli/commands.h"
#include "cli/transfer.h"

#include "app/print_options.h"

#include <map>
#include <memory>

namespace tessera::cli {

namespace {

struct PrintOptions {
    std::string range = "all";
    int quality = 0;
    PortOptions ports;
};

// Bytes of the print commands for a range, as the writer will send them.
std::uint64_t printBytes(int first, int last) {
    std::uint64_t commands = 1;
    if (first == 0 && last == 0) commands = 255;
    else if (first >= 1 && last >= 1) commands = first > last ? 0 : static_cast<std::uint64_t>(last - first) + 1;
    return 4 * commands + 4;
}

int runPrint(const PrintOptions& opt, Context& ctx) {
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    const auto [first, last] = opt.range == "all" ? std::pair{0, 0} : readSelection(opt.range);
    // The dialog sends one command per number of a range; past 255 numbers the image numbers repeat, which
    // a person typing a range does not mean.
    if (first >= 1 && last >= first && static_cast<long long>(last) - first >= 255)
        return report(ctx, badInput("range " + opt.range + " spans more than 255 images"));
    TransferPlan plan;
    plan.verb = "printed " + (opt.range == "all" ? std::string("all images") : "images " + opt.range);
    plan.streamBytes = printBytes(first, last);
    plan.writer = [first = first, last = last, q = opt.quality](CNVUploadCtrl& ctrl) {
        return ctrl.printNvImages(first, last, q);
    };
    return runTransfers(ctx, *targets, plan);
}

} // namespace

void setupPrint(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<PrintOptions>();
    CLI::App* sub = app.add_subcommand("print", "Print stored logos, then cut");
    sub->add_option("--range", opt->range,
                    "all, or the numbers as the dialog's selection reads them: 3 prints image 3, 2-5 images 2 to 5")
        ->default_str("all");
    static const std::map<std::string, int> kScales = {
        {"single", 0}, {"double-wide", 1}, {"double-high", 2}, {"double", 3}};
    sub->add_option("--scale", opt->quality, "single, double-wide, double-high or double (both)")
        ->transform(CLI::CheckedTransformer(kScales, CLI::ignore_case))
        ->option_text("SCALE")
        ->default_str("single");
    addPortOption(*sub, opt->ports);
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runPrint(*opt, ctx); });
}

} // namespace tessera::cli
