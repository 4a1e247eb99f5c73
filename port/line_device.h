#pragma once
// The platform calls under the serial and parallel ports. Each backend (line_device_posix.cpp,
// line_device_win32.cpp) maps them onto its device API and nothing more: the pieces, time limits, retries,
// purges and result codes live in CSerialPort and CParallelPort, so that they can be tested against a
// scripted layer with a fake clock. The calls follow the Windows model (a write is started, waited for,
// asked for its result or cancelled); the POSIX backend gives the same guarantees with non-blocking
// writes and poll.

#include "base/unique_handle.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tessera {

// A device handle as the platform gives it (a file descriptor, or a HANDLE, which fits in a pointer-sized
// integer and whose INVALID_HANDLE_VALUE converts to -1).
using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kNoDevice = -1;

enum class FlowControl { None, RtsCts, XonXoff };

// COMMTIMEOUTS, in milliseconds.
struct CommTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
    bool operator==(const CommTimeouts&) const = default;
};

// The DCB fields the serial port sets; every other field keeps the value the device reports. The numbers are
// the Windows ones (NOPARITY 0, ONESTOPBIT 0, DTR_CONTROL_ENABLE 1, RTS_CONTROL_ENABLE 1, RTS_CONTROL_HANDSHAKE 2).
struct LineState {
    static constexpr std::uint8_t kNoParity = 0;
    static constexpr std::uint8_t kOneStopBit = 0;
    static constexpr std::uint8_t kDtrEnable = 1;
    static constexpr std::uint8_t kRtsEnable = 1;
    static constexpr std::uint8_t kRtsHandshake = 2;

    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = kNoParity;
    std::uint8_t stopBits = kOneStopBit;
    bool binary = true;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    std::uint8_t dtrControl = kDtrEnable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = true;
    bool outX = false;
    bool inX = false;
    bool errorChar = false;
    bool nullStrip = false;
    std::uint8_t rtsControl = kRtsEnable;
    bool abortOnError = false;
    bool operator==(const LineState&) const = default;
};

enum class StartStatus { Done, Pending, Failed };
struct WriteStart {
    StartStatus status = StartStatus::Done;
    std::size_t count = 0; // bytes written when Done
    int error = 0;
};

enum class WaitOutcome { Signalled, TimedOut, Failed };

enum class PollStatus { Done, Incomplete, Failed };
struct WritePoll {
    PollStatus status = PollStatus::Done;
    std::size_t count = 0; // bytes written when Done
    int error = 0;
};

// One event and one OVERLAPPED record, for the writes of one call. Dropping it while a write is still under
// way cancels that write and waits for the cancellation first, so the record is never released in use.
class DeviceWrite {
  public:
    virtual ~DeviceWrite() = default;
    virtual void resetEvent() = 0;
    // Starts writing the bytes, which must stay valid until the write completes or is cancelled.
    virtual WriteStart start(std::span<const std::uint8_t> bytes) = 0;
    // Waits for the started write's event, at most timeout.
    virtual WaitOutcome wait(std::chrono::milliseconds timeout) = 0;
    // The started write's result, without waiting.
    virtual WritePoll result() = 0;
    // Cancels the started write and waits until the cancellation has taken effect; the bytes written
    // before it.
    virtual std::size_t cancel() = 0;
};

enum class PlatformGeneration { Current, Legacy };
enum class EventReset { Manual, Auto };

class LineDeviceLayer {
  public:
    virtual ~LineDeviceLayer() = default;

    // The device a port name opens ("COM3", "LPT1", or, where the platform has them, a device path).
    virtual std::string serialDevicePath(const std::string& portName) = 0;
    virtual std::string parallelDevicePath(const std::string& portName) = 0;
    // Opens an existing device for reading and writing, without sharing; kNoDevice when it cannot be.
    virtual DeviceHandle open(const std::string& path, bool overlapped) = 0;
    virtual void close(DeviceHandle device) = 0;
    // The calls below are best effort: a device without them (a parallel port, a pseudo-terminal refusing
    // the modem lines) simply ignores them.
    virtual void setupQueues(DeviceHandle device, std::uint32_t inputBytes, std::uint32_t outputBytes) = 0;
    // Everything: aborts and drops what is queued in both directions (PurgeComm 0x0F). Received: only what
    // came in (PURGE_RXABORT | PURGE_RXCLEAR).
    enum class Purge { Everything, Received };
    virtual void purge(DeviceHandle device, Purge what) = 0;
    virtual void setTimeouts(DeviceHandle device, const CommTimeouts& timeouts) = 0;
    // Reads the device's state, changes the fields of LineState and stores it.
    virtual void setLineState(DeviceHandle device, const LineState& state) = 0;
    // An event of the kind asked for, initially not signalled, and a zeroed record; null when no event can be
    // created.
    virtual std::unique_ptr<DeviceWrite> beginWrite(DeviceHandle device, EventReset reset) = 0;
    // One synchronous write of all the bytes, on a device opened without the overlapped flag; the count written.
    virtual std::size_t writeSync(DeviceHandle device, std::span<const std::uint8_t> bytes) = 0;
    virtual PlatformGeneration generation() = 0;
    // Milliseconds from an arbitrary start; it wraps around, so only differences count.
    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;

    // Bytes that have arrived and wait to be read (ClearCommError's cbInQue, FIONREAD); 0 when none or
    // unknown.
    virtual std::size_t inputWaiting(DeviceHandle device) = 0;
    // Bytes written that the device has not sent on the line yet (cbOutQue, TIOCOUTQ); 0 when none or unknown.
    virtual std::size_t outputWaiting(DeviceHandle device) = 0;
    // One read into the buffer, given at most timeout to complete: the count (0 when nothing came in time), or
    // nothing when the read failed. The device may hold a larger read until it is full, so callers ask only for
    // what is waiting.
    virtual std::optional<std::size_t> readSome(DeviceHandle device, std::span<std::uint8_t> buffer,
                                                std::chrono::milliseconds timeout) = 0;
    // The last failed platform call in words, recorded where it failed ("open: Permission denied",
    // "WriteFile: The device is not ready"); empty when none has failed.
    virtual std::string lastError() const { return {}; }
};

// The backend of the platform the program was built for.
std::unique_ptr<LineDeviceLayer> makePlatformLineDeviceLayer();

// The device names of both platforms, kept here so that each is tested wherever the tests run.
// Windows serial: "\\.\" and the name ("COM10" needs it); a name that is already a device path stays.
std::string windowsSerialDevicePath(const std::string& portName);
// Linux: "COM1".."COM12" are /dev/ttyS0../dev/ttyS11, "LPT1" and "LPT2" /dev/lp0 and /dev/lp1; any other
// name is a path and stays as it is.
std::string linuxSerialDevicePath(const std::string& portName);
std::string linuxParallelDevicePath(const std::string& portName);

// Owns one device of a layer and closes it through that layer when dropped: UniqueDevice(handle, {&layer}).
using UniqueDevice = UniqueHandle<LayerCloser<LineDeviceLayer, DeviceHandle, kNoDevice>>;

} // namespace tessera
