// The dispatcher against port doubles: which object a block reaches, the open and finish codes, and that a
// failure anywhere is reported instead of swallowed.

#include "port/port_dispatcher.h"
#include "port/port_settings.h"

#include "support/fake_ports.h"

#include <gtest/gtest.h>

#include <numeric>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::FakeLine;

struct Rig {
    FakeLine serial, parallel, usb;
    test::FakeNet net;
    test::FakeSpooler spooler;
    std::vector<std::chrono::milliseconds> sleeps;
    PortDispatcher d{PortSet{&spooler, &serial, &parallel, &usb, &net},
                     [this](std::chrono::milliseconds ms) { sleeps.push_back(ms); }};
    int send(const Bytes& b) { return d.SendBytes(b.data(), b.size()); }
};

TEST(PortDispatcher, OpenChoosesTheKindByTheNamesFirstThreeLetters) {
    Rig r;
    EXPECT_EQ(r.d.currentKind(), PortKind::Driver);
    // Anything else is an address, with the baud code as the TCP port.
    for (auto [name, kind] : {std::pair{"COM3", PortKind::Serial},
                              {"LPT2", PortKind::Parallel},
                              {"USB", PortKind::Usb},
                              {"usb", PortKind::Network}}) {
        EXPECT_EQ(r.d.OpenPort(name, 6, 0, 0, 0, 0), 0) << name;
        EXPECT_EQ(r.d.currentKind(), kind) << name;
    }
    EXPECT_EQ(r.serial.openedName, "COM3");
    EXPECT_EQ(r.serial.openedBaud, 6);
    EXPECT_EQ(r.net.ip, "usb");
    EXPECT_EQ(r.net.port, 6);
    EXPECT_EQ(r.d.OpenNetworkPort("127.0.0.1", 9100), 0);
    EXPECT_EQ(r.net.port, 9100);
}

TEST(PortDispatcher, FailedOpensCloseThePortAndKeepItsKind) {
    Rig r;
    // A line port's failure is -1, but the USB printer's own code is passed on.
    for (auto [name, port, code, result] :
         {std::tuple{"COM1", &r.serial, 5, -1}, {"LPT1", &r.parallel, 1, -1}, {"USB", &r.usb, -7, -7}}) {
        port->openResult = code;
        EXPECT_EQ(r.d.OpenPort(name, 7, 0, 0, 0, 0), result) << name;
        EXPECT_EQ(port->closes, 1) << name;
    }
    EXPECT_EQ(r.d.currentKind(), PortKind::Usb);
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
    std::iota(block.begin(), block.end(), 0);
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

    // A printer that cannot be opened or takes no document is let go of; a document that cannot be ended
    // keeps its handle.
    Rig s;
    ASSERT_EQ(s.d.OpenPort("COM1", 7, 0, 0, 0, 0), 0);
    ASSERT_EQ(s.d.FinishPort(), 0);
    s.spooler.openOk = false;
    EXPECT_EQ(s.d.OpenDriver("nobody"), 0);
    EXPECT_EQ(s.d.currentKind(), PortKind::Serial);
    EXPECT_EQ(s.send({1}), 0) << "the closed port of the last transfer takes nothing";
    s.spooler.openOk = true;
    s.spooler.startOk = false;
    EXPECT_EQ(s.d.OpenDriver("Receipt"), 0);
    EXPECT_EQ(s.spooler.closes, 1);
    EXPECT_FALSE(s.d.driverOpen());

    Rig t;
    ASSERT_EQ(t.d.OpenDriver("Receipt"), 1);
    t.spooler.endOk = false;
    EXPECT_EQ(t.d.CloseDriver(), 0);
    EXPECT_TRUE(t.d.driverOpen());
}

// The USB printer's ending, with its pauses, is checked with the real port in usb_printer_test.cpp.
TEST(PortDispatcher, FinishEndsWithStatusBackOffClosesThePortAndFailsWhatWasNotTaken) {
    for (const char* name : {"COM2", "LPT1"}) {
        Rig r;
        ASSERT_EQ(r.d.OpenPort(name, 7, 0, 0, 0, 0), 0);
        ASSERT_EQ(r.send({9}), 1);
        EXPECT_EQ(r.d.FinishPort(), 0);
        FakeLine& port = name[0] == 'C' ? r.serial : r.parallel;
        EXPECT_EQ(port.writes.back(), (Bytes{0x1D, 0x61, 0x00}));
        EXPECT_EQ(port.closes, 1);
        EXPECT_TRUE(r.sleeps.empty());

        port.writeOk = false;
        ASSERT_EQ(r.d.OpenPort(name, 7, 0, 0, 0, 0), 0);
        EXPECT_NE(r.d.FinishPort(), 0) << "the closing bytes were not taken";
        EXPECT_EQ(port.closes, 2);
    }
    // A network printer's finish tells whether it took everything.
    Rig r;
    for (int finished : {1, 0}) {
        r.net.finishResult = finished;
        ASSERT_EQ(r.d.OpenNetworkPort("127.0.0.1", 9100), 0);
        EXPECT_EQ(r.d.FinishPort(), finished ? 0 : -1);
    }
    EXPECT_EQ(r.net.finishes, 2);
    EXPECT_EQ(r.net.closes, 2);
}

TEST(PortSettings, BaudCodes) {
    EXPECT_EQ(baudCodeOf("57600 bps"), 9);
    EXPECT_EQ(baudCodeOf("1200 bps"), 3);
    EXPECT_EQ(baudCodeOf("115200 bps"), 10);
    EXPECT_EQ(baudCodeOf("115200"), 7);
    EXPECT_EQ(baudCodeOf("9600 BPS"), 7);
    EXPECT_EQ(baudCodeOfSpeed(38400), 8);
    EXPECT_EQ(baudCodeOfSpeed(14400), 0);
}

} // namespace
} // namespace tessera
