#pragma once
// The platform calls under the network client, one object per client. Each backend (tcp_socket_posix.cpp,
// tcp_socket_win32.cpp) maps them onto its socket API and nothing more: every decision, time-out and result
// code lives in CTcpClient, so that it can be tested against a scripted layer with a fake clock.

#include "base/unique_handle.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tessera {

// A socket descriptor as the platform gives it (a file descriptor, or a Winsock SOCKET, which fits in a
// pointer-sized integer and whose INVALID_SOCKET converts to -1).
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

struct SocketOptions {
    std::chrono::milliseconds receiveTimeout{0}; // SO_RCVTIMEO
    int sendBufferBytes = 0;                     // SO_SNDBUF
    std::chrono::milliseconds sendTimeout{0};    // SO_SNDTIMEO
};

enum class IoStatus {
    Done,       // count bytes moved; for a receive, 0 means the peer closed its side
    WouldBlock, // nothing can move now
    Reset,      // the connection was reset or aborted (ECONNRESET, EPIPE and their Winsock kin)
    Failed,     // any other error
};

struct IoResult {
    IoStatus status = IoStatus::Done;
    std::size_t count = 0;
    int error = 0; // the platform's error number when status is Reset or Failed
};

enum class WaitStatus { Ready, TimedOut, Failed };

struct WaitResult {
    WaitStatus status = WaitStatus::Ready;
    int error = 0; // the platform's error number when status is Failed
};

class TcpSocketLayer {
  public:
    virtual ~TcpSocketLayer() = default;

    // Starts the platform's sockets, asking for a version (high byte minor, low byte major); the version
    // granted, or nothing when the start failed. Safe to call from several threads and more than once.
    virtual std::optional<std::uint16_t> startup(std::uint16_t requestedVersion) = 0;
    // An IPv4 stream socket (AF_INET, SOCK_STREAM, protocol 0), or kInvalidSocket.
    virtual SocketHandle createSocket() = 0;
    virtual void setOptions(SocketHandle socket, const SocketOptions& options) = 0;
    virtual bool setNonBlocking(SocketHandle socket) = 0;
    // The address in network byte order; text that is no dotted address gives INADDR_NONE (all ones).
    virtual std::uint32_t inetAddr(const std::string& text) = 0;
    // Starts connecting to address (network order) and port (host order). True when the connection was made
    // or is in progress, false on any other failure.
    virtual bool startConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port) = 0;
    // Ready when the socket is writable or has an error to report (both end a connect).
    virtual WaitResult waitWritable(SocketHandle socket, std::chrono::milliseconds timeout) = 0;
    // Ready when the socket has bytes to read, the peer closed or an error is pending.
    virtual WaitResult waitReadable(SocketHandle socket, std::chrono::milliseconds timeout) = 0;
    // SO_ERROR: 0 when none is pending. Reading it clears it.
    virtual int pendingError(SocketHandle socket) = 0;
    // One send of as many bytes as the socket takes now.
    virtual IoResult sendSome(SocketHandle socket, std::span<const std::uint8_t> bytes) = 0;
    // One receive; it does not wait on a non-blocking socket.
    virtual IoResult receive(SocketHandle socket, std::span<std::uint8_t> buffer) = 0;
    // Bytes sent but not yet acknowledged by the peer, or -1 where the platform cannot tell.
    virtual long unacknowledgedBytes(SocketHandle socket) = 0;
    virtual void close(SocketHandle socket) = 0;
    // The platform's error number of this thread's last failed call (errno, WSAGetLastError), for the calls
    // above that report only success or failure.
    virtual int lastErrorNumber() { return 0; }
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    virtual void debugOutput(const std::string& text) = 0;
    // A modal box with an OK button and no owner window.
    virtual void messageBox(const std::string& text, const std::string& caption) = 0;
};

// The backend of the platform the program was built for.
std::unique_ptr<TcpSocketLayer> makePlatformSocketLayer();

// Owns one socket of a layer and closes it through that layer when dropped: UniqueSocket(handle, {&layer}).
using UniqueSocket = UniqueHandle<LayerCloser<TcpSocketLayer, SocketHandle, kInvalidSocket>>;

} // namespace tessera
