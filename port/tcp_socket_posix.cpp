#include "port/tcp_socket.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/sockios.h>
#endif

namespace tessera {
namespace {

#if defined(MSG_NOSIGNAL)
// A peer that went away turns a send into EPIPE instead of a SIGPIPE that would end the whole program.
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

int fd(SocketHandle socket) { return static_cast<int>(socket); }

timeval toTimeval(std::chrono::milliseconds ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
    return tv;
}

IoResult ioError(int error) {
    if (error == EAGAIN || error == EWOULDBLOCK) return {IoStatus::WouldBlock, 0, error};
    if (error == ECONNRESET || error == EPIPE || error == ECONNABORTED) return {IoStatus::Reset, 0, error};
    return {IoStatus::Failed, 0, error};
}

class PosixSocketLayer final : public TcpSocketLayer {
  public:
    // Nothing to start, and no versions to negotiate.
    std::optional<std::uint16_t> startup(std::uint16_t requestedVersion) override { return requestedVersion; }

    SocketHandle createSocket() override {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return s < 0 ? kInvalidSocket : SocketHandle{s};
    }

    void setOptions(SocketHandle socket, const SocketOptions& options) override {
        const timeval receive = toTimeval(options.receiveTimeout);
        const timeval send = toTimeval(options.sendTimeout);
        const int buffer = options.sendBufferBytes;
        ::setsockopt(fd(socket), SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
        ::setsockopt(fd(socket), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        ::setsockopt(fd(socket), SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
    }

    bool setNonBlocking(SocketHandle socket) override {
        const int flags = ::fcntl(fd(socket), F_GETFL, 0);
        return flags >= 0 && ::fcntl(fd(socket), F_SETFL, flags | O_NONBLOCK) == 0;
    }

    std::uint32_t inetAddr(const std::string& text) override { return ::inet_addr(text.c_str()); }

    bool startConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port) override {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = address;
        if (::connect(fd(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return true;
        // An interrupted connect goes on in the background, like one in progress. (EAGAIN is no would-block
        // here: for TCP it means no local port was free.)
        return errno == EINPROGRESS || errno == EINTR;
    }

    WaitResult waitWritable(SocketHandle socket, std::chrono::milliseconds timeout) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd(socket), POLLOUT, 0};
            const int n = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
            if (n < 0) {
                if (errno == EINTR) continue;
                return {WaitStatus::Failed, errno};
            }
            if (n == 0) return {WaitStatus::TimedOut, 0};
            if (p.revents & POLLNVAL) return {WaitStatus::Failed, EBADF};
            return {WaitStatus::Ready, 0};
        }
    }

    WaitResult waitReadable(SocketHandle socket, std::chrono::milliseconds timeout) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd(socket), POLLIN, 0};
            const int n = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
            if (n < 0) {
                if (errno == EINTR) continue;
                return {WaitStatus::Failed, errno};
            }
            if (n == 0) return {WaitStatus::TimedOut, 0};
            if (p.revents & POLLNVAL) return {WaitStatus::Failed, EBADF};
            return {WaitStatus::Ready, 0};
        }
    }

    int pendingError(SocketHandle socket) override {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
        return error;
    }

    IoResult sendSome(SocketHandle socket, std::span<const std::uint8_t> bytes) override {
        for (;;) {
            const ssize_t n = ::send(fd(socket), bytes.data(), bytes.size(), kSendFlags);
            if (n >= 0) return {IoStatus::Done, static_cast<std::size_t>(n), 0};
            if (errno != EINTR) return ioError(errno);
        }
    }

    IoResult receive(SocketHandle socket, std::span<std::uint8_t> buffer) override {
        for (;;) {
            const ssize_t n = ::recv(fd(socket), buffer.data(), buffer.size(), 0);
            if (n >= 0) return {IoStatus::Done, static_cast<std::size_t>(n), 0};
            if (errno != EINTR) return ioError(errno);
        }
    }

    long unacknowledgedBytes([[maybe_unused]] SocketHandle socket) override {
#if defined(SIOCOUTQ)
        int pending = 0;
        if (::ioctl(fd(socket), SIOCOUTQ, &pending) == 0) return pending;
#endif
        return -1;
    }

    void close(SocketHandle socket) override { ::close(fd(socket)); }

    int lastErrorNumber() override {
        return errno;
    }

    void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

    void debugOutput(const std::string& text) override {
        if (std::getenv("TESSERA_DEBUG") != nullptr) std::fprintf(stderr, "%s\n", text.c_str());
    }

    // Never reached on POSIX, where the start-up cannot fail; kept visible rather than silent.
    void messageBox(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
};

} // namespace

std::unique_ptr<TcpSocketLayer> makePlatformSocketLayer() { return std::make_unique<PosixSocketLayer>(); }

} // namespace tessera
