#pragma once
// The one door through which every printer operation reaches the printer: open a transport, send the
// command stream block by block, finish. The current kind decides where a block goes; it starts as the
// printer driver and only an open changes it.
//
// Results: OpenDriver and CloseDriver 1 done, 0 failed; OpenPort and OpenNetworkPort 0 opened, non-zero
// failed (the failed port is closed again); SendBytes 1 sent, 0 failed; FinishPort 0 when the transfer
// was completed, −1 when its last bytes were not taken.
//
// Each block's result is the port's own: a dead line fails the send, and the writers stop there. A
// dispatcher is used by one thread at a time; separate dispatchers over separate port objects may run in
// parallel.
//
// The printer's answers come back through the same dispatcher (ReplySource): read and drain go to the
// current port. The printer driver and the parallel port have no way back and fail with a reason.

#include "base/byte_sink.h"
#include "port/port_kind.h"
#include "port/ports.h"
#include "port/reply_source.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tessera {

class PortDispatcher : public ByteSink, public ReplySource {
  public:
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // The port objects stay owned by the caller. sleep is how waits are taken (tests pass a recorder).
    explicit PortDispatcher(const PortSet& ports, Sleep sleep = {});

    int OpenDriver(const std::string& printerName);
    int CloseDriver();
    int OpenPort(const std::string& portName, int baudCode, int bitLengthIndex, int parityIndex, int stopBitIndex,
                 int handshakeIndex);
    int OpenNetworkPort(const std::string& ipAddress, int tcpPort);
    int SendBytes(const std::uint8_t* bytes, std::size_t count);
    int FinishPort();
    // Closes the current port without the finishing bytes (nor the USB printer's last byte), for an exchange
    // that must send nothing but its own requests: a status query, a transfer stopped before its stream. The
    // printer driver's document is ended as by CloseDriver.
    void ClosePort();
    // The current port's account of its last failure, naming the call ("connect: Connection refused");
    // empty when it has none.
    std::string portError() const;

    PortKind currentKind() const { return kind_; }
    // Bytes of every block a port or the spooler took, since construction: a caller measures its own stream
    // as the difference.
    std::uint64_t bytesTaken() const { return bytesTaken_; }
    bool driverOpen() const { return driverOpen_; }

    // ByteSink: the writers' blocks go through SendBytes.
    bool write(std::span<const std::uint8_t> bytes) override;
    void pause(std::chrono::milliseconds duration) override { sleep_(duration); }

    // ReplySource: the current port's read and drain.
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    Status drain(std::chrono::milliseconds limit) override;

    static constexpr const char* kDocumentName = "KLP-xx";
    static constexpr const char* kDataType = "RAW";

  private:
    bool sendToDriver(std::span<const std::uint8_t> bytes);
    LinePort* linePort(PortKind kind) const;

    PortSet ports_;
    Sleep sleep_;
    PortKind kind_ = PortKind::Driver;
    bool driverOpen_ = false;
    std::uint64_t bytesTaken_ = 0;
};

} // namespace tessera
