// nvlogo erase: empties the printer's NV bit-image memory, or deletes its NV graphics, all or by key.

#include "cli/commands.h"
#include "cli/graphics_family.h"
#include "cli/transfer.h"

#include <memory>

namespace tessera::cli {

namespace {

struct EraseOptions {
    PortOptions ports;
    ConfirmMode confirm = ConfirmMode::Auto;
    Family family = Family::BitImage;
    std::string keys;
};

int runErase(const EraseOptions& opt, Context& ctx) {
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    auto keys = parseKeyOption(opt.keys);
    if (!keys) return report(ctx, keys.error());
    TransferPlan plan;
    plan.verb = "erased the NV images";
    plan.intent = "erase the NV images";
    plan.streamBytes = 10;
    plan.writer = [](CNVUploadCtrl& ctrl) { return ctrl.eraseNvImages(); };
    plan.confirm = opt.confirm;
    plan.ledger = LedgerEffect::Erases;
    if (opt.family == Family::BitImage) {
        if (*keys) return report(ctx, badInput("--keys belongs to --family graphics"));
        return runTransfers(ctx, *targets, plan, opt.ports.fleet);
    }
    const std::vector<std::string> deleted = keys->value_or(std::vector<std::string>{});
    plan.verb = deleted.empty() ? "deleted every NV graphics key" : "deleted NV graphics " + graphicsKeyList(deleted);
    plan.intent = deleted.empty() ? "delete every NV graphics key" : "delete NV graphics " + graphicsKeyList(deleted);
    plan.family = "NV graphics";
    plan.streamBytes = deleted.empty() ? 10 : 9 * deleted.size();
    plan.writer = [deleted](CNVUploadCtrl& ctrl) { return writeGraphicsErase(ctrl.dispatcher(), deleted) ? 1 : 0; };
    return runTransfers(ctx, *targets, plan, opt.ports.fleet);
}

} // namespace

void setupErase(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<EraseOptions>();
    CLI::App* sub = app.add_subcommand(
        "erase", "Erase every logo stored in the printer's NV memory, or (--family graphics) its NV graphics, all "
                 "of them or those of --keys");
    addFamilyOption(*sub, opt->family, false);
    addKeysOption(*sub, opt->keys, "NV graphics: delete these keys only, and nothing else (default: every key)");
    addPortOption(*sub, opt->ports);
    addConfirmOption(*sub, opt->confirm);
    addRolloutOptions(*sub, opt->ports, true);
    sub->footer(kTransferHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runErase(*opt, ctx); });
}

} // namespace tessera::cli
