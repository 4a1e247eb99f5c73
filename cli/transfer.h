#pragma once
// Runs one operation against every --port target at once: each target gets its own port object and
// controller, on its own thread; each prints its own result line.

#include "cli/common.h"
#include "cli/port_spec.h"
#include "port/port_settings.h"
#include "printer/confirmed_transfer.h"
#include "printer/nv_upload_ctrl.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessera::cli {

class ProgressMeter;

// The port objects of one --port target and the settings that open them through a controller: each target
// has its own, so that targets run at once, each on its own thread. Reads, drains and failures reach the
// controller's dispatcher through them.
class TargetPorts {
  public:
    // meter, when given, counts what the ports take for the progress bar.
    explicit TargetPorts(const PortTarget& target, ProgressMeter* meter = nullptr);
    ~TargetPorts();
    TargetPorts(const TargetPorts&) = delete;
    TargetPorts& operator=(const TargetPorts&) = delete;

    // Looks up a network printer's host name; an Io error names the host.
    Status resolve();
    // Nothing but the caller's own bytes reach the printer: the USB printer lets the device go without its
    // last byte 00 (a status query).
    void omitTrailingBytes();
    const PortSet& ports() const;
    // What runTransfer, or openPort, opens (after resolve()).
    const PortSettings& settings() const;
    // The port's own account of its last failure, naming the call ("connect: Connection refused"); empty
    // when it has none.
    std::string portError() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Sends the operation's stream through an open controller; returns the writer's result (1 ok, 0 failed).
using StreamWriter = std::function<int(CNVUploadCtrl&)>;

struct TransferPlan {
    std::string verb;              // for the result line: "uploaded 3 logos"
    std::uint64_t streamBytes = 0; // bytes the writer sends per target, for the progress bar
    StreamWriter writer;
    ConfirmMode confirm = ConfirmMode::Auto;
    bool checkPaper = false; // a printout: nothing is sent when the paper is at its end or the cover open
    // The family's own confirmation, preflight and need of answers (see ConfirmOptions); empty: none.
    StreamCheck check;
    Preflight preflight;
    std::string needsAnswers;
};

// One target's whole transfer: its ports, the confirmation steps of plan.confirm, the writer. The report
// names no port; resultLine adds it.
TransferReport transferTo(const PortTarget& target, const TransferPlan& plan, ProgressMeter* meter = nullptr);

// "PORT: uploaded 3 logos, 15692 bytes, confirmed" (PORT as the user typed it, the bytes those of the
// stream), "…, not confirmed: why", or "PORT: what failed".
std::string resultLine(const PortTarget& target, const TransferPlan& plan, const TransferReport& report);

// Runs every target at once, each on its own thread, and prints each result line as it comes: stdout for a
// transfer that went through, stderr for one that failed. Exit status: 0 when none failed, 1 when any did.
int runTransfers(Context& ctx, const std::vector<PortTarget>& targets, const TransferPlan& plan);

// Adds --confirm auto|required|off.
CLI::Option* addConfirmOption(CLI::App& app, ConfirmMode& mode);

// Adds --port (repeatable, required), --baud and --flow; parsePortSpecs turns them into targets when the
// command runs.
CLI::Option* addPortOption(CLI::App& app, PortOptions& options);
Result<std::vector<PortTarget>> parsePortSpecs(const PortOptions& options);

} // namespace tessera::cli
