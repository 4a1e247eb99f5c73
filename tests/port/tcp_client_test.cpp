// The network client over a scripted socket layer whose clock moves only when the client sleeps or a wait
// expires, so every time-out and pause is checked exactly and nothing really waits.

#include "port/tcp_client.h"

#include "port/system_error.h"
#include "serial_fake_layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace tessera {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;
using Ms = std::chrono::milliseconds;

struct FakeLayer : TcpSocketLayer {
    // Script.
    std::optional<std::uint16_t> granted = 0x0202;
    bool createFails = false, nonBlockingFails = false, connectFails = false;
    std::deque<WaitResult> waits; // answers to waitWritable in order, then Ready
    std::deque<IoResult> sends;   // answers to sendSome in order (a Done caps the count), then take all
    int soError = 0;
    struct Arrival {
        Ms at;
        Bytes bytes;
    };
    std::deque<Arrival> incoming; // what the peer sends, readable from its time on
    std::optional<Ms> peerClosesAt, resetAt;
    long unacknowledged = 0; // until ackedAt
    Ms ackedAt{0};

    // Record.
    Ms now{0};
    Log log;
    Bytes sent;
    std::vector<Ms> sleeps;
    int receives = 0;
    SocketHandle nextHandle = 3;

    std::optional<std::uint16_t> startup(std::uint16_t v) override {
        log.push_back("startup " + std::to_string(v));
        return granted;
    }
    SocketHandle createSocket() override {
        log.push_back(createFails ? "socket failed" : "socket " + std::to_string(nextHandle));
        return createFails ? kInvalidSocket : nextHandle++;
    }
    void setOptions(SocketHandle s, const SocketOptions& o) override {
        log.push_back("options " + std::to_string(s) + " rcvtimeo=" + std::to_string(o.receiveTimeout.count()) +
                      " sndbuf=" + std::to_string(o.sendBufferBytes) +
                      " sndtimeo=" + std::to_string(o.sendTimeout.count()));
    }
    bool setNonBlocking(SocketHandle s) override {
        log.push_back("nonblocking " + std::to_string(s));
        return !nonBlockingFails;
    }
    std::uint32_t inetAddr(const std::string& text) override {
        return text == "192.168.1.50" ? 0x3201A8C0u : 0xFFFFFFFFu;
    }
    bool startConnect(SocketHandle s, std::uint32_t address, std::uint16_t port) override {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", address);
        log.push_back("connect " + std::to_string(s) + " " + hex + " " + std::to_string(port));
        return !connectFails;
    }
    WaitResult waitWritable(SocketHandle s, Ms timeout) override {
        log.push_back("wait " + std::to_string(s) + " " + std::to_string(timeout.count()));
        if (waits.empty()) return {};
        const WaitResult w = waits.front();
        waits.pop_front();
        if (w.status == WaitStatus::TimedOut) now += timeout;
        return w;
    }
    WaitResult waitReadable(SocketHandle, Ms timeout) override {
        if (!incoming.empty() && incoming.front().at <= now + timeout) {
            now = std::max(now, incoming.front().at);
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
        ++receives;
        EXPECT_EQ(buffer.size(), 256u);
        if (isReset()) return {IoStatus::Reset, 0, 104};
        if (!incoming.empty() && incoming.front().at <= now) {
            const std::size_t n = std::min(incoming.front().bytes.size(), buffer.size());
            std::copy_n(incoming.front().bytes.begin(), n, buffer.begin());
            incoming.pop_front();
            return {IoStatus::Done, n, 0};
        }
        if (peerClosesAt && *peerClosesAt <= now) return {IoStatus::Done, 0, 0};
        return {IoStatus::WouldBlock, 0, 11};
    }
    long unacknowledgedBytes(SocketHandle) override { return now < ackedAt ? unacknowledged : 0; }
    void close(SocketHandle s) override { log.push_back("close " + std::to_string(s)); }
    void sleep(Ms d) override {
        sleeps.push_back(d);
        now += d;
    }
    void debugOutput(const std::string& text) override { log.push_back("debug " + text); }
    void messageBox(const std::string& text, const std::string& caption) override {
        log.push_back("box " + text + " | " + caption);
    }

    bool isReset() const { return resetAt && *resetAt <= now; }
    bool logged(const std::string& line) const { return std::count(log.begin(), log.end(), line) > 0; }
};

// A client connected to 192.168.1.50:9100 over socket 3, with the connect's calls cleared from the log.
struct Connected {
    FakeLayer layer;
    CTcpClient client{layer};
    Connected() {
        EXPECT_EQ(client.connect("192.168.1.50", 9100), 0);
        layer.log.clear();
    }
};

const Bytes kStatusRequest = {0x1D, 0x61, 0x00};

TEST(TcpClientConnect, SetsUpTheSocketInOrder) {
    FakeLayer layer;
    CTcpClient client(layer);
    EXPECT_EQ(client.connect("192.168.1.50", 9100), 0);
    EXPECT_EQ(layer.log, (Log{"startup 514", "socket 3", "options 3 rcvtimeo=500 sndbuf=0 sndtimeo=2000",
                              "nonblocking 3", "connect 3 3201A8C0 9100", "wait 3 3000"}));
    EXPECT_TRUE(client.isOpen());

    // The port is cut to 16 bits; text that is no address still goes to the all-ones address.
    FakeLayer other;
    CTcpClient second(other);
    other.waits = {{WaitStatus::TimedOut, 0}};
    EXPECT_EQ(second.connect("printer.local", 0x10000 + 9100), 8);
    EXPECT_TRUE(other.logged("connect 3 FFFFFFFF 9100"));
}

TEST(TcpClientConnect, FailuresBeforeASocketExists) {
    const std::string wrongVersion = "box wrong version of protocol stack, need 2.0 | WSAStartup Version Warning";
    struct Case {
        std::optional<std::uint16_t> granted;
        bool createFails;
        int result;
        Log log;
    } cases[] = {
        {std::nullopt, false, -3, {"startup 514", "box Unable to start TCP/IP stack | WSAStartup error"}},
        {0x0101, false, -2, {"startup 514", wrongVersion}},
        {0x0002, false, -2, {"startup 514", wrongVersion}},
        {0x0202, true, -2, {"startup 514", "socket failed"}},
    };
    for (const Case& c : cases) {
        FakeLayer layer;
        layer.granted = c.granted;
        layer.createFails = c.createFails;
        CTcpClient client(layer);
        EXPECT_EQ(client.connect("192.168.1.50", 9100), c.result);
        EXPECT_EQ(layer.log, c.log);
        EXPECT_FALSE(client.isOpen());
    }
}

TEST(TcpClientConnect, FailuresAfterTheSocketExistsCloseItAndTheNextConnectWorks) {
    struct Case {
        const char* what;
        void (*script)(FakeLayer&);
        int result;
        bool debugLine;
        std::string why; // what the client tells of it
    };
    const Case cases[] = {
        {"non-blocking", [](FakeLayer& l) { l.nonBlockingFails = true; }, -1, false,
         systemError("non-blocking mode", 111)},
        {"connect start", [](FakeLayer& l) { l.connectFails = true; }, -1, false, systemError("connect", 111)},
        {"select",
         [](FakeLayer& l) {
             l.waits = {{WaitStatus::Failed, 10022}};
         },
         -1, false, systemError("connect", 10022)},
        {"time-out",
         [](FakeLayer& l) {
             l.waits = {{WaitStatus::TimedOut, 0}};
         },
         8, true, "connect: no answer within 3 s"},
        {"refused: writable with SO_ERROR", [](FakeLayer& l) { l.soError = 111; }, 8, true,
         systemError("connect", 111)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLayer layer;
        c.script(layer);
        CTcpClient client(layer);
        EXPECT_EQ(client.connect("192.168.1.50", 9100), c.result);
        EXPECT_EQ(client.lastError(), c.why);
        EXPECT_FALSE(client.isOpen());
        const auto closeAt = std::find(layer.log.begin(), layer.log.end(), "close 3");
        ASSERT_NE(closeAt, layer.log.end());
        EXPECT_EQ(layer.log.end() - closeAt, c.debugLine ? 2 : 1);
        EXPECT_EQ(layer.log.back(), c.debugLine ? "debug FD_ISSET Failed Time" : "close 3");
        EXPECT_TRUE(layer.sleeps.empty());

        layer.log.clear();
        client.close(); // nothing is held any more
        EXPECT_TRUE(layer.log.empty());
        layer = FakeLayer{};
        layer.nextHandle = 4;
        EXPECT_EQ(client.connect("192.168.1.50", 9100), 0);
        EXPECT_TRUE(layer.logged("socket 4"));
    }
}

TEST(TcpClientConnect, ASocketStillHeldIsDroppedAndTheCallerMustAskAgain) {
    Connected c;
    EXPECT_EQ(c.client.connect("192.168.1.50", 9100), -1);
    EXPECT_EQ(c.layer.log, (Log{"close 3"}));
    EXPECT_FALSE(c.client.isOpen());
    EXPECT_EQ(c.client.connect("192.168.1.50", 9100), 0);
    EXPECT_TRUE(c.layer.logged("socket 4"));
}

TEST(TcpClientSend, PartialSendsAndWouldBlocksGoOnUntilEveryByteIsTaken) {
    Connected c;
    const Bytes block = test::sequence(1000);
    c.layer.sends = {{IoStatus::Done, 300, 0}, {IoStatus::WouldBlock, 0, 11}, {IoStatus::Done, 1, 0},
                     {IoStatus::WouldBlock, 0, 11}, {IoStatus::WouldBlock, 0, 11}};
    EXPECT_EQ(c.client.send(block), 1);
    EXPECT_EQ(c.layer.sent, block);
    EXPECT_EQ(c.layer.log, (Log{"wait 3 2000", "wait 3 2000", "wait 3 2000"}));
    EXPECT_EQ(c.client.finish(), 1);
}

TEST(TcpClientSend, FailuresAreReportedAndFailTheTransfer) {
    struct Case {
        std::deque<IoResult> sends;
        std::deque<WaitResult> waits;
        Log log;
        Ms now;
    } cases[] = {
        {{{IoStatus::Done, 10, 0}, {IoStatus::WouldBlock, 0, 11}},
         {{WaitStatus::TimedOut, 0}},
         {"wait 3 2000", "debug send error=timeout"},
         2000ms},
        {{{IoStatus::Reset, 0, 10054}}, {}, {"debug send error=10054"}, 0ms},
        {{{IoStatus::WouldBlock, 0, 11}}, {{WaitStatus::Failed, 9}}, {"wait 3 2000", "debug send error=9"}, 0ms},
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
    }
    FakeLayer layer;
    EXPECT_EQ(CTcpClient(layer).send(Bytes(4, 0)), -1); // never connected
}

TEST(TcpClientReceive, CountsAndWhatItNotesOfThePeer) {
    Connected c;
    std::uint8_t buffer[256];
    EXPECT_EQ(c.client.receive(buffer), 0); // nothing there: no error, no wait
    EXPECT_FALSE(c.client.peerClosed() || c.client.connectionBroken());
    c.layer.incoming.push_back({0ms, {1, 2, 3}});
    c.layer.peerClosesAt = 0ms;
    EXPECT_EQ(c.client.receive(buffer), 3);
    EXPECT_FALSE(c.client.peerClosed());
    EXPECT_EQ(c.client.receive(buffer), 0);
    EXPECT_TRUE(c.client.peerClosed());
    EXPECT_FALSE(c.client.connectionBroken());
    c.layer.resetAt = 0ms;
    EXPECT_EQ(c.client.receive(buffer), 0);
    EXPECT_TRUE(c.client.connectionBroken());
    EXPECT_TRUE(c.layer.sleeps.empty());

    c.client.close();
    const int before = c.layer.receives;
    EXPECT_EQ(c.client.receive(buffer), 0);
    EXPECT_EQ(c.layer.receives, before); // not open: the layer is not asked
}

TEST(TcpClientRead, WaitsForTheAnswerWithinItsBoundAndNamesWhatFailed) {
    Connected c;
    std::uint8_t buffer[256];
    c.layer.incoming.push_back({30ms, {0x12}});
    auto got = c.client.read(buffer, 500ms);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, 1u);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(c.layer.now, 30ms); // as soon as it came
    got = c.client.read(buffer, 500ms);
    EXPECT_TRUE(got && *got == 0);
    EXPECT_EQ(c.layer.now, 530ms);
    c.layer.peerClosesAt = 530ms;
    EXPECT_EQ(c.client.read(buffer, 500ms).error().message, "recv: the printer closed the connection");
    c.layer.resetAt = 530ms;
    EXPECT_EQ(c.client.read(buffer, 500ms).error().message, systemError("recv", 104));
    EXPECT_EQ(c.client.lastError(), systemError("recv", 104));
}

TEST(TcpClientFinish, PollsUntilThePrinterAnswersThenOnceMore) {
    struct Case {
        std::optional<Ms> answerAt;
        Ms slept;
        int receives; // the drain, the polls and the one after an answer
    } cases[] = {{60ms, 200ms, 3}, {250ms, 400ms, 5}, {480ms, 600ms, 7}, {std::nullopt, 500ms, 6}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.slept.count());
        Connected c;
        c.layer.incoming.push_back({0ms, {0xAA, 0xBB}}); // stale bytes, dropped before the request
        if (k.answerAt) c.layer.incoming.push_back({*k.answerAt, {0x12, 0x00, 0x00, 0x0F}});
        EXPECT_EQ(c.client.finish(), 1);
        EXPECT_EQ(c.layer.sent, kStatusRequest);
        EXPECT_EQ(c.layer.now, k.slept);
        EXPECT_TRUE(std::all_of(c.layer.sleeps.begin(), c.layer.sleeps.end(), [](Ms d) { return d == 100ms; }));
        EXPECT_EQ(c.layer.receives, k.receives);
    }
}

TEST(TcpClientFinish, DoneOnlyWhenEveryByteIsAcknowledgedInTime) {
    struct Case {
        const char* what;
        long unacknowledged;
        Ms ackedAt;
        std::optional<Ms> peerClosesAt;
        int result;
        Ms end;
    } cases[] = {
        {"acknowledged 370 ms after the polls", 4096, 870ms, {}, 1, 870ms},
        {"acknowledged just in time", 4096, 2500ms, {}, 1, 2500ms},
        {"still unacknowledged after 2 s", 4096, 2510ms, {}, 0, 2500ms},
        {"the platform cannot tell", -1, 1h, {}, 1, 500ms},
        {"the peer closed after taking everything", 0, 0ms, 50ms, 1, 500ms},
        {"the peer closed with bytes unacknowledged", 700, 1h, 50ms, 0, 2500ms},
        {"the peer closed where the platform cannot tell", -1, 1h, 50ms, 0, 500ms},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Connected c;
        c.layer.unacknowledged = k.unacknowledged;
        c.layer.ackedAt = k.ackedAt;
        c.layer.peerClosesAt = k.peerClosesAt;
        EXPECT_EQ(c.client.finish(), k.result);
        EXPECT_EQ(c.layer.now, k.end);
        EXPECT_EQ(c.client.peerClosed(), k.peerClosesAt.has_value());
    }
}

TEST(TcpClientFinish, AResetOrAnErrorFails) {
    struct Case {
        const char* what;
        void (*script)(FakeLayer&);
        Ms end;
    } cases[] = {
        {"reset before the exchange", [](FakeLayer& l) { l.resetAt = 0ms; }, 500ms},
        {"reset after the answer",
         [](FakeLayer& l) {
             l.incoming.push_back({100ms, {0x12}});
             l.resetAt = 150ms;
         },
         200ms},
        {"the request cannot be sent", [](FakeLayer& l) { l.sends = {{IoStatus::Failed, 0, 32}}; }, 500ms},
        {"an error left in SO_ERROR", [](FakeLayer& l) { l.soError = 110; }, 500ms},
        {"reset while waiting for acknowledgements",
         [](FakeLayer& l) {
             l.unacknowledged = 100;
             l.ackedAt = 1h;
             l.resetAt = 600ms;
         },
         600ms},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Connected c;
        k.script(c.layer);
        EXPECT_EQ(c.client.finish(), 0);
        EXPECT_EQ(c.layer.now, k.end);
    }
}

TEST(TcpClientFinish, ANewConnectionForgetsTheFailuresOfTheLastOne) {
    Connected c;
    c.layer.resetAt = 0ms;
    EXPECT_EQ(c.client.send(Bytes(4, 0)), -1);
    c.client.close();
    c.layer.resetAt.reset();
    ASSERT_EQ(c.client.connect("192.168.1.50", 9100), 0);
    EXPECT_EQ(c.client.send(Bytes(4, 0)), 1);
    EXPECT_EQ(c.client.finish(), 1);

    FakeLayer layer;
    CTcpClient never(layer);
    EXPECT_EQ(never.finish(), 0); // not connected: fails at once
    EXPECT_TRUE(layer.log.empty() && layer.sleeps.empty());
}

TEST(TcpClientClose, ClosesOnceWithAPauseThenDoesNothing) {
    Connected c;
    c.client.close();
    c.client.close();
    EXPECT_EQ(c.layer.log, (Log{"close 3"}));
    EXPECT_EQ(c.layer.sleeps, (std::vector<Ms>{100ms}));
    EXPECT_FALSE(c.client.isOpen());

    FakeLayer layer;
    CTcpClient(layer).close();
    EXPECT_TRUE(layer.log.empty() && layer.sleeps.empty());
}

} // namespace
} // namespace tessera
