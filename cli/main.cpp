#include "cli/nvlogo.h"
#include "cli/stdio.h"

#include <iostream>

int main(int argc, char** argv) {
    tessera::setBinaryStdout();
    return tessera::runNvlogo(argc, argv, std::cout, std::cerr, tessera::stderrIsTerminal());
}
