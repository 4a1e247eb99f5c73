#pragma once
// The --port argument of the transfer commands, with the serial line options that go with it.

#include "base/result.h"
#include "port/line_device.h"
#include "port/port_kind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera::cli {

struct PortTarget {
    PortKind kind = PortKind::Network;
    std::string spec;                     // as given, for messages
    std::string host;                     // network: a dotted address or a host name
    int tcpPort = 9100;                   // network
    std::string device;                   // serial, parallel: "COM3", "LPT1" or a device path, as the port opens it
    int baudCode = 7;                     // serial
    FlowControl flow = FlowControl::None; // serial
    std::optional<std::pair<std::uint16_t, std::uint16_t>> usbIds; // usb: one more vendor and product to take
};

inline constexpr int kDefaultTcpPort = 9100;
inline constexpr int kDefaultLineSpeed = 19200;

// What the transfer commands take besides their own arguments.
struct PortOptions {
    std::vector<std::string> specs;
    int lineSpeed = kDefaultLineSpeed;    // --baud, a rate of the baud-code table
    FlowControl flow = FlowControl::None; // --flow
};

// tcp:HOST[:PORT] with any host name or IPv4 address; a bare IPv4 address or a host name with a dot, with
// an optional :PORT; COM1..COM12, LPT1, LPT2; serial:PATH, parallel:PATH; a bare path: serial for /dev/tty*
// and /dev/pts/*, parallel for /dev/lp* and /dev/usb/lp*; usb or usb:VID:PID; driver:NAME, an installed
// printer. Words and prefixes are taken in any case. Text of digits and dots must be an IPv4 address, and a
// bare word without a dot is refused, so that no slip turns into a DNS query. Anything else is BadInput
// with a reason.
Result<PortTarget> parsePortSpec(const std::string& spec);

} // namespace tessera::cli
