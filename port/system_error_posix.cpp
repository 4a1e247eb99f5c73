#include "port/system_error.h"

#include <cstring>
#include <type_traits>

namespace tessera {

std::string systemMessage(int code) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static string instead of filling the buffer; the XSI one returns int.
    const auto r = ::strerror_r(code, buffer, sizeof buffer);
    if constexpr (std::is_same_v<std::remove_cv_t<decltype(r)>, char*>)
        return r ? std::string(r) : "error " + std::to_string(code);
    else
        return r == 0 ? std::string(buffer) : "error " + std::to_string(code);
}

std::string systemError(const char* call, int code) {
    return std::string(call) + ": " + systemMessage(code);
}

} // namespace tessera
