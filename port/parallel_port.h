#pragma once
// The parallel port, over a LineDeviceLayer: one transfer per call, cancelled when it stays pending longer
// than its allowance and tried again only within 500 ms of the call's start. Each object is independent of
// the others, so several ports can run at once.

#include "port/line_device.h"
#include "port/ports.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tessera {

class CParallelPort : public LinePort {
  public:
    static constexpr std::chrono::milliseconds kRetryWindow{500};
    static constexpr std::chrono::milliseconds kBaseAllowance{500};
    static constexpr std::size_t kPerByteAllowanceFrom = 512; // blocks this long get 1 ms per byte more
    static constexpr std::chrono::milliseconds kPollInterval{10};
    static constexpr std::uint32_t kInputQueueBytes = 1024;
    static constexpr int kOpenFailed = 1;

    CParallelPort();
    explicit CParallelPort(std::unique_ptr<LineDeviceLayer> layer);
    explicit CParallelPort(LineDeviceLayer& layer);
    ~CParallelPort() override = default;
    CParallelPort(const CParallelPort&) = delete;
    CParallelPort& operator=(const CParallelPort&) = delete;

    // 0 opened, 1 failed (also when the port is still open from before). The baud code is ignored.
    int open(const std::string& portName, int baudCode) override;
    // True only when every byte was written.
    bool write(std::span<const std::uint8_t> bytes) override;
    void close() override;
    // The port has no way back from the printer: always an Io error that says so.
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    // The last failure of open or write ("open: No such device").
    std::string lastError() const override { return lastError_; }

    bool isOpen() const { return open_; }
    PlatformGeneration generation() const { return generation_; }
    // How long one attempt of a block of n bytes may stay pending.
    static std::chrono::milliseconds allowanceFor(std::size_t n);

  private:
    std::size_t writeOverlapped(std::span<const std::uint8_t> bytes);

    std::unique_ptr<LineDeviceLayer> ownedLayer_;
    LineDeviceLayer& layer_;
    UniqueDevice device_;
    bool open_ = false;
    PlatformGeneration generation_ = PlatformGeneration::Current;
    std::string lastError_;
};

} // namespace tessera
