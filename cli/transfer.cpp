#include "cli/transfer.h"

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
#include <map>
#include <memory>
#include <ostream>
#include <thread>

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

struct Outcome {
    bool ok = false;
    std::string line;
};

// The result line of a transfer. The success line names a network printer HOST:PORT, as it was reached;
// a failure names the target as given, with the failed call and the system's reason where the port has
// them.
Outcome finished(const TransferResult& r, const PortTarget& target, const TargetPorts& link, const TransferPlan& plan,
                 const CNVUploadCtrl& ctrl) {
    const bool network = target.kind == PortKind::Network;
    const std::string why = link.portError();
    const std::string& spec = target.spec;
    switch (r.outcome) {
    case TransferOutcome::OpenFailed:
        if (target.kind == PortKind::Driver && why.empty())
            return {false, "cannot send to the installed printer " + target.device +
                               " (no such printer, or it is stopped or refuses jobs)"};
        return {false, spec + ": " + (why.empty() ? "the port cannot be opened" : why)};
    case TransferOutcome::WriteFailed:
        if (!why.empty()) return {false, spec + ": transfer failed: " + why};
        return {false, spec + ": transfer failed: " +
                           (ctrl.lastError().message.empty() ? "the printer did not take the data"
                                                             : ctrl.lastError().message)};
    case TransferOutcome::FinishFailed:
        return {false, spec + ": " +
                           (network ? "the printer did not take the whole transfer"
                                    : "the printer did not take the end of the transfer") +
                           (why.empty() ? "" : " (" + why + ")")};
    case TransferOutcome::Done:
        break;
    }
    const std::string label = network ? target.host + ":" + std::to_string(target.tcpPort) : target.spec;
    return {true, label + ": " + plan.verb + ", " + std::to_string(plan.streamBytes + 3) + " bytes"};
}

Outcome transferTo(const PortTarget& target, const TransferPlan& plan, ProgressMeter& meter) {
    TargetPorts link(target, &meter);
    if (Status s = link.resolve(); !s) return {false, s.error().message};
    CNVUploadCtrl ctrl(link.ports());
    const TransferResult r = runTransfer(ctrl, link.settings(), plan.writer);
    return finished(r, target, link, plan, ctrl);
}

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
        t->baudCode = baudCodeOfSpeed(options.lineSpeed);
        t->flow = options.flow;
        targets.push_back(*t);
    }
    return targets;
}

CLI::Option* addPortOption(CLI::App& app, PortOptions& options) {
    CLI::Option* port =
        app.add_option("-p,--port", options.specs,
                       "Printer (required): tcp:HOST[:PORT] (TCP port 9100 unless given), or a bare IPv4 address "
                       "or dotted host name with an optional :PORT; COM1..COM12, LPT1, LPT2; serial:PATH, "
                       "parallel:PATH, or a device path (/dev/tty*, "
                       "/dev/pts/* serial; /dev/lp*, /dev/usb/lp* parallel); usb or usb:VID:PID; driver:NAME, an "
                       "installed printer; repeat to send to several printers at once")
            ->required()
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
