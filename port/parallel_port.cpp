#include "port/parallel_port.h"

#include <algorithm>

namespace tessera {

CParallelPort::CParallelPort() : CParallelPort(makePlatformLineDeviceLayer()) {}

CParallelPort::CParallelPort(std::unique_ptr<LineDeviceLayer> layer)
    : ownedLayer_(std::move(layer)), layer_(*ownedLayer_) {}

CParallelPort::CParallelPort(LineDeviceLayer& layer) : layer_(layer) {}

std::chrono::milliseconds CParallelPort::allowanceFor(std::size_t n) {
    // The allowance belongs to the port's own call: ports running at once must not set each other's limit.
    const std::size_t perByte = n >= kPerByteAllowanceFrom ? 1 : 0;
    return kBaseAllowance + std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(perByte * n));
}

int CParallelPort::open(const std::string& portName, int) {
    generation_ = layer_.generation();
    if (open_) {
        lastError_ = "open: the port is still open";
        return kOpenFailed;
    }
    lastError_.clear();
    device_ = UniqueDevice(layer_.open(layer_.parallelDevicePath(portName), generation_ == PlatformGeneration::Current),
                           {&layer_});
    if (!device_) {
        open_ = false;
        lastError_ = layer_.lastError().empty() ? "open: the device cannot be opened" : layer_.lastError();
        return kOpenFailed;
    }
    open_ = true;
    layer_.purge(device_.get(), LineDeviceLayer::Purge::Everything);
    layer_.setupQueues(device_.get(), kInputQueueBytes, 0);
    return 0;
}

bool CParallelPort::write(std::span<const std::uint8_t> bytes) {
    if (!open_ || !device_) {
        lastError_ = "write: the port is not open";
        return false;
    }
    // The count of bytes written is only worth something when it is all of them: passed on as it was, a
    // short write read as a success and the printer lost the rest of its logo unnoticed.
    const std::size_t n =
        generation_ == PlatformGeneration::Legacy ? layer_.writeSync(device_.get(), bytes) : writeOverlapped(bytes);
    if (n == bytes.size()) return true;
    lastError_ =
        "write: the printer took " + std::to_string(n) + " of " + std::to_string(bytes.size()) + " bytes in time";
    return false;
}

Result<std::size_t> CParallelPort::read(std::span<std::uint8_t>, std::chrono::milliseconds) {
    return ioError("the parallel port cannot read the printer's answers");
}

std::size_t CParallelPort::writeOverlapped(std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size();
    const auto allowance = static_cast<std::uint32_t>(allowanceFor(n).count());
    const auto window = static_cast<std::uint32_t>(kRetryWindow.count());
    std::unique_ptr<DeviceWrite> op = layer_.beginWrite(device_.get(), EventReset::Auto);
    if (!op) return 0;
    const std::uint32_t t0 = layer_.tickCount();
    std::size_t total = 0;
    for (;;) {
        op->resetEvent();
        const WriteStart started = op->start(bytes.subspan(total));
        bool ok = false;
        std::size_t count = 0;
        if (started.status == StartStatus::Done) {
            ok = true;
            count = started.count;
        } else if (started.status == StartStatus::Pending) {
            const std::uint32_t tw = layer_.tickCount();
            for (;;) {
                const WritePoll poll = op->result();
                if (poll.status == PollStatus::Done) {
                    ok = true;
                    count = poll.count;
                    break;
                }
                if (poll.status == PollStatus::Failed) {
                    count = poll.count;
                    break;
                }
                if (layer_.tickCount() - tw > allowance) {
                    count = op->cancel();
                    break;
                }
                layer_.sleep(kPollInterval);
            }
        }
        total += std::min(count, n - total);
        if (ok && total >= n) break;
        // A device that refuses at once would otherwise be asked again in a tight loop for the whole window.
        if (started.status == StartStatus::Failed) layer_.sleep(kPollInterval);
        if (layer_.tickCount() - t0 >= window) break;
    }
    return total;
}

void CParallelPort::close() {
    if (!open_) return;
    open_ = false;
    device_.reset();
}

} // namespace tessera
