// nvlogo printers: the installed printers that the printer-driver path takes, as the dialog lists them.

#include "cli/commands.h"

#include "app/printer_models.h"
#include "port/system_spooler.h"

#include <memory>
#include <ostream>

namespace tessera::cli {

namespace {

struct PrintersOptions {
    bool all = false;
};

int runPrinters(const PrintersOptions& opt, Context& ctx) {
    if (const std::string missing = spoolerUnavailable(); !missing.empty()) return report(ctx, ioError(missing));
    std::vector<InstalledPrinter> installed;
    for (const SpoolerPrinter& p : listSpoolerPrinters())
        installed.push_back({p.name, p.driverName});
    if (installed.empty()) {
        ctx.err << "nvlogo: no installed printer (is the print spooler running?)\n";
        return kExitFailure;
    }
    int shown = 0;
    for (const InstalledPrinter& p : installed) {
        const auto matched = matchPrinters({p});
        if (!opt.all && matched.empty()) continue;
        ctx.out << p.name << "\t" << (p.driverName.empty() ? "(no model)" : p.driverName) << '\n';
        ++shown;
    }
    if (shown == 0)
        ctx.err << "nvlogo: none of the " << installed.size()
                << " installed printers is of a supported model (--all lists them; driver:NAME uses any raw queue)\n";
    return kExitOk;
}

} // namespace

void setupPrinters(CLI::App& app, Context& ctx) {
    auto opt = std::make_shared<PrintersOptions>();
    CLI::App* sub = app.add_subcommand("printers", "List the installed printers of the supported models, with the model");
    sub->add_flag("--all", opt->all, "List every installed printer");
    sub->footer(kExitStatusHelp);
    sub->callback([opt, &ctx] { ctx.exitCode = runPrinters(*opt, ctx); });
}

} // namespace tessera::cli
