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
    std::string listen; // [tcp:]HOST:PORT, HOST an address in 127.0.0.0/8 or a name for one
    std::string nvFile;
    std::string outDir;
    std::string readyFile; // written with HOST:PORT once it listens, removed at the stop; empty: none
    bool quiet = false;    // log errors and the listening line only
    int idleTimeout = 300; // seconds a connection may stay silent; 0: for ever
    PrinterConfig printer;
    // Fault injection, per connection.
    std::optional<std::uint64_t> closeAfter; // reset after receiving this many bytes
    std::optional<std::uint64_t> stallAfter; // stop reading after this many bytes
    bool refuse = false;                     // reset every connection at once
};

// Serves until a stop signal. The log goes to out, start-up errors (one line) to err. Returns the exit
// status: 0 after a stop, 2 for bad options or a malformed NV file, 1 when the socket, the directories, the
// NV file or the ready file cannot be set up or written.
int runServer(const ServerOptions& options, std::ostream& out, std::ostream& err);

} // namespace tessera::vp
