#include "cli/stdio.h"

#include <unistd.h>

namespace tessera {

void setBinaryStdout() {}

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

} // namespace tessera
