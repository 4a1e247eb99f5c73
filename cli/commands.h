#pragma once
// Each subcommand adds itself to the app; its callback runs it and leaves the exit status in the context.

#include "cli/common.h"

namespace tessera::cli {

void setupSave(CLI::App& app, Context& ctx);
void setupInfo(CLI::App& app, Context& ctx);
void setupUpload(CLI::App& app, Context& ctx);
void setupErase(CLI::App& app, Context& ctx);
void setupPrint(CLI::App& app, Context& ctx);
void setupSend(CLI::App& app, Context& ctx);
void setupPreview(CLI::App& app, Context& ctx);
void setupPrinters(CLI::App& app, Context& ctx);
void setupStatus(CLI::App& app, Context& ctx);

} // namespace tessera::cli
