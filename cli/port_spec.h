#pragma once
// The --port argument of the transfer commands.

#include "base/result.h"
#include "port/port_kind.h"

#include <string>

namespace tessera::cli {

struct PortTarget {
    PortKind kind = PortKind::Network;
    std::string spec;   // as given, for messages
    std::string host;   // network: a dotted address or a host name
    int tcpPort = 9100; // network
};

inline constexpr int kDefaultTcpPort = 9100;

// tcp:HOST[:PORT], or a bare IPv4 address or host name with an optional :PORT. Anything else is BadInput
// with a reason.
Result<PortTarget> parsePortSpec(const std::string& spec);

} // namespace tessera::cli
