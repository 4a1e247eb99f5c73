// nvlogo erase: empties the printer's NV bit-image memory.

#include "cli/commands.h"
#include "cli/transfer.h"

#include <memory>

namespace tessera::cli {

void setupErase(CLI::App& app, Context& ctx) {
    auto ports = std::make_shared<PortOptions>();
    CLI::App* sub = app.add_subcommand("erase", "Erase every logo stored in the printer's NV memory");
    addPortOption(*sub, *ports);
    sub->footer(kExitStatusHelp);
    sub->callback([ports, &ctx] {
        auto targets = parsePortSpecs(*ports);
        if (!targets) {
            ctx.exitCode = report(ctx, targets.error());
            return;
        }
        TransferPlan plan{"erased the NV images", 10, [](CNVUploadCtrl& ctrl) { return ctrl.eraseNvImages(); }};
        ctx.exitCode = runTransfers(ctx, *targets, plan);
    });
}

} // namespace tessera::cli
