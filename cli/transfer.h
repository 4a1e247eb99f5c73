#pragma once
// Runs one operation against every printer of --port and --ports-from through the fleet runner: each target
// gets its own port object and controller, on its own thread; each prints its own result line. Also the dry
// run (status requests only) and the ledger of what each printer last confirmed.

#include "cli/common.h"
#include "cli/port_spec.h"
#include "port/port_settings.h"
#include "printer/confirmed_transfer.h"
#include "printer/nv_upload_ctrl.h"
#include "printer/printer_status.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

// Whether a stream fits the memory a printer reports: fits null when the status does not tell; why says so
// in words for the result line ("fits: 262144 bytes free", "capacity unknown").
struct CapacityFit {
    std::optional<bool> fits;
    std::string why;
};
using CapacityCheck = std::function<CapacityFit(const PrinterStatusReport&)>;

// What a confirmed transfer leaves in the ledger.
enum class LedgerEffect {
    None,   // nothing stored changes (a printout); the command takes no --ledger
    Stores, // the stream's digest is recorded for a printer that confirmed it
    Erases, // the printer's entry goes
};

struct TransferPlan {
    std::string verb;              // for the result line: "uploaded 3 logos"
    std::string intent;            // for a dry run's line: "upload 3 logos" ("would upload 3 logos")
    std::uint64_t streamBytes = 0; // bytes the writer sends per target, for the progress bar
    StreamWriter writer;
    ConfirmMode confirm = ConfirmMode::Auto;
    bool checkPaper = false; // a printout: nothing is sent when the paper is at its end or the cover open
    // A dry run's account of the stream: its family, and whether it fits the printer (null: nothing to fit).
    std::string family = "NV bit images";
    CapacityCheck capacity;
    LedgerEffect ledger = LedgerEffect::None;
    std::string sha256; // Stores: the digest of the stream (the bytes save writes for it)
    // The family's own confirmation, preflight and need of answers (see ConfirmOptions); empty: none.
    StreamCheck check;
    Preflight preflight;
    std::string needsAnswers;
};

// The dry run's check for NV bit images: the status answers say nothing of that memory.
CapacityFit bitImageCapacityUnknown(const PrinterStatusReport&);

// Opens the target's port and asks what status asks, sending nothing else. A failure's message names the port.
PrinterStatusReport probePrinter(const PortTarget& target);

// The message without the "PORT: " it starts with, for the report, which has the port in a field of its own.
std::string withoutPort(const PortTarget& target, const std::string& message);

// One target's whole transfer: its ports, the confirmation steps of plan.confirm, the writer. The report
// names no port; resultLine adds it.
TransferReport transferTo(const PortTarget& target, const TransferPlan& plan, ProgressMeter* meter = nullptr);

// "PORT: uploaded 3 logos, 15692 bytes, confirmed" (PORT as the user typed it, the bytes those of the
// stream), "…, not confirmed: why", or "PORT: what failed".
std::string resultLine(const PortTarget& target, const TransferPlan& plan, const TransferReport& report);

// Runs the plan over the targets with runFleet (the options' jobs, retries, report), or its dry run; keeps
// the ledger when one is named: it is locked and read first (a damaged or locked one is bad input, exit 2),
// the entries of the printers about to be written go before anything is sent, and a printer that confirmed
// an upload gets its entry. With skipUnchanged, printers whose entry holds plan.sha256 are skipped.
// Exit status as runFleet, or 2 for bad input found before anything is sent.
int runTransfers(Context& ctx, const std::vector<PortTarget>& targets, const TransferPlan& plan,
                 const FleetOptions& fleet);

// Adds --confirm auto|required|off.
CLI::Option* addConfirmOption(CLI::App& app, ConfirmMode& mode);

// Adds --port (repeatable), --ports-from, --baud, --flow and the fleet's --jobs, --retries, --retry-wait and
// --report; parsePortSpecs turns them into targets when the command runs: BadInput when there are none, a
// line of an inventory is not a printer, or two name the same printer.
CLI::Option* addPortOption(CLI::App& app, PortOptions& options);
Result<std::vector<PortTarget>> parsePortSpecs(const PortOptions& options);

// Adds --dry-run and, for commands that change what the printer stores, --ledger and --skip-unchanged.
void addRolloutOptions(CLI::App& app, PortOptions& options, bool ledger);

} // namespace tessera::cli
