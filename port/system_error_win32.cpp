#include "port/system_error.h"

#include <windows.h>

namespace tessera {

std::string systemMessage(int code) {
    char buffer[512] = {};
    const DWORD n =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    // The system's texts end in ".\r\n"; a message line of ours goes on after them.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = "error " + std::to_string(code);
    return text;
}

std::string systemError(const char* call, int code) {
    return std::string(call) + ": " + systemMessage(code);
}

} // namespace tessera
