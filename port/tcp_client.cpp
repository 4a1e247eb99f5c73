#include "port/tcp_client.h"

#include "port/system_error.h"

#include <algorithm>
#include <array>

namespace tessera {

CTcpClient::CTcpClient() : CTcpClient(makePlatformSocketLayer()) {}

CTcpClient::CTcpClient(std::unique_ptr<TcpSocketLayer> layer) : ownedLayer_(std::move(layer)), layer_(*ownedLayer_) {}

CTcpClient::CTcpClient(TcpSocketLayer& layer) : layer_(layer) {}

int CTcpClient::failConnect(int code, std::string why) {
    lastError_ = std::move(why);
    return code;
}

int CTcpClient::connect(const std::string& ipAddress, int tcpPort) {
    if (socket_) {
        // A connection that was never closed is dropped, and the caller has to ask again.
        socket_.reset();
        open_ = false;
        return failConnect(kSocketStillHeld, "connect: a connection was still open; it has been closed");
    }
    sendFailed_ = false;
    broken_ = false;
    peerClosed_ = false;
    lastError_.clear();

    const std::optional<std::uint16_t> granted = layer_.startup(kSocketsVersion);
    if (!granted) {
        layer_.messageBox("Unable to start TCP/IP stack", "WSAStartup error");
        return failConnect(kStartupFailed, "WSAStartup: the sockets layer cannot be started");
    }
    if (*granted != kSocketsVersion) {
        layer_.messageBox("wrong version of protocol stack, need 2.0", "WSAStartup Version Warning");
        return failConnect(kWrongVersion, "WSAStartup: the sockets layer is not version 2.2");
    }

    UniqueSocket socket(layer_.createSocket(), {&layer_});
    if (!socket) return failConnect(kNoSocket, systemError("socket", layer_.lastErrorNumber()));

    port_ = tcpPort;
    address_ = ipAddress;
    const auto port = static_cast<std::uint16_t>(tcpPort & 0xFFFF);
    const std::uint32_t address = layer_.inetAddr(ipAddress);

    layer_.setOptions(socket.get(), SocketOptions{kReceiveTimeout, kSendBufferBytes, kSendTimeout});
    // Non-blocking for the whole connection: the connect, every send and every receive wait only as long
    // as this class says.
    if (!layer_.setNonBlocking(socket.get()))
        return failConnect(kSocketFailed, systemError("non-blocking mode", layer_.lastErrorNumber()));
    if (!layer_.startConnect(socket.get(), address, port))
        return failConnect(kSocketFailed, systemError("connect", layer_.lastErrorNumber()));

    const WaitResult wait = layer_.waitWritable(socket.get(), kConnectTimeout);
    if (wait.status == WaitStatus::Failed) return failConnect(kSocketFailed, systemError("connect", wait.error));
    // Writable alone does not mean connected: a refused or unreachable connect is reported as writable
    // too (at once on POSIX), with the reason left in SO_ERROR.
    const int pending = wait.status == WaitStatus::Ready ? layer_.pendingError(socket.get()) : 0;
    if (wait.status == WaitStatus::Ready && pending == 0) {
        socket_ = std::move(socket);
        open_ = true;
        return 0;
    }
    socket.reset();
    layer_.debugOutput("FD_ISSET Failed Time");
    return failConnect(kNotConnected, pending != 0 ? systemError("connect", pending) : "connect: no answer within 3 s");
}

void CTcpClient::noteError(IoStatus status) {
    if (status == IoStatus::Reset || status == IoStatus::Failed) broken_ = true;
}

int CTcpClient::failSend(std::string why) {
    sendFailed_ = true;
    lastError_ = std::move(why);
    return -1;
}

int CTcpClient::send(std::span<const std::uint8_t> bytes) {
    if (!socket_) {
        layer_.debugOutput("send error=not connected");
        return failSend("send: not connected");
    }
    // The whole block, not one send: a non-blocking socket takes only what fits in its buffer, and a
    // printer that reads slowly would otherwise lose the rest without anyone noticing.
    while (!bytes.empty()) {
        const IoResult r = layer_.sendSome(socket_.get(), bytes);
        if (r.status == IoStatus::Done && r.count > 0) {
            bytes = bytes.subspan(std::min(r.count, bytes.size()));
            continue;
        }
        if (r.status == IoStatus::Reset || r.status == IoStatus::Failed) {
            noteError(r.status);
            layer_.debugOutput("send error=" + std::to_string(r.error));
            return failSend(systemError("send", r.error));
        }
        const WaitResult wait = layer_.waitWritable(socket_.get(), kSendTimeout);
        if (wait.status == WaitStatus::TimedOut) {
            layer_.debugOutput("send error=timeout");
            return failSend("send: the printer took nothing for 2 s");
        }
        if (wait.status == WaitStatus::Failed) {
            broken_ = true;
            layer_.debugOutput("send error=" + std::to_string(wait.error));
            return failSend(systemError("send", wait.error));
        }
    }
    return 1;
}

int CTcpClient::receive(std::span<std::uint8_t> buffer) {
    if (!open_ || !socket_ || buffer.empty()) return 0;
    const IoResult r = layer_.receive(socket_.get(), buffer);
    if (r.status != IoStatus::Done) {
        noteError(r.status);
        return 0;
    }
    if (r.count == 0) peerClosed_ = true;
    return static_cast<int>(std::min(r.count, buffer.size()));
}

Result<std::size_t> CTcpClient::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    if (!open_ || !socket_) return ioError(lastError_ = "recv: not connected");
    if (buffer.empty()) return std::size_t{0};
    // At most one wait: a wake-up with nothing to read (a spurious one) counts as nothing in time, and the
    // caller, who keeps the whole answer's deadline, asks again.
    for (int attempt = 0;; ++attempt) {
        const IoResult r = layer_.receive(socket_.get(), buffer);
        if (r.status == IoStatus::Done) {
            if (r.count > 0) return std::min(r.count, buffer.size());
            peerClosed_ = true;
            return ioError(lastError_ = "recv: the printer closed the connection");
        }
        if (r.status != IoStatus::WouldBlock) {
            noteError(r.status);
            return ioError(lastError_ = systemError("recv", r.error));
        }
        if (attempt > 0 || timeout.count() <= 0) return std::size_t{0};
        const WaitResult wait = layer_.waitReadable(socket_.get(), timeout);
        if (wait.status == WaitStatus::TimedOut) return std::size_t{0};
        if (wait.status == WaitStatus::Failed) {
            broken_ = true;
            return ioError(lastError_ = systemError("recv", wait.error));
        }
    }
}

bool CTcpClient::waitAcknowledged() {
    for (std::chrono::milliseconds waited{0};; waited += kAckPollInterval) {
        const long unacknowledged = layer_.unacknowledgedBytes(socket_.get());
        // Where the platform cannot tell, the exchange and the error checks are all there is.
        if (unacknowledged <= 0) return true;
        if (waited >= kAckTimeout) return false;
        // A reset leaves the count where it was; waiting out the time-out would tell nothing more.
        if (const int e = layer_.pendingError(socket_.get()); e != 0) {
            broken_ = true;
            lastError_ = systemError("send", e);
            return false;
        }
        layer_.sleep(kAckPollInterval);
    }
}

int CTcpClient::finish() {
    if (!open_ || !socket_) return 0;
    std::array<std::uint8_t, kFinishBufferBytes> scratch{};
    receive(scratch);

    static constexpr std::uint8_t kStatusRequest[] = {0x1D, 0x61, 0x00};
    send(kStatusRequest);

    for (int poll = 0; poll < kFinishPolls; ++poll) {
        layer_.sleep(kFinishPollInterval);
        if (receive(scratch) >= 1) {
            layer_.sleep(kFinishPollInterval);
            receive(scratch);
            break;
        }
    }

    // The exchange alone proves nothing: the classic client returned success even when the printer had
    // reset the connection or had not taken the data, so a lost logo went unreported. Done means no error
    // on the way and, where the platform tells, every byte acknowledged by the peer.
    if (sendFailed_ || broken_) return 0;
    if (const int e = layer_.pendingError(socket_.get()); e != 0) {
        broken_ = true;
        lastError_ = systemError("send", e);
        return 0;
    }
    // Wine turns a printer's reset into a clean end of stream, and a printer at work never closes first.
    // Where the platform cannot confirm that the peer took every byte, an early close is a lost transfer.
    if (peerClosed_ && layer_.unacknowledgedBytes(socket_.get()) < 0) {
        lastError_ = "recv: the printer closed the connection before the end";
        return 0;
    }
    if (!waitAcknowledged()) {
        if (lastError_.empty()) lastError_ = "send: the printer did not acknowledge every byte within 2 s";
        return 0;
    }
    if (const int e = layer_.pendingError(socket_.get()); e != 0) {
        broken_ = true;
        lastError_ = systemError("send", e);
        return 0;
    }
    return 1;
}

void CTcpClient::close() {
    if (!open_) return;
    open_ = false;
    socket_.reset();
    layer_.sleep(kPauseAfterClose);
}

} // namespace tessera
