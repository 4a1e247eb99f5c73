#include "port/line_device.h"

#include "base/unique_fd_posix.h"
#include "port/system_error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tessera {
namespace {

int fd(DeviceHandle device) {
    return static_cast<int>(device);
}

speed_t speedOf(std::uint32_t bitsPerSecond) {
    switch (bitsPerSecond) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B19200;
    }
}

// An overlapped write in the Windows sense over a non-blocking descriptor: start writes what the device takes
// at once, and the rest goes out as wait and result find the device writable again. Done therefore means
// the whole block was written, as a completed WriteFile does.
class PosixWrite final : public DeviceWrite {
  public:
    // failure: where the layer keeps the text of its last failed call.
    PosixWrite(int fd, std::string* failure = nullptr) : fd_(fd), failure_(failure) {}

    void resetEvent() override {}

    WriteStart start(std::span<const std::uint8_t> bytes) override {
        bytes_ = bytes;
        written_ = 0;
        error_ = 0;
        advance();
        if (error_ != 0 && written_ == 0) return {StartStatus::Failed, 0, error_};
        if (complete()) return {StartStatus::Done, written_, 0};
        return {StartStatus::Pending, 0, 0};
    }

    WaitOutcome wait(std::chrono::milliseconds timeout) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            advance();
            if (complete() || error_ != 0) return WaitOutcome::Signalled;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return WaitOutcome::TimedOut;
            pollfd p{fd_, POLLOUT, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
            if (r < 0 && errno != EINTR) return WaitOutcome::Failed;
            if (r == 0) continue; // the deadline check above ends it
            // Some devices (the parallel printer driver) always report writable; do not spin on them.
            const std::size_t before = written_;
            advance();
            if (written_ == before && !complete() && error_ == 0)
                std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
        }
    }

    WritePoll result() override {
        advance();
        if (error_ != 0) return {PollStatus::Failed, written_, error_};
        if (complete()) return {PollStatus::Done, written_, 0};
        return {PollStatus::Incomplete, 0, 0};
    }

    std::size_t cancel() override {
        const std::size_t n = written_;
        bytes_ = {};
        written_ = 0;
        return n;
    }

  private:
    bool complete() const { return written_ >= bytes_.size(); }

    void advance() {
        while (!complete() && error_ == 0) {
            const ssize_t n = ::write(fd_, bytes_.data() + written_, bytes_.size() - written_);
            if (n > 0) {
                written_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                error_ = n < 0 ? errno : EIO;
                if (failure_) *failure_ = systemError("write", error_);
            }
        }
    }

    int fd_;
    std::string* failure_;
    std::span<const std::uint8_t> bytes_;
    std::size_t written_ = 0;
    int error_ = 0;
};

class PosixLineDeviceLayer final : public LineDeviceLayer {
  public:
    std::string serialDevicePath(const std::string& portName) override { return linuxSerialDevicePath(portName); }
    std::string parallelDevicePath(const std::string& portName) override { return linuxParallelDevicePath(portName); }

    DeviceHandle open(const std::string& path, bool) override {
        // Non-blocking for the whole life of the descriptor: the open does not wait for a carrier, and every
        // write waits only as long as the port says.
        UniqueFd f(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!f) {
            failure_ = systemError("open", errno);
            return kNoDevice;
        }
        // No sharing: a second program (or a second target of the same run) is refused, as on Windows.
        if (::flock(f.get(), LOCK_EX | LOCK_NB) != 0) {
            failure_ =
                errno == EWOULDBLOCK ? "flock: the device is in use by another program" : systemError("flock", errno);
            return kNoDevice;
        }
        return DeviceHandle{f.release()};
    }

    void close(DeviceHandle device) override { ::close(fd(device)); }

    void setupQueues(DeviceHandle, std::uint32_t, std::uint32_t) override {}

    // Dropping the output after a failed write also keeps the close from waiting (up to 30 s) for a line
    // that has stopped.
    void purge(DeviceHandle device, Purge what) override {
        ::tcflush(fd(device), what == Purge::Everything ? TCIOFLUSH : TCIFLUSH);
    }

    void setTimeouts(DeviceHandle device, const CommTimeouts& timeouts) override {
        termios t{};
        if (::tcgetattr(fd(device), &t) != 0) return;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = static_cast<cc_t>(timeouts.readTotalConstant / 100);
        ::tcsetattr(fd(device), TCSANOW, &t);
    }

    void setLineState(DeviceHandle device, const LineState& s) override {
        termios t{};
        if (::tcgetattr(fd(device), &t) == 0) {
            ::cfmakeraw(&t);
            t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
            t.c_cflag |= CS8 | CREAD | CLOCAL;
            if (s.parity != LineState::kNoParity) t.c_cflag |= PARENB;
            if (s.stopBits != LineState::kOneStopBit) t.c_cflag |= CSTOPB;
            if (s.outxCtsFlow) t.c_cflag |= CRTSCTS;
            t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
            if (s.outX) t.c_iflag |= IXON;
            if (s.inX) t.c_iflag |= IXOFF;
            t.c_cc[VSTART] = 0x11;
            t.c_cc[VSTOP] = 0x13;
            ::cfsetispeed(&t, speedOf(s.baudRate));
            ::cfsetospeed(&t, speedOf(s.baudRate));
            ::tcsetattr(fd(device), TCSANOW, &t);
        }
        // A pseudo-terminal has no modem lines and refuses this; that is not an error.
        int lines = 0;
        if (s.dtrControl == LineState::kDtrEnable) lines |= TIOCM_DTR;
        if (s.rtsControl == LineState::kRtsEnable) lines |= TIOCM_RTS;
        if (lines) ::ioctl(fd(device), TIOCMBIS, &lines);
    }

    std::unique_ptr<DeviceWrite> beginWrite(DeviceHandle device, EventReset) override {
        return std::make_unique<PosixWrite>(fd(device), &failure_);
    }

    // Reached only by the legacy generation, which POSIX never reports; it writes what the device takes
    // within one piece's wait.
    std::size_t writeSync(DeviceHandle device, std::span<const std::uint8_t> bytes) override {
        PosixWrite op(fd(device));
        const WriteStart started = op.start(bytes);
        if (started.status != StartStatus::Pending) return started.count;
        op.wait(std::chrono::milliseconds(1000));
        const WritePoll r = op.result();
        return r.status == PollStatus::Done ? r.count : op.cancel();
    }

    // No older generation to tell apart: overlapped-style writes everywhere.
    PlatformGeneration generation() override { return PlatformGeneration::Current; }

    std::uint32_t tickCount() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }

    void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

    std::size_t inputWaiting(DeviceHandle device) override {
        int n = 0;
        return ::ioctl(fd(device), FIONREAD, &n) == 0 && n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    std::size_t outputWaiting(DeviceHandle device) override {
        int n = 0;
        return ::ioctl(fd(device), TIOCOUTQ, &n) == 0 && n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    std::optional<std::size_t> readSome(DeviceHandle device, std::span<std::uint8_t> buffer,
                                        std::chrono::milliseconds timeout) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const ssize_t n = ::read(fd(device), buffer.data(), buffer.size());
            if (n > 0) return static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                failure_ = systemError("read", errno);
                return std::nullopt;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::size_t{0};
            pollfd p{fd(device), POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
            if (r < 0 && errno != EINTR) {
                failure_ = systemError("poll", errno);
                return std::nullopt;
            }
            if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN)) {
                failure_ = "read: the line was hung up";
                return std::nullopt;
            }
        }
    }

    std::string lastError() const override { return failure_; }

  private:
    std::string failure_;
};

} // namespace

std::unique_ptr<LineDeviceLayer> makePlatformLineDeviceLayer() {
    return std::make_unique<PosixLineDeviceLayer>();
}

} // namespace tessera
