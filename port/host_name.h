#pragma once
// Turns a printer's host name into the dotted IPv4 address the TCP client connects to.

#include "base/result.h"

#include <string>

namespace tessera {

// A dotted IPv4 address is returned as it is; a name is looked up (the first IPv4 address). An Io error
// names the host when it cannot be resolved.
Result<std::string> resolveIPv4(const std::string& host);

} // namespace tessera
