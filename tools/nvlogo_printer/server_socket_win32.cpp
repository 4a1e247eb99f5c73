#include "tools/nvlogo_printer/server_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <utility>

namespace tessera::vp::net {

namespace {

SOCKET sockOf(Socket s) { return static_cast<SOCKET>(s); }

// Winsock cannot wait on an event and sockets together through WSAPoll, so a stop is a datagram that a
// loopback UDP socket sends to itself.
std::atomic<StopChannel*> signalChannel{nullptr};

BOOL WINAPI onConsoleStop(DWORD) {
    if (StopChannel* channel = signalChannel.load()) channel->notify();
    return TRUE;
}

} // namespace

Status startup() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return ioError("WSAStartup failed");
    return {};
}

std::string lastError(const char* call) {
    const int code = ::WSAGetLastError();
    char text[256] = "";
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code), 0,
                     text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return std::string(call) + ": " + (message.empty() ? "error " + std::to_string(code) : message);
}

Result<std::vector<std::uint32_t>> lookUpIPv4(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
        return ioError("cannot resolve " + name + ": " + lastError("getaddrinfo"));
    std::vector<std::uint32_t> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next)
        addresses.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr));
    ::freeaddrinfo(found);
    return addresses;
}

Result<Socket> listenOn(std::uint32_t address, std::uint16_t& port) {
    // INVALID_SOCKET converts to kNone.
    UniqueSocket listener(static_cast<Socket>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (!listener) return ioError(lastError("socket"));
    const SOCKET s = sockOf(listener.get());
    // Without exclusive use a second server could bind the same port and take half of the connections.
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    int len = sizeof addr;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 64) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return ioError(lastError("bind"));
    port = ntohs(addr.sin_port);
    return listener.release();
}

Socket acceptFrom(Socket listener, std::string& peer) {
    sockaddr_in addr{};
    int len = sizeof addr;
    const SOCKET s = ::accept(sockOf(listener), reinterpret_cast<sockaddr*>(&addr), &len);
    if (s == INVALID_SOCKET) return kNone;
    char host[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &addr.sin_addr, host, sizeof host);
    peer = std::string(host) + ":" + std::to_string(ntohs(addr.sin_port));
    return static_cast<Socket>(s);
}

StopChannel::~StopChannel() {
    if (signals_) {
        StopChannel* self = this;
        signalChannel.compare_exchange_strong(self, nullptr);
        ::SetConsoleCtrlHandler(onConsoleStop, FALSE);
    }
}

Status StopChannel::open(bool installSignals) {
    UniqueSocket channel(static_cast<Socket>(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)));
    if (!channel) return ioError(lastError("socket"));
    const SOCKET s = sockOf(channel.get());
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return ioError(lastError("stop channel"));
    write_ = channel.get();
    // One socket serves both: with signals it is held as signals_, which readable() prefers.
    (installSignals ? signals_ : read_) = std::move(channel);
    if (installSignals) {
        signalChannel = this;
        if (!::SetConsoleCtrlHandler(onConsoleStop, TRUE)) return ioError("SetConsoleCtrlHandler failed");
    }
    return {};
}

void StopChannel::notify() {
    const char one = 1;
    ::send(sockOf(write_), &one, 1, 0);
}

int waitReadable(Socket a, Socket b, int timeoutMs, bool& aReady, bool& bReady) {
    aReady = bReady = false;
    WSAPOLLFD fds[2] = {{sockOf(a), POLLRDNORM, 0}, {sockOf(b), POLLRDNORM, 0}};
    const int r = ::WSAPoll(fds, 2, timeoutMs);
    if (r == SOCKET_ERROR) return -1;
    aReady = fds[0].revents != 0;
    bReady = fds[1].revents != 0;
    return r > 0 ? 1 : 0;
}

void waitWhileOpen(Socket, Socket stop, int timeoutMs) {
    // WSAPoll cannot watch for a hang-up without also reporting the data the peer keeps sending, so a stalled
    // connection here ends with the stop or the time limit only.
    WSAPOLLFD fd{sockOf(stop), POLLRDNORM, 0};
    ::WSAPoll(&fd, 1, timeoutMs);
}

long receive(Socket s, std::span<std::uint8_t> into, bool dontWait) {
    if (dontWait) {
        u_long queued = 0;
        if (::ioctlsocket(sockOf(s), FIONREAD, &queued) != 0) return -1;
        if (queued == 0) return -2;
    }
    const int want = static_cast<int>(into.size() > 0x7fffffff ? 0x7fffffff : into.size());
    const int n = ::recv(sockOf(s), reinterpret_cast<char*>(into.data()), want, 0);
    if (n == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
    return n;
}

bool sendAll(Socket s, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const int piece = static_cast<int>(bytes.size() > 65536 ? 65536 : bytes.size());
        const int n = ::send(sockOf(s), reinterpret_cast<const char*>(bytes.data()), piece, 0);
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

std::size_t queuedBytes(Socket s) {
    u_long queued = 0;
    if (::ioctlsocket(sockOf(s), FIONREAD, &queued) != 0) return 0;
    return queued;
}

void setSendTimeout(Socket s, int seconds) {
    const DWORD ms = static_cast<DWORD>(seconds) * 1000;
    ::setsockopt(sockOf(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void closeSocket(Socket s, bool reset) {
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(sockOf(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    }
    ::closesocket(sockOf(s));
}

} // namespace tessera::vp::net
