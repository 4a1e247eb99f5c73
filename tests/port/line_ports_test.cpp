// The serial and parallel ports' logic over a scripted device layer that answers as Windows does. Serial:
// what it opens and sets, the 64-byte pieces, the 1000 ms wait of each, the purge on every way a write ends,
// and the reads. Parallel: one transfer per call, polled every 10 ms, cancelled after its allowance, retried
// only within 500 ms of the call's start, and true only when every byte went.

#include "port/parallel_port.h"
#include "port/port_dispatcher.h"
#include "port/serial_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace tessera {
namespace {

// A scripted device layer for both ports. Its clock moves only when a port sleeps, a wait expires or a
// scripted write completes, so every time limit is checked exactly and nothing really waits.
struct FakeLineLayer : LineDeviceLayer {
    // How one started write goes. Without a script, each write completes at once with every byte.
    struct Step {
        StartStatus start = StartStatus::Done;
        std::optional<std::size_t> count;   // bytes written (all of them when not given)
        std::optional<std::uint32_t> after; // Pending: completes this many ms after its start; never if unset
        bool fails = false;                 // Pending: completes with an error
        std::size_t cancelCount = 0;        // bytes a cancellation reports written
    };

    // Script.
    bool openFails = false, eventFails = false, readFails = false;
    PlatformGeneration platform = PlatformGeneration::Current;
    std::optional<std::size_t> syncCount; // bytes a synchronous write takes (all when unset)
    std::deque<Step> steps;
    // Each byte the printer sends, with the time it arrives; bytes not yet on the line.
    std::deque<std::pair<std::uint32_t, std::uint8_t>> incoming;
    std::size_t unsent = 0;

    // Record.
    std::uint32_t now = 1000;
    std::vector<std::string> log;
    std::vector<std::size_t> starts;    // length of every started write
    std::vector<std::size_t> readSizes; // what each read asked for
    std::vector<std::uint8_t> written;
    std::optional<CommTimeouts> timeouts;
    std::optional<LineState> state;

    std::string serialDevicePath(const std::string& name) override { return windowsSerialDevicePath(name); }
    std::string parallelDevicePath(const std::string& name) override { return name; }
    DeviceHandle open(const std::string& path, bool overlapped) override {
        log.push_back("open " + path + (overlapped ? " overlapped" : ""));
        return openFails ? kNoDevice : 100;
    }
    void close(DeviceHandle) override { log.push_back("close"); }
    void setupQueues(DeviceHandle, std::uint32_t in, std::uint32_t out) override {
        log.push_back("setup " + std::to_string(in) + " " + std::to_string(out));
    }
    void purge(DeviceHandle, Purge what) override { log.push_back(what == Purge::Everything ? "purge" : "purge rx"); }
    void setTimeouts(DeviceHandle, const CommTimeouts& t) override { timeouts = t; }
    void setLineState(DeviceHandle, const LineState& s) override { state = s; }
    // Records the first n bytes (at most all) as written; their count.
    std::size_t take(std::span<const std::uint8_t> b, std::size_t n) {
        n = std::min(n, b.size());
        written.insert(written.end(), b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    std::size_t writeSync(DeviceHandle, std::span<const std::uint8_t> b) override {
        log.push_back("write-sync " + std::to_string(b.size()));
        return take(b, syncCount.value_or(b.size()));
    }
    PlatformGeneration generation() override { return platform; }
    std::uint32_t tickCount() override { return now; }
    void sleep(std::chrono::milliseconds d) override {
        now += static_cast<std::uint32_t>(d.count());
        unsent -= std::min<std::size_t>(unsent, d.count()); // about 9600 bit/s
    }
    std::size_t arrivedBy(std::uint32_t t) const {
        return std::find_if(incoming.begin(), incoming.end(), [&](const auto& b) { return b.first > t; }) -
               incoming.begin();
    }
    std::size_t inputWaiting(DeviceHandle) override { return arrivedBy(now); }
    std::size_t outputWaiting(DeviceHandle) override { return unsent; }
    // Like Windows with the line's 100 ms read time-out: a read waits until it is full or timed out.
    std::optional<std::size_t> readSome(DeviceHandle, std::span<std::uint8_t> b, std::chrono::milliseconds t) override {
        readSizes.push_back(b.size());
        if (readFails) return std::nullopt;
        const std::uint32_t end = now + static_cast<std::uint32_t>(std::min<long long>(t.count(), 100));
        now = arrivedBy(end) >= b.size() ? std::max(now, incoming[b.size() - 1].first) : end;
        const std::size_t n = std::min(b.size(), arrivedBy(now));
        for (std::size_t i = 0; i < n; ++i, incoming.pop_front())
            b[i] = incoming.front().second;
        return n;
    }
    std::string lastError() const override { return readFails ? "ReadFile: The device is not ready" : ""; }

    struct Write : DeviceWrite {
        FakeLineLayer& layer;
        std::span<const std::uint8_t> bytes;
        Step step;
        std::uint32_t startedAt = 0;
        explicit Write(FakeLineLayer& l) : layer(l) {}
        ~Write() override { layer.log.push_back("release"); }

        void resetEvent() override { layer.log.push_back("reset"); }
        WriteStart start(std::span<const std::uint8_t> b) override {
            bytes = b;
            layer.starts.push_back(b.size());
            layer.log.push_back("start " + std::to_string(b.size()));
            step = layer.steps.empty() ? Step{} : layer.steps.front();
            if (!layer.steps.empty()) layer.steps.pop_front();
            startedAt = layer.now;
            if (step.start != StartStatus::Done) return {step.start, 0, step.start == StartStatus::Failed ? 31 : 0};
            return {StartStatus::Done, layer.take(bytes, step.count.value_or(bytes.size())), 0};
        }
        WaitOutcome wait(std::chrono::milliseconds timeout) override {
            layer.log.push_back("wait " + std::to_string(timeout.count()));
            const auto limit = static_cast<std::uint32_t>(timeout.count());
            if (step.after && *step.after - (layer.now - startedAt) <= limit) {
                layer.now = startedAt + *step.after;
                return WaitOutcome::Signalled;
            }
            layer.now += limit;
            return WaitOutcome::TimedOut;
        }
        WritePoll result() override {
            if (!step.after || layer.now - startedAt < *step.after) return {PollStatus::Incomplete, 0, 0};
            if (step.fails) return {PollStatus::Failed, 0, 22};
            return {PollStatus::Done, layer.take(bytes, step.count.value_or(bytes.size())), 0};
        }
        std::size_t cancel() override {
            layer.log.push_back("cancel at " + std::to_string(layer.now - startedAt));
            return layer.take(bytes, step.cancelCount);
        }
    };

    std::unique_ptr<DeviceWrite> beginWrite(DeviceHandle, EventReset reset) override {
        log.push_back(reset == EventReset::Manual ? "event manual" : "event auto");
        return eventFails ? nullptr : std::make_unique<Write>(*this);
    }

    // The log from the first entry that starts with prefix.
    std::vector<std::string> logFrom(const std::string& prefix) const {
        auto it = std::find_if(log.begin(), log.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
        return {it, log.end()};
    }
};

inline std::vector<std::uint8_t> sequence(std::size_t n) {
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return b;
}

using Log = std::vector<std::string>;
using Step = FakeLineLayer::Step;

// A port opened on COM1 at 19200 bit/s or on LPT1, whose writes follow the script.
template <class Port> struct Opened {
    FakeLineLayer layer;
    Port port{layer};
    explicit Opened(std::deque<Step> steps = {}, PlatformGeneration platform = PlatformGeneration::Current) {
        layer.platform = platform;
        EXPECT_EQ(port.open(std::is_same_v<Port, CSerialPort> ? "COM1" : "LPT1", 7), 0);
        layer.steps = std::move(steps);
    }
};
using Serial = Opened<CSerialPort>;
using Parallel = Opened<CParallelPort>;

TEST(SerialDevicePaths, EachPlatformNamesItsDevices) {
    EXPECT_EQ(windowsSerialDevicePath("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(windowsSerialDevicePath("\\\\.\\COM15"), "\\\\.\\COM15");
    EXPECT_EQ(linuxSerialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(linuxSerialDevicePath("COM12"), "/dev/ttyS11");
    EXPECT_EQ(linuxSerialDevicePath("COM13"), "COM13");
    EXPECT_EQ(linuxSerialDevicePath("COM0"), "COM0");
    EXPECT_EQ(linuxSerialDevicePath("/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(linuxParallelDevicePath("LPT1"), "/dev/lp0");
    EXPECT_EQ(linuxParallelDevicePath("LPT2"), "/dev/lp1");
    EXPECT_EQ(linuxParallelDevicePath("LPT3"), "LPT3");
}

TEST(SerialPort, BaudCodesAndFlowControlSetTheLine) {
    // A code outside the table fails, but leaves the port open for the dispatcher's close.
    const struct {
        int code, speed;
        std::uint32_t multiplier;
        FlowControl flow;
    } table[] = {{3, 1200, 16, FlowControl::None},    {4, 2400, 8, FlowControl::None},
                 {5, 4800, 4, FlowControl::None},     {6, 9600, 2, FlowControl::RtsCts},
                 {7, 19200, 1, FlowControl::XonXoff}, {8, 38400, 0, FlowControl::None},
                 {9, 57600, 0, FlowControl::None},    {10, 115200, 0, FlowControl::None},
                 {2, 0, 0, FlowControl::None},        {11, 0, 0, FlowControl::None}};
    for (const auto& row : table) {
        FakeLineLayer layer;
        CSerialPort port(layer);
        port.setFlowControl(row.flow);
        EXPECT_EQ(port.open("COM3", row.code), row.speed ? 0 : 1) << row.code;
        EXPECT_TRUE(port.isOpen());
        if (!row.speed) {
            EXPECT_FALSE(layer.state) << row.code;
            continue;
        }
        EXPECT_EQ(*layer.timeouts, (CommTimeouts{50, 0, 100, row.multiplier, 0})) << row.code;
        const LineState& s = *layer.state;
        EXPECT_EQ(s.baudRate, static_cast<std::uint32_t>(row.speed)) << row.code;
        EXPECT_EQ(s.byteSize, 8);
        EXPECT_EQ(s.outxCtsFlow, row.flow == FlowControl::RtsCts);
        EXPECT_EQ(s.rtsControl, row.flow == FlowControl::RtsCts ? LineState::kRtsHandshake : LineState::kRtsEnable);
        EXPECT_EQ(s.outX && s.inX, row.flow == FlowControl::XonXoff);
        EXPECT_FALSE(s.outxDsrFlow || s.parityCheck);
    }
}

TEST(LinePorts, AClosedOrUnopenablePortWritesNothing) {
    FakeLineLayer layer;
    layer.openFails = true;
    CSerialPort serial(layer);
    CParallelPort parallel(layer);
    for (LinePort* port : {static_cast<LinePort*>(&serial), static_cast<LinePort*>(&parallel)}) {
        EXPECT_FALSE(port->write(sequence(10)));
        EXPECT_EQ(port->open("COM2", 7), 1);
        EXPECT_FALSE(port->write(sequence(10)));
    }
    EXPECT_EQ(layer.log, (Log{"open \\\\.\\COM2 overlapped", "open COM2 overlapped"}));

    Serial noEvent; // nothing is started
    noEvent.layer.eventFails = true;
    EXPECT_FALSE(noEvent.port.write(sequence(10)));
    EXPECT_TRUE(noEvent.layer.starts.empty());
}

TEST(SerialPort, WritesPiecesOfAtMost64BytesAndPurgesAtTheEnd) {
    // The second piece is pending and completes within its wait; the third takes only part of its bytes.
    Serial o({Step{}, Step{StartStatus::Pending, {}, 700}, Step{StartStatus::Done, 1}});
    const auto bytes = sequence(130);
    ASSERT_TRUE(o.port.write(bytes));
    EXPECT_EQ(o.layer.starts, (std::vector<std::size_t>{64, 64, 2, 1}));
    EXPECT_EQ(o.layer.written, bytes);
    EXPECT_EQ(o.layer.logFrom("event"),
              (Log{"event manual", "start 64", "start 64", "wait 1000", "start 2", "start 1", "purge rx", "release"}));
}

TEST(SerialPort, APieceNotDoneWithin1000MsIsCancelledAndThePortPurged) {
    const auto bytes = sequence(200);
    Serial stuck({Step{}, Step{StartStatus::Pending}}); // the second piece never completes
    EXPECT_FALSE(stuck.port.write(bytes));
    EXPECT_EQ(stuck.layer.now, 2000u); // opened at 1000
    EXPECT_EQ(stuck.layer.logFrom("start"),
              (Log{"start 64", "start 64", "wait 1000", "cancel at 1000", "purge", "release"}));

    Serial inTime({Step{StartStatus::Pending, {}, 1000}});
    EXPECT_TRUE(inTime.port.write(bytes));
    EXPECT_EQ(inTime.layer.written, bytes);

    // Completes with an error, or fails at once.
    for (const Step& bad : {Step{StartStatus::Pending, {}, 10, true}, Step{StartStatus::Failed}}) {
        Serial o({bad});
        EXPECT_FALSE(o.port.write(bytes));
        EXPECT_EQ(o.layer.starts.size(), 1u);
        EXPECT_EQ(Log(o.layer.log.end() - 2, o.layer.log.end()), (Log{"purge", "release"}));
    }
}

TEST(SerialPort, PiecesThatTakeNothingAreRetriedForAtMostOneWait) {
    Serial o(std::deque<Step>(3, Step{StartStatus::Done, 0})); // then the line moves again
    EXPECT_TRUE(o.port.write(sequence(10)));
    EXPECT_EQ(o.layer.written, sequence(10));

    o.layer.steps.assign(1000, Step{StartStatus::Done, 0});
    const std::uint32_t t0 = o.layer.now;
    EXPECT_FALSE(o.port.write(sequence(10)));
    EXPECT_GE(o.layer.now - t0, 1000u);
    EXPECT_LE(o.layer.now - t0, 1010u);
}

// Windows holds a serial read until it is full or timed out, so each read asks for what has arrived, or for
// one byte: an answer then comes back as it arrives, not one line time-out later.
TEST(SerialPort, ReadsAskOnlyForWhatIsWaitingAndDrainWaitsForTheLine) {
    using namespace std::chrono_literals;
    FakeLineLayer layer;
    CSerialPort port(layer);
    PortDispatcher dispatcher(PortSet{.serial = &port});
    ASSERT_EQ(dispatcher.OpenPort("COM4", 7, 0, 0, 0, 0), 0);
    const std::uint32_t t0 = layer.now;
    layer.incoming = {{t0 + 230, 0x12}, {t0 + 400, 0x5F}, {t0 + 400, 'A'}, {t0 + 400, 0x00}};
    const struct {
        std::chrono::milliseconds bound;
        std::size_t count;
        std::uint32_t at;
    } reads[] = {{500ms, 1, 230}, {500ms, 1, 400}, {500ms, 2, 400}, {250ms, 0, 650}};
    std::uint8_t buffer[256];
    for (const auto& r : reads) {
        EXPECT_EQ(dispatcher.read(buffer, r.bound).value(), r.count);
        EXPECT_EQ(layer.now - t0, r.at);
    }
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_EQ(*std::max_element(layer.readSizes.begin(), layer.readSizes.end()), 2u);
    // Once the port is read, a write keeps what has come in: it may be the answer to it.
    EXPECT_EQ(dispatcher.SendBytes(buffer, 3), 1);
    EXPECT_EQ(layer.logFrom("start 3"), (Log{"start 3", "release"}));
    layer.readFails = true;
    EXPECT_EQ(dispatcher.read(buffer, 10ms).error().message, "ReadFile: The device is not ready");
    EXPECT_EQ(dispatcher.portError(), "ReadFile: The device is not ready");

    layer.unsent = 50;
    EXPECT_TRUE(dispatcher.drain(100ms));
    layer.unsent = 500;
    EXPECT_EQ(dispatcher.drain(100ms).error().message.rfind("drain: ", 0), 0u);

    // Neither a parallel port nor an installed printer has a way back.
    EXPECT_FALSE(CParallelPort(layer).read(buffer, 10ms));
    EXPECT_FALSE(PortDispatcher(PortSet{}).read(buffer, 10ms));
}

TEST(ParallelPort, OpensTheNameAsItIsOverlappedOnlyOnCurrentPlatforms) {
    Parallel o;
    EXPECT_EQ(o.layer.log.front(), "open LPT1 overlapped");
    EXPECT_NE(std::find(o.layer.log.begin(), o.layer.log.end(), "setup 1024 0"), o.layer.log.end());
    // Still open from before: refused, and the dispatcher's close follows.
    EXPECT_EQ(o.port.open("LPT1", 7), 1);

    Parallel legacy({}, PlatformGeneration::Legacy);
    EXPECT_EQ(legacy.layer.log.front(), "open LPT1");
}

// The allowance is 500 ms, plus 1 ms per byte from 512 bytes on.
TEST(ParallelPort, StuckTransferIsCancelledAfterItsAllowance) {
    // Cancelled at the first 10 ms poll past the limit; the window has passed by then, so no second attempt.
    for (const auto& [n, at] :
         {std::pair<std::size_t, std::uint32_t>{600, 1110}, {512, 1020}, {511, 510}, {100, 510}}) {
        Parallel o({Step{StartStatus::Pending}});
        EXPECT_FALSE(o.port.write(sequence(n)));
        EXPECT_EQ(o.layer.logFrom("cancel"), (Log{"cancel at " + std::to_string(at), "release"})) << n;
        EXPECT_EQ(o.layer.starts.size(), 1u);
        EXPECT_EQ(o.layer.now, 1000 + at);
    }
}

TEST(ParallelPort, AttemptsRepeatWithin500MsAndOnlyAllBytesCount) {
    const auto bytes = sequence(600);
    Parallel pending({Step{StartStatus::Pending, {}, 25}});
    ASSERT_TRUE(pending.port.write(bytes));
    EXPECT_EQ(pending.layer.written, bytes);
    EXPECT_EQ(pending.layer.now, 1030u); // polled every 10 ms

    Parallel shortThenRest({Step{StartStatus::Done, 250}});
    ASSERT_TRUE(shortThenRest.port.write(bytes));
    EXPECT_EQ(shortThenRest.layer.starts, (std::vector<std::size_t>{600, 350}));
    EXPECT_EQ(shortThenRest.layer.written, bytes);

    // A failure after part of the block, then one that is cut short: the count stays below n.
    Parallel partFailed({Step{StartStatus::Pending, {}, {}, false, 200}});
    EXPECT_FALSE(partFailed.port.write(bytes));
    EXPECT_EQ(partFailed.layer.written.size(), 200u);

    // Refused at once: asked again, 10 ms apart, until 500 ms have passed.
    Parallel refused(std::deque<Step>(100, Step{StartStatus::Failed}));
    EXPECT_FALSE(refused.port.write(bytes));
    EXPECT_EQ(refused.layer.starts.size(), 50u);
    EXPECT_EQ(refused.layer.now, 1500u);

    Parallel refusedTwice({Step{StartStatus::Failed}, Step{StartStatus::Failed}});
    EXPECT_TRUE(refusedTwice.port.write(bytes));
    EXPECT_EQ(refusedTwice.layer.starts.size(), 3u);
}

TEST(ParallelPort, LegacyPlatformsWriteOnceSynchronously) {
    Parallel o({}, PlatformGeneration::Legacy);
    EXPECT_TRUE(o.port.write(sequence(700)));
    o.layer.syncCount = 699;
    EXPECT_FALSE(o.port.write(sequence(700)));
    EXPECT_TRUE(o.layer.starts.empty());
    EXPECT_EQ(o.layer.logFrom("write-sync"), (Log{"write-sync 700", "write-sync 700"}));
}

} // namespace
} // namespace tessera
