#include "cli/transfer.h"

#include "cli/progress.h"
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
#include <map>
#include <memory>
#include <ostream>
#include <thread>

namespace tessera::cli {

namespace {

// Counts what the client takes, for the progress bar.
class MeteredNetworkPort : public NetworkPort {
  public:
    explicit MeteredNetworkPort(ProgressMeter& meter) : meter_(meter) {}
    int connect(const std::string& ip, int port) override { return client_.connect(ip, port); }
    int send(std::span<const std::uint8_t> bytes) override {
        const int r = client_.send(bytes);
        if (r == 1) meter_.add(bytes.size());
        return r;
    }
    int finish() override { return client_.finish(); }
    void close() override { client_.close(); }

  private:
    ProgressMeter& meter_;
    CTcpClient client_;
};

// Opens the target's own device whatever name the dispatcher hands on: the dispatcher picks serial or
// parallel by the first letters of the port name, and a device path has none of them. Counts what the
// port takes, for the progress bar.
class TargetLinePort : public LinePort {
  public:
    TargetLinePort(LinePort& port, std::string device, ProgressMeter& meter)
        : port_(port), device_(std::move(device)), meter_(meter) {}
    int open(const std::string&, int baudCode) override { return port_.open(device_, baudCode); }
    bool write(std::span<const std::uint8_t> bytes) override {
        const bool ok = port_.write(bytes);
        if (ok) meter_.add(bytes.size());
        return ok;
    }
    void close() override { port_.close(); }
    bool reEnablesStatus() const override { return port_.reEnablesStatus(); }

  private:
    LinePort& port_;
    std::string device_;
    ProgressMeter& meter_;
};

std::string connectFailure(int code) {
    switch (code) {
    case CTcpClient::kNotConnected:
        return "no connection within 3 s (refused, or nothing answers)";
    case CTcpClient::kStartupFailed:
        return "the sockets layer cannot be started";
    case CTcpClient::kNoSocket:
        return "no socket could be created";
    default:
        return "the connection failed at once";
    }
}

struct Outcome {
    bool ok = false;
    std::string line;
};

// The result line of a line, USB or driver transfer; noReason stands in when the port gave no reason for a
// failed write.
Outcome finished(const TransferResult& r, const std::string& label, const TransferPlan& plan,
                 const std::string& openFailure, const CNVUploadCtrl& ctrl,
                 const char* noReason = "the printer did not take the data") {
    switch (r.outcome) {
    case TransferOutcome::OpenFailed: return {false, openFailure};
    case TransferOutcome::WriteFailed: {
        const std::string& why = ctrl.lastError().message;
        return {false, label + ": transfer failed: " + (why.empty() ? std::string(noReason) : why)};
    }
    case TransferOutcome::FinishFailed: return {false, label + ": the printer did not take the end of the transfer"};
    case TransferOutcome::Done: break;
    }
    return {true, label + ": " + plan.verb + ", " + std::to_string(plan.streamBytes + 3) + " bytes"};
}

Outcome transferToLine(const PortTarget& target, const TransferPlan& plan, ProgressMeter& meter) {
    const bool serial = target.kind == PortKind::Serial;
    CSerialPort serialPort;
    CParallelPort parallelPort;
    serialPort.setFlowControl(target.flow);
    TargetLinePort port(serial ? static_cast<LinePort&>(serialPort) : parallelPort, target.device, meter);
    CNVUploadCtrl ctrl(serial ? PortSet{.serial = &port} : PortSet{.parallel = &port});
    PortSettings settings;
    settings.portName = serial ? "COM" : "LPT";
    settings.baudCode = target.baudCode;
    const TransferResult r = runTransfer(ctrl, settings, plan.writer);
    return finished(r, target.spec, plan,
                    "cannot open the " + std::string(serial ? "serial" : "parallel") + " port " + target.spec +
                        " (missing, in use, or not permitted)",
                    ctrl, "the printer did not take the data in time");
}

// Counts what the spooler takes, for the progress bar.
class MeteredSpooler : public PrinterSpooler {
  public:
    explicit MeteredSpooler(ProgressMeter& meter) : meter_(meter) {}
    bool openPrinter(const std::string& name) override { return spooler_.openPrinter(name); }
    bool startDocument(const std::string& d, const std::string& t) override { return spooler_.startDocument(d, t); }
    bool writePrinter(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        const bool ok = spooler_.writePrinter(bytes, written);
        if (ok) meter_.add(written);
        return ok;
    }
    bool endDocument() override { return spooler_.endDocument(); }
    bool closePrinter() override { return spooler_.closePrinter(); }

  private:
    ProgressMeter& meter_;
    SystemSpooler spooler_;
};

Outcome transferToUsb(const PortTarget& target, const TransferPlan& plan, ProgressMeter& meter) {
    auto layer = makeUsbDeviceLayer();
    CUsbPrinter usb(*layer);
    if (target.usbIds) usb.acceptAlso(target.usbIds->first, target.usbIds->second);
    TargetLinePort port(usb, "USB", meter);
    CNVUploadCtrl ctrl(PortSet{.usb = &port});
    PortSettings settings;
    settings.portName = "USB";
    const TransferResult r = runTransfer(ctrl, settings, plan.writer);
    return finished(r, target.spec, plan, "cannot open the USB printer: " + usb.lastError(), ctrl);
}

Outcome transferToDriver(const PortTarget& target, const TransferPlan& plan, ProgressMeter& meter) {
    if (const std::string missing = spoolerUnavailable(); !missing.empty())
        return {false, "cannot send to the installed printer " + target.device + ": " + missing};
    MeteredSpooler spooler(meter);
    CNVUploadCtrl ctrl(PortSet{.spooler = &spooler});
    PortSettings settings;
    settings.useDriver = true;
    settings.printerName = target.device;
    const TransferResult r = runTransfer(ctrl, settings, plan.writer);
    // A spooler takes the data before the printer does: the job's end is where it can still refuse.
    return finished(r, target.spec, plan,
                    "cannot send to the installed printer " + target.device +
                        " (no such printer, or it is stopped or refuses jobs)",
                    ctrl);
}

Outcome transferTo(const PortTarget& target, const TransferPlan& plan, ProgressMeter& meter) {
    if (target.kind == PortKind::Usb) return transferToUsb(target, plan, meter);
    if (target.kind == PortKind::Driver) return transferToDriver(target, plan, meter);
    if (target.kind != PortKind::Network) return transferToLine(target, plan, meter);
    const std::string label = target.host + ":" + std::to_string(target.tcpPort);
    auto ip = resolveIPv4(target.host);
    if (!ip) return {false, ip.error().message};
    MeteredNetworkPort port(meter);
    CNVUploadCtrl ctrl(PortSet{.network = &port});
    PortSettings settings;
    settings.portName = "TCP/IP";
    settings.ipAddress = *ip;
    settings.tcpPort = target.tcpPort;
    const TransferResult r = runTransfer(ctrl, settings, plan.writer);
    switch (r.outcome) {
    case TransferOutcome::OpenFailed:
        return {false, "cannot reach the printer at " + label + ": " + connectFailure(r.openCode)};
    case TransferOutcome::WriteFailed:
        return {false, label + ": transfer failed: " + ctrl.lastError().message};
    case TransferOutcome::FinishFailed:
        return {false, label + ": the printer did not take the whole transfer (connection lost)"};
    case TransferOutcome::Done:
        break;
    }
    return {true, label + ": " + plan.verb + ", " + std::to_string(plan.streamBytes + 3) + " bytes"};
}

} // namespace

Result<std::vector<PortTarget>> parsePortSpecs(const PortOptions& options) {
    std::vector<PortTarget> targets;
    for (const std::string& s : options.specs) {
        auto t = parsePortSpec(s);
        if (!t) return t.error();
        t->baudCode = baudCodeOfSpeed(options.lineSpeed);
        t->flow = options.flow;
        targets.push_back(*t);
    }
    return targets;
}

CLI::Option* addPortOption(CLI::App& app, PortOptions& options) {
    CLI::Option* port =
        app.add_option("-p,--port", options.specs,
                       "Printer: tcp:HOST[:PORT], an IPv4 address or a host name (TCP port 9100 unless given); "
                       "COM1..COM12, LPT1, LPT2; serial:PATH, parallel:PATH, or a device path (/dev/tty*, "
                       "/dev/pts/* serial; /dev/lp*, /dev/usb/lp* parallel); usb or usb:VID:PID; driver:NAME, an "
                       "installed printer; repeat to send to several printers at once")
            ->required()
            ->option_text("PORT ...")
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
                return "not a line speed of the table";
            },
            ""))
        ->option_text("RATE")
        ->default_str(std::to_string(kDefaultLineSpeed));
    static const std::map<std::string, FlowControl> kFlows = {
        {"none", FlowControl::None}, {"rtscts", FlowControl::RtsCts}, {"xonxoff", FlowControl::XonXoff}};
    app.add_option("--flow", options.flow, "Serial flow control: none (default), rtscts or xonxoff")
        ->transform(CLI::CheckedTransformer(kFlows, CLI::ignore_case))
        ->option_text("none|rtscts|xonxoff")
        ->default_str("none");
    return port;
}

int runTransfers(Context& ctx, const std::vector<PortTarget>& targets, const TransferPlan& plan) {
    ProgressMeter meter(ctx.err, ctx.interactive, (plan.streamBytes + 3) * targets.size());
    std::vector<Outcome> outcomes(targets.size());
    auto report = [&](const Outcome& o) {
        if (o.ok)
            meter.println(ctx.out, o.line);
        else
            meter.println(ctx.err, "nvlogo: " + o.line);
    };
    if (targets.size() == 1) {
        outcomes[0] = transferTo(targets[0], plan, meter);
        report(outcomes[0]);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < targets.size(); ++i)
            threads.emplace_back([&, i] {
                outcomes[i] = transferTo(targets[i], plan, meter);
                report(outcomes[i]);
            });
        for (auto& t : threads)
            t.join();
    }
    for (const Outcome& o : outcomes)
        if (!o.ok) return kExitFailure;
    return kExitOk;
}

} // namespace tessera::cli
