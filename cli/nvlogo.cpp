#include "cli/nvlogo.h"

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/usage.h"

#include <algorithm>
#include <iterator>
#include <ostream>
#include <string_view>
#include <utility>

namespace tessera {

int runNvlogo(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool interactive) {
    cli::Context ctx{out, err, interactive};
    CLI::App app{"nvlogo: store logos in a receipt printer's NV bit-image memory, print and erase them"};
    app.name("nvlogo");
    cli::usePlainHelp(app);
    // Windows-style "/x" options would swallow absolute paths such as /logos/a.bmp.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "nvlogo " TESSERA_VERSION);
    app.require_subcommand(1);
    app.footer(cli::kExitStatusHelp);
    // Setting up a command costs its option objects and validators at every start: when the first argument
    // names a command, only that one is set up; help, --version and usage errors see them all.
    using Setup = void (*)(CLI::App&, cli::Context&);
    static constexpr std::pair<std::string_view, Setup> kCommands[] = {
        {"save", cli::setupSave},       {"info", cli::setupInfo},         {"upload", cli::setupUpload},
        {"erase", cli::setupErase},     {"print", cli::setupPrint},       {"send", cli::setupSend},
        {"preview", cli::setupPreview}, {"printers", cli::setupPrinters}, {"status", cli::setupStatus},
    };
    const std::string_view command = argc > 1 ? argv[1] : "";
    const bool named = std::any_of(std::begin(kCommands), std::end(kCommands),
                                   [&](const auto& entry) { return entry.first == command; });
    for (const auto& [name, setup] : kCommands)
        if (!named || name == command) setup(app, ctx);

    // The parser would only say that a command is required; name what was given instead.
    if (argc >= 2) {
        const std::string first = argv[1];
        const bool helpOrVersion = first == "-h" || first == "--help" || first == "--version";
        if (first.size() > 1 && first[0] == '-' && !helpOrVersion) {
            err << "nvlogo: unknown option " << first << " (options come after the command; the commands are "
                << cli::commandList(app) << ")\n";
            return kExitBadInput;
        }
        const bool known = !app.get_subcommands([&](const CLI::App* sub) { return sub->get_name() == first; }).empty();
        if (first.empty() || (first[0] != '-' && !known)) {
            err << "nvlogo: unknown command " << first << " (the commands are " << cli::commandList(app) << ")\n";
            return kExitBadInput;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        // The parser has its own exit numbers; every usage error is bad input here, and one line is enough.
        err << "nvlogo: " << cli::usageMessage(e, app) << " (see nvlogo --help)\n";
        return kExitBadInput;
    }
    return ctx.exitCode;
}

} // namespace tessera
