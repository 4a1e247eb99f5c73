#include "port/host_name.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace tessera {

Result<std::string> resolveIPv4(const std::string& host) {
    // Look-ups need the sockets layer started; it is reference-counted, so this start stays balanced.
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return ioError("cannot resolve " + host + ": WSAStartup failed");
    Result<std::string> result = ioError("cannot resolve " + host);
    in_addr probe{};
    if (inet_pton(AF_INET, host.c_str(), &probe) == 1) {
        result = host;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
            freeaddrinfo(found);
            result = std::string(text);
        } else {
            result = ioError("cannot resolve " + host + ": error " + std::to_string(WSAGetLastError()));
        }
    }
    WSACleanup();
    return result;
}

} // namespace tessera
