// nvlogo erase: empties the printer's NV bit-image memory.

#include "cli/commands.h"
#include "cli/transfer.h"

#include <memory>

namespace tessera::cli {

namespace {

struct EraseOptions {
    PortOptions ports;
    ConfirmMode confirm = ConfirmMode::Auto;
};

} // namespace

void setupErase(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<EraseOptions>();
    CLI::App* sub = app.add_subcommand("erase", "Erase every logo stored in the printer's NV memory");
    addPortOption(*sub, opt->ports);
    addConfirmOption(*sub, opt->confirm);
    addRolloutOptions(*sub, opt->ports, true);
    sub->footer(kTransferHelp);
    sub->callback([opt, &ctx] {
        auto targets = parsePortSpecs(opt->ports);
        if (!targets) {
            ctx.exitCode = report(ctx, targets.error());
            return;
        }
        TransferPlan plan;
        plan.verb = "erased the NV images";
        plan.intent = "erase the NV images";
        plan.streamBytes = 10;
        plan.writer = [](CNVUploadCtrl& ctrl) { return ctrl.eraseNvImages(); };
        plan.confirm = opt->confirm;
        plan.ledger = LedgerEffect::Erases;
        ctx.exitCode = runTransfers(ctx, *targets, plan, opt->ports.fleet);
    });
}

} // namespace tessera::cli
