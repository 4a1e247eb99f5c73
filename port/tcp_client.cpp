#include "port/tcp_client.h"

#include <algorithm>
#include <array>

namespace tessera {

CTcpClient::CTcpClient() : CTcpClient(makePlatformSocketLayer()) {}

CTcpClient::CTcpClient(std::unique_ptr<TcpSocketLayer> layer) : ownedLayer_(std::move(layer)), layer_(*ownedLayer_) {}

CTcpClient::CTcpClient(TcpSocketLayer& layer) : layer_(layer) {}

int CTcpClient::connect(const std::string& ipAddress, int tcpPort) {
    if (socket_) {
        // A connection that was never closed is dropped, and the caller has to ask again.
        socket_.reset();
        open_ = false;
        return kSocketStillHeld;
    }
    sendFailed_ = false;
    broken_ = false;
    peerClosed_ = false;

    const std::optional<std::uint16_t> granted = layer_.startup(kSocketsVersion);
    if (!granted) {
        layer_.messageBox("Unable to start TCP/IP stack", "WSAStartup error");
        return kStartupFailed;
    }
    if (*granted != kSocketsVersion) {
        layer_.messageBox("wrong version of protocol stack, need 2.0", "WSAStartup Version Warning");
        return kWrongVersion;
    }

    UniqueSocket socket(layer_, layer_.createSocket());
    if (!socket) return kNoSocket;

    port_ = tcpPort;
    address_ = ipAddress;
    const auto port = static_cast<std::uint16_t>(tcpPort & 0xFFFF);
    const std::uint32_t address = layer_.inetAddr(ipAddress);

    layer_.setOptions(socket.get(), SocketOptions{kReceiveTimeout, kSendBufferBytes, kSendTimeout});
    // Non-blocking for the whole connection: the connect, every send and every receive wait only as long
    // as this class says.
    if (!layer_.setNonBlocking(socket.get())) return kSocketFailed;
    if (!layer_.startConnect(socket.get(), address, port)) return kSocketFailed;

    const WaitResult wait = layer_.waitWritable(socket.get(), kConnectTimeout);
    if (wait.status == WaitStatus::Failed) return kSocketFailed;
    // Writable alone does not mean connected: a refused or unreachable connect is reported as writable
    // too (at once on POSIX), with the reason left in SO_ERROR.
    if (wait.status == WaitStatus::Ready && layer_.pendingError(socket.get()) == 0) {
        socket_ = std::move(socket);
        open_ = true;
        return 0;
    }
    socket.reset();
    layer_.debugOutput("FD_ISSET Failed Time");
    return kNotConnected;
}

void CTcpClient::noteError(IoStatus status) {
    if (status == IoStatus::Reset || status == IoStatus::Failed) broken_ = true;
}

int CTcpClient::send(std::span<const std::uint8_t> bytes) {
    if (!socket_) {
        sendFailed_ = true;
        layer_.debugOutput("send error=not connected");
        return -1;
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
            sendFailed_ = true;
            layer_.debugOutput("send error=" + std::to_string(r.error));
            return -1;
        }
        const WaitResult wait = layer_.waitWritable(socket_.get(), kSendTimeout);
        if (wait.status == WaitStatus::TimedOut) {
            sendFailed_ = true;
            layer_.debugOutput("send error=timeout");
            return -1;
        }
        if (wait.status == WaitStatus::Failed) {
            broken_ = true;
            sendFailed_ = true;
            layer_.debugOutput("send error=" + std::to_string(wait.error));
            return -1;
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

bool CTcpClient::waitAcknowledged() {
    for (std::chrono::milliseconds waited{0};; waited += kAckPollInterval) {
        const long unacknowledged = layer_.unacknowledgedBytes(socket_.get());
        // Where the platform cannot tell, the exchange and the error checks are all there is.
        if (unacknowledged <= 0) return true;
        if (waited >= kAckTimeout) return false;
        // A reset leaves the count where it was; waiting out the time-out would tell nothing more.
        if (layer_.pendingError(socket_.get()) != 0) {
            broken_ = true;
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
    if (layer_.pendingError(socket_.get()) != 0) {
        broken_ = true;
        return 0;
    }
    // Wine turns a printer's reset into a clean end of stream, and a printer at work never closes first.
    // Where the platform cannot confirm that the peer took every byte, an early close is a lost transfer.
    if (peerClosed_ && layer_.unacknowledgedBytes(socket_.get()) < 0) return 0;
    if (!waitAcknowledged()) return 0;
    if (layer_.pendingError(socket_.get()) != 0) {
        broken_ = true;
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
