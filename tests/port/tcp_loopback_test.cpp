// The network client over the POSIX sockets against listeners on 127.0.0.1 that this test runs: what the
// kernel really reports for a transfer, a refused port, a reset and a peer that stops reading. Every wait on
// the listening side is bounded, and only generous upper bounds of time are checked.

#if !defined(_WIN32)

#include "port/tcp_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace tessera {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kPeerWaitMs = 5000; // the far end gives up after this long without news

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// A socket bound to a free port of 127.0.0.1; listening unless asked otherwise, so that a connect to a bound
// socket that does not listen is refused without racing anyone for the port.
class Listener {
  public:
    explicit Listener(bool listening = true, int receiveBuffer = 0) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer > 0)
            ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof sa;
        EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        EXPECT_EQ(::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&sa), &size), 0);
        port_ = ntohs(sa.sin_port);
        if (listening) {
            EXPECT_EQ(::listen(fd_.get(), 1), 0);
        }
    }
    int port() const { return port_; }
    Fd accept() { return Fd(readable(fd_.get(), kPeerWaitMs) ? ::accept(fd_.get(), nullptr, nullptr) : -1); }

  private:
    Fd fd_;
    int port_ = 0;
};

// Reads until count bytes have come, the peer closed, or it stayed silent too long.
Bytes readBytes(int fd, std::size_t count) {
    Bytes got;
    std::uint8_t chunk[65536];
    while (got.size() < count && readable(fd, kPeerWaitMs)) {
        const ssize_t n = ::recv(fd, chunk, std::min(sizeof chunk, count - got.size()), 0);
        if (n <= 0) break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

Bytes pattern(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
    return b;
}

template <class F> std::chrono::milliseconds timed(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

const Bytes kStatusRequest = {0x1D, 0x61, 0x00};

TEST(TcpClientLoopback, TransfersEveryByteAndFinishesWithThePrinterAnswering) {
    for (const bool peerClosesAfterAnswering : {false, true}) {
        SCOPED_TRACE(peerClosesAfterAnswering ? "the peer closes after its answer" : "the peer stays open");
        Listener listener;
        const Bytes data = pattern(300000);
        std::future<Bytes> farEnd = std::async(std::launch::async, [&] {
            Fd peer = listener.accept();
            Bytes got = readBytes(peer.get(), data.size() + kStatusRequest.size());
            const std::uint8_t status[] = {0x12, 0x00, 0x00, 0x0F};
            ::send(peer.get(), status, sizeof status, MSG_NOSIGNAL);
            if (!peerClosesAfterAnswering) readBytes(peer.get(), 1); // until the client closes
            return got;
        });

        CTcpClient client;
        ASSERT_EQ(client.connect("127.0.0.1", listener.port()), 0);
        // Blocks of the sizes an upload sends, some far larger than the socket's buffer.
        for (std::size_t at = 0, size = 1; at < data.size(); at += size, size = size * 7 + 3) {
            size = std::min(size, data.size() - at);
            ASSERT_EQ(client.send(std::span(data).subspan(at, size)), 1) << at;
        }
        int done = 0;
        const auto took = timed([&] { done = client.finish(); });
        EXPECT_EQ(done, 1);
        EXPECT_LT(took, 2500ms);
        client.close();

        Bytes expected = data;
        expected.insert(expected.end(), kStatusRequest.begin(), kStatusRequest.end());
        EXPECT_EQ(farEnd.get(), expected);
    }
}

TEST(TcpClientLoopback, ARefusedPortGives8WithoutWaitingOutTheConnectTime) {
    Listener notListening(false);
    CTcpClient client;
    int result = 0;
    const auto took = timed([&] { result = client.connect("127.0.0.1", notListening.port()); });
    EXPECT_EQ(result, 8);
    EXPECT_LT(took, 2000ms);
    EXPECT_FALSE(client.isOpen());

    // The client is usable again at once.
    Listener listener;
    std::future<Fd> farEnd = std::async(std::launch::async, [&] { return listener.accept(); });
    EXPECT_EQ(client.connect("127.0.0.1", listener.port()), 0);
    EXPECT_GE(farEnd.get().get(), 0);
}

TEST(TcpClientLoopback, APeerThatResetsTheConnectionFailsTheTransfer) {
    for (const bool whileSending : {false, true}) {
        SCOPED_TRACE(whileSending ? "reset while a block is being sent" : "reset after the last block");
        Listener listener;
        const Bytes data = pattern(whileSending ? 1 << 20 : 1000);
        std::future<Bytes> farEnd = std::async(std::launch::async, [&] {
            Fd peer = listener.accept();
            Bytes got = readBytes(peer.get(), 1000);
            const linger resetOnClose{1, 0}; // close with a reset instead of the orderly end
            ::setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
            return got;
        });

        CTcpClient client;
        ASSERT_EQ(client.connect("127.0.0.1", listener.port()), 0);
        if (whileSending) {
            int sent = 0;
            const auto took = timed([&] { sent = client.send(data); });
            EXPECT_EQ(sent, -1);
            EXPECT_LT(took, 1900ms); // the reset ends the wait; it is not a time-out
        } else {
            ASSERT_EQ(client.send(data), 1);
        }
        EXPECT_EQ(farEnd.get(), Bytes(data.begin(), data.begin() + 1000)); // the far end has reset by now
        EXPECT_EQ(client.finish(), 0);
        EXPECT_TRUE(client.connectionBroken());
        client.close();
    }
}

TEST(TcpClientLoopback, APeerThatStopsReadingFailsTheSendWithinItsTimeOut) {
    Listener listener(true, 4096);
    std::promise<void> released;
    std::future<void> release = released.get_future();
    std::future<void> farEnd = std::async(std::launch::async, [&] {
        Fd peer = listener.accept();
        release.wait_for(20s); // holds the connection open, reading nothing
    });

    CTcpClient client;
    ASSERT_EQ(client.connect("127.0.0.1", listener.port()), 0);
    const Bytes data = pattern(4 << 20);
    int sent = 0;
    const auto sendTook = timed([&] { sent = client.send(data); });
    EXPECT_EQ(sent, -1);
    EXPECT_LT(sendTook, 5000ms);

    int done = 1;
    const auto finishTook = timed([&] { done = client.finish(); });
    EXPECT_EQ(done, 0);
    EXPECT_LT(finishTook, 5000ms);
    client.close();
    released.set_value();
    farEnd.get();
}

} // namespace
} // namespace tessera

#endif
