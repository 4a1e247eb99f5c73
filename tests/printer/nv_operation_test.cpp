// What an operation opens, writes and finishes, and how each failure is classified.

#include "printer/nv_operation.h"

#include "printer/confirmed_transfer.h"
#include "support/fake_ports.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

using test::Bytes;

struct Rig {
    test::FakeLine serial, parallel, usb;
    test::FakeNet net;
    test::FakeSpooler spooler;
    CNVUploadCtrl ctrl{PortSet{&spooler, &serial, &parallel, &usb, &net}, [](std::chrono::milliseconds) {}};
};

int erase(CNVUploadCtrl& c) { return c.eraseNvImages(); }

TEST(NvOperation, PortModeOpensWritesAndFinishes) {
    Rig r;
    PortSettings s;
    s.portName = "TCP/IP";
    s.ipAddress = "127.0.0.1";
    s.tcpPort = 9100;
    EXPECT_TRUE(runTransfer(r.ctrl, s, erase).ok());
    EXPECT_EQ(r.net.ip, "127.0.0.1");
    EXPECT_EQ(r.net.sent.size(), 10u);
    EXPECT_EQ(r.net.finishes, 1);

    s.portName = "COM4";
    s.baudCode = 9;
    EXPECT_TRUE(runTransfer(r.ctrl, s, erase).ok());
    EXPECT_EQ(r.serial.openedName, "COM4");
    EXPECT_EQ(r.serial.openedBaud, 9);
    EXPECT_EQ(r.serial.writes.back(), (Bytes{0x1D, 0x61, 0x00}));
}

TEST(NvOperation, EachFailureIsNamed) {
    Rig r;
    PortSettings s;
    s.portName = "TCP/IP";
    r.net.connectResult = 8;
    TransferResult open = runTransfer(r.ctrl, s, erase);
    EXPECT_EQ(open.outcome, TransferOutcome::OpenFailed);
    EXPECT_EQ(open.openCode, 8);
    EXPECT_TRUE(r.net.sent.empty());

    r.net.connectResult = 0;
    r.net.sendOk = false;
    EXPECT_EQ(runTransfer(r.ctrl, s, erase).outcome, TransferOutcome::WriteFailed);
    EXPECT_EQ(r.net.finishes, 1) << "the port is finished and closed after a failed write too";

    r.net.sendOk = true;
    r.net.finishResult = 0;
    EXPECT_EQ(runTransfer(r.ctrl, s, erase).outcome, TransferOutcome::FinishFailed);
}

TEST(NvOperation, ADriverThatCannotBeOpenedIsNotWrittenTo) {
    Rig r;
    PortSettings driver;
    driver.useDriver = true;
    driver.printerName = "nobody";
    r.spooler.openOk = false;
    int writerRuns = 0;
    const auto counted = [&](CNVUploadCtrl& c) {
        ++writerRuns;
        return c.eraseNvImages();
    };
    EXPECT_EQ(runTransfer(r.ctrl, driver, counted).outcome, TransferOutcome::OpenFailed);
    EXPECT_EQ(writerRuns, 0);

    r.spooler.openOk = true;
    r.spooler.maxPerCall = 64;
    EXPECT_TRUE(runTransfer(r.ctrl, driver, erase).ok());
    EXPECT_EQ(r.spooler.taken.size(), 10u);
    r.spooler.endOk = false;
    EXPECT_EQ(runTransfer(r.ctrl, driver, erase).outcome, TransferOutcome::FinishFailed);
}

TEST(ConfirmedTransfer, ThePrinterIsGiven5sPlus1sPer10KBRoundedUp) {
    const std::pair<std::uint64_t, long long> cases[] = {
        {0, 5000}, {1, 5001}, {10240, 6000}, {10241, 6001}, {102400, 15000}, {1 << 20, 107400},
    };
    for (const auto& [bytes, ms] : cases) EXPECT_EQ(confirmationBound(bytes).count(), ms) << bytes;
}

} // namespace
} // namespace tessera
