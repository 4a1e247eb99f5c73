#include "port/tcp_socket.h"

#include <algorithm>
#include <climits>
#include <mutex>

// winsock2.h must come first: windows.h would otherwise bring in the old winsock.h.
#include <winsock2.h>

#include <windows.h>

namespace tessera {
namespace {

SOCKET sock(SocketHandle socket) { return static_cast<SOCKET>(socket); }

int clampedLength(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

IoResult ioError(int error) {
    if (error == WSAEWOULDBLOCK) return {IoStatus::WouldBlock, 0, error};
    if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN || error == WSAENETRESET)
        return {IoStatus::Reset, 0, error};
    return {IoStatus::Failed, 0, error};
}

class Win32SocketLayer final : public TcpSocketLayer {
  public:
    // Winsock is started once per process and never cleaned up: clients on several threads share it, and
    // the process end releases it. A failed start is tried again at the next connect.
    std::optional<std::uint16_t> startup(std::uint16_t requestedVersion) override {
        static std::mutex mutex;
        static bool started = false;
        static WORD granted = 0;
        std::lock_guard<std::mutex> lock(mutex);
        if (!started) {
            WSADATA data{};
            if (::WSAStartup(requestedVersion, &data) != 0) return std::nullopt;
            started = true;
            granted = data.wVersion;
        }
        return granted;
    }

    SocketHandle createSocket() override {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
        return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
    }

    void setOptions(SocketHandle socket, const SocketOptions& options) override {
        const DWORD receive = static_cast<DWORD>(options.receiveTimeout.count());
        const int buffer = options.sendBufferBytes;
        const DWORD send = static_cast<DWORD>(options.sendTimeout.count());
        ::setsockopt(sock(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive), sizeof receive);
        ::setsockopt(sock(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
        ::setsockopt(sock(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send), sizeof send);
    }

    bool setNonBlocking(SocketHandle socket) override {
        u_long on = 1;
        return ::ioctlsocket(sock(socket), FIONBIO, &on) == 0;
    }

    std::uint32_t inetAddr(const std::string& text) override { return ::inet_addr(text.c_str()); }

    bool startConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port) override {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = ::htons(port);
        sa.sin_addr.s_addr = address;
        if (::connect(sock(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return true;
        return ::WSAGetLastError() == WSAEWOULDBLOCK;
    }

    WaitResult waitWritable(SocketHandle socket, std::chrono::milliseconds timeout) override {
        // Winsock reports a failed connect in the exception set, not the write set; watching both ends the
        // wait as soon as the connect is refused, and SO_ERROR then tells which it was.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(sock(socket), &writable);
        FD_SET(sock(socket), &failed);
        timeval tv{};
        tv.tv_sec = static_cast<long>(timeout.count() / 1000);
        tv.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
        const int n = ::select(0, nullptr, &writable, &failed, &tv);
        if (n == SOCKET_ERROR) return {WaitStatus::Failed, ::WSAGetLastError()};
        if (n == 0) return {WaitStatus::TimedOut, 0};
        return {WaitStatus::Ready, 0};
    }

    WaitResult waitReadable(SocketHandle socket, std::chrono::milliseconds timeout) override {
        fd_set readable;
        fd_set failed;
        FD_ZERO(&readable);
        FD_ZERO(&failed);
        FD_SET(sock(socket), &readable);
        FD_SET(sock(socket), &failed);
        timeval tv{};
        tv.tv_sec = static_cast<long>(timeout.count() / 1000);
        tv.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
        const int n = ::select(0, &readable, nullptr, &failed, &tv);
        if (n == SOCKET_ERROR) return {WaitStatus::Failed, ::WSAGetLastError()};
        if (n == 0) return {WaitStatus::TimedOut, 0};
        return {WaitStatus::Ready, 0};
    }

    int pendingError(SocketHandle socket) override {
        int error = 0;
        int size = sizeof error;
        if (::getsockopt(sock(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            return ::WSAGetLastError();
        return error;
    }

    IoResult sendSome(SocketHandle socket, std::span<const std::uint8_t> bytes) override {
        const int n =
            ::send(sock(socket), reinterpret_cast<const char*>(bytes.data()), clampedLength(bytes.size()), 0);
        if (n == SOCKET_ERROR) return ioError(::WSAGetLastError());
        return {IoStatus::Done, static_cast<std::size_t>(n), 0};
    }

    IoResult receive(SocketHandle socket, std::span<std::uint8_t> buffer) override {
        const int n = ::recv(sock(socket), reinterpret_cast<char*>(buffer.data()), clampedLength(buffer.size()), 0);
        if (n == SOCKET_ERROR) return ioError(::WSAGetLastError());
        return {IoStatus::Done, static_cast<std::size_t>(n), 0};
    }

    // Winsock has no portable count of unacknowledged bytes.
    long unacknowledgedBytes(SocketHandle) override { return -1; }

    void close(SocketHandle socket) override { ::closesocket(sock(socket)); }

    int lastErrorNumber() override { return ::WSAGetLastError(); }

    void sleep(std::chrono::milliseconds duration) override { ::Sleep(static_cast<DWORD>(duration.count())); }

    void debugOutput(const std::string& text) override { ::OutputDebugStringA(text.c_str()); }

    void messageBox(const std::string& text, const std::string& caption) override {
        ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
    }
};

} // namespace

std::unique_ptr<TcpSocketLayer> makePlatformSocketLayer() { return std::make_unique<Win32SocketLayer>(); }

} // namespace tessera
