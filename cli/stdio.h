#pragma once

namespace tessera {

// Makes standard output take bytes unchanged (no newline translation), for `save -o -`.
void setBinaryStdout();

} // namespace tessera
