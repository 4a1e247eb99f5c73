// How --port values are read: which transport and which device each form names, and what is refused.

#include "cli/port_spec.h"

#include <gtest/gtest.h>

namespace tessera::cli {
namespace {

TEST(PortSpec, LocalPortsAndDevicePaths) {
    const struct {
        const char* spec;
        PortKind kind;
        const char* device;
    } cases[] = {
        {"COM1", PortKind::Serial, "COM1"},
        {"com12", PortKind::Serial, "COM12"},
        {"LPT1", PortKind::Parallel, "LPT1"},
        {"lpt2", PortKind::Parallel, "LPT2"},
        {"/dev/ttyUSB0", PortKind::Serial, "/dev/ttyUSB0"},
        {"/dev/pts/7", PortKind::Serial, "/dev/pts/7"},
        {"/dev/lp0", PortKind::Parallel, "/dev/lp0"},
        {"/dev/usb/lp1", PortKind::Parallel, "/dev/usb/lp1"},
        {"serial:/tmp/link-to-a-tty", PortKind::Serial, "/tmp/link-to-a-tty"},
        {"parallel:/tmp/capture.bin", PortKind::Parallel, "/tmp/capture.bin"},
        {"SERIAL:/tmp/x", PortKind::Serial, "/tmp/x"},
        {"serial:\\\\.\\COM15", PortKind::Serial, "\\\\.\\COM15"},
    };
    for (const auto& c : cases) {
        auto t = parsePortSpec(c.spec);
        ASSERT_TRUE(t) << c.spec << ": " << t.error().message;
        EXPECT_EQ(t->kind, c.kind) << c.spec;
        EXPECT_EQ(t->device, c.device) << c.spec;
        EXPECT_EQ(t->spec, c.spec);
    }
}

TEST(PortSpec, NetworkFormsStayAsTheyWere) {
    auto t = parsePortSpec("tcp:printer.local:9101");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->kind, PortKind::Network);
    EXPECT_EQ(t->host, "printer.local");
    EXPECT_EQ(t->tcpPort, 9101);
    // Names that merely begin like a port are host names after tcp: (in any case) or with a dot.
    for (const char* host : {"tcp:compaq-printer", "TCP:lpt-office", "192.168.1.50", "com1.example", "tcp:localhost"}) {
        auto h = parsePortSpec(host);
        ASSERT_TRUE(h) << host;
        EXPECT_EQ(h->kind, PortKind::Network) << host;
        EXPECT_EQ(h->tcpPort, kDefaultTcpPort);
    }
}

TEST(PortSpec, UsbAndInstalledPrinters) {
    for (const char* spec : {"usb", "USB", "Usb"}) {
        auto t = parsePortSpec(spec);
        ASSERT_TRUE(t) << spec;
        EXPECT_EQ(t->kind, PortKind::Usb);
        EXPECT_FALSE(t->usbIds);
    }
    auto extra = parsePortSpec("usb:04B8:0e2a");
    ASSERT_TRUE(extra);
    ASSERT_TRUE(extra->usbIds);
    EXPECT_EQ(extra->usbIds->first, 0x04B8);
    EXPECT_EQ(extra->usbIds->second, 0x0E2A);
    auto driver = parsePortSpec("driver:Front desk");
    ASSERT_TRUE(driver);
    EXPECT_EQ(driver->kind, PortKind::Driver);
    EXPECT_EQ(driver->device, "Front desk");
    // A host whose name begins with the letters stays a host.
    auto host = parsePortSpec("usbprinter.local");
    ASSERT_TRUE(host);
    EXPECT_EQ(host->kind, PortKind::Network);
}

TEST(PortSpec, RefusedForms) {
    for (const char* spec :
         {"COM0", "COM13", "COM", "COM99999999999", "LPT0", "LPT3", "USB001", "usb:0525", "usb:05250:a700",
          "usb:xyz1:a700", "driver:", "serial:", "parallel:", "/tmp/file", "/dev/null", "/dev/sda", "tcp:host:0", "",
          // no DNS query for a slip: bare words, and digits that are no IPv4 address
          "garbage", "com1x", "compaq-printer:9100", "tcp:256.1.1.1", "1.2.3", "01.2.3.4", "1.2.3.4.5", "tcp:-bad",
          "a..b", "tcp:under_score"}) {
        auto t = parsePortSpec(spec);
        EXPECT_FALSE(t) << spec;
        if (!t) {
            EXPECT_EQ(t.error().kind, ErrorKind::BadInput) << spec;
        }
    }
    EXPECT_EQ(parsePortSpec("garbage").error().message, "garbage: not a port name; use tcp:NAME for a host name");
}

} // namespace
} // namespace tessera::cli
