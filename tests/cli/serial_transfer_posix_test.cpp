// nvlogo's transfer commands over serial and parallel devices: pseudo-terminals, FIFOs and files stand in
// for the ports (no real port of the machine is ever opened). The bytes are checked at the other end;
// timings are bounded from above only, generously.

#include "cli/nvlogo.h"

#include "printer/nv_upload_ctrl.h"
#include "support/bmp_writer.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tessera {
namespace {

using test::example;
using test::nvlogo;
using test::Outcome;
using test::saved;
using test::withFinish;
using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal pair with a reader on the master that collects everything, from start() until stop(),
// and answers the requests of its table as it reads them, like a printer.
class PtyPrinter {
  public:
    PtyPrinter() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
    }
    ~PtyPrinter() {
        stop();
        ::close(master_);
        ::close(slave_);
    }
    const std::string& path() const { return path_; }
    void start() {
        reader_ = std::thread([this] {
            std::uint8_t buf[4096];
            while (!stopping_) {
                pollfd p{master_, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0) continue;
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0) got_.insert(got_.end(), buf, buf + n);
                for (ssize_t i = 0; i + 3 <= n; ++i) {
                    const auto a = answers.find(Bytes(buf + i, buf + i + 3));
                    if (a != answers.end() && ::write(master_, &a->second, 1) != 1) break;
                }
            }
        });
    }
    // Reads what is still on its way, then stops.
    const Bytes& stop() {
        if (reader_.joinable()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            stopping_ = true;
            reader_.join();
        }
        return got_;
    }
    std::map<Bytes, std::uint8_t> answers;
    termios settings() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }

  private:
    int master_ = -1, slave_ = -1;
    std::string path_;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
    Bytes got_;
};

TEST(NvlogoSerial, UploadThroughAPseudoTerminalDeliversTheSavedStreamThenStatusBackOff) {
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp")};
    PtyPrinter printer;
    ASSERT_FALSE(printer.path().empty());
    printer.start();
    Outcome r =
        nvlogo({"upload", "--confirm", "off", "-H", "error-diffusion", "--port", printer.path(), logos[0], logos[1]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("uploaded 2 logos"), std::string::npos) << r.out;
    EXPECT_EQ(printer.stop(), withFinish(saved(logos, ErrorDiffusion, 5)));
    // The default line: 19200 bit/s, no flow control.
    const termios t = printer.settings();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & IXON, 0u);
}

TEST(NvlogoSerial, BaudAndFlowReachTheLine) {
    PtyPrinter printer;
    printer.start();
    Outcome r = nvlogo(
        {"erase", "--confirm", "off", "--baud", "115200", "--flow", "rtscts", "--port", "serial:" + printer.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(printer.stop(), withFinish({0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30, 0x1D, 0x56, 0x42, 0x01}));
    const termios t = printer.settings();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

    PtyPrinter other;
    other.start();
    ASSERT_EQ(
        nvlogo({"print", "--confirm", "off", "--baud", "2400", "--flow", "xonxoff", "--port", other.path()}).status, 0);
    const termios slow = other.settings();
    EXPECT_NE(slow.c_iflag & IXON, 0u);
    EXPECT_EQ(::cfgetospeed(&slow), static_cast<speed_t>(B2400));
}

TEST(NvlogoSerial, APrinterThatStopsReadingFailsWithinTheBound) {
    PtyPrinter printer; // never read
    std::vector<std::uint8_t> big(3 << 20, 0x41);
    const std::string file = test::writeTempFile("big-serial.bit", big);
    Outcome r = nvlogo({"send", "--raw", "--port", printer.path(), file});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_LT(r.seconds, 15.0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(NvlogoSerial, APrinterThatAnswersConfirmsOrRefusesToPrint) {
    const Bytes dle1 = {0x10, 0x04, 0x01}, dle2 = {0x10, 0x04, 0x02}, dle4 = {0x10, 0x04, 0x04},
                gsr = {0x1D, 0x72, 0x01};
    const Bytes stream = saved({example("line-drawing.bmp")}, Threshold, 5);
    // Online, the paper at its end; one printer per command, as the next open clears what is still unread.
    PtyPrinter printer, noPaper;
    printer.answers = noPaper.answers = {{dle1, 0x12}, {gsr, 0x00}, {dle2, 0x12}, {dle4, 0x72}};
    printer.start();
    noPaper.start();
    Outcome r = nvlogo({"upload", "--port", printer.path(), example("line-drawing.bmp")});
    EXPECT_EQ(r.out, printer.path() + ": uploaded 1 logo, " + std::to_string(stream.size()) + " bytes, confirmed\n");
    r = nvlogo({"print", "--port", noPaper.path()});
    EXPECT_EQ(r.err, "nvlogo: " + noPaper.path() + ": nothing printed: the paper is at its end\n");
    Bytes expected = dle1;
    for (const Bytes& part : {stream, withFinish(gsr)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(printer.stop(), expected);
    EXPECT_EQ(noPaper.stop(), (Bytes{0x10, 0x04, 0x01, 0x10, 0x04, 0x02, 0x10, 0x04, 0x04}));
}

struct Fifo {
    std::string path;
    explicit Fifo(const std::string& name) : path(test::tempDir() + "/" + name) {
        ::unlink(path.c_str());
        ::mkfifo(path.c_str(), 0600);
    }
    ~Fifo() { ::unlink(path.c_str()); }
};

TEST(NvlogoParallel, DeliversToAFileAndFailsOnAFifoNobodyReads) {
    const std::string dir = test::tempDir();
    const std::string capture = test::writeTempFile("lpt-capture.bin", {});
    const Bytes stream = saved({example("line-drawing.bmp")}, Threshold, 5);
    Outcome r = nvlogo({"upload", "--port", "parallel:" + capture, example("line-drawing.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::slurp(capture), withFinish(stream));
    EXPECT_EQ(r.out, "parallel:" + capture + ": uploaded 1 logo, " + std::to_string(stream.size()) +
                         " bytes, not confirmed: parallel:" + capture + " cannot carry the printer's answers\n");
    // Confirmation required: a port without a way back is not even opened.
    const std::string untouched = test::writeTempFile("lpt-untouched.bin", {});
    EXPECT_EQ(nvlogo({"erase", "--confirm", "required", "--port", "parallel:" + untouched}).status, 1);
    EXPECT_TRUE(test::slurp(untouched).empty());

    // A parallel port opens existing devices only.
    EXPECT_EQ(nvlogo({"erase", "--port", "parallel:" + dir + "/no-such-lp"}).status, 1);

    Fifo fifo("stuck-lp");
    const int full = ::open(fifo.path.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(full, 0);
    const Bytes chunk(4096, 0x55);
    while (::write(full, chunk.data(), chunk.size()) > 0) {
    }
    Outcome stuck = nvlogo({"erase", "--port", "parallel:" + fifo.path});
    EXPECT_EQ(stuck.status, 1);
    EXPECT_LT(stuck.seconds, 5.0);
    ::close(full);
}

TEST(NvlogoSerial, RefusedLineOptionsAndPortsOpenNothing) {
    PtyPrinter printer;
    printer.start();
    const std::vector<std::vector<std::string>> cases = {
        {"erase", "--baud", "12345", "--port", printer.path()},
        {"erase", "--baud", "fast", "--port", printer.path()},
        {"erase", "--baud", "", "--port", printer.path()},
        {"erase", "--flow", "dsrdtr", "--port", printer.path()},
        {"erase", "--port", "COM13"},
        {"erase", "--port", "LPT3"},
        {"erase", "--port", "/tmp/not-a-device"},
        {"erase", "--port", "serial:"},
        {"erase", "--port", "USB3"},
    };
    for (const auto& args : cases) {
        Outcome r = nvlogo(args);
        EXPECT_EQ(r.status, 2) << args[1] << " " << args[2] << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_TRUE(printer.stop().empty());
}

} // namespace
} // namespace tessera
