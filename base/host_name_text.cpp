#include "base/host_name_text.h"

#include <cctype>

namespace tessera {

bool validHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    std::size_t label = 0;
    for (std::size_t i = 0; i <= host.size(); ++i) {
        if (i == host.size() || host[i] == '.') {
            if (label == 0 || label > 63 || host[i - 1] == '-' || host[i - label] == '-') return false;
            label = 0;
        } else if (std::isalnum(static_cast<unsigned char>(host[i])) || host[i] == '-') {
            ++label;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace tessera
