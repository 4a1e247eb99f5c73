#pragma once
// The serial port: 8 data bits, no parity, one stop bit, DTR and RTS raised, over a LineDeviceLayer. The
// line settings of the dialog do not reach it; flow control is off unless setFlowControl asks for it (the
// command line's --flow). Each object is independent of the others, so several ports can run at once.

#include "port/line_device.h"
#include "port/ports.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tessera {

class CSerialPort : public LinePort {
  public:
    static constexpr std::size_t kPieceBytes = 64;
    static constexpr std::chrono::milliseconds kPieceTimeout{1000};
    static constexpr std::uint32_t kQueueBytes = 1024;
    static constexpr int kOpenFailed = 1;

    // Over the platform's own devices.
    CSerialPort();
    explicit CSerialPort(std::unique_ptr<LineDeviceLayer> layer);
    // Over a layer owned by the caller, which must outlive the port.
    explicit CSerialPort(LineDeviceLayer& layer);
    ~CSerialPort() override = default;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // 0 opened; 1 when the device cannot be opened, or when the baud code is outside 3..10 (the port is then
    // left open for the dispatcher's close).
    int open(const std::string& portName, int baudCode) override;
    // Pieces of at most 64 bytes, each given at most 1000 ms; true when every byte was written.
    bool write(std::span<const std::uint8_t> bytes) override;
    void close() override;
    // What the printer sent, waiting at most timeout for the first byte. Each read asks only for the bytes the
    // line reports waiting, or for one: a larger read may be held until it is full. From the first read on,
    // writes no longer drop what has come in, which may be the answer to them.
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    // Waits, polling every 10 ms, until the line's output queue is empty; an Io error after limit.
    Status drain(std::chrono::milliseconds limit) override;
    // The last failure of open, write or read ("open: Permission denied").
    std::string lastError() const override { return lastError_; }

    // Taken at the next open.
    void setFlowControl(FlowControl flow) { flow_ = flow; }
    bool isOpen() const { return open_; }

    // The time-outs and the line state a port is opened with, at a line speed of the baud-code table.
    static CommTimeouts timeoutsFor(int lineSpeed);
    static LineState lineStateFor(int lineSpeed, FlowControl flow);

  private:
    bool fail(DeviceWrite* pending, std::string why);
    std::string layerError(const char* otherwise) const;

    std::unique_ptr<LineDeviceLayer> ownedLayer_;
    LineDeviceLayer& layer_;
    UniqueDevice device_;
    bool open_ = false;
    FlowControl flow_ = FlowControl::None;
    std::string lastError_;
    bool listening_ = false;
};

} // namespace tessera
