#pragma once
// The TCP side of nvlogo-printer: one thread per connection, each with its own command interpreter, all
// sharing the NV store, the printout directory and the log. Runs until SIGTERM or SIGINT.

#include "tools/nvlogo_printer/virtual_printer.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace tessera::vp {

struct ServerOptions {
    std::string listen; // HOST:PORT, HOST in 127.0.0.0/8
    std::string nvFile;
    std::string outDir;
    PrinterConfig printer;
    // Fault injection, per connection.
    std::optional<std::uint64_t> closeAfter; // reset after receiving this many bytes
    std::optional<std::uint64_t> stallAfter; // stop reading after this many bytes
    bool refuse = false;                     // reset every connection at once
};

// Serves until a stop signal. The log goes to out, start-up errors (one line) to err. Returns the exit
// status: 0 after a stop, 2 for bad options or a malformed NV file, 1 when the socket or the directories
// cannot be set up.
int runServer(const ServerOptions& options, std::ostream& out, std::ostream& err);

} // namespace tessera::vp
