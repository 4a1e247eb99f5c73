#include "cli/stdio.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace tessera {

void setBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

} // namespace tessera
