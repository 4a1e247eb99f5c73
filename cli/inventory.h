#pragma once
// A fleet's list of printers kept in a file (--ports-from): one printer a line, a PORT as --port takes it,
// optionally followed by a tab and a name (the store or till, which may hold spaces). Blank lines and lines
// starting with # are skipped.

#include "base/result.h"
#include "cli/port_spec.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessera::cli {

// The printers the text lists, each with its name and origin "FILE:LINE". A line that is not a printer is
// BadInput "FILE:LINE: why". Trailing carriage returns (files written on Windows) are ignored.
Result<std::vector<PortTarget>> parseInventory(std::string_view text, const std::string& file);

// Reads and parses an inventory file; a file that cannot be read is BadInput naming it.
Result<std::vector<PortTarget>> readInventory(const std::string& file);

// BadInput when two targets are the same printer after normalising ("127.0.0.1:9100 is the same printer as
// tcp:127.0.0.1"), naming the inventory lines they come from.
Status checkDistinct(const std::vector<PortTarget>& targets);

} // namespace tessera::cli
