#include "cli/stdio.h"

#include <unistd.h>

namespace tessera {

void setBinaryStdout() {}

std::vector<std::string> utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

} // namespace tessera
