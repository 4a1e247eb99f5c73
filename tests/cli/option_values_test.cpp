// How --port and --range values are read: which transport and which device each port names, which images a
// range lists, and what is refused.

#include "cli/port_spec.h"
#include "cli/print_range.h"

#include <gtest/gtest.h>

namespace tessera::cli {
namespace {

TEST(PortSpec, EachFormNamesItsTransportAndDevice) {
    const struct {
        const char* spec;
        PortKind kind;
        const char* device; // the host of a network port
        int tcpPort = kDefaultTcpPort;
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
        {"usb", PortKind::Usb, ""},
        {"Usb", PortKind::Usb, ""},
        {"driver:Front desk", PortKind::Driver, "Front desk"},
        {"tcp:printer.local:9101", PortKind::Network, "printer.local", 9101},
        // Names that merely begin like a port are host names after tcp: (in any case) or with a dot.
        {"tcp:compaq-printer", PortKind::Network, "compaq-printer"},
        {"TCP:lpt-office", PortKind::Network, "lpt-office"},
        {"192.168.1.50", PortKind::Network, "192.168.1.50"},
        {"com1.example", PortKind::Network, "com1.example"},
        {"usbprinter.local", PortKind::Network, "usbprinter.local"},
        {"tcp:localhost", PortKind::Network, "localhost"},
    };
    for (const auto& c : cases) {
        auto t = parsePortSpec(c.spec);
        ASSERT_TRUE(t) << c.spec << ": " << t.error().message;
        EXPECT_EQ(t->kind, c.kind) << c.spec;
        EXPECT_EQ(t->kind == PortKind::Network ? t->host : t->device, c.device) << c.spec;
        EXPECT_EQ(t->tcpPort, c.tcpPort) << c.spec;
        EXPECT_FALSE(t->usbIds) << c.spec;
        EXPECT_EQ(t->spec, c.spec);
    }
    auto extra = parsePortSpec("usb:04B8:0e2a");
    ASSERT_TRUE(extra && extra->usbIds);
    EXPECT_EQ(*extra->usbIds, std::make_pair(std::uint16_t{0x04B8}, std::uint16_t{0x0E2A}));
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

// nvlogo print --range: exactly the images a person means, or a refusal.
TEST(PrintRange, ListsInTheGivenOrderAndRefusesEverythingElse) {
    const std::pair<const char*, std::vector<int>> taken[] = {
        {"7", {7}}, {"1,3,5-7", {1, 3, 5, 6, 7}}, {"9,2-3,2", {9, 2, 3, 2}}, {"255", {255}}, {"2-2", {2}}};
    for (const auto& [text, images] : taken) {
        auto r = parsePrintRange(text);
        ASSERT_TRUE(r) << text << ": " << r.error().message;
        EXPECT_EQ(*r, images) << text;
    }
    EXPECT_EQ(parsePrintRange("all")->size(), 255u);
    for (const char* text :
         {"254-257", "256", "-3", "99999999999", "abc", "0", "", "5-2", "2-2-3", "1,,3", "1,3,", "1, 3", "+4", "3-"}) {
        auto r = parsePrintRange(text);
        ASSERT_FALSE(r) << text;
        EXPECT_EQ(r.error().kind, ErrorKind::BadInput);
        EXPECT_NE(r.error().message.find(std::string("'") + text + "'"), std::string::npos) << r.error().message;
    }
}

} // namespace
} // namespace tessera::cli
