#include "cli/transfer.h"

#include "cli/progress.h"
#include "port/host_name.h"
#include "port/tcp_client.h"
#include "printer/nv_operation.h"

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

Outcome transferTo(const PortTarget& target, const TransferPlan& plan, ProgressMeter& meter) {
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

Result<std::vector<PortTarget>> parsePortSpecs(const std::vector<std::string>& specs) {
    std::vector<PortTarget> targets;
    for (const std::string& s : specs) {
        auto t = parsePortSpec(s);
        if (!t) return t.error();
        targets.push_back(*t);
    }
    return targets;
}

CLI::Option* addPortOption(CLI::App& app, std::vector<std::string>& specs) {
    return app
        .add_option("-p,--port", specs,
                    "Printer: tcp:HOST[:PORT], an IPv4 address or a host name (TCP port 9100 unless given); "
                    "repeat to send to several printers at once")
        ->required()
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

int runTransfers(Context& ctx, const std::vector<PortTarget>& targets, const TransferPlan& plan) {
    ProgressMeter meter(ctx.err, ctx.interactive, (plan.streamBytes + 3) * targets.size());
    std::vector<Outcome> outcomes(targets.size());
    auto report = [&](const Outcome& o) {
        if (o.ok) meter.println(ctx.out, o.line);
        else meter.println(ctx.err, "nvlogo: " + o.line);
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
        for (auto& t : threads) t.join();
    }
    for (const Outcome& o : outcomes)
        if (!o.ok) return kExitFailure;
    return kExitOk;
}

} // namespace tessera::cli
