#pragma once
// The spelling of a host name or an IPv4 address, checked before any look-up: the command line and the virtual printer refuse
// the same names.

#include <cstdint>
#include <optional>
#include <string>

namespace tessera {

// True when host is labels of letters, digits and hyphens, 1..63 characters each, not beginning or ending
// with a hyphen, 253 characters at most in all.
bool validHostName(const std::string& host);

// The address of a dotted-quad IPv4 text: four decimal parts 0..255 of at most three digits, without the
// leading zeros that some resolvers read as octal; null for anything else.
std::optional<std::uint32_t> parseIpv4(const std::string& text);

} // namespace tessera
