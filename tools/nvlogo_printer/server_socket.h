#pragma once
// The few socket calls the virtual printer's server makes, one backend per platform, so that the serving
// logic (fault injection, draining at shutdown) is written once.

#include "base/result.h"
#include "base/unique_handle.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera::vp::net {

// A socket handle; kNone is no socket.
using Socket = std::intptr_t;
inline constexpr Socket kNone = -1;

// Starts the sockets layer (a no-op where there is none to start).
Status startup();

// The IPv4 addresses (host byte order) of a host name, as the system's resolver gives them; an Io error
// naming the host when it has none.
Result<std::vector<std::uint32_t>> lookUpIPv4(const std::string& name);

// A TCP listener on an IPv4 address (host byte order); port 0 takes a free one, written back.
Result<Socket> listenOn(std::uint32_t address, std::uint16_t& port);
// The next connection and the peer's HOST:PORT; kNone when accepting failed (the listener stays usable).
Socket acceptFrom(Socket listener, std::string& peer);

// reset: an abortive close, so that the peer's next read or write fails instead of seeing the end of data.
void closeSocket(Socket s, bool reset = false);

// A socket (or, on POSIX, any descriptor) of our own, closed when dropped.
struct SocketCloser {
    using Handle = Socket;
    static constexpr Socket invalid() { return kNone; }
    void operator()(Socket s) const { closeSocket(s); }
};
using UniqueSocket = UniqueHandle<SocketCloser>;

// A closing stop: readable() becomes readable once notify() has been called, from any thread, or once a
// SIGINT/SIGTERM (a console Ctrl-C or close on Windows) arrives when installSignals() was called.
class StopChannel {
  public:
    StopChannel() = default;
    ~StopChannel();
    StopChannel(const StopChannel&) = delete;
    StopChannel& operator=(const StopChannel&) = delete;
    Status open(bool installSignals);
    Socket readable() const { return signals_ ? signals_.get() : read_.get(); }
    void notify();

  private:
    UniqueSocket read_;
    Socket write_ = kNone; // the socket notify() writes to: read_'s, not owned a second time
    UniqueSocket signals_;
};

// Waits until a or b is readable (or has hung up). Returns 1 and sets the flags, 0 on the time-out
// (timeoutMs < 0 waits for ever), -1 on failure; an interrupted wait returns 0 with both flags false.
int waitReadable(Socket a, Socket b, int timeoutMs, bool& aReady, bool& bReady);
// Waits while the peer of s keeps the connection open without reading from it; returns when the peer has
// closed, stop is readable or the time has passed.
void waitWhileOpen(Socket s, Socket stop, int timeoutMs);

// > 0 bytes read, 0 end of data, -1 failure, -2 nothing there yet (or interrupted: try again).
long receive(Socket s, std::span<std::uint8_t> into, bool dontWait);
bool sendAll(Socket s, std::span<const std::uint8_t> bytes);
std::size_t queuedBytes(Socket s);
void setSendTimeout(Socket s, int seconds);
// The last socket error of this thread, as text.
std::string lastError(const char* call);

} // namespace tessera::vp::net
