#include "cli/port_spec.h"

#include <cctype>

namespace tessera::cli {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool upperStartsWith(const std::string& s, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i)
        if (i >= s.size() || std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

bool validHost(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    for (unsigned char c : host)
        if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_')) return false;
    return true;
}

Result<int> parseTcpPort(const std::string& text, const std::string& spec) {
    if (text.empty() || text.size() > 5) return badInput(spec + ": the TCP port must be a number from 1 to 65535");
    int v = 0;
    for (unsigned char c : text) {
        if (!std::isdigit(c)) return badInput(spec + ": the TCP port must be a number from 1 to 65535");
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535) return badInput(spec + ": the TCP port must be a number from 1 to 65535");
    return v;
}

} // namespace

Result<PortTarget> parsePortSpec(const std::string& spec) {
    if (upperStartsWith(spec, "COM") || upperStartsWith(spec, "LPT") || upperStartsWith(spec, "USB") ||
        startsWith(spec, "serial:") || startsWith(spec, "parallel:") || startsWith(spec, "driver:") ||
        startsWith(spec, "/"))
        return badInput(spec + ": this build of nvlogo reaches network printers only (tcp:HOST[:PORT])");

    std::string rest = startsWith(spec, "tcp:") ? spec.substr(4) : spec;
    PortTarget t;
    t.spec = spec;
    t.kind = PortKind::Network;
    const std::size_t colon = rest.rfind(':');
    if (colon != std::string::npos) {
        auto port = parseTcpPort(rest.substr(colon + 1), spec);
        if (!port) return port.error();
        t.tcpPort = *port;
        rest.resize(colon);
    }
    if (!validHost(rest)) return badInput(spec + ": not a host name or IPv4 address");
    t.host = rest;
    return t;
}

} // namespace tessera::cli
