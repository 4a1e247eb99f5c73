#include "cli/transfer.h"

#include "base/file_io.h"
#include "base/json_writer.h"
#include "cli/fleet.h"
#include "cli/inventory.h"
#include "cli/ledger.h"
#include "cli/progress.h"
#include "cli/usage.h"
#include "port/host_name.h"
#include "port/parallel_port.h"
#include "port/port_settings.h"
#include "port/serial_port.h"
#include "port/system_spooler.h"
#include "port/tcp_client.h"
#include "port/usb_printer.h"
#include "printer/nv_operation.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>

namespace tessera::cli {

namespace {

// Counts what the client takes, for the progress bar.
class MeteredNetworkPort : public NetworkPort {
  public:
    explicit MeteredNetworkPort(ProgressMeter* meter) : meter_(meter) {}
    int connect(const std::string& ip, int port) override { return client_.connect(ip, port); }
    int send(std::span<const std::uint8_t> bytes) override {
        const int r = client_.send(bytes);
        if (r == 1 && meter_) meter_->add(bytes.size());
        return r;
    }
    int finish() override { return client_.finish(); }
    void close() override { client_.close(); }
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        return client_.read(buffer, timeout);
    }
    std::string lastError() const override { return client_.lastError(); }

  private:
    ProgressMeter* meter_;
    CTcpClient client_;
};

// Opens the target's own device whatever name the dispatcher hands on: the dispatcher picks serial or
// parallel by the first letters of the port name, and a device path has none of them. Counts what the
// port takes, for the progress bar.
class TargetLinePort : public LinePort {
  public:
    TargetLinePort(LinePort& port, std::string device, ProgressMeter* meter)
        : port_(port), device_(std::move(device)), meter_(meter) {}
    int open(const std::string&, int baudCode) override { return port_.open(device_, baudCode); }
    bool write(std::span<const std::uint8_t> bytes) override {
        const bool ok = port_.write(bytes);
        if (ok && meter_) meter_->add(bytes.size());
        return ok;
    }
    void close() override { port_.close(); }
    void closeQuietly() override { port_.closeQuietly(); }
    bool reEnablesStatus() const override { return port_.reEnablesStatus(); }
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        return port_.read(buffer, timeout);
    }
    Status drain(std::chrono::milliseconds limit) override { return port_.drain(limit); }
    std::string lastError() const override { return port_.lastError(); }

  private:
    LinePort& port_;
    std::string device_;
    ProgressMeter* meter_;
};

// Counts what the spooler takes, for the progress bar.
class MeteredSpooler : public PrinterSpooler {
  public:
    explicit MeteredSpooler(ProgressMeter* meter) : meter_(meter) {}
    bool openPrinter(const std::string& name) override { return spooler_.openPrinter(name); }
    bool startDocument(const std::string& d, const std::string& t) override { return spooler_.startDocument(d, t); }
    bool writePrinter(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        const bool ok = spooler_.writePrinter(bytes, written);
        if (ok && meter_) meter_->add(written);
        return ok;
    }
    bool endDocument() override { return spooler_.endDocument(); }
    bool closePrinter() override { return spooler_.closePrinter(); }
    std::string lastError() const override { return spooler_.lastError(); }

  private:
    ProgressMeter* meter_;
    SystemSpooler spooler_;
};

} // namespace

struct TargetPorts::Impl {
    PortTarget target;
    ProgressMeter* meter;
    PortSettings settings;
    PortSet set;
    std::unique_ptr<CSerialPort> serial;
    std::unique_ptr<CParallelPort> parallel;
    std::unique_ptr<UsbDeviceLayer> usbLayer;
    std::unique_ptr<CUsbPrinter> usb;
    std::unique_ptr<TargetLinePort> line;
    std::unique_ptr<MeteredNetworkPort> network;
    std::unique_ptr<MeteredSpooler> spooler;
};

TargetPorts::TargetPorts(const PortTarget& target, ProgressMeter* meter)
    : impl_(std::make_unique<Impl>(Impl{target, meter, {}, {}, {}, {}, {}, {}, {}, {}, {}})) {
    Impl& i = *impl_;
    switch (target.kind) {
    case PortKind::Serial:
        i.serial = std::make_unique<CSerialPort>();
        i.serial->setFlowControl(target.flow);
        i.line = std::make_unique<TargetLinePort>(*i.serial, target.device, meter);
        i.set.serial = i.line.get();
        i.settings.portName = "COM";
        i.settings.baudCode = target.baudCode;
        break;
    case PortKind::Parallel:
        i.parallel = std::make_unique<CParallelPort>();
        i.line = std::make_unique<TargetLinePort>(*i.parallel, target.device, meter);
        i.set.parallel = i.line.get();
        i.settings.portName = "LPT";
        break;
    case PortKind::Usb:
        i.usbLayer = makeUsbDeviceLayer();
        i.usb = std::make_unique<CUsbPrinter>(*i.usbLayer);
        if (target.usbIds) i.usb->acceptAlso(target.usbIds->first, target.usbIds->second);
        i.line = std::make_unique<TargetLinePort>(*i.usb, "USB", meter);
        i.set.usb = i.line.get();
        i.settings.portName = "USB";
        break;
    case PortKind::Driver:
        i.spooler = std::make_unique<MeteredSpooler>(meter);
        i.set.spooler = i.spooler.get();
        i.settings.useDriver = true;
        i.settings.printerName = target.device;
        break;
    case PortKind::Network:
        i.network = std::make_unique<MeteredNetworkPort>(meter);
        i.set.network = i.network.get();
        i.settings.portName = "TCP/IP";
        i.settings.tcpPort = target.tcpPort;
        break;
    }
}

TargetPorts::~TargetPorts() = default;

Status TargetPorts::resolve() {
    if (impl_->target.kind != PortKind::Network) return {};
    auto ip = resolveIPv4(impl_->target.host);
    if (!ip) return ip.error();
    impl_->settings.ipAddress = *ip;
    return {};
}

void TargetPorts::omitTrailingBytes() {
    if (impl_->usb) impl_->usb->setTrailingByte(false);
}

const PortSet& TargetPorts::ports() const {
    return impl_->set;
}
const PortSettings& TargetPorts::settings() const {
    return impl_->settings;
}

std::string TargetPorts::portError() const {
    if (impl_->network) return impl_->network->lastError();
    if (impl_->line) return impl_->line->lastError();
    return impl_->spooler ? impl_->spooler->lastError() : std::string();
}

Result<std::vector<PortTarget>> parsePortSpecs(const PortOptions& options) {
    std::vector<PortTarget> targets;
    for (const std::string& s : options.specs) {
        auto t = parsePortSpec(s);
        if (!t) return t.error();
        targets.push_back(*t);
    }
    for (const std::string& file : options.inventories) {
        auto listed = readInventory(file);
        if (!listed) return listed.error();
        targets.insert(targets.end(), listed->begin(), listed->end());
    }
    if (targets.empty())
        return badInput(options.inventories.empty() ? "--port is required (or --ports-from FILE)"
                                                    : "no printers listed in " + options.inventories.front());
    for (PortTarget& t : targets) {
        t.baudCode = baudCodeOfSpeed(options.lineSpeed);
        t.flow = options.flow;
    }
    if (Status s = checkDistinct(targets); !s) return s.error();
    // The report is truncated and the ledger replaced: neither may be a file the rollout reads.
    const FleetOptions& f = options.fleet;
    for (const std::string& inventory : options.inventories)
        for (const std::string* written : {&f.report, &f.ledger})
            if (sameFile(*written, inventory))
                return badInput(*written + ": the same file as the inventory " + inventory + "; choose another name");
    if (!f.report.empty() && sameFile(f.report, f.ledger))
        return badInput(f.report + ": the report would overwrite the ledger; choose another name");
    return targets;
}

CLI::Option* addPortOption(CLI::App& app, PortOptions& options) {
    CLI::Option* port =
        app.add_option("-p,--port", options.specs,
                       "Printer (required unless --ports-from is given): tcp:HOST[:PORT] (TCP port 9100 unless given), "
                       "or a bare IPv4 address "
                       "or dotted host name with an optional :PORT; COM1..COM12, LPT1, LPT2; serial:PATH, "
                       "parallel:PATH, or a device path (/dev/tty*, "
                       "/dev/pts/* serial; /dev/lp*, /dev/usb/lp* parallel); usb or usb:VID:PID; driver:NAME, an "
                       "installed printer; repeat to send to several printers at once")
            ->option_text("PORT")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--baud", options.lineSpeed,
                   "Serial line speed: 1200, 2400, 4800, 9600, 19200 (default), 38400, 57600 or 115200 bit/s")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const bool digits =
                    !text.empty() && text.size() <= 7 &&
                    std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
                if (digits && baudCodeOfSpeed(std::stoi(text)) != 0) return {};
                return text + " is not one of 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200";
            },
            ""))
        ->option_text("RATE");
    app.add_option("--flow", options.flow, "Serial flow control: none (default), rtscts or xonxoff")
        ->transform(oneOfWords({{"none", static_cast<long long>(FlowControl::None)},
                                {"rtscts", static_cast<long long>(FlowControl::RtsCts)},
                                {"xonxoff", static_cast<long long>(FlowControl::XonXoff)}}))
        ->option_text("none|rtscts|xonxoff");
    app.add_option("--ports-from", options.inventories,
                   "A file of printers, one a line: PORT as --port takes it, optionally a tab and a name; blank "
                   "lines and lines starting with # are skipped. Repeatable, and may be combined with --port")
        ->option_text("FILE")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    FleetOptions& fleet = options.fleet;
    app.add_option("--jobs", fleet.jobs,
                   "At most N printers at once (default: all of them, as many as the open-file limit allows)")
        ->check(integerIn(1, 1000000))
        ->option_text("N");
    app.add_option("--retries", fleet.retries,
                   "Try a printer that could not be reached, or whose transfer broke off, up to N more times "
                   "(default 0); a printout only when none of it was sent")
        ->check(integerIn(0, 100))
        ->option_text("N");
    app.add_option("--retry-wait", fleet.retryWait,
                   "Seconds before the first retry, 0 to 3600, doubled for each further one (default 5)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const bool plain = text.find_first_of("0123456789") != std::string::npos &&
                                   text.find_first_not_of("0123456789.") == std::string::npos;
                char* end = nullptr;
                const double v = plain ? std::strtod(text.c_str(), &end) : -1;
                if (plain && *end == '\0' && v >= 0 && v <= 3600) return {};
                return text + " is not a number of seconds from 0 to 3600";
            },
            ""))
        ->option_text("SECONDS");
    app.add_option("--report", fleet.report,
                   "Write one JSON object per printer to FILE as each finishes (JSON Lines; the file is truncated "
                   "first): port, name, result, bytes, milliseconds, attempts, error, status; - for standard "
                   "output, the result lines then going to standard error")
        ->option_text("FILE");
    return port;
}

void addRolloutOptions(CLI::App& app, PortOptions& options, bool ledger) {
    FleetOptions& fleet = options.fleet;
    app.add_flag("--dry-run", fleet.dryRun,
                 "Send each printer only the status requests of status, and say what would be sent (family, "
                 "bytes) and whether it fits the memory the printer reports");
    if (!ledger) return;
    CLI::Option* file =
        app.add_option("--ledger", fleet.ledger,
                       "A JSON file that records, per printer, the SHA-256 of the last stream it confirmed and when; "
                       "kept up to date, and locked while in use (FILE.lock)")
            ->option_text("FILE");
    app.add_flag("--skip-unchanged", fleet.skipUnchanged,
                 "With --ledger: leave out the printers whose last confirmed stream is this one")
        ->needs(file);
}

TransferReport transferTo(const PortTarget& target, const TransferPlan& plan, ProgressMeter* meter) {
    TargetPorts link(target, meter);
    if (Status s = link.resolve(); !s) return {TransferResultKind::Failed, 0, false, s.error().message, false, {}};
    CNVUploadCtrl ctrl(link.ports());
    return runConfirmedTransfer(
        ctrl, link.settings(), plan.writer,
        {plan.confirm, plan.checkPaper, target.spec, plan.check, plan.preflight, plan.needsAnswers});
}

std::string resultLine(const PortTarget& target, const TransferPlan& plan, const TransferReport& report) {
    if (report.kind == TransferResultKind::Failed) return target.spec + ": " + report.message;
    std::string line = target.spec + ": " + (report.verb.empty() ? plan.verb : report.verb) + ", " +
                       std::to_string(report.streamBytes) + " bytes";
    if (report.kind == TransferResultKind::Confirmed) return line + ", confirmed";
    return report.message.empty() ? line : line + ", not confirmed: " + report.message;
}

CapacityFit bitImageCapacityUnknown(const PrinterStatusReport&) {
    return {std::nullopt, "NV bit-image capacity unknown"};
}

namespace {

PrinterStatusReport failedProbe(Error e) {
    PrinterStatusReport r;
    r.failure = std::move(e);
    return r;
}

std::string statusObject(const PortTarget& target, const PrinterStatusReport& r) {
    json::Writer w;
    writeStatusJson(w, target.spec, r);
    return w.text();
}

FleetOutcome transferOutcome(const PortTarget& target, const TransferPlan& plan, const TransferReport& r) {
    FleetOutcome o;
    o.record.result = resultName(r.kind);
    o.record.bytes = r.streamBytes;
    if (!r.message.empty()) o.record.error = r.message;
    o.line = resultLine(target, plan, r);
    o.failed = r.kind == TransferResultKind::Failed;
    // A refusal would meet the same refusal; a printout that began would print twice.
    const bool begun = r.streamStarted || r.streamBytes > 0;
    o.retry = o.failed && !r.refused && !(plan.checkPaper && begun);
    return o;
}

FleetOutcome dryRunOutcome(const PortTarget& target, const TransferPlan& plan) {
    const PrinterStatusReport status = probePrinter(target);
    FleetOutcome o;
    o.record.bytes = plan.streamBytes;
    o.record.status = statusObject(target, status);
    if (status.failure) {
        o.record.error = withoutPort(target, status.failure->message);
        o.line = status.failure->message;
        o.failed = o.retry = true;
        return o;
    }
    std::string line = target.spec + ": would " + plan.intent + ", " + plan.family + ", " +
                       std::to_string(plan.streamBytes) + " bytes";
    std::optional<bool> fits;
    if (plan.capacity) {
        const CapacityFit fit = plan.capacity(status);
        fits = fit.fits;
        line += "; " + fit.why;
        if (fit.fits == false) {
            o.failed = true;
            o.record.error = fit.why;
        }
    }
    if (!status.answers) line += "; the printer does not answer status requests";
    o.record.result = o.failed ? "failed" : "would-send";
    o.record.extra = {{"family", json::quote(plan.family)}, {"fits", fits ? (*fits ? "true" : "false") : "null"}};
    o.line = std::move(line);
    return o;
}

} // namespace

std::string withoutPort(const PortTarget& target, const std::string& message) {
    const std::string prefix = target.spec + ": ";
    return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

PrinterStatusReport probePrinter(const PortTarget& target) {
    const std::string& spec = target.spec;
    if (target.kind == PortKind::Parallel)
        return failedProbe(ioError(spec + ": the parallel port cannot read the printer's answers"));
    if (target.kind == PortKind::Driver)
        return failedProbe(ioError(spec + ": an installed printer passes no answers back"));
    TargetPorts link(target);
    link.omitTrailingBytes();
    if (Status s = link.resolve(); !s) return failedProbe(s.error());
    CNVUploadCtrl ctrl(link.ports());
    if (openPort(ctrl, link.settings()) != 0) {
        const std::string why = link.portError();
        return failedProbe(ioError(spec + ": " + (why.empty() ? "the port cannot be opened" : why)));
    }
    PrinterConversation conversation(ctrl.dispatcher(), ctrl.dispatcher());
    PrinterStatusReport r = queryPrinterStatus(conversation);
    if (r.failure) {
        const std::string why = link.portError();
        r.failure->message = spec + ": " + (why.empty() ? r.failure->message : why);
    }
    ctrl.dispatcher().ClosePort();
    return r;
}

int runTransfers(Context& ctx, const std::vector<PortTarget>& targets, const TransferPlan& plan,
                 const FleetOptions& fleet) {
    std::unique_ptr<Ledger> ledger;
    if (!fleet.ledger.empty()) {
        // A dry run only reads it, and leaves it to a rollout running meanwhile.
        auto opened = Ledger::open(fleet.ledger, !fleet.dryRun);
        if (!opened) return report(ctx, opened.error());
        ledger = std::move(*opened);
    }
    std::unique_ptr<FleetReportFile> reportFile;
    if (!fleet.report.empty()) {
        auto opened = FleetReportFile::open(fleet.report, ctx.out);
        if (!opened) return report(ctx, opened.error());
        reportFile = std::move(*opened);
    }
    std::map<std::string, std::string> unchanged; // normalised port: confirmed since
    if (ledger && fleet.skipUnchanged && plan.ledger == LedgerEffect::Stores)
        for (const PortTarget& t : targets)
            if (auto since = ledger->unchangedSince(normalisedPort(t), plan.sha256))
                unchanged.emplace(normalisedPort(t), *since);
    const bool keepLedger = ledger && !fleet.dryRun && plan.ledger != LedgerEffect::None;
    if (keepLedger) {
        // No entry may claim what a printer holds once something is sent to it: a run cut short by a crash
        // leaves printers unrecorded, never recorded wrongly.
        for (const PortTarget& t : targets)
            if (!unchanged.count(normalisedPort(t))) ledger->forget(normalisedPort(t));
        if (Status s = ledger->save(); !s) return report(ctx, s.error());
    }

    FleetJob job;
    job.streamBytes = plan.streamBytes;
    if (fleet.dryRun)
        job.attempt = [&plan](const PortTarget& t, ProgressMeter*) { return dryRunOutcome(t, plan); };
    else
        job.attempt = [&plan](const PortTarget& t, ProgressMeter* meter) {
            return transferOutcome(t, plan, transferTo(t, plan, meter));
        };
    job.before = [&unchanged](const PortTarget& t) -> std::optional<FleetOutcome> {
        const auto it = unchanged.find(normalisedPort(t));
        if (it == unchanged.end()) return std::nullopt;
        FleetOutcome o;
        o.record.result = "skipped";
        o.line = t.spec + ": skipped: unchanged since " + it->second;
        return o;
    };
    std::mutex ledgerMutex;
    const auto now = std::chrono::system_clock::now;
    if (keepLedger && plan.ledger == LedgerEffect::Stores)
        job.after = [&](const PortTarget& t, const FleetOutcome& o) {
            if (o.record.result != "confirmed") return;
            std::lock_guard lock(ledgerMutex);
            ledger->record(normalisedPort(t), plan.sha256, now());
        };

    auto system = makeFleetSystem();
    int rc = runFleet(ctx, targets, fleet, job, *system, reportFile.get());
    if (keepLedger)
        if (Status s = ledger->save(); !s) {
            ctx.err << "nvlogo: " << s.error().message << '\n';
            if (rc == kExitOk) rc = kExitFailure;
        }
    return rc;
}

CLI::Option* addConfirmOption(CLI::App& app, ConfirmMode& mode) {
    return app
        .add_option("--confirm", mode,
                    "Confirmation with the printer: auto (default) asks it, before the stream, whether it is online "
                    "and, after it, whether it processed every byte, and says so where it cannot answer; required "
                    "sends nothing to a printer that cannot answer; off sends the stream alone, unconfirmed")
        ->transform(oneOfWords({{"auto", static_cast<long long>(ConfirmMode::Auto)},
                                {"required", static_cast<long long>(ConfirmMode::Required)},
                                {"off", static_cast<long long>(ConfirmMode::Off)}}))
        ->option_text("MODE");
}

} // namespace tessera::cli
