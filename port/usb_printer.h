#pragma once
// The USB printer: found among the present printer-class devices without a port name, opened, written in
// pieces, and looked for again by a reconnect thread when a write fails (printer switched off or unplugged).
// The device calls sit behind UsbDeviceLayer (usb_device_win32.cpp over the device-setup library,
// usb_device_posix.cpp over libusb), so the matching, pieces, trailing byte, pauses and the reconnect thread
// are written once and tested against a fake layer.

#include "port/ports.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace tessera {

// One present interface of the printer class, in the platform's enumeration order.
struct UsbInterface {
    std::string path;          // the device path (Windows) or "bus-address" (libusb)
    std::uint16_t vendor = 0;  // known where the platform gives numbers rather than paths
    std::uint16_t product = 0;
    bool idsKnown = false;
};

class UsbDeviceLayer {
  public:
    virtual ~UsbDeviceLayer() = default;
    // Makes the device calls available (loads the device-setup library, starts libusb); true when they are.
    virtual bool load() = 0;
    virtual void unload() = 0;
    virtual bool loaded() const = 0;
    // Old platforms take every interface of the class.
    virtual bool legacy() const { return false; }
    virtual std::vector<UsbInterface> present() = 0;
    // Opens and closes the interface, to see whether it can be had.
    virtual bool probe(const UsbInterface& device) = 0;
    // The working handle; replaces one that is held.
    virtual bool open(const UsbInterface& device) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Writes one piece within the time; the bytes written, or none when it failed or ran out of time.
    virtual std::optional<std::size_t> writePiece(std::span<const std::uint8_t> piece, std::chrono::milliseconds limit) = 0;
    // Drops whatever the device still queues, both ways.
    virtual void purge() = 0;
    // One read from the printer's answer channel (the printer-class interface's bulk IN endpoint; ReadFile
    // on the device handle), given at most limit: the bytes read, 0 when none came, or nothing when the read
    // failed or the printer has no answer channel. The buffer holds at least 512 bytes, a whole packet.
    virtual std::optional<std::size_t> readPiece(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) = 0;
    // Why the last call failed, for the person at the machine (empty when there is nothing to add).
    virtual std::string lastError() const { return {}; }
};

// The printers taken, by vendor and product, and whether they re-enable automatic status at the end.
struct UsbPrinterModel {
    const char* pathPrefix; // how the device path begins on Windows (compared case-sensitively)
    std::uint16_t vendor;
    std::uint16_t product;
    bool reEnablesStatus;
};
inline constexpr UsbPrinterModel kUsbPrinterModels[] = {
    {"\\\\?\\usb#vid_0525&pid_a700", 0x0525, 0xA700, false},
    {"\\\\?\\usb#vid_0525&pid_a702", 0x0525, 0xA702, false},
    {"\\\\?\\usb#vid_1fc9&pid_2016", 0x1FC9, 0x2016, true},
    {"\\\\?\\usb#vid_0fe6&pid_811e", 0x0FE6, 0x811E, true},
};

class CUsbPrinter : public LinePort {
  public:
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    static constexpr std::size_t kPieceBytes = 1024;
    static constexpr std::size_t kReadBytes = 1024; // whole packets of every USB speed
    static constexpr std::chrono::milliseconds kPollPeriod{500};
    static constexpr std::chrono::milliseconds kPauseAtClose{700};
    static constexpr int kOpened = 0;
    static constexpr int kNoDevice = -1;
    static constexpr int kClosed = 0;
    static constexpr int kNothingOpen = 3;
    static constexpr const char* kPathSuffix = "\\USB0/4";

    // The layer stays owned by the caller. sleep takes the 700 ms pause at close (tests pass a recorder).
    explicit CUsbPrinter(UsbDeviceLayer& layer, Sleep sleep = {});
    // Stops and joins the reconnect thread.
    ~CUsbPrinter() override;
    CUsbPrinter(const CUsbPrinter&) = delete;
    CUsbPrinter& operator=(const CUsbPrinter&) = delete;

    // One more device to take (nvlogo --port usb:VID:PID), outside the family that re-enables status.
    void acceptAlso(std::uint16_t vendor, std::uint16_t product) { extra_ = {vendor, product}; }

    int open(const std::string& portName, int baudCode) override;
    // True only when every piece was written. Each piece has 300 ms per byte plus 500 ms. A failed piece
    // ends the write at once and, unless one is running already, starts the reconnect thread.
    bool write(std::span<const std::uint8_t> bytes) override;
    void close() override { closeDevice(); }
    void closeQuietly() override;
    int closeDevice();
    bool reEnablesStatus() const override { return !familyFlag_; }
    // What the printer sent, waiting at most timeout for it; a transfer larger than the buffer is kept for
    // the next read.
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    // Whether close writes the last byte 00 before letting the device go (it does unless told otherwise; a
    // status query sends nothing but its requests).
    void setTrailingByte(bool send) { trailingByte_ = send; }

    // 1 when a device was found and opened, 0 when none.
    int findAndOpen();
    bool reconnecting() const { return !stop_.load(); }
    bool isOpen() const { return open_.load(); }
    // Why the last open, write or read failed, in words.
    std::string lastError() const override { return lastError_; }

  private:
    std::optional<bool> familyOf(const UsbInterface& device) const;
    bool loadLayer();
    void releaseLayer();
    void startReconnect();
    void stopReconnect();
    void reconnectLoop();

    UsbDeviceLayer& layer_;
    Sleep sleep_;
    std::optional<std::pair<std::uint16_t, std::uint16_t>> extra_;
    // Guards the device handle: only one thread at a time opens, closes, replaces or writes through it.
    std::mutex deviceMutex_;
    std::atomic<bool> open_{false};
    std::atomic<bool> stop_{true};
    // Inverted on purpose: true, the start value that legacy systems keep, must mean "no 1D 61 FF"; don't flip it.
    std::atomic<bool> familyFlag_{true};
    std::thread reconnect_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::string lastError_;
    bool trailingByte_ = true;
    std::vector<std::uint8_t> unread_; // the rest of a transfer larger than the caller's buffer
};

// The layer of this platform.
std::unique_ptr<UsbDeviceLayer> makeUsbDeviceLayer();

} // namespace tessera
