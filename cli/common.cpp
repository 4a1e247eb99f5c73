#include "cli/common.h"

#include "base/file_io.h"
#include "cli/usage.h"
#include "printer/nv_image_encoder.h"

#include <ostream>

namespace tessera::cli {

int report(Context& ctx, const Error& error) {
    ctx.err << "nvlogo: " << error.message << '\n';
    return error.kind == ErrorKind::BadInput ? kExitBadInput : kExitFailure;
}

void noteHalftoneSkipped(Context& ctx, const std::string& path) {
    ctx.err << "nvlogo: " << path << ": half-toning not used: the bottom-left pixel is white\n";
}

Status checkOutput(const std::string& output, const std::vector<std::string>& inputs) {
    if (output.empty()) return badInput("-o needs a file name (or - for standard output)");
    for (const std::string& input : inputs)
        if (output != "-" && sameFile(output, input))
            return badInput(output + ": the output would overwrite the input " + input + "; choose another name");
    return {};
}

CLI::Option* addHalftoneOption(CLI::App& app, int& mode) {
    return app
        .add_option("-H,--halftone", mode,
                    "Half-toning: threshold (default), error-diffusion or indexed-order; not used for a logo whose "
                    "bottom-left pixel is white")
        ->transform(oneOfWords(
            {{"threshold", Threshold}, {"error-diffusion", ErrorDiffusion}, {"indexed-order", IndexedOrder}}))
        ->option_text("MODE");
}

CLI::Option* addBrightnessOption(CLI::App& app, int& level) {
    return app.add_option("-b,--brightness", level, "Brightness level 0 (light) .. 10 (dark), default 5")
        ->check(integerIn(0, kBrightnessLevels - 1))
        ->option_text("LEVEL");
}

} // namespace tessera::cli
