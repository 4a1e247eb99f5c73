#pragma once
// The spelling of a host name, checked before any look-up: the command line and the virtual printer refuse
// the same names.

#include <string>

namespace tessera {

// True when host is labels of letters, digits and hyphens, 1..63 characters each, not beginning or ending
// with a hyphen, 253 characters at most in all.
bool validHostName(const std::string& host);

} // namespace tessera
