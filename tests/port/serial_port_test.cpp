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

TEST(SerialDevicePaths, EachPlatformNamesItsDevices) {
    EXPECT_EQ(windowsSerialDevicePath("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(windowsSerialDevicePath("COM10"), "\\\\.\\COM10");
    EXPECT_EQ(windowsSerialDevicePath("\\\\.\\COM15"), "\\\\.\\COM15");
    EXPECT_EQ(linuxSerialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(linuxSerialDevicePath("COM12"), "/dev/ttyS11");
    EXPECT_EQ(linuxSerialDevicePath("COM13"), "COM13");
    EXPECT_EQ(linuxSerialDevicePath("COM0"), "COM0");
    EXPECT_EQ(linuxSerialDevicePath("/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(linuxParallelDevicePath("LPT1"), "/dev/lp0");
    EXPECT_EQ(linuxParallelDevicePath("LPT2"), "/dev/lp1");
    EXPECT_EQ(linuxParallelDevicePath("LPT3"), "LPT3");
    EXPECT_EQ(linuxParallelDevicePath("/dev/usb/lp0"), "/dev/usb/lp0");
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
        EXPECT_EQ(layer.log.front(), "open \\\\.\\COM3 overlapped");
        EXPECT_EQ(*layer.timeouts, (CommTimeouts{50, 0, 100, row.multiplier, 0})) << row.code;
        const LineState& s = *layer.state;
        EXPECT_EQ(s.baudRate, static_cast<std::uint32_t>(row.speed)) << row.code;
        EXPECT_EQ(s.byteSize, 8);
        EXPECT_EQ(s.outxCtsFlow, row.flow == FlowControl::RtsCts);
        EXPECT_EQ(s.rtsControl, row.flow == FlowControl::RtsCts ? LineState::kRtsHandshake : LineState::kRtsEnable);
        EXPECT_EQ(s.outX && s.inX, row.flow == FlowControl::XonXoff);
        EXPECT_FALSE(s.outxDsrFlow || s.parityCheck);
        port.close();
        port.close();
        EXPECT_EQ(layer.closes, 1);
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
    const auto bytes = sequence(10);
    EXPECT_FALSE(port.write(bytes));
    layer.openFails = true;
    EXPECT_EQ(port.open("COM2", 7), 1);
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write(bytes));
    EXPECT_EQ(layer.log, (Log{"open \\\\.\\COM2 overlapped"}));

    // No event: nothing is started.
    FakeLineLayer noEvent;
    noEvent.eventFails = true;
    CSerialPort other(noEvent);
    ASSERT_EQ(other.open("COM1", 7), 0);
    EXPECT_FALSE(other.write(bytes));
    EXPECT_TRUE(noEvent.starts.empty());
}

TEST(SerialPort, WritesPiecesOfAtMost64BytesAndPurgesAtTheEnd) {
    FakeLineLayer layer;
    CSerialPort port(layer);
    ASSERT_EQ(port.open("COM1", 7), 0);
    const auto bytes = sequence(130);
    // The second piece is pending and completes within its wait; the third takes only part of its bytes.
    layer.steps = {Step{}, Step{StartStatus::Pending, {}, 700}, Step{StartStatus::Done, 1}};
    ASSERT_TRUE(port.write(bytes));
    EXPECT_EQ(layer.starts, (std::vector<std::size_t>{64, 64, 2, 1}));
    EXPECT_EQ(layer.written, bytes);
    EXPECT_EQ(layer.logFrom("event"),
              (Log{"event manual", "start 64", "start 64", "wait 1000", "start 2", "start 1", "purge rx", "release"}));
}

TEST(SerialPort, APieceNotDoneWithin1000MsIsCancelledAndThePortPurged) {
    const auto bytes = sequence(200);
    {
        FakeLineLayer layer;
        CSerialPort port(layer);
        ASSERT_EQ(port.open("COM1", 7), 0);
        layer.steps = {Step{}, Step{StartStatus::Pending}}; // the second piece never completes
        const std::uint32_t t0 = layer.now;
        EXPECT_FALSE(port.write(bytes));
        EXPECT_EQ(layer.now - t0, 1000u);
        EXPECT_EQ(layer.logFrom("start"),
                  (Log{"start 64", "start 64", "wait 1000", "cancel at 1000", "purge", "release"}));
    }
    {
        // Completes just in time.
        FakeLineLayer layer;
        CSerialPort port(layer);
        ASSERT_EQ(port.open("COM1", 7), 0);
        layer.steps = {Step{StartStatus::Pending, {}, 1000}};
        EXPECT_TRUE(port.write(bytes));
        EXPECT_EQ(layer.written, bytes);
    }
    {
        // Completes with an error, or fails at once.
        for (const Step& bad : {Step{StartStatus::Pending, {}, 10, true}, Step{StartStatus::Failed}}) {
            FakeLineLayer layer;
            CSerialPort port(layer);
            ASSERT_EQ(port.open("COM1", 7), 0);
            layer.steps = {bad};
            EXPECT_FALSE(port.write(bytes));
            EXPECT_EQ(layer.starts.size(), 1u);
            EXPECT_EQ(layer.log.back(), "release");
            EXPECT_EQ(layer.log[layer.log.size() - 2], "purge");
        }
    }
}

TEST(SerialPort, PiecesThatTakeNothingAreRetriedForAtMostOneWait) {
    FakeLineLayer layer;
    CSerialPort port(layer);
    ASSERT_EQ(port.open("COM1", 7), 0);
    // Three empty completions, then the line moves again.
    for (int i = 0; i < 3; ++i)
        layer.steps.push_back(Step{StartStatus::Done, 0});
    EXPECT_TRUE(port.write(sequence(10)));
    EXPECT_EQ(layer.written, sequence(10));

    for (int i = 0; i < 1000; ++i)
        layer.steps.push_back(Step{StartStatus::Done, 0});
    const std::uint32_t t0 = layer.now;
    EXPECT_FALSE(port.write(sequence(10)));
    EXPECT_GE(layer.now - t0, 1000u);
    EXPECT_LE(layer.now - t0, 1010u);
}

TEST(SerialPort, ThroughTheDispatcherEveryTransferEndsWithStatusBackOff) {
    FakeLineLayer layer;
    CSerialPort port(layer);
    PortDispatcher dispatcher(PortSet{.serial = &port});
    ASSERT_EQ(dispatcher.OpenPort("COM4", 6, 0, 0, 0, 0), 0);
    const auto bytes = sequence(130);
    EXPECT_EQ(dispatcher.SendBytes(bytes.data(), bytes.size()), 1);
    EXPECT_EQ(dispatcher.FinishPort(), 0);
    EXPECT_EQ(layer.starts, (std::vector<std::size_t>{64, 64, 2, 3}));
    auto want = bytes;
    want.insert(want.end(), {0x1D, 0x61, 0x00});
    EXPECT_EQ(layer.written, want);
    EXPECT_EQ(layer.log.back(), "close");
    EXPECT_FALSE(port.isOpen());

    // A code outside the table: -1, and the port is closed again.
    FakeLineLayer other;
    CSerialPort second(other);
    PortDispatcher d2(PortSet{.serial = &second});
    EXPECT_EQ(d2.OpenPort("COM1", 12, 0, 0, 0, 0), -1);
    EXPECT_EQ(other.closes, 1);
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
    const auto purges = std::count(layer.log.begin(), layer.log.end(), "purge rx");
    EXPECT_EQ(dispatcher.SendBytes(buffer, 3), 1);
    EXPECT_EQ(std::count(layer.log.begin(), layer.log.end(), "purge rx"), purges);
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
