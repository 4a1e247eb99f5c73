// The fleet benchmark's printers: COUNT virtual printers in one process, each on a loopback port of its own.
//
// Real printers do not share the machine that runs nvlogo. A thousand nvlogo-printer processes do: their
// accepts, threads and NV file rewrites take the two CPUs the upload needs, and the benchmark then measures
// them. Here every printer is the same interpreter (VirtualPrinter) with its NV images in memory, and one
// thread serves them all through epoll, so a printer costs little more than its sockets.
//
// Usage: fleet_printers COUNT READY_FILE
//   Listens on COUNT ports of 127.0.0.1, writes them to READY_FILE (one a line, written whole once all
//   listen) and serves until SIGTERM or SIGINT.

#include "tools/nvlogo_printer/virtual_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using tessera::Status;
using namespace tessera::vp;

class MemoryHost : public PrinterHost {
  public:
    Status defineImages(ImageList images) override {
        images_ = std::move(images);
        return {};
    }
    Status eraseImages() override {
        images_.clear();
        return {};
    }
    std::shared_ptr<const NvImage> image(int number) override {
        if (number < 1 || static_cast<std::size_t>(number) > images_.size()) return nullptr;
        return images_[static_cast<std::size_t>(number - 1)];
    }
    void cutPage(const Bitmap&) override {}
    void log(const std::string&) override {}

  private:
    ImageList images_;
};

struct Printer {
    int listener = -1;
    MemoryHost host;
};

// One connection; the printer it reached keeps its NV images after it closes.
struct Connection {
    int fd;
    std::unique_ptr<VirtualPrinter> interpreter;
};

[[noreturn]] void die(const char* call) {
    std::fprintf(stderr, "fleet_printers: %s: %s\n", call, std::strerror(errno));
    std::exit(1);
}

void sendAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // the host went away or stopped reading: the rest of the answer is dropped
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: fleet_printers COUNT READY_FILE\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (signals < 0 || epoll < 0) die("signalfd");

    // epoll's data tells what woke: 0 the signals, 1..count a printer's listener, else a Connection*.
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = 0;
    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, signals, &ev) != 0) die("epoll_ctl");
    std::vector<Printer> printers(static_cast<std::size_t>(count));
    std::string ports;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) die("socket");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            die("bind");
        printers[static_cast<std::size_t>(i)].listener = fd;
        ev.data.u64 = static_cast<std::uint64_t>(i) + 1;
        if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) != 0) die("epoll_ctl");
        ports += "127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "\n";
    }
    {
        const std::string partial = std::string(argv[2]) + ".part";
        std::ofstream(partial) << ports;
        if (std::rename(partial.c_str(), argv[2]) != 0) die("rename");
    }

    PrinterConfig config;
    std::vector<std::uint8_t> buffer(65536);
    std::vector<epoll_event> events(256);
    for (;;) {
        const int n = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) die("epoll_wait");
        for (int e = 0; e < n; ++e) {
            const std::uint64_t tag = events[static_cast<std::size_t>(e)].data.u64;
            if (tag == 0) return 0;
            if (tag <= static_cast<std::uint64_t>(count)) {
                Printer& printer = printers[tag - 1];
                for (;;) {
                    const int fd = ::accept4(printer.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (fd < 0) break;
                    auto* c = new Connection{fd, std::make_unique<VirtualPrinter>(printer.host, config)};
                    epoll_event cev{};
                    cev.events = EPOLLIN;
                    cev.data.ptr = c;
                    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &cev) != 0) die("epoll_ctl");
                }
                continue;
            }
            auto* c = static_cast<Connection*>(events[static_cast<std::size_t>(e)].data.ptr);
            const ssize_t got = ::recv(c->fd, buffer.data(), buffer.size(), 0);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got <= 0) {
                c->interpreter->finish();
                ::close(c->fd); // also leaves the epoll set
                delete c;
                continue;
            }
            sendAll(c->fd, c->interpreter->feed(std::span(buffer).first(static_cast<std::size_t>(got))));
        }
    }
}
