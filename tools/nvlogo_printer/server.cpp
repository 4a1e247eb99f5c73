#include "tools/nvlogo_printer/server.h"

#include "tools/nvlogo_printer/disk_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <ostream>
#include <thread>

namespace tessera::vp {

namespace {

constexpr auto kStallLimit = std::chrono::seconds(60);

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string sysError(const char* call) {
    return std::string(call) + ": " + std::strerror(errno);
}

Result<sockaddr_in> parseListen(const std::string& text) {
    const auto colon = text.rfind(':');
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    const std::string host = text.substr(0, colon == std::string::npos ? 0 : colon);
    const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (host.empty() || ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1 || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535)
        return badInput("--listen " + text + ": expected an IPv4 HOST:PORT");
    if ((ntohl(addr.sin_addr.s_addr) >> 24) != 127)
        return badInput("--listen " + text + ": only loopback (127.0.0.0/8)");
    addr.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
    return addr;
}

std::string addressText(const sockaddr_in& addr) {
    char host[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &addr.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(addr.sin_port));
}

// An abortive close: the peer's next read or write fails with a reset instead of seeing the end of data.
void resetAndClose(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

bool sendAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

struct Shared {
    const ServerOptions& options;
    PrinterHost& host;
    int stopFd; // readable once the server stops
};

// Keeps a connection open without reading until the peer closes it, the server stops or the limit passes.
void stall(int fd, int stopFd) {
    const auto deadline = std::chrono::steady_clock::now() + kStallLimit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd fds[2] = {{fd, POLLRDHUP, 0}, {stopFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r != 0) return;
    }
}

void serveConnection(const Shared& shared, int fd, const std::string& name) {
    const ServerOptions& o = shared.options;
    VirtualPrinter printer(shared.host, o.printer);
    std::vector<std::uint8_t> buffer(65536);
    std::uint64_t received = 0;
    std::string end = "closed by the peer";
    bool reset = false;
    std::optional<std::size_t> drainLeft; // set by the stop: the bytes already queued, the last to be read
    for (;;) {
        if (o.closeAfter && received >= *o.closeAfter) {
            end = "reset (--close-after)";
            reset = true;
            break;
        }
        if (o.stallAfter && received >= *o.stallAfter) {
            shared.host.log(name + " stalled (--stall-after)");
            stall(fd, shared.stopFd);
            end = "closed after the stall";
            break;
        }
        // Never read past a fault's byte count: the bytes after it must not reach the printer.
        std::size_t want = buffer.size();
        for (const auto& limit : {o.closeAfter, o.stallAfter})
            if (limit) want = static_cast<std::size_t>(std::min<std::uint64_t>(want, *limit - received));
        if (!drainLeft) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {shared.stopFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                end = "failed: " + sysError("poll");
                break;
            }
            if (fds[1].revents) {
                // What the peer sent before the stop is still executed; nothing after it.
                int queued = 0;
                ::ioctl(fd, FIONREAD, &queued);
                drainLeft = static_cast<std::size_t>(std::max(queued, 0));
                end = "closed by the shutdown";
            }
        }
        if (drainLeft) {
            if (*drainLeft == 0) break;
            want = std::min(want, *drainLeft);
        }
        const ssize_t n = ::recv(fd, buffer.data(), want, drainLeft ? MSG_DONTWAIT : 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && !drainLeft) continue;
        if (n <= 0) {
            if (n < 0 && !drainLeft) end = "failed: " + sysError("recv");
            break;
        }
        received += static_cast<std::uint64_t>(n);
        if (drainLeft) *drainLeft -= static_cast<std::size_t>(n);
        const auto reply = printer.feed(std::span(buffer).first(static_cast<std::size_t>(n)));
        if (!sendAll(fd, reply)) {
            end = "failed: " + sysError("send");
            break;
        }
    }
    printer.finish();
    if (reset)
        resetAndClose(fd);
    else
        ::close(fd);
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

    // Every thread inherits the blocked signals, so they arrive only through the signal descriptor.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    Fd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    Fd stop(::eventfd(0, EFD_CLOEXEC));
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (signals.get() < 0 || stop.get() < 0 || listener.get() < 0) return fail(ioError(sysError("socket")));
    const int on = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t len = sizeof *addr;
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0 ||
        ::listen(listener.get(), 64) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&*addr), &len) != 0)
        return fail(ioError(o.listen + ": " + sysError("bind")));

    LineLog log(out);
    DiskHost host(store, prints, log);
    const Shared shared{o, host, stop.get()};
    log.line("listening on " + addressText(*addr));
    std::list<Worker> workers;
    int connections = 0;
    for (;;) {
        pollfd fds[2] = {{listener.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents) break;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in peer{};
        socklen_t peerLen = sizeof peer;
        const int fd = ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&peer), &peerLen, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const std::string name = "connection " + std::to_string(++connections);
        if (o.refuse) {
            resetAndClose(fd);
            log.line(name + " from " + addressText(peer) + " refused (--refuse)");
            continue;
        }
        // A peer that stops reading must not hold up a status reply, and with it the shutdown, for ever.
        const timeval sendLimit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        log.line(name + " from " + addressText(peer));
        workers.remove_if([](Worker& w) {
            if (!w.done) return false;
            w.thread.join();
            return true;
        });
        Worker& w = workers.emplace_back();
        w.thread = std::thread([&shared, &w, fd, name] {
            serveConnection(shared, fd, name);
            w.done = true;
        });
    }
    const std::uint64_t one = 1;
    if (::write(stop.get(), &one, sizeof one) != sizeof one) log.line("cannot signal the connections to stop");
    for (Worker& w : workers)
        w.thread.join();
    log.line("stopped");
    return 0;
}

} // namespace tessera::vp
