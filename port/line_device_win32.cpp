#include "port/line_device.h"

#include "base/unique_handle_win32.h"
#include "port/overlapped_read.h"
#include "port/system_error.h"

#include <windows.h>

#include <utility>

namespace tessera {
namespace {

HANDLE handleOf(DeviceHandle device) {
    return reinterpret_cast<HANDLE>(device);
}

DWORD clampedLength(std::size_t size) {
    return static_cast<DWORD>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);
}

class Win32Write final : public DeviceWrite {
  public:
    // failure: where the layer keeps the text of its last failed call.
    Win32Write(HANDLE device, UniqueKernelHandle event, std::string& failure)
        : device_(device), event_(std::move(event)), failure_(failure) {
        overlapped_.hEvent = event_.get();
    }
    // The event is closed only after the cancelled write has let go of it.
    ~Win32Write() override {
        if (outstanding_) cancel();
    }
    Win32Write(const Win32Write&) = delete;
    Win32Write& operator=(const Win32Write&) = delete;

    void resetEvent() override { ::ResetEvent(event_.get()); }

    WriteStart start(std::span<const std::uint8_t> bytes) override {
        // The record is reused for every piece; it is zeroed again, keeping its event.
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        DWORD written = 0;
        if (::WriteFile(device_, bytes.data(), clampedLength(bytes.size()), &written, &overlapped_))
            return {StartStatus::Done, written, 0};
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            outstanding_ = true;
            return {StartStatus::Pending, 0, 0};
        }
        failure_ = systemError("WriteFile", static_cast<int>(error));
        return {StartStatus::Failed, 0, static_cast<int>(error)};
    }

    WaitOutcome wait(std::chrono::milliseconds timeout) override {
        switch (::WaitForSingleObject(event_.get(), static_cast<DWORD>(timeout.count()))) {
        case WAIT_OBJECT_0:
            return WaitOutcome::Signalled;
        case WAIT_TIMEOUT:
            return WaitOutcome::TimedOut;
        default:
            return WaitOutcome::Failed;
        }
    }

    WritePoll result() override {
        DWORD written = 0;
        if (::GetOverlappedResult(device_, &overlapped_, &written, FALSE)) {
            outstanding_ = false;
            return {PollStatus::Done, written, 0};
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) return {PollStatus::Incomplete, 0, 0};
        outstanding_ = false;
        failure_ = systemError("WriteFile", static_cast<int>(error));
        return {PollStatus::Failed, written, static_cast<int>(error)};
    }

    std::size_t cancel() override {
        if (!outstanding_) return 0;
        ::CancelIo(device_);
        // The cancellation completes the write; until then the record and the bytes are still the driver's.
        DWORD written = 0;
        ::GetOverlappedResult(device_, &overlapped_, &written, TRUE);
        outstanding_ = false;
        return written;
    }

  private:
    HANDLE device_;
    UniqueKernelHandle event_;
    OVERLAPPED overlapped_{};
    bool outstanding_ = false;
    std::string& failure_;
};

class Win32LineDeviceLayer final : public LineDeviceLayer {
  public:
    std::string serialDevicePath(const std::string& portName) override { return windowsSerialDevicePath(portName); }
    std::string parallelDevicePath(const std::string& portName) override { return portName; }

    DeviceHandle open(const std::string& path, bool overlapped) override {
        const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (overlapped ? FILE_FLAG_OVERLAPPED : 0);
        HANDLE h =
            ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, attributes, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            failure_ = systemError("CreateFileA", static_cast<int>(::GetLastError()));
            return kNoDevice;
        }
        return reinterpret_cast<DeviceHandle>(h);
    }

    void close(DeviceHandle device) override { ::CloseHandle(handleOf(device)); }

    void setupQueues(DeviceHandle device, std::uint32_t inputBytes, std::uint32_t outputBytes) override {
        ::SetupComm(handleOf(device), inputBytes, outputBytes);
    }

    void purge(DeviceHandle device, Purge what) override {
        const DWORD received = PURGE_RXABORT | PURGE_RXCLEAR;
        ::PurgeComm(handleOf(device), what == Purge::Everything ? received | PURGE_TXABORT | PURGE_TXCLEAR : received);
    }

    void setTimeouts(DeviceHandle device, const CommTimeouts& t) override {
        COMMTIMEOUTS c{};
        ::GetCommTimeouts(handleOf(device), &c);
        c.ReadIntervalTimeout = t.readInterval;
        c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
        c.ReadTotalTimeoutConstant = t.readTotalConstant;
        c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
        c.WriteTotalTimeoutConstant = t.writeTotalConstant;
        ::SetCommTimeouts(handleOf(device), &c);
    }

    void setLineState(DeviceHandle device, const LineState& s) override {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB); // 28
        ::GetCommState(handleOf(device), &dcb);
        dcb.BaudRate = s.baudRate;
        dcb.ByteSize = s.byteSize;
        dcb.Parity = s.parity;
        dcb.StopBits = s.stopBits;
        dcb.fBinary = s.binary;
        dcb.fParity = s.parityCheck;
        dcb.fOutxCtsFlow = s.outxCtsFlow;
        dcb.fOutxDsrFlow = s.outxDsrFlow;
        dcb.fDtrControl = s.dtrControl == LineState::kDtrEnable ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = s.dsrSensitivity;
        dcb.fTXContinueOnXoff = s.txContinueOnXoff;
        dcb.fOutX = s.outX;
        dcb.fInX = s.inX;
        dcb.fErrorChar = s.errorChar;
        dcb.fNull = s.nullStrip;
        dcb.fRtsControl = s.rtsControl == LineState::kRtsHandshake ? RTS_CONTROL_HANDSHAKE
                          : s.rtsControl == LineState::kRtsEnable  ? RTS_CONTROL_ENABLE
                                                                   : RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = s.abortOnError;
        if (s.outX || s.inX) {
            // A device that reports no characters of its own would refuse the state (XON equal to XOFF).
            dcb.XonChar = 0x11;
            dcb.XoffChar = 0x13;
        }
        ::SetCommState(handleOf(device), &dcb);
    }

    std::unique_ptr<DeviceWrite> beginWrite(DeviceHandle device, EventReset reset) override {
        UniqueKernelHandle event(::CreateEventA(nullptr, reset == EventReset::Manual ? TRUE : FALSE, FALSE, nullptr));
        if (!event) {
            failure_ = systemError("CreateEventA", static_cast<int>(::GetLastError()));
            return nullptr;
        }
        return std::make_unique<Win32Write>(handleOf(device), std::move(event), failure_);
    }

    std::size_t writeSync(DeviceHandle device, std::span<const std::uint8_t> bytes) override {
        DWORD written = 0;
        if (!::WriteFile(handleOf(device), bytes.data(), clampedLength(bytes.size()), &written, nullptr)) return 0;
        return written;
    }

    PlatformGeneration generation() override {
        OSVERSIONINFOEXA extended{};
        extended.dwOSVersionInfoSize = sizeof extended; // 156
        OSVERSIONINFOA basic{};
        basic.dwOSVersionInfoSize = sizeof basic; // 148
        DWORD platform = 0, major = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
            platform = extended.dwPlatformId;
            major = extended.dwMajorVersion;
        } else if (::GetVersionExA(&basic)) {
            platform = basic.dwPlatformId;
            major = basic.dwMajorVersion;
        } else {
            return PlatformGeneration::Current;
        }
#pragma GCC diagnostic pop
        if (platform == VER_PLATFORM_WIN32_WINDOWS) return PlatformGeneration::Legacy;
        if (platform == VER_PLATFORM_WIN32_NT && major < 5) return PlatformGeneration::Legacy;
        return PlatformGeneration::Current;
    }

    std::uint32_t tickCount() override {
        return ::GetTickCount();
    }

    void sleep(std::chrono::milliseconds duration) override {
        ::Sleep(static_cast<DWORD>(duration.count()));
    }

    std::size_t inputWaiting(DeviceHandle device) override {
        return queues(device).cbInQue;
    }
    std::size_t outputWaiting(DeviceHandle device) override {
        return queues(device).cbOutQue;
    }

    // The line's own read time-outs (set at open) usually end a read with nothing first; the limit bounds a
    // device that ignores them.
    std::optional<std::size_t> readSome(DeviceHandle device, std::span<std::uint8_t> buffer,
                                        std::chrono::milliseconds timeout) override {
        return readOverlapped(handleOf(device), buffer, timeout, failure_);
    }

    std::string lastError() const override {
        return failure_;
    }

  private:
    static COMSTAT queues(DeviceHandle device) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(handleOf(device), &errors, &stat)) return COMSTAT{};
        return stat;
    }

    std::string failure_;
};

} // namespace

std::unique_ptr<LineDeviceLayer> makePlatformLineDeviceLayer() {
    return std::make_unique<Win32LineDeviceLayer>();
}

} // namespace tessera
