#pragma once
// The network printer port: one TCP connection at a time, over a TcpSocketLayer. Each client is independent
// of the others (the command line drives one per printer, each on its own thread).

#include "port/ports.h"
#include "port/tcp_socket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tessera {

class CTcpClient : public NetworkPort {
  public:
    static constexpr std::uint16_t kSocketsVersion = 0x0202; // 2.2
    static constexpr std::chrono::milliseconds kReceiveTimeout{500};
    static constexpr int kSendBufferBytes = 0;
    static constexpr std::chrono::milliseconds kSendTimeout{2000};
    static constexpr std::chrono::milliseconds kConnectTimeout{3000};
    static constexpr int kFinishPolls = 5;
    static constexpr std::chrono::milliseconds kFinishPollInterval{100};
    static constexpr std::size_t kFinishBufferBytes = 256;
    static constexpr std::chrono::milliseconds kAckTimeout{2000};
    static constexpr std::chrono::milliseconds kAckPollInterval{10};
    static constexpr std::chrono::milliseconds kPauseAfterClose{100};

    // Connect results besides 0.
    static constexpr int kSocketStillHeld = -1;
    static constexpr int kSocketFailed = -1;
    static constexpr int kNoSocket = -2;
    static constexpr int kWrongVersion = -2;
    static constexpr int kStartupFailed = -3;
    static constexpr int kNotConnected = 8;

    // Over the platform's own sockets.
    CTcpClient();
    explicit CTcpClient(std::unique_ptr<TcpSocketLayer> layer);
    // Over a layer owned by the caller, which must outlive the client.
    explicit CTcpClient(TcpSocketLayer& layer);
    ~CTcpClient() override = default;
    CTcpClient(const CTcpClient&) = delete;
    CTcpClient& operator=(const CTcpClient&) = delete;

    int connect(const std::string& ipAddress, int tcpPort) override;
    int send(std::span<const std::uint8_t> bytes) override;
    int finish() override;
    void close() override;

    // One receive of what has arrived: the count, or 0 when nothing has, the peer closed, an error happened
    // or the client is not open.
    int receive(std::span<std::uint8_t> buffer);
    // What the printer sent, waiting at most timeout for the first byte: the count, 0 when nothing came in
    // time. A closed or failed connection is an Io error naming the call ("recv: Connection reset by peer").
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    // The last failure of connect, send, read or finish, naming the call ("connect: Connection refused").
    std::string lastError() const override { return lastError_; }

    bool isOpen() const { return open_; }
    bool peerClosed() const { return peerClosed_; }
    // A reset, an abort or another error met on this connection.
    bool connectionBroken() const { return broken_; }
    const std::string& address() const { return address_; }
    int port() const { return port_; }

  private:
    void noteError(IoStatus status);
    bool waitAcknowledged();
    int failConnect(int code, std::string why);
    int failSend(std::string why);

    std::unique_ptr<TcpSocketLayer> ownedLayer_;
    TcpSocketLayer& layer_;
    UniqueSocket socket_;
    bool open_ = false;
    std::string address_;
    int port_ = 0;
    bool sendFailed_ = false;
    bool broken_ = false;
    bool peerClosed_ = false;
    std::string lastError_;
};

} // namespace tessera
