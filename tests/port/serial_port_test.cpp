// The serial port's logic over the scripted layer: what it opens and sets, the 64-byte pieces, the 1000 ms
// wait of each, and the purge on every way a write ends. The layer answers as Windows does.

#include "port/serial_port.h"

#include "port/parallel_port.h"
#include "port/port_dispatcher.h"
#include "serial_fake_layer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tessera {
namespace {

using test::FakeLineLayer;
using test::sequence;
using Log = std::vector<std::string>;
using Step = FakeLineLayer::Step;

// A port opened on COM1 at 9600 bit/s.
struct Opened {
    FakeLineLayer layer;
    CSerialPort port{layer};
    Opened() { EXPECT_EQ(port.open("COM1", 7), 0); }
};

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
    const struct {
        int code, speed;
        std::uint32_t multiplier;
        FlowControl flow;
    } table[] = {{3, 1200, 16, FlowControl::None},    {4, 2400, 8, FlowControl::None},
                 {5, 4800, 4, FlowControl::None},     {6, 9600, 2, FlowControl::RtsCts},
                 {7, 19200, 1, FlowControl::XonXoff}, {8, 38400, 0, FlowControl::None},
                 {9, 57600, 0, FlowControl::None},    {10, 115200, 0, FlowControl::None}};
    for (const auto& row : table) {
        FakeLineLayer layer;
        CSerialPort port(layer);
        port.setFlowControl(row.flow);
        ASSERT_EQ(port.open("COM3", row.code), 0) << row.code;
        EXPECT_EQ(*layer.timeouts, (CommTimeouts{50, 0, 100, row.multiplier, 0})) << row.code;
        const LineState& s = *layer.state;
        EXPECT_EQ(s.baudRate, static_cast<std::uint32_t>(row.speed)) << row.code;
        EXPECT_EQ(s.byteSize, 8);
        EXPECT_EQ(s.outxCtsFlow, row.flow == FlowControl::RtsCts);
        EXPECT_EQ(s.rtsControl, row.flow == FlowControl::RtsCts ? LineState::kRtsHandshake : LineState::kRtsEnable);
        EXPECT_EQ(s.outX && s.inX, row.flow == FlowControl::XonXoff);
        EXPECT_FALSE(s.outxDsrFlow || s.parityCheck);
    }
    // Outside the table: failed, but left open for the dispatcher's close.
    for (int code : {2, 11, 0}) {
        FakeLineLayer layer;
        CSerialPort port(layer);
        EXPECT_EQ(port.open("COM1", code), 1);
        EXPECT_TRUE(port.isOpen());
        EXPECT_FALSE(layer.state);
    }
}

TEST(SerialPort, ClosedOrUnopenablePortWritesNothing) {
    FakeLineLayer layer;
    CSerialPort port(layer);
    EXPECT_FALSE(port.write(sequence(10)));
    layer.openFails = true;
    EXPECT_EQ(port.open("COM2", 7), 1);
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write(sequence(10)));
    EXPECT_EQ(layer.log, (Log{"open \\\\.\\COM2 overlapped"}));

    Opened noEvent; // nothing is started
    noEvent.layer.eventFails = true;
    EXPECT_FALSE(noEvent.port.write(sequence(10)));
    EXPECT_TRUE(noEvent.layer.starts.empty());
}

TEST(SerialPort, WritesPiecesOfAtMost64BytesAndPurgesAtTheEnd) {
    Opened o;
    const auto bytes = sequence(130);
    // The second piece is pending and completes within its wait; the third takes only part of its bytes.
    o.layer.steps = {Step{}, Step{StartStatus::Pending, {}, 700}, Step{StartStatus::Done, 1}};
    ASSERT_TRUE(o.port.write(bytes));
    EXPECT_EQ(o.layer.starts, (std::vector<std::size_t>{64, 64, 2, 1}));
    EXPECT_EQ(o.layer.written, bytes);
    EXPECT_EQ(o.layer.logFrom("event"),
              (Log{"event manual", "start 64", "start 64", "wait 1000", "start 2", "start 1", "purge rx", "release"}));
}

TEST(SerialPort, APieceNotDoneWithin1000MsIsCancelledAndThePortPurged) {
    const auto bytes = sequence(200);
    Opened stuck;
    stuck.layer.steps = {Step{}, Step{StartStatus::Pending}}; // the second piece never completes
    EXPECT_FALSE(stuck.port.write(bytes));
    EXPECT_EQ(stuck.layer.now, 2000u); // opened at 1000
    EXPECT_EQ(stuck.layer.logFrom("start"),
              (Log{"start 64", "start 64", "wait 1000", "cancel at 1000", "purge", "release"}));

    Opened inTime;
    inTime.layer.steps = {Step{StartStatus::Pending, {}, 1000}};
    EXPECT_TRUE(inTime.port.write(bytes));
    EXPECT_EQ(inTime.layer.written, bytes);

    // Completes with an error, or fails at once.
    for (const Step& bad : {Step{StartStatus::Pending, {}, 10, true}, Step{StartStatus::Failed}}) {
        Opened o;
        o.layer.steps = {bad};
        EXPECT_FALSE(o.port.write(bytes));
        EXPECT_EQ(o.layer.starts.size(), 1u);
        EXPECT_EQ(Log(o.layer.log.end() - 2, o.layer.log.end()), (Log{"purge", "release"}));
    }
}

TEST(SerialPort, PiecesThatTakeNothingAreRetriedForAtMostOneWait) {
    Opened o;
    // Three empty completions, then the line moves again.
    o.layer.steps.assign(3, Step{StartStatus::Done, 0});
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
        auto got = dispatcher.read(buffer, r.bound);
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, r.count);
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

} // namespace
} // namespace tessera
