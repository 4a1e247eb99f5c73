#include "tools/nvlogo_printer/server.h"

#include "base/file_io.h"
#include "base/host_name_text.h"
#include "tools/nvlogo_printer/disk_host.h"
#include "tools/nvlogo_printer/server_socket.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <list>
#include <ostream>
#include <thread>

namespace tessera::vp {

namespace {

constexpr auto kStallLimit = std::chrono::seconds(60);
constexpr int kLogPauseMs = 100;

struct ListenAddress {
    std::uint32_t host = 0; // host byte order
    std::uint16_t port = 0;
};

std::string dotted(std::uint32_t host) {
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 255) + "." +
           std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
}

bool equalsAnyCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(a[i] & 0xFF) != b[i]) return false;
    return i == a.size() && !b[i];
}

// [tcp:]HOST:PORT, read as nvlogo reads a printer's address: text of digits and dots must be an IPv4 address,
// anything else is a host name and is looked up, except localhost, which is loopback without a lookup. Only
// loopback addresses are served.
Result<ListenAddress> parseListen(const std::string& text) {
    const std::string rest = text.size() >= 4 && equalsAnyCase(text.substr(0, 4), "tcp:") ? text.substr(4) : text;
    const auto colon = rest.rfind(':');
    const std::string host = rest.substr(0, colon == std::string::npos ? 0 : colon);
    const std::string port = colon == std::string::npos ? "" : rest.substr(colon + 1);
    auto bad = [&](const std::string& why) { return badInput("--listen " + text + ": " + why); };
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535)
        return bad("expected HOST:PORT, such as 127.0.0.1:9100 or localhost:0");
    ListenAddress addr;
    addr.port = static_cast<std::uint16_t>(std::stoi(port));
    if (host.find_first_not_of("0123456789.") == std::string::npos) {
        const auto address = parseIpv4(host);
        if (!address) return bad("not an IPv4 address (four numbers 0..255)");
        addr.host = *address;
    } else if (!validHostName(host)) {
        return bad("not a host name or IPv4 address");
    } else if (equalsAnyCase(host, "localhost")) {
        addr.host = 0x7F000001;
    } else {
        auto found = net::lookUpIPv4(host);
        if (!found) return ioError("--listen " + text + ": " + found.error().message);
        const auto loopback = std::find_if(found->begin(), found->end(), [](auto a) { return (a >> 24) == 127; });
        if (loopback == found->end()) return bad(host + " is not a loopback address; only 127.0.0.0/8 is served");
        addr.host = *loopback;
    }
    if ((addr.host >> 24) != 127) return bad("only loopback (127.0.0.0/8)");
    return addr;
}

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
    bool reset = false, failed = false;
    const auto idleLimit = std::chrono::seconds(o.idleTimeout);
    std::optional<std::size_t> drainLeft; // set by the stop: the bytes already queued, the last to be read
    auto silentSince = std::chrono::steady_clock::now();
    for (;;) {
        if (o.closeAfter && received >= *o.closeAfter) {
            end = "reset (--close-after)";
            reset = true;
            break;
        }
        if (o.stallAfter && received >= *o.stallAfter) {
            printer.flushLog();
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
            // A key-list block waits for the host's ACK, NAK or CAN, but not for ever; nor does a silent host.
            const auto waited = std::chrono::steady_clock::now() - silentSince;
            std::optional<std::chrono::steady_clock::duration> limit;
            if (printer.awaitingHost()) limit = VirtualPrinter::kHandshakeWait;
            if (o.idleTimeout > 0 && (!limit || idleLimit < *limit)) limit = idleLimit;
            int timeoutMs = -1;
            if (limit) // one more millisecond, so that the wait never ends just short of the limit
                timeoutMs = static_cast<int>(std::max<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(*limit - waited).count() + 1, 0));
            // A run of events held back of the log is written once the host pauses; a host that sends in
            // small pieces does not split it.
            if (printer.holdsLog()) timeoutMs = timeoutMs < 0 ? kLogPauseMs : std::min(timeoutMs, kLogPauseMs);
            const int w = net::waitReadable(fd, shared.stop, timeoutMs, dataReady, stopped);
            if (w < 0) {
                end = "failed: " + net::lastError("poll");
                failed = true;
                break;
            }
            if (w == 0) {
                printer.flushLog();
                const auto silent = std::chrono::steady_clock::now() - silentSince;
                if (printer.awaitingHost() && silent >= VirtualPrinter::kHandshakeWait) printer.hostSilent();
                if (o.idleTimeout > 0 && silent >= idleLimit) {
                    end = "closed, silent for " + std::to_string(o.idleTimeout) + " s,";
                    break;
                }
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
            if (n == -1 && !drainLeft) {
                end = "failed: " + net::lastError("recv");
                failed = true;
            }
            break;
        }
        received += static_cast<std::uint64_t>(n);
        silentSince = std::chrono::steady_clock::now();
        if (drainLeft) *drainLeft -= static_cast<std::size_t>(n);
        const auto reply = printer.feed(std::span(buffer).first(static_cast<std::size_t>(n)));
        if (!net::sendAll(fd, reply)) {
            end = "failed: " + net::lastError("send");
            failed = true;
            break;
        }
    }
    printer.finish();
    net::closeSocket(fd, reset);
    const std::string line = name + " " + end + " after " + std::to_string(received) + " bytes";
    failed ? shared.host.error(line) : shared.host.log(line);
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
    // First, as looking up a name needs the sockets layer.
    if (Status s = net::startup(); !s) return fail(s.error());
    auto addr = parseListen(o.listen);
    if (!addr) return fail(addr.error());
    NvStore store(o.nvFile);
    if (Status s = store.load(o.printer.capacity); !s) return fail(withContext("--nv", s.error()));
    GraphicsFile graphics(graphicsFileOf(o.nvFile));
    if (Status s = graphics.load(o.printer.graphicsCapacity); !s) return fail(withContext("--nv", s.error()));
    PrintDirectory prints(o.outDir);
    if (Status s = prints.open(); !s) return fail(s.error());

    // The signals are set up before any thread starts, so that every thread leaves them to the channel.
    net::StopChannel signals, stop;
    if (Status s = signals.open(true); !s) return fail(s.error());
    if (Status s = stop.open(false); !s) return fail(s.error());
    auto listening = net::listenOn(addr->host, addr->port);
    if (!listening) return fail(ioError(o.listen + ": " + listening.error().message));
    const net::UniqueSocket ownListener(*listening);
    const net::Socket listener = ownListener.get();

    LineLog log(out, o.quiet);
    DiskHost host(store, graphics, prints, log);
    PrinterConfig printer = o.printer;
    printer.serialNumber = "VP" + std::to_string(addr->port);
    const Shared shared{o, printer, host, stop.readable()};
    const std::string address = dotted(addr->host) + ":" + std::to_string(addr->port);
    // Written whole or not at all, so that whoever waits for it never reads half an address.
    if (!o.readyFile.empty()) {
        const std::string text = address + "\n";
        if (Status s = writeFileAtomically(o.readyFile,
                                           std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            !s)
            return fail(withContext("--ready-file", s.error()));
    }
    log.always("listening on " + address);
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
    if (!o.readyFile.empty()) {
        std::error_code ignored; // a file that is gone already is no failure
        std::filesystem::remove(o.readyFile, ignored);
    }
    log.line("stopped");
    return 0;
}

} // namespace tessera::vp
