// nvlogo upload: every logo into the printer's NV memory, in one definition.

#include "cli/commands.h"
#include "cli/graphics_family.h"
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
    Family family = Family::BitImage;
    std::string keys;
    bool keep = false;
    std::vector<std::string> logos;
};

Status checkCapacity(std::uint64_t need, std::uint64_t capacity, const char* memory) {
    if (!capacity || need <= capacity) return {};
    return badInput("the logos need " + std::to_string(need) + " bytes of " + memory + ", more than the " +
                    std::to_string(capacity) + " given by --capacity");
}

int runUpload(const UploadOptions& opt, Context& ctx) {
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    auto givenKeys = parseKeyOption(opt.keys);
    if (!givenKeys) return report(ctx, givenKeys.error());
    const bool bitImage = opt.family != Family::Graphics, graphics = opt.family != Family::BitImage;
    if (!graphics && (*givenKeys || opt.keep))
        return report(ctx, badInput("--keys and --keep belong to --family graphics or auto"));
    if (opt.family == Family::Auto && opt.confirm == ConfirmMode::Off)
        return report(ctx, badInput("--family auto asks the printer which family it has: it cannot be used with "
                                    "--confirm off"));
    // Every logo is encoded, and the list checked, before any printer is contacted.
    MemorySink unused;
    CNVUploadCtrl encoder(unused);
    std::vector<EncodedLogo> logos;
    std::vector<GraphicsLogo> graphicsLogos;
    if (bitImage) {
        auto encoded = encoder.prepareUpload(opt.logos, opt.mode, opt.level);
        if (!encoded) return report(ctx, encoded.error());
        logos = std::move(*encoded);
    }
    if (graphics) {
        auto keys = keysForLogos(opt.logos.size(), givenKeys->value_or(std::vector<std::string>{}));
        if (!keys) return report(ctx, keys.error());
        NvImageEncoder graphicsEncoder;
        auto encoded = encodeGraphicsLogos(graphicsEncoder, opt.logos, *keys, opt.mode, opt.level);
        if (!encoded) return report(ctx, encoded.error());
        graphicsLogos = std::move(*encoded);
    }
    for (std::size_t i = 0; i < opt.logos.size(); ++i)
        if (bitImage ? logos[i].halftoneSkipped : graphicsLogos[i].halftoneSkipped)
            noteHalftoneSkipped(ctx, opt.logos[i]);
    std::uint64_t nvBytes = 0, streamBytes = 5;
    for (const EncodedLogo& l : logos) {
        nvBytes += l.nvBytes();
        streamBytes += 4 + l.raster.size();
    }
    if (bitImage)
        if (Status s = checkCapacity(nvBytes, opt.capacity, "NV memory"); !s) return report(ctx, s.error());
    if (graphics)
        if (Status s = checkCapacity(graphicsListBytes(graphicsLogos), opt.capacity, "NV graphics memory"); !s)
            return report(ctx, s.error());
    const std::string verb =
        "uploaded " + std::to_string(opt.logos.size()) + (opt.logos.size() == 1 ? " logo" : " logos");
    TransferPlan plan;
    plan.verb = verb;
    plan.intent = "upload " + verb.substr(9);
    plan.capacity = bitImageCapacityUnknown;
    plan.ledger = LedgerEffect::Stores;
    if (!opt.ports.fleet.ledger.empty() && bitImage) {
        // The ledger names the stream by the bytes save would write for it, which are the bytes sent.
        auto stream = CNVUploadCtrl::logoFileOf(logos, BIN);
        if (!stream) return report(ctx, stream.error());
        plan.sha256 = sha256Hex(*stream);
    }
    plan.streamBytes = streamBytes;
    plan.writer = [&](CNVUploadCtrl& ctrl) { return ctrl.sendLogos(logos); };
    plan.confirm = opt.confirm;
    if (opt.family == Family::BitImage) return runTransfers(ctx, *targets, plan, opt.ports.fleet);
    TransferPlan graphicsPlan = graphicsUploadPlan(graphicsLogos, opt.keep, verb, opt.confirm);
    graphicsPlan.intent = plan.intent + " as NV graphics";
    graphicsPlan.ledger = LedgerEffect::Stores;
    if (!opt.ports.fleet.ledger.empty()) {
        MemorySink stream;
        if (Status s = writeGraphicsDefinitions(stream, graphicsLogos, opt.keep); !s) return report(ctx, s.error());
        graphicsPlan.sha256 = sha256Hex(stream.bytes);
    }
    if (opt.family == Family::Graphics) return runTransfers(ctx, *targets, graphicsPlan, opt.ports.fleet);
    // The family is the printer's choice, so the ledger can only recognise the same command run again: it records
    // the bit-image stream's digest whichever family a printer took.
    return runTransfers(ctx, *targets, autoUploadPlan(std::move(plan), graphicsPlan), opt.ports.fleet);
}

} // namespace

void setupUpload(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<UploadOptions>();
    CLI::App* sub = app.add_subcommand("upload", "Store the logos in the printer's NV memory, replacing what it held");
    addHalftoneOption(*sub, opt->mode);
    addBrightnessOption(*sub, opt->level);
    addPortOption(*sub, opt->ports);
    addConfirmOption(*sub, opt->confirm);
    addFamilyOption(*sub, opt->family, true);
    addKeysOption(*sub, opt->keys,
                  "NV graphics: the logos' keys in logo order, one per logo (default 01, 02, ... 99); a key is "
                  "two characters (A1), or x and four hexadecimal digits for one holding a space or a comma (x2C41)");
    sub->add_flag("--keep", opt->keep,
                  "NV graphics: keep the printer's other keys (no delete all; a logo replaces its own key)");
    addRolloutOptions(*sub, opt->ports, true);
    sub->add_option("--capacity", opt->capacity,
                    "Refuse the list, before sending, when its NV size exceeds BYTES (not checked unless given): "
                    "NV bit images count each image's data plus 4 bytes, NV graphics each logo's data plus 16")
        ->check(integerIn(1, 1LL << 40))
        ->option_text("BYTES");
    sub->add_option("LOGO", opt->logos, "Logo files, in the order the printer numbers them")->required();
    sub->footer(std::string(kTransferHelp) + "\n" + kGraphicsUploadHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runUpload(*opt, ctx); });
}

} // namespace tessera::cli
