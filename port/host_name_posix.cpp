#include "port/host_name.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace tessera {

Result<std::string> resolveIPv4(const std::string& host) {
    in_addr probe{};
    if (inet_pton(AF_INET, host.c_str(), &probe) == 1) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) return ioError("cannot resolve " + host + ": " + gai_strerror(rc));
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return std::string(text);
}

} // namespace tessera
