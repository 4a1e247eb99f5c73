#pragma once

namespace tessera {

// Makes standard output take bytes unchanged (no newline translation), for `save -o -`.
void setBinaryStdout();

// Whether standard error is a terminal, where a progress bar makes sense.
bool stderrIsTerminal();

} // namespace tessera
