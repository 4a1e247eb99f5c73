// The network client over a scripted socket layer whose clock moves only when the client sleeps or a wait
// expires, so every time-out and pause is checked exactly and nothing really waits.

#include "port/tcp_client.h"

#include "port/system_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <numeric>
#include <string>
#include <vector>

namespace tessera {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;
using Ms = std::chrono::milliseconds;
const IoResult kWouldBlock{IoStatus::WouldBlock, 0, 11};

struct FakeLayer : TcpSocketLayer {
    // Script.
    std::optional<std::uint16_t> granted = 0x0202;
    bool createFails = false, nonBlockingFails = false, connectFails = false;
    std::deque<WaitResult> waits; // answers to waitWritable in order, then Ready
    std::deque<IoResult> sends;   // answers to sendSome in order (a Done caps the count), then take all
    int soError = 0;
    std::deque<std::pair<Ms, Bytes>> incoming; // what the peer sends, readable from its time on
    std::optional<Ms> peerClosesAt, resetAt;
    long unacknowledged = 0; // until ackedAt
    Ms ackedAt{0};

    // Record.
    Ms now{0};
    Log log;
    Bytes sent;

    template <class T> T note(const std::string& line, T result) {
        log.push_back(line);
        return result;
    }
    std::optional<std::uint16_t> startup(std::uint16_t v) override {
        return note("startup " + std::to_string(v), granted);
    }
    SocketHandle createSocket() override {
        return createFails ? note("socket failed", kInvalidSocket) : note("socket 3", 3);
    }
    void setOptions(SocketHandle, const SocketOptions& o) override {
        log.push_back("options rcvtimeo=" + std::to_string(o.receiveTimeout.count()) + " sndbuf=" +
                      std::to_string(o.sendBufferBytes) + " sndtimeo=" + std::to_string(o.sendTimeout.count()));
    }
    bool setNonBlocking(SocketHandle) override { return note("nonblocking", !nonBlockingFails); }
    std::uint32_t inetAddr(const std::string& text) override {
        return text == "192.168.1.50" ? 0x3201A8C0u : 0xFFFFFFFFu;
    }
    bool startConnect(SocketHandle, std::uint32_t address, std::uint16_t port) override {
        char text[32];
        std::snprintf(text, sizeof text, "connect %08X %u", address, port);
        return note(text, !connectFails);
    }
    WaitResult waitWritable(SocketHandle, Ms timeout) override {
        log.push_back("wait " + std::to_string(timeout.count()));
        if (waits.empty()) return {};
        const WaitResult w = waits.front();
        waits.pop_front();
        if (w.status == WaitStatus::TimedOut) now += timeout;
        return w;
    }
    WaitResult waitReadable(SocketHandle, Ms timeout) override {
        if (!incoming.empty() && incoming.front().first <= now + timeout) {
            now = std::max(now, incoming.front().first);
            return {};
        }
        now += timeout;
        return {WaitStatus::TimedOut, 0};
    }
    int lastErrorNumber() override { return 111; }
    int pendingError(SocketHandle) override { return isReset() ? 104 : soError; }
    IoResult sendSome(SocketHandle, std::span<const std::uint8_t> b) override {
        if (isReset()) return {IoStatus::Reset, 0, 104};
        std::size_t take = b.size();
        if (!sends.empty()) {
            const IoResult r = sends.front();
            sends.pop_front();
            if (r.status != IoStatus::Done) return r;
            take = std::min(take, r.count);
        }
        sent.insert(sent.end(), b.begin(), b.begin() + static_cast<std::ptrdiff_t>(take));
        return {IoStatus::Done, take, 0};
    }
    IoResult receive(SocketHandle, std::span<std::uint8_t> buffer) override {
        if (isReset()) return {IoStatus::Reset, 0, 104};
        if (!incoming.empty() && incoming.front().first <= now) {
            const std::size_t n = std::min(incoming.front().second.size(), buffer.size());
            std::copy_n(incoming.front().second.begin(), n, buffer.begin());
            incoming.pop_front();
            return {IoStatus::Done, n, 0};
        }
        if (peerClosesAt && *peerClosesAt <= now) return {IoStatus::Done, 0, 0};
        return {IoStatus::WouldBlock, 0, 11};
    }
    long unacknowledgedBytes(SocketHandle) override { return now < ackedAt ? unacknowledged : 0; }
    void close(SocketHandle) override { log.push_back("close"); }
    void sleep(Ms d) override { now += d; }
    void debugOutput(const std::string& text) override { log.push_back("debug " + text); }
    void messageBox(const std::string& text, const std::string& caption) override {
        log.push_back("box " + text + " | " + caption);
    }

    bool isReset() const { return resetAt && *resetAt <= now; }
    bool logged(const std::string& line) const { return std::count(log.begin(), log.end(), line) > 0; }
};

// A client connected to 192.168.1.50:9100, with the connect's calls cleared from the log.
struct Connected {
    FakeLayer layer;
    CTcpClient client{layer};
    Connected() {
        EXPECT_EQ(client.connect("192.168.1.50", 9100), 0);
        layer.log.clear();
    }
};

TEST(TcpClientConnect, SetsUpANonBlockingSocketBeforeConnectingAndClosesOnceWithAPause) {
    FakeLayer layer;
    CTcpClient client(layer);
    EXPECT_EQ(client.connect("192.168.1.50", 9100), 0);
    EXPECT_EQ(layer.log, (Log{"startup 514", "socket 3", "options rcvtimeo=500 sndbuf=0 sndtimeo=2000", "nonblocking",
                              "connect 3201A8C0 9100", "wait 3000"}));
    EXPECT_TRUE(client.isOpen());
    // A socket still held is dropped, and the caller must ask again.
    layer.log.clear();
    EXPECT_EQ(client.connect("192.168.1.50", 9100), -1);
    EXPECT_EQ(layer.log, (Log{"close"}));
    EXPECT_FALSE(client.isOpen());
    ASSERT_EQ(client.connect("192.168.1.50", 9100), 0);
    layer.log.clear();
    client.close();
    client.close();
    EXPECT_EQ(layer.log, (Log{"close"}));
    EXPECT_EQ(layer.now, 100ms);
    EXPECT_FALSE(client.isOpen());

    // The port is cut to 16 bits; text that is no address still goes to the all-ones address.
    FakeLayer other;
    CTcpClient(other).connect("printer.local", 0x10000 + 9100);
    EXPECT_TRUE(other.logged("connect FFFFFFFF 9100"));
}

TEST(TcpClientConnect, EachFailureIsReportedAndLeavesNoSocketBehind) {
    const std::string wrongVersion = "box wrong version of protocol stack, need 2.0 | WSAStartup Version Warning";
    const std::string notVersion22 = "WSAStartup: the sockets layer is not version 2.2";
    const std::string noAnswer = "debug FD_ISSET Failed Time";
    const struct {
        const char* what;
        void (*script)(FakeLayer&);
        int result;
        std::string last, why; // the last call made, and what the client tells of it
    } cases[] = {
        {"no stack", [](FakeLayer& l) { l.granted.reset(); }, -3, "box Unable to start TCP/IP stack | WSAStartup error",
         "WSAStartup: the sockets layer cannot be started"},
        {"version 1.1", [](FakeLayer& l) { l.granted = 0x0101; }, -2, wrongVersion, notVersion22},
        {"version 2.0", [](FakeLayer& l) { l.granted = 0x0002; }, -2, wrongVersion, notVersion22},
        {"no socket", [](FakeLayer& l) { l.createFails = true; }, -2, "socket failed", systemError("socket", 111)},
        {"non-blocking", [](FakeLayer& l) { l.nonBlockingFails = true; }, -1, "close",
         systemError("non-blocking mode", 111)},
        {"connect start", [](FakeLayer& l) { l.connectFails = true; }, -1, "close", systemError("connect", 111)},
        {"select", [](FakeLayer& l) { l.waits.emplace_back(WaitStatus::Failed, 10022); }, -1, "close",
         systemError("connect", 10022)},
        {"time-out", [](FakeLayer& l) { l.waits.emplace_back(WaitStatus::TimedOut, 0); }, 8, noAnswer,
         "connect: no answer within 3 s"},
        {"refused: writable with SO_ERROR", [](FakeLayer& l) { l.soError = 111; }, 8, noAnswer,
         systemError("connect", 111)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLayer layer;
        c.script(layer);
        CTcpClient client(layer);
        EXPECT_EQ(client.connect("192.168.1.50", 9100), c.result);
        EXPECT_EQ(layer.log.back(), c.last);
        EXPECT_EQ(client.lastError(), c.why);
        EXPECT_FALSE(client.isOpen());
        EXPECT_EQ(layer.logged("socket 3"), layer.logged("close"));
        layer = FakeLayer{};
        EXPECT_EQ(client.connect("192.168.1.50", 9100), 0) << "nothing is held any more";
    }
}

TEST(TcpClientSend, PartialSendsAndWouldBlocksGoOnUntilEveryByteIsTaken) {
    Connected c;
    Bytes block(1000);
    std::iota(block.begin(), block.end(), 0);
    c.layer.sends = {{IoStatus::Done, 300, 0}, kWouldBlock, {IoStatus::Done, 1, 0}, kWouldBlock, kWouldBlock};
    EXPECT_EQ(c.client.send(block), 1);
    EXPECT_EQ(c.layer.sent, block);
    EXPECT_EQ(c.layer.log, (Log{"wait 2000", "wait 2000", "wait 2000"}));
    EXPECT_EQ(c.client.finish(), 1);
    EXPECT_EQ(Bytes(c.layer.sent.begin() + 1000, c.layer.sent.end()), (Bytes{0x1D, 0x61, 0x00})); // status back off
}

TEST(TcpClientSend, FailuresAreReportedAndFailTheTransfer) {
    struct Case {
        std::deque<IoResult> sends;
        std::deque<WaitResult> waits;
        Log log;
        Ms now;
    } cases[] = {
        {{{IoStatus::Done, 10, 0}, kWouldBlock},
         {{WaitStatus::TimedOut, 0}},
         {"wait 2000", "debug send error=timeout"},
         2000ms},
        {{{IoStatus::Reset, 0, 10054}}, {}, {"debug send error=10054"}, 0ms},
        {{kWouldBlock}, {{WaitStatus::Failed, 9}}, {"wait 2000", "debug send error=9"}, 0ms},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.log.back());
        Connected c;
        c.layer.sends = k.sends;
        c.layer.waits = k.waits;
        EXPECT_EQ(c.client.send(Bytes(100, 0x55)), -1);
        EXPECT_EQ(c.layer.log, k.log);
        EXPECT_EQ(c.layer.now, k.now);
        // The printer has lost part of the logo, even when later blocks go out and it answers.
        c.layer.incoming.push_back({0ms, {0x12}});
        EXPECT_EQ(c.client.send(Bytes(5, 1)), 1);
        EXPECT_EQ(c.client.finish(), 0);
        // A new connection forgets the failures of the last one.
        c.client.close();
        c.layer = FakeLayer{};
        ASSERT_EQ(c.client.connect("192.168.1.50", 9100), 0);
        EXPECT_EQ(c.client.send(Bytes(4, 0)), 1);
        EXPECT_EQ(c.client.finish(), 1);
    }
    // Never connected: both fail at once.
    FakeLayer layer;
    EXPECT_EQ(CTcpClient(layer).send(Bytes(4, 0)), -1);
    EXPECT_EQ(CTcpClient(layer).finish(), 0);
    EXPECT_EQ(layer.now, 0ms);
}

TEST(TcpClientRead, WaitsForTheAnswerWithinItsBoundAndNamesWhatFailed) {
    Connected c;
    std::uint8_t buffer[256];
    c.layer.incoming.push_back({30ms, {0x12}});
    EXPECT_EQ(c.client.read(buffer, 500ms).value(), 1u);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(c.layer.now, 30ms); // as soon as it came
    EXPECT_EQ(c.client.read(buffer, 500ms).value(), 0u);
    EXPECT_EQ(c.layer.now, 530ms);
    c.layer.peerClosesAt = 530ms;
    EXPECT_EQ(c.client.read(buffer, 500ms).error().message, "recv: the printer closed the connection");
    c.layer.resetAt = 530ms;
    EXPECT_EQ(c.client.read(buffer, 500ms).error().message, systemError("recv", 104));
    EXPECT_EQ(c.client.lastError(), systemError("recv", 104));
}

// The status request is polled for an answer five times 100 ms apart. Done means no error on the way and,
// where the platform tells, every byte acknowledged within 2 s.
TEST(TcpClientFinish, DoneOnlyWhenEveryByteIsAcknowledgedInTimeWithoutAResetOrAnError) {
    const struct {
        const char* what;
        void (*script)(FakeLayer&);
        int result;
        Ms end;
    } cases[] = {
        {"answered at 60 ms: one more poll, then done",
         [](FakeLayer& l) { l.incoming.emplace_back(60ms, Bytes(1, 0x12)); }, 1, 200ms},
        {"stale bytes are dropped before the request",
         [](FakeLayer& l) { l.incoming.emplace_back(0ms, Bytes(2, 0xAA)); }, 1, 500ms},
        {"acknowledged 370 ms after the polls", [](FakeLayer& l) { l.unacknowledged = 4096, l.ackedAt = 870ms; }, 1,
         870ms},
        {"acknowledged just in time", [](FakeLayer& l) { l.unacknowledged = 4096, l.ackedAt = 2500ms; }, 1, 2500ms},
        {"still unacknowledged after 2 s", [](FakeLayer& l) { l.unacknowledged = 4096, l.ackedAt = 2510ms; }, 0,
         2500ms},
        {"the platform cannot tell", [](FakeLayer& l) { l.unacknowledged = -1, l.ackedAt = 1h; }, 1, 500ms},
        {"the peer closed after taking everything", [](FakeLayer& l) { l.peerClosesAt = 50ms; }, 1, 500ms},
        {"the peer closed with bytes unacknowledged",
         [](FakeLayer& l) { l.unacknowledged = 700, l.ackedAt = 1h, l.peerClosesAt = 50ms; }, 0, 2500ms},
        {"the peer closed where the platform cannot tell",
         [](FakeLayer& l) { l.unacknowledged = -1, l.ackedAt = 1h, l.peerClosesAt = 50ms; }, 0, 500ms},
        {"reset before the exchange", [](FakeLayer& l) { l.resetAt = 0ms; }, 0, 500ms},
        {"reset after the answer",
         [](FakeLayer& l) { l.incoming.emplace_back(100ms, Bytes(1, 0x12)), l.resetAt = 150ms; }, 0, 200ms},
        {"the request cannot be sent", [](FakeLayer& l) { l.sends.emplace_back(IoStatus::Failed, 0, 32); }, 0, 500ms},
        {"an error left in SO_ERROR", [](FakeLayer& l) { l.soError = 110; }, 0, 500ms},
        {"reset while waiting for acknowledgements",
         [](FakeLayer& l) { l.unacknowledged = 100, l.ackedAt = 1h, l.resetAt = 600ms; }, 0, 600ms},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Connected c;
        k.script(c.layer);
        EXPECT_EQ(c.client.finish(), k.result);
        EXPECT_EQ(c.layer.now, k.end);
    }
}

} // namespace
} // namespace tessera
