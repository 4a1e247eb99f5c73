#include "cli/common.h"

#include "printer/nv_image_encoder.h"

#include <map>
#include <ostream>

namespace tessera::cli {

int report(Context& ctx, const Error& error) {
    ctx.err << "nvlogo: " << error.message << '\n';
    return error.kind == ErrorKind::BadInput ? kExitBadInput : kExitFailure;
}

CLI::Option* addHalftoneOption(CLI::App& app, int& mode) {
    static const std::map<std::string, int> kModes = {
        {"threshold", Threshold}, {"error-diffusion", ErrorDiffusion}, {"indexed-order", IndexedOrder}};
    return app.add_option("-H,--halftone", mode, "Half-toning: threshold, error-diffusion or indexed-order")
        ->transform(CLI::CheckedTransformer(kModes, CLI::ignore_case))
        ->option_text("MODE")
        ->default_str("threshold");
}

CLI::Option* addBrightnessOption(CLI::App& app, int& level) {
    return app.add_option("-b,--brightness", level, "Brightness level 0 (light) .. 10 (dark)")
        ->check(CLI::Range(0, kBrightnessLevels - 1))
        ->option_text("LEVEL")
        ->default_str("5");
}

} // namespace tessera::cli
