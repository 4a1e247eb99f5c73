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

int CSerialPort::open(const std::string& portName, int baudCode) {
    // A handle still held from an earlier open is released here rather than leaked.
    device_ = UniqueDevice(layer_, layer_.open(layer_.serialDevicePath(portName), true));
    if (!device_) {
        open_ = false;
        return kOpenFailed;
    }
    open_ = true;
    layer_.setupQueues(device_.get(), kQueueBytes, kQueueBytes);
    layer_.purge(device_.get(), LineDeviceLayer::Purge::Everything);
    const int speed = lineSpeedOf(baudCode);
    // Required: fails yet stays open; every caller closes after a failed open, so closing here would fix nothing.
    if (speed == 0) return kOpenFailed;
    layer_.setTimeouts(device_.get(), timeoutsFor(speed));
    layer_.setLineState(device_.get(), lineStateFor(speed, flow_));
    return 0;
}

bool CSerialPort::fail(DeviceWrite* pending) {
    // The write is cancelled and its end waited for before the record goes away; the purge then drops what
    // the line did not take.
    if (pending) pending->cancel();
    layer_.purge(device_.get(), LineDeviceLayer::Purge::Everything);
    return false;
}

bool CSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!open_ || !device_) return false;
    std::unique_ptr<DeviceWrite> op = layer_.beginWrite(device_.get(), EventReset::Manual);
    if (!op) return false;

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
            if (op->wait(kPieceTimeout) != WaitOutcome::Signalled) return fail(op.get());
            const WritePoll done = op->result();
            if (done.status != PollStatus::Done) return fail(op.get());
            count = done.count;
        } else {
            return fail(nullptr);
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
            return fail(nullptr);
        }
        layer_.sleep(std::chrono::milliseconds(10));
    }
    // Only the input is dropped here. A completed write may still sit in the driver's buffer (Wine's serial
    // ports and USB adapters complete it once the bytes are buffered, a POSIX write once the kernel holds
    // them), and clearing the output as well cut the tail off the stream.
    layer_.purge(device_.get(), LineDeviceLayer::Purge::Received);
    return true;
}

void CSerialPort::close() {
    if (!open_) return;
    open_ = false;
    device_.reset();
}

} // namespace tessera
