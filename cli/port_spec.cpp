#include "cli/port_spec.h"

#include "base/host_name_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tessera::cli {

namespace {

bool upperStartsWith(const std::string& s, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i)
        if (i >= s.size() || std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

// "COM7" and the like, in any case: the number after the prefix (0 for none, 1000 for any above 999), or -1
// when something else follows it.
int numberAfter(const std::string& s, const char* prefix) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    if (!upperStartsWith(s, prefix)) return -1;
    int v = 0;
    for (std::size_t i = n; i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return -1;
        v = std::min(v * 10 + (s[i] - '0'), 1000);
    }
    return v;
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// A lower-case prefix such as "tcp:" in any case, as usb is taken in any case.
bool startsWithAnyCase(const std::string& s, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i)
        if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
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

PortTarget lineTarget(const std::string& spec, PortKind kind, std::string device) {
    PortTarget t;
    t.spec = spec;
    t.kind = kind;
    t.device = std::move(device);
    return t;
}

} // namespace

Result<PortTarget> parsePortSpec(const std::string& spec) {
    for (const char* prefix : {"serial:", "parallel:"}) {
        if (!startsWithAnyCase(spec, prefix)) continue;
        const std::string path = spec.substr(std::char_traits<char>::length(prefix));
        if (path.empty()) return badInput(spec + ": no device after '" + prefix + "'");
        return lineTarget(spec, prefix[0] == 's' ? PortKind::Serial : PortKind::Parallel, path);
    }
    if (const int com = numberAfter(spec, "COM"); com >= 0) {
        if (com < 1 || com > 12) return badInput(spec + ": the serial ports are COM1 to COM12");
        return lineTarget(spec, PortKind::Serial, "COM" + std::to_string(com));
    }
    if (const int lpt = numberAfter(spec, "LPT"); lpt >= 0) {
        if (lpt < 1 || lpt > 2) return badInput(spec + ": the parallel ports are LPT1 and LPT2");
        return lineTarget(spec, PortKind::Parallel, "LPT" + std::to_string(lpt));
    }
    if (startsWithAnyCase(spec, "driver:")) {
        PortTarget t;
        t.spec = spec;
        t.kind = PortKind::Driver;
        t.device = spec.substr(7);
        if (t.device.empty()) return badInput(spec + ": no printer name after 'driver:'");
        if (t.device.size() > 127) return badInput(spec + ": a printer name has at most 127 characters");
        return t;
    }
    if (upperStartsWith(spec, "USB") && spec.size() > 3 && spec[3] != ':' && !std::isalpha(static_cast<unsigned char>(spec[3])) &&
        spec[3] != '-' && spec[3] != '.')
        return badInput(spec + ": say usb for the first accepted USB printer, or usb:VID:PID");
    if (upperStartsWith(spec, "USB") && (spec.size() == 3 || spec[3] == ':')) {
        PortTarget t;
        t.spec = spec;
        t.kind = PortKind::Usb;
        if (spec.size() == 3) return t;
        // usb:VID:PID, four hexadecimal digits each
        const std::string ids = spec.substr(4);
        auto hex4 = [](const std::string& text, std::uint16_t& value) {
            if (text.size() != 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
            value = static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
            return true;
        };
        const auto colon = ids.find(':');
        std::uint16_t vendor = 0, product = 0;
        if (colon == std::string::npos || !hex4(ids.substr(0, colon), vendor) || !hex4(ids.substr(colon + 1), product))
            return badInput(spec + ": expected usb or usb:VID:PID with four hexadecimal digits each");
        t.usbIds = {vendor, product};
        return t;
    }
    if (startsWith(spec, "/")) {
        if (startsWith(spec, "/dev/tty") || startsWith(spec, "/dev/pts/"))
            return lineTarget(spec, PortKind::Serial, spec);
        if (startsWith(spec, "/dev/lp") || startsWith(spec, "/dev/usb/lp"))
            return lineTarget(spec, PortKind::Parallel, spec);
        return badInput(spec + ": not a serial or parallel device; say serial:PATH or parallel:PATH");
    }

    const bool tcp = startsWithAnyCase(spec, "tcp:");
    std::string rest = tcp ? spec.substr(4) : spec;
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
    // Text of digits and dots is meant as an address: a slip must not become a name looked up in the DNS.
    if (!rest.empty() && rest.find_first_not_of("0123456789.") == std::string::npos) {
        if (!parseIpv4(rest))
            return badInput(spec + ": not an IPv4 address (four numbers 0..255, such as 192.168.1.50)");
    } else if (!tcp && rest.find('.') == std::string::npos) {
        // A mistyped port name (garbage, com1x) would otherwise leave the machine as a DNS query.
        return badInput(spec + ": not a port name; use tcp:NAME for a host name");
    } else if (!validHostName(rest)) {
        return badInput(spec + ": not a host name or IPv4 address");
    }
    t.host = rest;
    return t;
}

std::string normalisedPort(const PortTarget& t) {
    switch (t.kind) {
    case PortKind::Network: {
        std::string host = t.host;
        std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
        return "tcp:" + host + ":" + std::to_string(t.tcpPort);
    }
    case PortKind::Serial:
        return "serial:" + t.device;
    case PortKind::Parallel:
        return "parallel:" + t.device;
    case PortKind::Usb: {
        if (!t.usbIds) return "usb";
        char ids[16];
        std::snprintf(ids, sizeof ids, ":%04x:%04x", t.usbIds->first, t.usbIds->second);
        return "usb" + std::string(ids);
    }
    case PortKind::Driver:
        break;
    }
    return "driver:" + t.device;
}

} // namespace tessera::cli
