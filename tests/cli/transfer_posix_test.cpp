// nvlogo's transfer commands over loopback TCP: the bytes that reach the printer, and every way a transfer
// can fail being reported as a failure within its time bound.

#include "cli/nvlogo.h"

#include "base/file_io.h"
#include "printer/nv_upload_ctrl.h"
#include "support/bmp_writer.h"
#include "support/loopback_printer_posix.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace tessera {
namespace {

using test::example;
using test::nvlogo;
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
    {
        LoopbackPrinter printer;
        Outcome r =
            unconfirmed({"upload", "-H", "error-diffusion", "-b", "7", "--port", at(printer), logos[0], logos[1]});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("uploaded 2 logos"), std::string::npos) << r.out;
        ASSERT_EQ(printer.connections().size(), 1u);
        EXPECT_EQ(printer.connections()[0], withFinish(saved(logos, ErrorDiffusion, 7)));
    }
    const Bytes cut = {0x1D, 0x56, 0x42, 0x01};
    const struct {
        std::vector<std::string> args;
        Bytes bytes;
    } cases[] = {
        {{"erase"}, {0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30}},
        {{"print", "--range", "2-4", "--scale", "double"}, {0x1C, 0x70, 2, 0x33, 0x1C, 0x70, 3, 0x33, 0x1C, 0x70, 4, 0x33}},
        {{"print", "--range", "9,1-2"}, {0x1C, 0x70, 9, 0x30, 0x1C, 0x70, 1, 0x30, 0x1C, 0x70, 2, 0x30}},
    };
    for (const auto& c : cases) {
        LoopbackPrinter printer;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--port", "tcp:" + at(printer)});
        ASSERT_EQ(unconfirmed(args).status, 0) << args[0];
        Bytes expected = c.bytes;
        expected.insert(expected.end(), cut.begin(), cut.end());
        EXPECT_EQ(printer.connections()[0], withFinish(expected)) << args[0];
    }
    LoopbackPrinter printer;
    ASSERT_EQ(unconfirmed({"print", "--port", at(printer)}).status, 0);
    const Bytes got = printer.connections()[0];
    ASSERT_EQ(got.size(), 255u * 4 + 4 + 3);
    EXPECT_EQ(Bytes(got.begin() + 254 * 4, got.begin() + 255 * 4), (Bytes{0x1C, 0x70, 0xFF, 0x30}));
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
    EXPECT_NE(refused.err.find(": connect: Connection refused"), std::string::npos) << refused.err;

    LoopbackPrinter silent(LoopbackPrinter::Behaviour::NeverAccept);
    Outcome timedOut = nvlogo({"erase", "--port", at(silent)});
    EXPECT_EQ(timedOut.status, 1);
    EXPECT_GT(timedOut.seconds, 2.5);
    EXPECT_LT(timedOut.seconds, 5.0);

    Outcome unknownHost = nvlogo({"erase", "--port", "no-such-printer.invalid"});
    EXPECT_EQ(unknownHost.status, 1);
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

} // namespace
} // namespace tessera
