#include "support/loopback_printer_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace tessera::test {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

int listenOn(int backlog, int& port, int receiveBuffer = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Set before listen() so that accepted connections inherit it and advertise a small window.
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_in a = loopback(port);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return fd;
}

} // namespace

LoopbackPrinter::LoopbackPrinter(Behaviour behaviour, std::size_t limit) : behaviour_(behaviour), limit_(limit) {
    listenFd_ = listenOn(behaviour == Behaviour::NeverAccept ? 0 : 16, port_, behaviour == Behaviour::Stall ? 4096 : 0);
    if (behaviour_ == Behaviour::NeverAccept) {
        // Fill the accept queue so that the kernel drops further handshakes: a printer that never answers.
        for (int i = 0; i < 3; ++i)
            heldFds_.push_back(connectTo(port_));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

LoopbackPrinter::~LoopbackPrinter() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : heldFds_)
        ::close(fd);
    if (listenFd_ >= 0) ::close(listenFd_);
}

int LoopbackPrinter::closedPort() {
    int port = 0;
    ::close(listenOn(1, port));
    return port;
}

std::vector<std::vector<std::uint8_t>> LoopbackPrinter::connections(std::size_t count) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        std::lock_guard lock(mutex_);
        if (done_.size() >= count || std::chrono::steady_clock::now() > until) return done_;
    }
}

void LoopbackPrinter::serve() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++accepted_;
        if (behaviour_ == Behaviour::Stall) {
            heldFds_.push_back(fd);
            continue;
        }
        std::vector<std::uint8_t> got;
        std::uint8_t buf[65536];
        const auto full = [&] { return behaviour_ == Behaviour::ResetAfter && got.size() >= limit_; };
        for (pollfd q{fd, POLLIN, 0}; !stop_ && !full();) {
            if (::poll(&q, 1, 50) <= 0) continue;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        if (full()) {
            linger l{1, 0}; // a zero linger time makes the close a reset
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(fd);
        std::lock_guard lock(mutex_);
        done_.push_back(std::move(got));
    }
}

} // namespace tessera::test
