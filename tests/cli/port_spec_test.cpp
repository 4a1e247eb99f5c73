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
    // Names that merely begin like a port are host names.
    for (const char* host : {"compaq-printer", "lpt-office", "192.168.1.50"}) {
        auto h = parsePortSpec(host);
        ASSERT_TRUE(h) << host;
        EXPECT_EQ(h->kind, PortKind::Network) << host;
        EXPECT_EQ(h->tcpPort, kDefaultTcpPort);
    }
}

TEST(PortSpec, RefusedForms) {
    for (const char* spec : {"COM0", "COM13", "COM", "COM99999999999", "LPT0", "LPT3", "USB", "USB001", "driver:x",
                             "serial:", "parallel:", "/tmp/file", "/dev/null", "/dev/sda", "tcp:host:0", ""}) {
        auto t = parsePortSpec(spec);
        EXPECT_FALSE(t) << spec;
        if (!t) {
            EXPECT_EQ(t.error().kind, ErrorKind::BadInput) << spec;
        }
    }
}

} // namespace
} // namespace tessera::cli
