// nvlogo upload: every logo into the printer's NV memory, in one definition.

#include "cli/commands.h"
#include "cli/transfer.h"
#include "cli/usage.h"

#include "base/sha256.h"

#include <memory>

namespace tessera::cli {

namespace {

struct UploadOptions {
    int mode = Threshold;
    int level = 5;
    std::uint64_t capacity = 0; // 0: not checked
    PortOptions ports;
    ConfirmMode confirm = ConfirmMode::Auto;
    std::vector<std::string> logos;
};

int runUpload(const UploadOptions& opt, Context& ctx) {
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    // Every logo is encoded, and the list checked, before any printer is contacted.
    MemorySink unused;
    CNVUploadCtrl encoder(unused);
    auto logos = encoder.prepareUpload(opt.logos, opt.mode, opt.level);
    if (!logos) return report(ctx, logos.error());
    for (const EncodedLogo& logo : *logos)
        if (logo.halftoneSkipped) noteHalftoneSkipped(ctx, logo.path);
    std::uint64_t nvBytes = 0, streamBytes = 5;
    for (const EncodedLogo& l : *logos) {
        nvBytes += l.nvBytes();
        streamBytes += 4 + l.raster.size();
    }
    if (opt.capacity && nvBytes > opt.capacity)
        return report(ctx, badInput("the logos need " + std::to_string(nvBytes) + " bytes of NV memory, more than the " +
                                    std::to_string(opt.capacity) + " given by --capacity"));
    TransferPlan plan;
    plan.verb = "uploaded " + std::to_string(logos->size()) + (logos->size() == 1 ? " logo" : " logos");
    plan.intent = plan.verb.substr(0, 6) + plan.verb.substr(8);
    plan.capacity = bitImageCapacityUnknown;
    plan.ledger = LedgerEffect::Stores;
    if (!opt.ports.fleet.ledger.empty()) {
        // The ledger names the stream by the bytes save would write for it, which are the bytes sent.
        auto stream = CNVUploadCtrl::logoFileOf(*logos, BIN);
        if (!stream) return report(ctx, stream.error());
        plan.sha256 = sha256Hex(*stream);
    }
    plan.streamBytes = streamBytes;
    plan.writer = [&](CNVUploadCtrl& ctrl) { return ctrl.sendLogos(*logos); };
    plan.confirm = opt.confirm;
    return runTransfers(ctx, *targets, plan, opt.ports.fleet);
}

} // namespace

void setupUpload(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<UploadOptions>();
    CLI::App* sub = app.add_subcommand("upload", "Store the logos in the printer's NV memory, replacing what it held");
    addHalftoneOption(*sub, opt->mode);
    addBrightnessOption(*sub, opt->level);
    addPortOption(*sub, opt->ports);
    addConfirmOption(*sub, opt->confirm);
    addRolloutOptions(*sub, opt->ports, true);
    sub->add_option("--capacity", opt->capacity,
                    "Refuse the list, before sending, when its NV size (each image its data plus 4 bytes) "
                    "exceeds BYTES (not checked unless given)")
        ->check(integerIn(1, 1LL << 40))
        ->option_text("BYTES");
    sub->add_option("LOGO", opt->logos, "Logo files, in the order the printer numbers them")->required();
    sub->footer(kTransferHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runUpload(*opt, ctx); });
}

} // namespace tessera::cli
