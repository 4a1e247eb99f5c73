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

int runTransfers(Context& ctx, const std::vector<PortTarget>& targets, const TransferPlan& plan) {
    ProgressMeter meter(ctx.err, ctx.interactive, (plan.streamBytes + 3) * targets.size());
    std::vector<TransferReport> reports(targets.size());
    auto run = [&](std::size_t i) {
        reports[i] = transferTo(targets[i], plan, &meter);
        const std::string line = resultLine(targets[i], plan, reports[i]);
        if (reports[i].kind == TransferResultKind::Failed)
            meter.println(ctx.err, "nvlogo: " + line);
        else
            meter.println(ctx.out, line);
    };
    if (targets.size() == 1) {
        run(0);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < targets.size(); ++i)
            threads.emplace_back(run, i);
        for (auto& t : threads)
            t.join();
    }
    for (const TransferReport& r : reports)
        if (r.kind == TransferResultKind::Failed) return kExitFailure;
    return kExitOk;
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
