#pragma once
// The few places where the command line meets its platform.

#include <string>
#include <vector>

namespace tessera {

// The program's arguments as UTF-8, the form every path takes inside the program.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Makes standard output take bytes unchanged (no newline translation), for `save -o -`.
void setBinaryStdout();

// Whether standard error is a terminal, where a progress bar makes sense.
bool stderrIsTerminal();

} // namespace tessera
