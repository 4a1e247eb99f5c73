#pragma once
// Pieces shared by the nvlogo subcommands.

#include "base/result.h"
#include "cli/nvlogo.h"

#include <CLI/CLI.hpp>

#include <iosfwd>
#include <string>
#include <vector>

namespace tessera::cli {

struct Context {
    std::ostream& out;
    std::ostream& err;
    bool interactive = false; // stderr is a terminal: show progress bars
    int exitCode = kExitOk;
};

// The exit statuses, for the help text of the tool and of each command.
inline constexpr const char* kExitStatusHelp =
    "Exit status: 0 success; 1 the printer cannot be reached, a transfer failed (the printer offline, reporting an\n"
    "error, or silent after answering) or a file write failed;\n"
    "2 bad input (usage, values out of range, logos that cannot be read or encoded).";

// What the transfer commands' result lines mean, and their exit statuses.
inline constexpr const char* kTransferHelp =
    "Each printer gets one line: \"PORT: uploaded 3 logos, 15689 bytes, confirmed\" when the printer said it\n"
    "processed every byte (GS r 1 answered within 5 s plus 1 s per 10 KB of the stream), \"..., not confirmed:\n"
    "why\" when it cannot answer (exit 0 unless --confirm required), or \"PORT: what failed\" on stderr: offline\n"
    "(nothing is sent), paper at its end or cover open (print sends nothing), an error the printer reports, or\n"
    "a printer that stopped answering. For NV bit images confirmed means processed, not proven stored.\n"
    "Several printers (--port repeated, --ports-from) run at once, at most --jobs of them, and end with a\n"
    "summary line on stderr (\"20 printers: 16 confirmed, 4 failed\"); --report writes one JSON object per\n"
    "printer: port, name, result, bytes, milliseconds, attempts, error, status. Ctrl-C starts no more printers;\n"
    "those not started are \"interrupted\".\n"
    "Exit status: 0 every printer took the whole transfer; 1 one could not be reached, refused or failed it, or\n"
    "answers but did not confirm it; 2 bad input (usage, values out of range, files that cannot be used, a bad\n"
    "inventory or ledger, a ledger in use), found before anything is sent; 130 stopped by Ctrl-C.";

// Prints "nvlogo: message" on one line and gives the exit status for the error's kind.
int report(Context& ctx, const Error& error);

// Tells, once per logo, that a logo drawn on white was thresholded whatever -H and -b said.
void noteHalftoneSkipped(Context& ctx, const std::string& path);

// An -o value: not empty, and not one of the input files (also through links), which the write would
// replace. BadInput naming both.
Status checkOutput(const std::string& output, const std::vector<std::string>& inputs);

// -H/--halftone threshold|error-diffusion|indexed-order, stored as the HalftoneMode number.
CLI::Option* addHalftoneOption(CLI::App& app, int& mode);
// -b/--brightness 0..10.
CLI::Option* addBrightnessOption(CLI::App& app, int& level);

} // namespace tessera::cli
