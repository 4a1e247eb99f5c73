// nvlogo's transfer commands over loopback TCP and over serial and parallel devices (pseudo-terminals, FIFOs
// and files: no real port of the machine is ever opened): the bytes that reach the printer, and every way a
// transfer can fail being reported as a failure within its time bound, bounded from above only, generously.

#include "cli/nvlogo.h"

#include "base/file_io.h"
#include "support/bmp_writer.h"
#include "support/loopback_printer_posix.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
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
using test::holds;
using test::nvlogo;
using test::operator+;
using test::Outcome;
using test::saved;
using test::withFinish;
using Bytes = std::vector<std::uint8_t>;
using test::LoopbackPrinter;

// The bytes of today's transfers: the stream and the finishing bytes, nothing asked.
Outcome unconfirmed(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--confirm", "off"});
    return nvlogo(std::move(args));
}

std::string at(const LoopbackPrinter& p) {
    return "127.0.0.1:" + std::to_string(p.port());
}

TEST(NvlogoTransfer, UnconfirmedEachCommandDeliversItsStreamThenStatusBackOff) {
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp")};
    const Bytes cut = {0x1D, 0x56, 0x42, 0x01};
    Bytes all; // print without a range: every image
    for (int n = 1; n <= 255; ++n)
        all.insert(all.end(), {0x1C, 0x70, std::uint8_t(n), 0x30});
    const struct {
        std::vector<std::string> args;
        Bytes bytes;
    } cases[] = {
        {{"upload", "-H", "error-diffusion", "-b", "7", logos[0], logos[1]}, saved(logos, ErrorDiffusion, 7)},
        {{"erase"}, Bytes{0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30} + cut},
        {{"print", "--range", "2-4", "--scale", "double"},
         Bytes{0x1C, 0x70, 2, 0x33, 0x1C, 0x70, 3, 0x33, 0x1C, 0x70, 4, 0x33} + cut},
        {{"print", "--range", "9,1-2"}, Bytes{0x1C, 0x70, 9, 0x30, 0x1C, 0x70, 1, 0x30, 0x1C, 0x70, 2, 0x30} + cut},
        {{"print"}, all + cut},
    };
    for (const auto& c : cases) {
        LoopbackPrinter printer;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--port", "tcp:" + at(printer)});
        const Outcome r = unconfirmed(args);
        ASSERT_EQ(r.status, 0) << args[0] << r.err;
        ASSERT_EQ(printer.connections().size(), 1u);
        EXPECT_EQ(printer.connections()[0], withFinish(c.bytes)) << args[0];
    }
}

TEST(NvlogoTransfer, SendTakesBitFilesAsTheyAreAndTextFilesAsTheBytesTheySpell) {
    const std::string dir = test::tempDir();
    ASSERT_EQ(nvlogo({"save", "-o", dir + "/l.bit", example("badge.bmp")}).status, 0);
    ASSERT_EQ(nvlogo({"save", "-f", "hex", "-o", dir + "/l.txt", example("badge.bmp")}).status, 0);
    const Bytes stream = saved({example("badge.bmp")}, Threshold, 5);
    for (const char* file : {"/l.bit", "/l.txt"}) {
        LoopbackPrinter printer;
        Outcome r = unconfirmed({"send", "--port", at(printer), dir + file});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(printer.connections()[0], withFinish(stream)) << file;
    }
    LoopbackPrinter raw;
    ASSERT_EQ(unconfirmed({"send", "--raw", "--port", at(raw), dir + "/l.txt"}).status, 0);
    auto text = readWholeFile(dir + "/l.txt", 1 << 20);
    ASSERT_TRUE(text);
    EXPECT_EQ(raw.connections()[0], withFinish(*text));

    LoopbackPrinter empty;
    ASSERT_EQ(unconfirmed({"send", "--raw", "--port", at(empty), test::writeTempFile("empty.bit", {})}).status, 0);
    EXPECT_EQ(empty.connections()[0], withFinish({}));
}

TEST(NvlogoTransfer, RefusedInputOpensNoConnection) {
    LoopbackPrinter printer;
    const std::string notText = test::writeTempFile("bad.txt", {'h', 'e', 'l', 'l', 'o'});
    const std::vector<std::vector<std::string>> cases = {
        {"upload", "--port", at(printer), "--capacity", "1000", example("shop-logo.bmp")},
        {"upload", "--port", at(printer), example("badge.bmp"), test::tempDir() + "/missing.bmp"},
        {"send", "--port", at(printer), notText},
        {"send", "--port", at(printer), test::tempDir() + "/missing.bit"},
        {"send", "--port", at(printer), test::writeTempFile("none.bit", {})},
        {"send", "--port", at(printer), test::writeTempFile("hello.bit", {'h', 'e', 'l', 'l', 'o'})},
        {"send", "--port", at(printer), test::writeTempFile("hello.txt", {'6', '8', ' ', '6', '5'})},
        {"print", "--range", "1-300", "--port", at(printer)},
        {"print", "--range", "abc", "--port", at(printer)},
        {"print", "--scale", "huge", "--port", at(printer)},
        {"erase", "--confirm", "maybe", "--port", at(printer)},
        {"erase", "--port", "127.0.0.1:99999"},
        {"erase", "--port", "COM13"},
        {"erase"},
        // NV graphics that cannot be carried out as asked.
        {"upload", "--family", "auto", "--confirm", "off", "-p", at(printer), example("line-drawing.bmp")},
        {"upload", "--keys", "01", "-p", at(printer), example("line-drawing.bmp")},
        {"upload", "--family", "graphics", "--keys", "01,02", "-p", at(printer), example("line-drawing.bmp")},
        {"upload", "--family", "graphics", "--keys", "0", "-p", at(printer), example("line-drawing.bmp")},
        {"upload", "--family", "graphics", "--capacity", "3015", "-p", at(printer), example("line-drawing.bmp")},
        {"print", "--family", "graphics", "--confirm", "off", "-p", at(printer)},
        {"print", "--family", "graphics", "--range", "1", "-p", at(printer)},
        {"save", "--family", "auto", "-o", "-", example("line-drawing.bmp")},
    };
    for (const auto& args : cases) {
        Outcome r = nvlogo(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args.back() << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(printer.accepted(), 0u);
    // Within capacity it goes through.
    EXPECT_EQ(nvlogo({"upload", "--port", at(printer), "--capacity", "20000", example("shop-logo.bmp")}).status, 0);
}

TEST(NvlogoTransfer, UnreachablePrintersFailWithinTheirBounds) {
    Outcome refused = nvlogo({"erase", "--port", "127.0.0.1:" + std::to_string(LoopbackPrinter::closedPort())});
    EXPECT_EQ(refused.status, 1);
    EXPECT_LT(refused.seconds, 3.5);
    EXPECT_TRUE(holds(refused.err, ": connect: Connection refused"));

    LoopbackPrinter silent(LoopbackPrinter::Behaviour::NeverAccept);
    Outcome timedOut = nvlogo({"erase", "--port", at(silent)});
    EXPECT_EQ(timedOut.status, 1);
    EXPECT_GT(timedOut.seconds, 2.5);
    EXPECT_LT(timedOut.seconds, 5.0);
}

TEST(NvlogoTransfer, PrintersThatDropOrStopReadingAreFailures) {
    // Large enough that neither side's buffers can hold it all.
    std::vector<std::string> upload = {"upload", "--port", ""};
    for (int i = 0; i < 60; ++i) upload.push_back(example("shop-logo.bmp"));

    LoopbackPrinter dropper(LoopbackPrinter::Behaviour::ResetAfter, 20000);
    upload[2] = at(dropper);
    Outcome reset = nvlogo(upload);
    EXPECT_EQ(reset.status, 1) << reset.out;
    EXPECT_EQ(reset.out, "");

    // One block, all taken by the socket before the printer drops the connection: only the finishing
    // exchange can tell.
    const std::string file = test::tempDir() + "/dropped.bit";
    ASSERT_EQ(nvlogo({"save", "-o", file, example("shop-logo.bmp"), example("badge.bmp")}).status, 0);
    LoopbackPrinter early(LoopbackPrinter::Behaviour::ResetAfter, 2000);
    Outcome sent = nvlogo({"send", "--port", at(early), file});
    EXPECT_EQ(sent.status, 1) << sent.out;

    LoopbackPrinter staller(LoopbackPrinter::Behaviour::Stall);
    upload[2] = at(staller);
    Outcome stalled = nvlogo(upload);
    EXPECT_EQ(stalled.status, 1) << stalled.out;
    EXPECT_LT(stalled.seconds, 10.0);
}

// --- serial and parallel devices: pseudo-terminals, FIFOs and files stand in for the ports ---------------

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

TEST(NvlogoSerial, TheLineIsSetAsAskedAndTheStreamArrivesThenStatusBackOff) {
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp")};
    const struct {
        std::vector<std::string> args; // --confirm off and --port follow
        std::string prefix;            // of the device's path
        Bytes bytes;                   // when not empty
        speed_t speed;
        bool rtscts, xonxoff;
    } cases[] = {
        // The default line: 19200 bit/s, no flow control.
        {{"upload", "-H", "error-diffusion", logos[0], logos[1]}, "", saved(logos, ErrorDiffusion, 5), B19200},
        {{"erase", "--baud", "115200", "--flow", "rtscts"},
         "serial:",
         {0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30, 0x1D, 0x56, 0x42, 0x01},
         B115200,
         true},
        {{"print", "--baud", "2400", "--flow", "xonxoff"}, "", {}, B2400, false, true},
    };
    for (const auto& c : cases) {
        PtyPrinter printer;
        ASSERT_FALSE(printer.path().empty());
        printer.start();
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--confirm", "off", "--port", c.prefix + printer.path()});
        const Outcome r = nvlogo(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Bytes got = printer.stop();
        if (!c.bytes.empty()) {
            EXPECT_EQ(got, withFinish(c.bytes)) << args[0];
        }
        const termios t = printer.settings();
        EXPECT_EQ(::cfgetospeed(&t), c.speed) << args[0];
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.rtscts) << args[0];
        EXPECT_EQ((t.c_iflag & IXON) != 0, c.xonxoff) << args[0];
    }
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
    EXPECT_EQ(printer.stop(), dle1 + stream + withFinish(gsr));
    EXPECT_EQ(noPaper.stop(), (Bytes{0x10, 0x04, 0x01, 0x10, 0x04, 0x02, 0x10, 0x04, 0x04}));
}

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

    const std::string fifo = dir + "/stuck-lp";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int full = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(full, 0);
    const Bytes chunk(4096, 0x55);
    while (::write(full, chunk.data(), chunk.size()) > 0) {
    }
    Outcome stuck = nvlogo({"erase", "--port", "parallel:" + fifo});
    EXPECT_EQ(stuck.status, 1);
    EXPECT_LT(stuck.seconds, 5.0);
    ::close(full);
    ::unlink(fifo.c_str());
}

TEST(NvlogoSerial, RefusedLineOptionsOpenNothing) {
    PtyPrinter printer;
    printer.start();
    const std::vector<std::vector<std::string>> cases = {
        {"erase", "--baud", "12345", "--port", printer.path()},
        {"erase", "--baud", "fast", "--port", printer.path()},
        {"erase", "--baud", "", "--port", printer.path()},
        {"erase", "--flow", "dsrdtr", "--port", printer.path()},
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
