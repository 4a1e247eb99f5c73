#include "cli/graphics_family.h"

#include "cli/usage.h"
#include "printer/graphics_transfer.h"

namespace tessera::cli {

CLI::Option* addFamilyOption(CLI::App& app, Family& family, bool withAuto) {
    std::vector<std::pair<std::string, long long>> words = {{"bit-image", static_cast<long long>(Family::BitImage)},
                                                            {"graphics", static_cast<long long>(Family::Graphics)}};
    if (withAuto) words.push_back({"auto", static_cast<long long>(Family::Auto)});
    return app
        .add_option("--family", family,
                    withAuto ? "The printer's command family: bit-image (default; NV bit images, FS q), graphics (NV "
                               "graphics, GS ( L, one logo per key), or auto (graphics where the printer answers the "
                               "NV graphics capacity query, bit-image where it does not)"
                             : "The printer's command family: bit-image (default; NV bit images) or graphics (NV "
                               "graphics, one logo per key)")
        ->transform(oneOfWords(std::move(words)))
        ->option_text("FAMILY");
}

CLI::Option* addKeysOption(CLI::App& app, std::string& keys, const std::string& help) {
    return app.add_option("--keys", keys, help)->option_text("K1,K2");
}

Result<std::optional<std::vector<std::string>>> parseKeyOption(const std::string& text) {
    using Keys = std::optional<std::vector<std::string>>;
    if (text.empty()) return Keys();
    auto keys = parseGraphicsKeys(text);
    if (!keys) return withContext("--keys", keys.error());
    return Keys(std::move(*keys));
}

TransferPlan graphicsUploadPlan(const std::vector<GraphicsLogo>& logos, bool keep, const std::string& verb,
                                ConfirmMode confirm) {
    std::vector<std::string> keys;
    for (const GraphicsLogo& logo : logos)
        keys.push_back(logo.key);
    const std::uint64_t need = graphicsListBytes(logos);
    TransferPlan plan;
    plan.verb = verb + " as NV graphics";
    plan.streamBytes = graphicsDefinitionBytes(logos, keep);
    plan.writer = [&logos, keep](CNVUploadCtrl& ctrl) {
        return writeGraphicsDefinitions(ctrl.dispatcher(), logos, keep) ? 1 : 0;
    };
    plan.confirm = confirm;
    plan.check = graphicsKeysCheck(std::move(keys));
    plan.family = "NV graphics";
    // A dry run judges from the status answers, as the preflight does from its own query.
    plan.capacity = [need, keep](const PrinterStatusReport& status) -> CapacityFit {
        if (!status.nvGraphics) return {std::nullopt, "NV graphics capacity unknown"};
        const std::optional<std::uint64_t> room = keep ? status.nvGraphics->free : status.nvGraphics->capacity;
        if (!room) return {std::nullopt, "NV graphics free capacity unknown"};
        const std::string bytes = std::to_string(need) + " bytes needed, " + std::to_string(*room) +
                                  (keep ? " free" : " once every key is deleted");
        return {need <= *room, (need <= *room ? "fits: " : "does not fit: ") + bytes};
    };
    // A printer that does not answer the capacity query cannot be checked, and its key list will tell.
    plan.preflight = [need, keep](PrinterConversation& c, std::chrono::milliseconds bound) -> Result<PreflightVerdict> {
        auto room = askGraphicsRoom(c, bound, keep);
        if (!room) return room.error();
        PreflightVerdict verdict;
        if (*room) verdict.refusal = graphicsRoomRefusal(need, **room, keep);
        return verdict;
    };
    return plan;
}

TransferPlan autoUploadPlan(TransferPlan bitImage, const TransferPlan& graphics) {
    bitImage.verb += " as NV bit images";
    bitImage.family = "NV bit images or NV graphics";
    bitImage.capacity = [bitImageFit = bitImage.capacity, graphicsFit = graphics.capacity](const PrinterStatusReport& s) {
        CapacityFit fit = s.nvGraphics ? graphicsFit(s) : bitImageFit(s);
        fit.why = (s.nvGraphics ? "as NV graphics, " : "as NV bit images, ") + fit.why;
        return fit;
    };
    bitImage.streamBytes = std::max(bitImage.streamBytes, graphics.streamBytes);
    bitImage.preflight = [graphics](PrinterConversation& c,
                                    std::chrono::milliseconds bound) -> Result<PreflightVerdict> {
        // The capacity query tells the families apart; with it answered the graphics preflight asks its own.
        auto capacity = askGraphicsRoom(c, bound, false);
        if (!capacity) return capacity.error();
        if (!*capacity) return PreflightVerdict{};
        auto verdict = graphics.preflight(c, bound);
        if (!verdict || !verdict->refusal.empty()) return verdict;
        return PreflightVerdict{{}, graphics.writer, graphics.check, graphics.verb};
    };
    return bitImage;
}

} // namespace tessera::cli
