// nvlogo send: a stored .bit file to the printer unchanged, or the bytes a .txt file spells, once they have
// been checked to be a whole stream of a kind that save writes.

#include "cli/commands.h"
#include "cli/transfer.h"

#include "base/file_io.h"
#include "base/sha256.h"
#include "printer/graphics_transfer.h"
#include "printer/stream_check.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace tessera::cli {

namespace {

struct SendOptions {
    std::string file;
    bool raw = false;
    PortOptions ports;
    ConfirmMode confirm = ConfirmMode::Auto;
};

bool hasTxtExtension(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".txt";
}

int runSend(const SendOptions& opt, Context& ctx) {
    auto targets = parsePortSpecs(opt.ports);
    if (!targets) return report(ctx, targets.error());
    // Read (and for text, decode) the whole file before any printer is contacted.
    auto bytes = readWholeFileExclusive(opt.file, CNVUploadCtrl::kMaxDownloadBytes);
    if (!bytes) {
        Error e = bytes.error();
        e.kind = ErrorKind::BadInput;
        return report(ctx, e);
    }
    std::vector<std::uint8_t> stream = std::move(*bytes);
    const bool text = hasTxtExtension(opt.file);
    if (!opt.raw && text) {
        auto decoded = parseHexText(stream);
        if (!decoded)
            return report(ctx, badInput(opt.file + ": not a text file of the save format (" +
                                        decoded.error().message + "); --raw sends it unchanged"));
        stream = std::move(*decoded);
    }
    // A file of another kind would reach the printer as commands it was never meant to be.
    TransferPlan plan;
    if (!opt.raw) {
        auto whole = checkSavedStream(stream);
        if (!whole)
            return report(ctx, badInput(opt.file + (text ? ": the bytes it spells are" : ":") +
                                        " not a stream that save writes, " + whole.error().message +
                                        "; --raw sends it unchanged"));
        // NV graphics can be asked for what they hold: the key list confirms the defines.
        if (whole->family == StreamFamily::Graphics) {
            std::vector<std::string> keys;
            for (const GraphicsDefine& d : whole->defines)
                keys.push_back(d.key);
            plan.check = graphicsKeysCheck(std::move(keys));
            plan.family = "NV graphics";
        }
    }
    plan.verb = "sent " + opt.file;
    plan.intent = "send " + opt.file;
    if (plan.family != "NV graphics") plan.capacity = bitImageCapacityUnknown;
    plan.ledger = LedgerEffect::Stores;
    if (!opt.ports.fleet.ledger.empty()) plan.sha256 = sha256Hex(stream);
    plan.streamBytes = stream.size();
    plan.writer = [&](CNVUploadCtrl& ctrl) { return ctrl.SendBytes(stream.data(), stream.size()); };
    plan.confirm = opt.confirm;
    return runTransfers(ctx, *targets, plan, opt.ports.fleet);
}

} // namespace

void setupSend(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<SendOptions>();
    CLI::App* sub = app.add_subcommand(
        "send", "Send a file that save wrote (.bit: its bytes; .txt: the bytes it spells), checked to be one whole "
                "upload stream; the transfer ends with 1D 61 00 like every command sent to a port");
    sub->add_flag("--raw", opt->raw,
                  "Send the file's bytes unchanged and unchecked, whatever it holds (also a .txt file)");
    addPortOption(*sub, opt->ports);
    addConfirmOption(*sub, opt->confirm);
    addRolloutOptions(*sub, opt->ports, true);
    sub->add_option("FILE", opt->file, "The file to send")->required();
    sub->footer(kTransferHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runSend(*opt, ctx); });
}

} // namespace tessera::cli
