#include "port/usb_printer.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tessera {

CUsbPrinter::CUsbPrinter(UsbDeviceLayer& layer, Sleep sleep) : layer_(layer), sleep_(std::move(sleep)) {
    if (!sleep_) sleep_ = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
}

CUsbPrinter::~CUsbPrinter() {
    stopReconnect();
    std::lock_guard lock(deviceMutex_);
    if (layer_.isOpen()) layer_.close();
    if (layer_.loaded()) layer_.unload();
}

std::optional<bool> CUsbPrinter::familyOf(const UsbInterface& device) const {
    if (device.idsKnown) {
        for (const UsbPrinterModel& m : kUsbPrinterModels)
            if (device.vendor == m.vendor && device.product == m.product) return !m.reEnablesStatus;
        if (extra_ && device.vendor == extra_->first && device.product == extra_->second) return true;
        return std::nullopt;
    }
    // The platform names devices by path: the first 25 characters say which vendor and product.
    const std::string head = device.path.substr(0, 25);
    for (const UsbPrinterModel& m : kUsbPrinterModels)
        if (head == m.pathPrefix) return !m.reEnablesStatus;
    if (extra_) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "\\\\?\\usb#vid_%04x&pid_%04x", extra_->first, extra_->second);
        if (head == prefix) return true;
    }
    return std::nullopt;
}

int CUsbPrinter::findAndOpen() {
    std::lock_guard lock(deviceMutex_);
    if (!layer_.loaded()) return 0;
    std::optional<UsbInterface> chosen;
    for (const UsbInterface& device : layer_.present()) {
        if (!layer_.legacy()) {
            const auto family = familyOf(device);
            if (!family) continue; // another maker's device, passed over
            familyFlag_ = *family;
        }
        if (layer_.probe(device)) {
            chosen = device;
            break;
        }
    }
    if (!chosen) {
        const std::string why = layer_.lastError();
        lastError_ = why.empty() ? "no USB printer of the accepted models is present" : why;
        return 0;
    }
    if (layer_.isOpen()) layer_.close();
    if (!layer_.open(*chosen)) {
        const std::string why = layer_.lastError();
        lastError_ = why.empty() ? "the USB printer " + chosen->path + " cannot be opened" : why;
        return 0;
    }
    return 1;
}

bool CUsbPrinter::loadLayer() {
    if (layer_.loaded()) return true;
    return layer_.load();
}

void CUsbPrinter::releaseLayer() {
    if (!layer_.loaded()) return;
    if (!trailingByte_) {
        if (!reconnecting()) layer_.unload();
        return;
    }
    // The printer takes a last byte before it is let go of. When it cannot, the calls stay loaded for the
    // reconnect thread that the failed byte started or that is polling already.
    const std::uint8_t last = 0x00;
    if (write(std::span(&last, 1))) layer_.unload();
}

int CUsbPrinter::open(const std::string&, int) {
    // A reconnect still polling from an earlier transfer must not replace the handle of this one.
    stopReconnect();
    open_ = false;
    unread_.clear();
    if (!loadLayer()) {
        const std::string why = layer_.lastError();
        lastError_ = why.empty() ? "the USB device calls are not available" : why;
        return kNoDevice;
    }
    if (findAndOpen() != 1) {
        releaseLayer();
        return kNoDevice;
    }
    open_ = true;
    return kOpened;
}

bool CUsbPrinter::write(std::span<const std::uint8_t> bytes) {
    if (!open_) return false;
    while (!bytes.empty()) {
        const auto piece = bytes.first(std::min(bytes.size(), kPieceBytes));
        // 300 ms per byte of this piece: counted per byte of the whole block, a printer that stopped would
        // hold one piece of a large logo for hours.
        const auto limit = std::chrono::milliseconds(300 * static_cast<long long>(piece.size()) + 500);
        std::optional<std::size_t> written;
        {
            std::lock_guard lock(deviceMutex_);
            if (layer_.isOpen()) written = layer_.writePiece(piece, limit);
        }
        if (!written || *written == 0) {
            const std::string why = layer_.lastError();
            lastError_ = why.empty() ? "write: the USB printer took nothing in time" : why;
            // Retrying the piece would wait for a printer that is gone; the reconnect thread looks for it.
            if (open_ && stop_) {
                {
                    std::lock_guard lock(deviceMutex_);
                    if (layer_.isOpen()) layer_.close();
                }
                startReconnect();
            }
            return false;
        }
        bytes = bytes.subspan(std::min(*written, piece.size()));
    }
    return true;
}

Result<std::size_t> CUsbPrinter::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    if (unread_.empty()) {
        if (!open_) return ioError(lastError_ = "read: the USB printer is not open");
        // A bulk transfer shorter than the device's packet overflows, so the layer always gets a whole one.
        std::vector<std::uint8_t> piece(kReadBytes);
        std::optional<std::size_t> got;
        bool held = false;
        {
            std::lock_guard lock(deviceMutex_);
            held = layer_.isOpen();
            if (held) got = layer_.readPiece(piece, timeout);
        }
        if (!held) return ioError(lastError_ = "read: the USB printer was lost");
        if (!got) {
            const std::string why = layer_.lastError();
            return ioError(lastError_ = why.empty() ? "read: the USB printer did not answer" : why);
        }
        unread_.assign(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(std::min(*got, piece.size())));
    }
    const std::size_t n = std::min(buffer.size(), unread_.size());
    std::copy_n(unread_.begin(), n, buffer.begin());
    unread_.erase(unread_.begin(), unread_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void CUsbPrinter::closeQuietly() {
    const bool trailing = std::exchange(trailingByte_, false);
    closeDevice();
    trailingByte_ = trailing;
}

int CUsbPrinter::closeDevice() {
    releaseLayer();
    if (!open_) return kNothingOpen; // a reconnect still polling goes on
    open_ = false;
    sleep_(kPauseAtClose);
    bool held;
    {
        std::lock_guard lock(deviceMutex_);
        held = layer_.isOpen();
    }
    if (held) {
        stopReconnect();
        std::lock_guard lock(deviceMutex_);
        layer_.purge();
        layer_.close();
    }
    return kClosed;
}

void CUsbPrinter::startReconnect() {
    if (reconnect_.joinable()) reconnect_.join(); // an earlier thread that has ended
    stop_ = false;
    reconnect_ = std::thread([this] { reconnectLoop(); });
}

void CUsbPrinter::stopReconnect() {
    {
        std::lock_guard lock(wakeMutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (reconnect_.joinable() && reconnect_.get_id() != std::this_thread::get_id()) reconnect_.join();
}

void CUsbPrinter::reconnectLoop() {
    while (!stop_) {
        {
            std::unique_lock lock(wakeMutex_);
            wake_.wait_for(lock, kPollPeriod, [this] { return stop_.load(); });
        }
        if (stop_) break;
        const int found = findAndOpen();
        open_ = found == 1;
        if (found == 1) stop_ = true;
    }
}

} // namespace tessera
