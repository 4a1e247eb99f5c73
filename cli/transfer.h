#pragma once
// Runs one operation against every --port target at once: each target gets its own port object and
// controller, on its own thread; each prints its own result line.

#include "cli/common.h"
#include "cli/port_spec.h"
#include "printer/nv_upload_ctrl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessera::cli {

// Sends the operation's stream through an open controller; returns the writer's result (1 ok, 0 failed).
using StreamWriter = std::function<int(CNVUploadCtrl&)>;

struct TransferPlan {
    std::string verb;              // for the result line: "uploaded 3 logos"
    std::uint64_t streamBytes = 0; // bytes the writer sends per target, for the progress bar
    StreamWriter writer;
};

// Opens each target, runs the writer, finishes the transfer. Exit status: 0 when every target took the
// whole stream, 1 when any failed.
int runTransfers(Context& ctx, const std::vector<PortTarget>& targets, const TransferPlan& plan);

// Adds --port (repeatable, required), --baud and --flow; parsePortSpecs turns them into targets when the
// command runs.
CLI::Option* addPortOption(CLI::App& app, PortOptions& options);
Result<std::vector<PortTarget>> parsePortSpecs(const PortOptions& options);

} // namespace tessera::cli
