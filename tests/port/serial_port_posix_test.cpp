// The serial port over the POSIX backend, against pseudo-terminals (never a real port of the machine). A
// reader that stops, the parallel port's FIFOs and files, and the options of the command line are checked
// through nvlogo in tests/cli.

#include "port/serial_port.h"

#include "support/bmp_writer.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal pair; the slave stays open here too, so that the port's close is never the last one.
struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
};

TEST(SerialPortPosix, DeliversThroughAPseudoTerminalIn8N1Raw) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    CSerialPort port;
    ASSERT_EQ(port.open(pty.path, 6), 0);
    // Every byte value passes unchanged, CR, LF, XON, XOFF and DEL among them.
    Bytes bytes(5000);
    std::iota(bytes.begin(), bytes.end(), 0);
    Bytes got;
    std::thread reader([&] {
        // Everything that arrives until nothing has for 200 ms after the last byte, or for 2 s before it.
        std::uint8_t buf[4096];
        for (pollfd p{pty.master, POLLIN, 0}; ::poll(&p, 1, got.size() >= bytes.size() ? 200 : 2000) > 0;) {
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
    });
    EXPECT_TRUE(port.write(bytes));
    reader.join();
    EXPECT_EQ(got, bytes);
    termios t{};
    ::tcgetattr(pty.slave, &t);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
}

TEST(SerialPortPosix, MissingOrHeldDevicesDoNotOpen) {
    CSerialPort missing;
    EXPECT_EQ(missing.open(test::tempDir() + "/no-such-tty", 7), 1);
    Pty pty;
    CSerialPort first, second;
    ASSERT_EQ(first.open(pty.path, 7), 0);
    EXPECT_EQ(second.open(pty.path, 7), 1); // no sharing
    first.close();
    EXPECT_EQ(second.open(pty.path, 7), 0);
}

} // namespace
} // namespace tessera
