// The dispatcher against port doubles: which object a block reaches, the open and finish codes, and that a
// failure anywhere is reported instead of swallowed.

#include "port/port_dispatcher.h"
#include "port/port_settings.h"

#include "support/fake_ports.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using test::FakeLine;
using test::FakeNet;
using test::FakeSpooler;

struct Rig {
    FakeLine serial, parallel, usb;
    FakeNet net;
    FakeSpooler spooler;
    std::vector<std::chrono::milliseconds> sleeps;
    PortDispatcher d{PortSet{&spooler, &serial, &parallel, &usb, &net},
                     [this](std::chrono::milliseconds ms) { sleeps.push_back(ms); }};
    int send(const Bytes& b) { return d.SendBytes(b.data(), b.size()); }
};

TEST(PortDispatcher, OpenChoosesTheKindByTheNamesFirstThreeLetters) {
    Rig r;
    EXPECT_EQ(r.d.currentKind(), PortKind::Driver);
    EXPECT_EQ(r.d.OpenPort("COM3", 6, 0, 0, 0, 0), 0);
    EXPECT_EQ(r.d.currentKind(), PortKind::Serial);
    EXPECT_EQ(r.serial.openedName, "COM3");
    EXPECT_EQ(r.serial.openedBaud, 6);
    EXPECT_EQ(r.d.OpenPort("LPT2", 7, 0, 0, 0, 0), 0);
    EXPECT_EQ(r.d.currentKind(), PortKind::Parallel);
    EXPECT_EQ(r.d.OpenPort("USB", 7, 0, 0, 0, 0), 0);
    EXPECT_EQ(r.d.currentKind(), PortKind::Usb);
    // Anything else is an address, with the baud code as the TCP port.
    EXPECT_EQ(r.d.OpenPort("usb", 7, 0, 0, 0, 0), 0);
    EXPECT_EQ(r.d.currentKind(), PortKind::Network);
    EXPECT_EQ(r.net.ip, "usb");
    EXPECT_EQ(r.net.port, 7);
    EXPECT_EQ(r.d.OpenNetworkPort("127.0.0.1", 9100), 0);
    EXPECT_EQ(r.net.port, 9100);
}

TEST(PortDispatcher, FailedOpensCloseThePortAndKeepItsKind) {
    Rig r;
    r.serial.openResult = 5;
    EXPECT_EQ(r.d.OpenPort("COM1", 7, 0, 0, 0, 0), -1);
    EXPECT_EQ(r.d.currentKind(), PortKind::Serial);
    EXPECT_EQ(r.serial.closes, 1);
    r.parallel.openResult = 1;
    EXPECT_EQ(r.d.OpenPort("LPT1", 7, 0, 0, 0, 0), -1);
    EXPECT_EQ(r.parallel.closes, 1);
    r.usb.openResult = -1;
    EXPECT_EQ(r.d.OpenPort("USB", 7, 0, 0, 0, 0), -1);
    EXPECT_EQ(r.usb.closes, 1);
    for (int code : {-1, -2, -3, 8}) {
        r.net.connectResult = code;
        const int closes = r.net.closes;
        EXPECT_EQ(r.d.OpenNetworkPort("10.0.0.1", 9100), code);
        EXPECT_EQ(r.net.closes, closes + 1);
        EXPECT_EQ(r.d.currentKind(), PortKind::Network);
    }
    // A port object that does not exist on this platform cannot be opened.
    PortDispatcher bare(PortSet{});
    EXPECT_NE(bare.OpenPort("COM1", 7, 0, 0, 0, 0), 0);
    EXPECT_NE(bare.OpenNetworkPort("127.0.0.1", 9100), 0);
    EXPECT_EQ(bare.OpenDriver("x"), 0);
}

TEST(PortDispatcher, SendsReportThePortsOwnResult) {
    Rig r;
    EXPECT_EQ(r.send({}), 1);
    EXPECT_EQ(r.spooler.writeCalls, 0);
    ASSERT_EQ(r.d.OpenPort("COM1", 7, 0, 0, 0, 0), 0);
    EXPECT_EQ(r.send({1, 2, 3}), 1);
    EXPECT_EQ(r.serial.writes, (std::vector<Bytes>{{1, 2, 3}}));
    r.serial.writeOk = false;
    EXPECT_EQ(r.send({4}), 0) << "a dead line is a failed send";
    EXPECT_TRUE(r.d.write(Bytes{})) << "nothing to send reaches no port";

    ASSERT_EQ(r.d.OpenNetworkPort("127.0.0.1", 9100), 0);
    EXPECT_EQ(r.send({5, 6}), 1);
    r.net.sendOk = false;
    EXPECT_EQ(r.send({7}), 0);
    EXPECT_EQ(r.net.sent, (Bytes{5, 6}));
}

TEST(PortDispatcher, DriverDocumentAndWholeBlocks) {
    Rig r;
    ASSERT_EQ(r.d.OpenDriver("Receipt"), 1);
    EXPECT_EQ(r.spooler.printer, "Receipt");
    EXPECT_EQ(r.spooler.docName, "KLP-xx");
    EXPECT_EQ(r.spooler.dataType, "RAW");
    Bytes block(1000);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
    r.spooler.maxPerCall = 300; // partial writes are continued
    EXPECT_EQ(r.send(block), 1);
    EXPECT_EQ(r.spooler.taken, block);
    EXPECT_EQ(r.spooler.writeCalls, 4);

    r.spooler.failAtCall = 5;
    EXPECT_EQ(r.send(block), 0);
    EXPECT_EQ(r.spooler.writeCalls, 6);
    EXPECT_EQ(r.d.CloseDriver(), 1);
    EXPECT_EQ(r.spooler.closes, 1);
    EXPECT_EQ(r.send({1}), 0) << "no document is open";
}

TEST(PortDispatcher, FailedDriverOpenLeavesTheKindAndSendsNothingAnywhere) {
    Rig r;
    ASSERT_EQ(r.d.OpenPort("COM1", 7, 0, 0, 0, 0), 0);
    ASSERT_EQ(r.d.FinishPort(), 0);
    r.spooler.openOk = false;
    EXPECT_EQ(r.d.OpenDriver("nobody"), 0);
    EXPECT_EQ(r.d.currentKind(), PortKind::Serial);
    EXPECT_EQ(r.send({1}), 0) << "the closed port of the last transfer takes nothing";

    Rig s;
    s.spooler.startOk = false;
    EXPECT_EQ(s.d.OpenDriver("Receipt"), 0);
    EXPECT_EQ(s.spooler.closes, 1);
    EXPECT_FALSE(s.d.driverOpen());

    Rig t;
    ASSERT_EQ(t.d.OpenDriver("Receipt"), 1);
    t.spooler.endOk = false;
    EXPECT_EQ(t.d.CloseDriver(), 0);
    EXPECT_TRUE(t.d.driverOpen()) << "the handle is kept when the document cannot be ended";
}

TEST(PortDispatcher, FinishEndsWithStatusBackOffAndClosesThePort) {
    for (const char* name : {"COM2", "LPT1"}) {
        Rig r;
        ASSERT_EQ(r.d.OpenPort(name, 7, 0, 0, 0, 0), 0);
        ASSERT_EQ(r.send({9}), 1);
        EXPECT_EQ(r.d.FinishPort(), 0);
        FakeLine& port = name[0] == 'C' ? r.serial : r.parallel;
        EXPECT_EQ(port.writes.back(), (Bytes{0x1D, 0x61, 0x00}));
        EXPECT_EQ(port.closes, 1);
        EXPECT_TRUE(r.sleeps.empty());
    }
    Rig usb;
    usb.usb.family = true;
    ASSERT_EQ(usb.d.OpenPort("USB", 7, 0, 0, 0, 0), 0);
    EXPECT_EQ(usb.d.FinishPort(), 0);
    EXPECT_EQ(usb.usb.writes, (std::vector<Bytes>{{0x1D, 0x61, 0x00}, {0x1D, 0x61, 0xFF}}));
    EXPECT_EQ(usb.sleeps, (std::vector<std::chrono::milliseconds>{100ms, 2000ms}));

    Rig dead;
    ASSERT_EQ(dead.d.OpenPort("COM1", 7, 0, 0, 0, 0), 0);
    dead.serial.writeOk = false;
    EXPECT_NE(dead.d.FinishPort(), 0) << "the closing bytes were not taken";
    EXPECT_EQ(dead.serial.closes, 1);
}

TEST(PortDispatcher, NetworkFinishReportsWhetherThePrinterTookEverything) {
    Rig r;
    ASSERT_EQ(r.d.OpenNetworkPort("127.0.0.1", 9100), 0);
    EXPECT_EQ(r.d.FinishPort(), 0);
    EXPECT_EQ(r.net.finishes, 1);
    EXPECT_EQ(r.net.closes, 1);
    ASSERT_EQ(r.d.OpenNetworkPort("127.0.0.1", 9100), 0);
    r.net.finishResult = 0;
    EXPECT_NE(r.d.FinishPort(), 0);
    EXPECT_EQ(r.net.closes, 2);
}

TEST(PortSettings, BaudCodes) {
    EXPECT_EQ(baudCodeOf("57600 bps"), 9);
    EXPECT_EQ(baudCodeOf("1200 bps"), 3);
    EXPECT_EQ(baudCodeOf("115200 bps"), 10);
    EXPECT_EQ(baudCodeOf("115200"), 7);
    EXPECT_EQ(baudCodeOf("9600 BPS"), 7);
    EXPECT_EQ(lineSpeedOf(4), 2400);
    EXPECT_EQ(lineSpeedOf(11), 0);
    EXPECT_EQ(baudCodeOfSpeed(38400), 8);
    EXPECT_EQ(baudCodeOfSpeed(14400), 0);
    EXPECT_EQ(tcpPortOfText("9100"), 9100);
    EXPECT_EQ(tcpPortOfText("abc"), 0);
    EXPECT_EQ(tcpPortOfText("80x"), 80);
}

} // namespace
} // namespace tessera
