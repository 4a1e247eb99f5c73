// The serial port over the POSIX backend, against pseudo-terminals (never a real port of the machine). A
// reader that stops, the parallel port's FIFOs and files, and the options of the command line are checked
// through nvlogo in tests/cli.

#include "port/serial_port.h"

#include "serial_fake_layer.h"
#include "support/bmp_writer.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::sequence;

// A pseudo-terminal pair; the slave stays open here too, so that the port's close is never the last one.
struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~Pty() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    // What arrives until `expected` bytes have (and 50 ms more, for any extra), or nothing has for 2 s.
    Bytes drain(std::size_t expected) const {
        Bytes got;
        std::uint8_t buf[4096];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, got.size() >= expected ? 50 : 2000) <= 0) return got;
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) return got;
            got.insert(got.end(), buf, buf + n);
        }
    }
    termios settings() const {
        termios t{};
        ::tcgetattr(slave, &t);
        return t;
    }
};

TEST(SerialPortPosix, DeliversThroughAPseudoTerminalIn8N1Raw) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    CSerialPort port;
    ASSERT_EQ(port.open(pty.path, 6), 0);
    // Bytes a terminal would otherwise translate (CR, LF, XON, XOFF, DEL) pass unchanged.
    Bytes bytes = sequence(5000);
    bytes.insert(bytes.begin(), {0x0A, 0x0D, 0x11, 0x13, 0x7F, 0x00});
    std::thread reader([&] { EXPECT_EQ(pty.drain(bytes.size()), bytes); });
    EXPECT_TRUE(port.write(bytes));
    reader.join();
    const termios t = pty.settings();
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    port.close();
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
