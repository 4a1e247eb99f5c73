#pragma once
// The nvlogo command line, as a function so that tests can run it in process.

#include <iosfwd>

namespace tessera {

// Exit status of every command.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,  // the printer cannot be reached, or a transfer or file write failed
    kExitBadInput = 2, // usage errors, values out of range, logos that cannot be read, decoded or sent
    kExitInterrupted = 130, // Ctrl-C stopped a rollout (the shells' number for a SIGINT)
};

// Runs nvlogo with the arguments (argv[0] is the program name). Regular output goes to out, which must
// take binary data (`save -o -`); errors, one line each, to err. interactive: err is a terminal, so long
// transfers may draw a progress bar there.
int runNvlogo(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool interactive = false);

} // namespace tessera
