#include "port/serial_port.h"

#include "port/port_settings.h"

#include <algorithm>

namespace tessera {

CSerialPort::CSerialPort() : CSerialPort(makePlatformLineDeviceLayer()) {}

CSerialPort::CSerialPort(std::unique_ptr<LineDeviceLayer> layer)
    : ownedLayer_(std::move(layer)), layer_(*ownedLayer_) {}

CSerialPort::CSerialPort(LineDeviceLayer& layer) : layer_(layer) {}

CommTimeouts CSerialPort::timeoutsFor(int lineSpeed) {
    CommTimeouts t;
    t.readInterval = 50;
    t.readTotalMultiplier = 0;
    t.readTotalConstant = 100;
    t.writeTotalMultiplier = lineSpeed > 0 ? static_cast<std::uint32_t>(19200 / lineSpeed) : 0;
    t.writeTotalConstant = 0;
    return t;
}

LineState CSerialPort::lineStateFor(int lineSpeed, FlowControl flow) {
    LineState s;
    s.baudRate = static_cast<std::uint32_t>(lineSpeed);
    if (flow == FlowControl::RtsCts) {
        s.outxCtsFlow = true;
        s.rtsControl = LineState::kRtsHandshake;
    } else if (flow == FlowControl::XonXoff) {
        s.outX = true;
        s.inX = true;
    }
    return s;
}

std::string CSerialPort::layerError(const char* otherwise) const {
    std::string why = layer_.lastError();
    return why.empty() ? otherwise : why;
}

int CSerialPort::open(const std::string& portName, int baudCode) {
    lastError_.clear();
    listening_ = false;
    // A handle still held from an earlier open is released here rather than leaked.
    device_ = UniqueDevice(layer_.open(layer_.serialDevicePath(portName), true), {&layer_});
    if (!device_) {
        open_ = false;
        lastError_ = layerError("open: the device cannot be opened");
        return kOpenFailed;
    }
    open_ = true;
    layer_.setupQueues(device_.get(), kQueueBytes, kQueueBytes);
    layer_.purge(device_.get(), LineDeviceLayer::Purge::Everything);
    const int speed = lineSpeedOf(baudCode);
    // Required: fails yet stays open; every caller closes after a failed open, so closing here would fix nothing.
    if (speed == 0) {
        lastError_ = "baud code " + std::to_string(baudCode) + " is not one of 3 to 10";
        return kOpenFailed;
    }
    layer_.setTimeouts(device_.get(), timeoutsFor(speed));
    layer_.setLineState(device_.get(), lineStateFor(speed, flow_));
    return 0;
}

bool CSerialPort::fail(DeviceWrite* pending, std::string why) {
    lastError_ = std::move(why);
    // The write is cancelled and its end waited for before the record goes away; the purge then drops what
    // the line did not take.
    if (pending) pending->cancel();
    layer_.purge(device_.get(), LineDeviceLayer::Purge::Everything);
    return false;
}

bool CSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!open_ || !device_) {
        lastError_ = "write: the port is not open";
        return false;
    }
    std::unique_ptr<DeviceWrite> op = layer_.beginWrite(device_.get(), EventReset::Manual);
    if (!op) {
        lastError_ = layerError("write: no event for the write");
        return false;
    }

    std::size_t sent = 0;
    // A piece that completes with nothing written is offered again, but not for ever: a line that takes no
    // byte for as long as one piece may wait is as stuck as one whose wait expires.
    bool idle = false;
    std::uint32_t idleSince = 0;
    while (sent < bytes.size()) {
        const std::span<const std::uint8_t> piece = bytes.subspan(sent, std::min(kPieceBytes, bytes.size() - sent));
        const WriteStart started = op->start(piece);
        std::size_t count = 0;
        if (started.status == StartStatus::Done) {
            count = started.count;
        } else if (started.status == StartStatus::Pending) {
            if (op->wait(kPieceTimeout) != WaitOutcome::Signalled)
                return fail(op.get(), "write: the line took no byte within 1000 ms");
            const WritePoll done = op->result();
            if (done.status != PollStatus::Done) return fail(op.get(), layerError("write: the write failed"));
            count = done.count;
        } else {
            return fail(nullptr, layerError("write: the write failed"));
        }
        count = std::min(count, piece.size());
        sent += count;
        if (count > 0) {
            idle = false;
            continue;
        }
        const std::uint32_t now = layer_.tickCount();
        if (!idle) {
            idle = true;
            idleSince = now;
        } else if (now - idleSince >= static_cast<std::uint32_t>(kPieceTimeout.count())) {
            return fail(nullptr, "write: the line took no byte within 1000 ms");
        }
        layer_.sleep(std::chrono::milliseconds(10));
    }
    // Only the input is dropped here. A completed write may still sit in the driver's buffer (Wine's serial
    // ports and USB adapters complete it once the bytes are buffered, a POSIX write once the kernel holds
    // them), and clearing the output as well cut the tail off the stream. Once someone reads the port, the
    // input is the printer's answer to what was just written and is kept.
    if (!listening_) layer_.purge(device_.get(), LineDeviceLayer::Purge::Received);
    return true;
}

Result<std::size_t> CSerialPort::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    if (!open_ || !device_) return ioError(lastError_ = "read: the port is not open");
    listening_ = true;
    if (buffer.empty()) return std::size_t{0};
    const auto limit = static_cast<std::uint32_t>(std::max<long long>(timeout.count(), 0));
    const std::uint32_t start = layer_.tickCount();
    for (;;) {
        const std::uint32_t elapsed = layer_.tickCount() - start;
        const std::uint32_t left = elapsed < limit ? limit - elapsed : 0;
        const std::size_t waiting = layer_.inputWaiting(device_.get());
        if (waiting == 0 && left == 0) return std::size_t{0};
        // Windows holds a larger read of a pseudo-terminal under Wine until it is full or timed out: only what
        // is there, or one byte, comes back as soon as it has arrived.
        const std::size_t want = std::clamp<std::size_t>(waiting, 1, buffer.size());
        const std::optional<std::size_t> got =
            layer_.readSome(device_.get(), buffer.first(want), std::chrono::milliseconds(left));
        if (!got) return ioError(lastError_ = layerError("read: the read failed"));
        if (*got > 0) return std::min(*got, want);
        // The line's own read time-out (100 ms) ends a read with nothing; the caller's bound goes on.
        if (layer_.tickCount() - start >= limit) return std::size_t{0};
    }
}

Status CSerialPort::drain(std::chrono::milliseconds limit) {
    if (!open_ || !device_) return {};
    const std::uint32_t start = layer_.tickCount();
    while (const std::size_t left = layer_.outputWaiting(device_.get())) {
        if (layer_.tickCount() - start >= static_cast<std::uint32_t>(std::max<long long>(limit.count(), 0)))
            return ioError(lastError_ = "drain: " + std::to_string(left) + " bytes still wait to be sent after " +
                                        std::to_string(limit.count()) + " ms");
        layer_.sleep(std::chrono::milliseconds(10));
    }
    return {};
}

void CSerialPort::close() {
    if (!open_) return;
    open_ = false;
    device_.reset();
}

} // namespace tessera
