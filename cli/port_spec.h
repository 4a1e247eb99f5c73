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
    std::optional<std::string> name;                               // the store or till an inventory gives it
    std::string origin;                                            // "FILE:LINE" of an inventory, empty for --port
};

inline constexpr int kDefaultTcpPort = 9100;
inline constexpr int kDefaultLineSpeed = 19200;

// How a command goes through many printers.
struct FleetOptions {
    unsigned jobs = 0;    // --jobs: printers at once; 0 all that the open-file limit allows
    unsigned retries = 0; // --retries: further attempts for a printer that could not be reached
    double retryWait = 5; // --retry-wait: seconds before the first retry, doubled for each further one
    std::string report;   // --report: JSON Lines file, - standard output, empty none
    bool dryRun = false;  // --dry-run: only the status requests
    std::string ledger;   // --ledger: what each printer last confirmed
    bool skipUnchanged = false;
};

// What the transfer commands take besides their own arguments.
struct PortOptions {
    std::vector<std::string> specs;
    std::vector<std::string> inventories; // --ports-from
    int lineSpeed = kDefaultLineSpeed;    // --baud, a rate of the baud-code table
    FlowControl flow = FlowControl::None; // --flow
    FleetOptions fleet;
};

// tcp:HOST[:PORT] with any host name or IPv4 address; a bare IPv4 address or a host name with a dot, with
// an optional :PORT; COM1..COM12, LPT1, LPT2; serial:PATH, parallel:PATH; a bare path: serial for /dev/tty*
// and /dev/pts/*, parallel for /dev/lp* and /dev/usb/lp*; usb or usb:VID:PID; driver:NAME, an installed
// printer. Words and prefixes are taken in any case. Text of digits and dots must be an IPv4 address, and a
// bare word without a dot is refused, so that no slip turns into a DNS query. Anything else is BadInput
// with a reason.
Result<PortTarget> parsePortSpec(const std::string& spec);

// One name per printer however it was written: tcp:127.0.0.1, 127.0.0.1:9100 and TCP:127.0.0.1 are all
// "tcp:127.0.0.1:9100"; COM3 and com3 "serial:COM3"; usb:04B8:0E15 "usb:04b8:0e15". Host names are taken in
// lower case and not looked up, so a name and its address count as two printers.
std::string normalisedPort(const PortTarget& target);

} // namespace tessera::cli
