#pragma once
// Runs one operation over a fleet of printers: a bounded number at once, retries with growing waits for
// printers that could not be reached, a JSON Lines report, one progress line, a summary, and Ctrl-C as "start
// no more printers".

#include "cli/common.h"
#include "cli/fleet_report.h"
#include "cli/fleet_system.h"
#include "cli/port_spec.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessera::cli {

class ProgressMeter;

// What one attempt at one printer came to.
struct FleetOutcome {
    FleetRecord record;  // the runner fills in milliseconds and attempts
    std::string line;    // the result line, naming the port; empty: none
    bool failed = false; // a failed printer: exit status 1
    bool retry = false;  // another attempt may succeed, and repeats nothing that must not happen twice
};

struct FleetJob {
    std::function<FleetOutcome(const PortTarget&, ProgressMeter*)> attempt;
    // Before a printer's first attempt, an outcome that stands instead of any (a printer already up to date).
    std::function<std::optional<FleetOutcome>(const PortTarget&)> before;
    // After a printer's last attempt, on the thread that ran it.
    std::function<void(const PortTarget&, const FleetOutcome&)> after;
    std::uint64_t streamBytes = 0; // per printer, for the byte bar shown when there is only one
};

// Printers that may run at once: jobs (0: all of them), and no more than openFiles allows with some kept
// for the process itself; at least one.
std::size_t fleetWidth(std::size_t printers, unsigned jobs, std::size_t openFiles);

// "20 printers: 17 confirmed, 3 failed": the outcomes that occurred, in a fixed order.
std::string fleetSummary(const std::vector<FleetOutcome>& outcomes);

// Runs job over every target, at most fleetWidth at once, each in its own thread. A printer whose attempt
// asks for a retry is tried again up to options.retries times, after options.retryWait seconds, doubled for
// each further retry. Result lines go to ctx.out (ctx.err for failures, "nvlogo: " first; both to ctx.err
// when the report goes to standard output), one report line per printer as it finishes. After Ctrl-C no
// printer starts, nor retries; those left are "interrupted". With more than one printer a summary line ends
// the output on ctx.err. Exit status: 130 after Ctrl-C, else 1 when any printer failed or the report could
// not be written, else 0. report: the open report, or null. outcomes, when given, receives every
// printer's outcome in the order of targets.
int runFleet(Context& ctx, const std::vector<PortTarget>& targets, const FleetOptions& options, const FleetJob& job,
             FleetSystem& system, FleetReportFile* report, std::vector<FleetOutcome>* outcomes = nullptr);

} // namespace tessera::cli
