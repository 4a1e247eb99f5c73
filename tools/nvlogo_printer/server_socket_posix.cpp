#include "tools/nvlogo_printer/server_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessera::vp::net {

namespace {
int fdOf(Socket s) { return static_cast<int>(s); }
} // namespace

Status startup() {
    ::signal(SIGPIPE, SIG_IGN);
    return {};
}

std::string lastError(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

Result<std::vector<std::uint32_t>> lookUpIPv4(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) return ioError("cannot resolve " + name + ": " + ::gai_strerror(rc));
    std::vector<std::uint32_t> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next)
        addresses.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr));
    ::freeaddrinfo(found);
    return addresses;
}

Result<Socket> listenOn(std::uint32_t address, std::uint16_t& port) {
    UniqueSocket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener) return ioError(lastError("socket"));
    const int fd = fdOf(listener.get());
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return ioError(lastError("bind"));
    port = ntohs(addr.sin_port);
    return listener.release();
}

Socket acceptFrom(Socket listener, std::string& peer) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    const int fd = ::accept4(fdOf(listener), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    if (fd < 0) return kNone;
    char host[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &addr.sin_addr, host, sizeof host);
    peer = std::string(host) + ":" + std::to_string(ntohs(addr.sin_port));
    return fd;
}

StopChannel::~StopChannel() = default;

Status StopChannel::open(bool installSignals) {
    read_.reset(::eventfd(0, EFD_CLOEXEC));
    if (!read_) return ioError(lastError("eventfd"));
    write_ = read_.get();
    if (installSignals) {
        // Every thread started later inherits the blocked signals, so they arrive only through the descriptor.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
        signals_.reset(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
        if (!signals_) return ioError(lastError("signalfd"));
    }
    return {};
}

void StopChannel::notify() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fdOf(write_), &one, sizeof one);
}

int waitReadable(Socket a, Socket b, int timeoutMs, bool& aReady, bool& bReady) {
    aReady = bReady = false;
    pollfd fds[2] = {{fdOf(a), POLLIN, 0}, {fdOf(b), POLLIN, 0}};
    const int r = ::poll(fds, 2, timeoutMs);
    if (r < 0) return errno == EINTR ? 0 : -1;
    aReady = fds[0].revents != 0;
    bReady = fds[1].revents != 0;
    return r > 0 ? 1 : 0;
}

void waitWhileOpen(Socket s, Socket stop, int timeoutMs) {
    pollfd fds[2] = {{fdOf(s), POLLRDHUP, 0}, {fdOf(stop), POLLIN, 0}};
    while (::poll(fds, 2, timeoutMs) < 0 && errno == EINTR) {
    }
}

long receive(Socket s, std::span<std::uint8_t> into, bool dontWait) {
    const ssize_t n = ::recv(fdOf(s), into.data(), into.size(), dontWait ? MSG_DONTWAIT : 0);
    if (n < 0) return errno == EINTR || errno == EAGAIN ? -2 : -1;
    return static_cast<long>(n);
}

bool sendAll(Socket s, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fdOf(s), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

std::size_t queuedBytes(Socket s) {
    int queued = 0;
    if (::ioctl(fdOf(s), FIONREAD, &queued) != 0) return 0;
    return static_cast<std::size_t>(queued > 0 ? queued : 0);
}

void setSendTimeout(Socket s, int seconds) {
    const timeval limit{seconds, 0};
    ::setsockopt(fdOf(s), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void closeSocket(Socket s, bool reset) {
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(fdOf(s), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(fdOf(s));
}

} // namespace tessera::vp::net
