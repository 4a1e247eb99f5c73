#include "cli/stdio.h"

#include "base/windows_text.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>
#include <shellapi.h>

namespace tessera {

void setBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

// argv holds the arguments in the ANSI code page, which loses every character outside it; the wide command
// line has them all.
std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int n = 0;
    LPWSTR* wargs = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wargs || n != argc) {
        if (wargs) LocalFree(wargs);
        return {argv, argv + argc};
    }
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i) {
        args.push_back(narrow(wargs[i]));
    }
    LocalFree(wargs);
    return args;
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

} // namespace tessera
