#include "cli/nvlogo.h"
#include "cli/stdio.h"

#include <iostream>

int main(int argc, char** argv) {
    tessera::setBinaryStdout();
    const std::vector<std::string> args = tessera::utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& arg : args)
        pointers.push_back(arg.c_str());
    return tessera::runNvlogo(static_cast<int>(pointers.size()), pointers.data(), std::cout, std::cerr,
                              tessera::stderrIsTerminal());
}
