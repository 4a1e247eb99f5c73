#include "tools/nvlogo_printer/server.h"

#include "tools/nvlogo_printer/disk_host.h"
#include "tools/nvlogo_printer/server_socket.h"

#include <atomic>
#include <chrono>
#include <list>
#include <ostream>
#include <thread>

namespace tessera::vp {

namespace {

constexpr auto kStallLimit = std::chrono::seconds(60);

struct ListenAddress {
    std::uint32_t host = 0; // host byte order
    std::uint16_t port = 0;
};

std::string dotted(std::uint32_t host) {
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 255) + "." +
           std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
}

// Dotted-quad IPv4 only: four decimal parts of at most three digits, each at most 255.
bool parseDotted(const std::string& text, std::uint32_t& host) {
    host = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        host = host << 8 | value;
    }
    return pos == text.size();
}

Result<ListenAddress> parseListen(const std::string& text) {
    const auto colon = text.rfind(':');
    const std::string host = text.substr(0, colon == std::string::npos ? 0 : colon);
    const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    ListenAddress addr;
    if (host.empty() || !parseDotted(host, addr.host) || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535)
        return badInput("--listen " + text + ": expected an IPv4 HOST:PORT");
    if ((addr.host >> 24) != 127) return badInput("--listen " + text + ": only loopback (127.0.0.0/8)");
    addr.port = static_cast<std::uint16_t>(std::stoi(port));
    return addr;
}

class SocketCloser {
  public:
    explicit SocketCloser(net::Socket s) : s_(s) {}
    ~SocketCloser() {
        if (s_ != net::kNone) net::closeSocket(s_);
    }
    SocketCloser(const SocketCloser&) = delete;
    SocketCloser& operator=(const SocketCloser&) = delete;

  private:
    net::Socket s_;
};

struct Shared {
    const ServerOptions& options;
    PrinterConfig printer; // the options' printer, with its serial number
    PrinterHost& host;
    net::Socket stop; // readable once the server stops
};

// Keeps a connection open without reading until the peer closes it, the server stops or the limit passes.
void stall(net::Socket s, net::Socket stop) {
    net::waitWhileOpen(s, stop, static_cast<int>(std::chrono::milliseconds(kStallLimit).count()));
}

void serveConnection(const Shared& shared, net::Socket fd, const std::string& name) {
    const ServerOptions& o = shared.options;
    VirtualPrinter printer(shared.host, shared.printer);
    std::vector<std::uint8_t> buffer(65536);
    std::uint64_t received = 0;
    std::string end = "closed by the peer";
    bool reset = false;
    std::optional<std::size_t> drainLeft; // set by the stop: the bytes already queued, the last to be read
    auto silentSince = std::chrono::steady_clock::now();
    for (;;) {
        if (o.closeAfter && received >= *o.closeAfter) {
            end = "reset (--close-after)";
            reset = true;
            break;
        }
        if (o.stallAfter && received >= *o.stallAfter) {
            shared.host.log(name + " stalled (--stall-after)");
            stall(fd, shared.stop);
            end = "closed after the stall";
            break;
        }
        // Never read past a fault's byte count: the bytes after it must not reach the printer.
        std::size_t want = buffer.size();
        for (const auto& limit : {o.closeAfter, o.stallAfter})
            if (limit) want = static_cast<std::size_t>(std::min<std::uint64_t>(want, *limit - received));
        if (!drainLeft) {
            bool dataReady = false, stopped = false;
            // A key-list block waits for the host's ACK, NAK or CAN, but not for ever.
            const auto waited = std::chrono::steady_clock::now() - silentSince;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(VirtualPrinter::kHandshakeWait - waited);
            const int w = net::waitReadable(
                fd, shared.stop, printer.awaitingHost() ? static_cast<int>(std::max<long long>(left.count(), 0)) : -1,
                dataReady, stopped);
            if (w < 0) {
                end = "failed: " + net::lastError("poll");
                break;
            }
            if (w == 0) {
                if (printer.awaitingHost() &&
                    std::chrono::steady_clock::now() - silentSince >= VirtualPrinter::kHandshakeWait)
                    printer.hostSilent();
                continue;
            }
            if (stopped) {
                // What the peer sent before the stop is still executed; nothing after it.
                drainLeft = net::queuedBytes(fd);
                end = "closed by the shutdown";
            }
        }
        if (drainLeft) {
            if (*drainLeft == 0) break;
            want = std::min(want, *drainLeft);
        }
        const long n = net::receive(fd, std::span(buffer).first(want), drainLeft.has_value());
        if (n == -2 && !drainLeft) continue;
        if (n <= 0) {
            if (n == -1 && !drainLeft) end = "failed: " + net::lastError("recv");
            break;
        }
        received += static_cast<std::uint64_t>(n);
        silentSince = std::chrono::steady_clock::now();
        if (drainLeft) *drainLeft -= static_cast<std::size_t>(n);
        const auto reply = printer.feed(std::span(buffer).first(static_cast<std::size_t>(n)));
        if (!net::sendAll(fd, reply)) {
            end = "failed: " + net::lastError("send");
            break;
        }
    }
    printer.finish();
    net::closeSocket(fd, reset);
    shared.host.log(name + " " + end + " after " + std::to_string(received) + " bytes");
}

struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
};

} // namespace

int runServer(const ServerOptions& o, std::ostream& out, std::ostream& err) {
    auto fail = [&](const Error& e) {
        err << "nvlogo-printer: " << e.message << std::endl;
        return e.kind == ErrorKind::BadInput ? 2 : 1;
    };
    auto addr = parseListen(o.listen);
    if (!addr) return fail(addr.error());
    NvStore store(o.nvFile);
    if (Status s = store.load(o.printer.capacity); !s) return fail(s.error());
    PrintDirectory prints(o.outDir);
    if (Status s = prints.open(); !s) return fail(s.error());

    if (Status s = net::startup(); !s) return fail(s.error());
    // The signals are set up before any thread starts, so that every thread leaves them to the channel.
    net::StopChannel signals, stop;
    if (Status s = signals.open(true); !s) return fail(s.error());
    if (Status s = stop.open(false); !s) return fail(s.error());
    auto listening = net::listenOn(addr->host, addr->port);
    if (!listening) return fail(ioError(o.listen + ": " + listening.error().message));
    const net::Socket listener = *listening;
    SocketCloser closeListener(listener);

    LineLog log(out);
    DiskHost host(store, prints, log);
    PrinterConfig printer = o.printer;
    printer.serialNumber = "VP" + std::to_string(addr->port);
    const Shared shared{o, printer, host, stop.readable()};
    log.line("listening on " + dotted(addr->host) + ":" + std::to_string(addr->port));
    std::list<Worker> workers;
    int connections = 0;
    for (;;) {
        bool incoming = false, stopped = false;
        const int ready = net::waitReadable(listener, signals.readable(), -1, incoming, stopped);
        if (ready < 0 || stopped) break;
        if (!incoming) continue;
        std::string peer;
        const net::Socket fd = net::acceptFrom(listener, peer);
        if (fd == net::kNone) continue;
        const std::string name = "connection " + std::to_string(++connections);
        if (o.refuse) {
            net::closeSocket(fd, true);
            log.line(name + " from " + peer + " refused (--refuse)");
            continue;
        }
        // A peer that stops reading must not hold up a status reply, and with it the shutdown, for ever.
        net::setSendTimeout(fd, 5);
        log.line(name + " from " + peer);
        workers.remove_if([](Worker& w) {
            if (!w.done) return false;
            w.thread.join();
            return true;
        });
        Worker& worker = workers.emplace_back();
        worker.thread = std::thread([&shared, &worker, fd, name] {
            serveConnection(shared, fd, name);
            worker.done = true;
        });
    }
    stop.notify();
    for (Worker& w : workers)
        w.thread.join();
    log.line("stopped");
    return 0;
}

} // namespace tessera::vp
