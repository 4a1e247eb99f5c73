// The nvlogo-printer executable (a stream over a loopback socket, restarts, fault injection, its command
// line), and nvlogo against it: confirmations, status, NV graphics and rollouts.

#include "cli/nvlogo.h"
#include "printer/logo_files.h"
#include "support/bmp_writer.h"
#include "support/loopback_printer_posix.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"
#include "tools/nvlogo_printer/graphics_store.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

extern char** environ;

namespace tessera {
namespace {

using test::example;
using test::freshDir;
using test::holds;
using test::nvlogo;
using test::operator+;
using test::LoopbackPrinter;
using test::Outcome;
using test::slurp;
using test::slurpText;

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// Starts nvlogo-printer with these arguments, its standard output and error written to the files named
// (an empty name: inherited).
pid_t startPrinter(std::vector<std::string> args, const std::string& out, const std::string& err = "") {
    args.insert(args.begin(), NVLOGO_PRINTER_PATH);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, path] : {std::pair{1, out}, std::pair{2, err}})
        if (!path.empty())
            posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int exitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// nvlogo-printer in a process of its own, listening on a free loopback port, with its files and its log
// (DIR/log) in a directory of its own; stopped by its PID.
class Printer {
  public:
    Printer(const std::string& directory, std::vector<std::string> more = {})
        : dir(directory), nv(directory + "/nv.bit") {
        fs::create_directories(dir);
        std::vector<std::string> args = {"--listen", "localhost:0", "--nv",         nv,
                                         "--out",    dir + "/out",  "--ready-file", dir + "/ready"};
        args.insert(args.end(), more.begin(), more.end());
        pid_ = startPrinter(args, dir + "/log");
        for (int i = 0; i < 1000 && !fs::exists(dir + "/ready"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        address = slurpText(dir + "/ready");
        if (!address.empty()) address.pop_back();
        if (const auto colon = address.find(':'); colon != std::string::npos)
            port = std::stoi(address.substr(colon + 1));
    }
    ~Printer() { EXPECT_EQ(stop(), 0); }

    std::string log() const { return slurpText(dir + "/log"); }
    // Waits up to 10 s for a line of the log that starts with text.
    bool waitFor(const std::string& text) const {
        for (int i = 0; i < 1000; ++i) {
            const std::string l = log();
            if (l.rfind(text, 0) == 0 || l.find("\n" + text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Stops it (SIGTERM) once; its exit status.
    int stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            status_ = exitStatus(pid_);
            pid_ = -1;
            EXPECT_FALSE(fs::exists(dir + "/ready")) << "the ready file outlived the printer";
        }
        return status_;
    }

    std::string dir, nv, address; // address: 127.0.0.1:N
    int port = 0;

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

struct Finished {
    int status;
    std::string out, err;
};

Finished run(const std::vector<std::string>& args) {
    const std::string out = test::tempDir() + "/run.out", err = test::tempDir() + "/run.err";
    const int status = exitStatus(startPrinter(args, out, err));
    return {status, slurpText(out), slurpText(err)};
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << std::strerror(errno);
    const timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

void sendBytes(int fd, const Bytes& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

// Reads until the end of the stream; returns what came, or the error of the read that failed.
std::pair<Bytes, int> readAll(int fd) {
    Bytes got;
    std::uint8_t chunk[256];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return {got, n < 0 ? errno : 0};
        got.insert(got.end(), chunk, chunk + n);
    }
}

// Sends the bytes, ends the sending side and reads what comes back until the printer closes.
std::pair<Bytes, int> exchange(int port, const Bytes& bytes) {
    const int fd = connectTo(port);
    sendBytes(fd, bytes);
    ::shutdown(fd, SHUT_WR);
    auto got = readAll(fd);
    ::close(fd);
    return got;
}

const Bytes kImage = {0x01, 0x00, 0x01, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0x01}; // 8 x 8, two corner dots

TEST(NvlogoPrinter, PrintsAndKeepsImagesAcrossARestart) {
    const std::string dir = freshDir("server");
    {
        Printer server(dir);
        EXPECT_EQ(server.address.rfind("127.0.0.1:", 0), 0u) << server.address;
        EXPECT_TRUE(server.waitFor("listening on " + server.address));
        const int idle = connectTo(server.port); // a second client must not wait for this one
        const Bytes stream = Bytes{0x1B, 0x40, 0x1D, 0x61, 0x01, 0x1C, 0x71, 0x01} + kImage +
                             Bytes{0x1C, 0x70, 0x01, 0x31, 0x1D, 0x56, 0x00, 0x1C, 0x70, 0x01, 0x00};
        EXPECT_EQ(exchange(server.port, stream), std::make_pair(Bytes{0x10, 0x00, 0x00, 0x00}, 0));
        ASSERT_TRUE(server.waitFor("connection 2 closed"));
        for (const char* line : {"GS a 1 automatic status on\n", "FS p print image 1 scaling 1 (double width)\n",
                                 "wrote print-0001.png (576 x 8 dots)\n", "wrote print-0002.png (576 x 8 dots)\n"})
            EXPECT_TRUE(holds(server.log(), line));
        // A stop executes what an open connection has sent and cuts its paper.
        sendBytes(idle, {0x1C, 0x70, 0x01, 0x00});
        EXPECT_EQ(server.stop(), 0);
        ::close(idle);
        EXPECT_TRUE(holds(server.log(), "FS p print image 1 scaling 0 (normal)\nwrote print-0003.png (576 x 8 dots)\n"
                                        "connection 1 closed by the shutdown after 4 bytes\nstopped\n"));
    }
    EXPECT_EQ(slurp(dir + "/nv.bit"), (Bytes{0x1B, 0x40, 0x1C, 0x71, 0x01} + kImage));

    // The next start prints what the last one stored; an erase empties the file.
    Printer again(dir);
    EXPECT_EQ(exchange(again.port, {0x1C, 0x70, 0x01, 0x00, 0x1C, 0x65}).second, 0);
    EXPECT_TRUE(again.waitFor("wrote print-0004.png (576 x 8 dots)"));
    EXPECT_TRUE(again.waitFor("FS e erase all NV images"));
    EXPECT_EQ(fs::file_size(again.nv), 0u);
}

TEST(NvlogoPrinter, InjectsFaults) {
    const std::string dir = freshDir("faults");
    {
        Printer server(dir + "/close", {"--close-after", "6", "--quiet"});
        // Exactly the bytes the server reads: with any left unread, even a plain close would send a reset.
        EXPECT_EQ(exchange(server.port, {0x1B, 0x40, 0x1C, 0x71, 0x01, 0x01}).second, ECONNRESET);
        ASSERT_TRUE(server.waitFor("FS q error: the connection ended inside image 1 of 1"));
        server.stop();
        EXPECT_EQ(server.log().find("connection 1"), std::string::npos) << "quiet: errors only";
        EXPECT_EQ(server.log().find("ESC @"), std::string::npos) << "quiet: errors only";
        EXPECT_EQ(fs::file_size(server.nv), 0u);
    }
    {
        Printer server(dir + "/idle", {"--idle-timeout", "1"});
        const int fd = connectTo(server.port);
        EXPECT_EQ(readAll(fd), std::make_pair(Bytes{}, 0)); // closed, not reset
        ::close(fd);
        EXPECT_TRUE(server.waitFor("connection 1 closed, silent for 1 s, after 0 bytes"));
    }
    {
        Printer server(dir + "/refuse", {"--refuse"});
        const int fd = connectTo(server.port);
        EXPECT_EQ(readAll(fd).second, ECONNRESET);
        ::close(fd);
        EXPECT_TRUE(server.waitFor("connection 1 from 127.0.0.1:"));
    }
    Printer server(dir + "/stall", {"--stall-after", "2"});
    const int fd = connectTo(server.port);
    sendBytes(fd, {0x1B, 0x40, 0x1B, 0x40});
    ASSERT_TRUE(server.waitFor("connection 1 stalled"));
    // The server reads no more, so the socket buffers fill up and a non-blocking send stops.
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    const Bytes block(1 << 20, 0x00);
    std::size_t sent = 0;
    ssize_t n;
    while (sent < (std::size_t(256) << 20) && (n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL)) > 0)
        sent += std::size_t(n);
    EXPECT_LT(sent, std::size_t(256) << 20);
    // A FIN would queue behind the unsent bytes; a reset reaches the server at once.
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
    ASSERT_TRUE(server.waitFor("connection 1 closed after the stall after 2 bytes"));
    const std::string log = server.log();
    EXPECT_EQ(log.find("ESC @"), log.rfind("ESC @"));
}

TEST(NvlogoPrinter, CommandLineErrorsAndDecode) {
    const std::string dir = freshDir("printer-cli"), nv = dir + "/nv.bit", out = dir + "/out";
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--listen", "127.0.0.1:0"}, 2},
        {{"--listen", "127.0.0.1:0", "--nv", nv, "--out", out, "--capacity", "-1"}, 2},
        {{"--listen", "10.0.0.1:9100", "--nv", "x", "--out", "y"}, 2},
        {{"--listen", "127.0.0.1:0", "--nv", dir + "/missing/nv.bit", "--out", out}, 1},
        {{"--listen", "127.0.0.1:0", "--nv", nv, "--out", out, "--ready-file", dir + "/no/r"}, 1},
    };
    for (const auto& c : cases) {
        const Finished r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(run({"--version"}).out.rfind("nvlogo-printer ", 0), 0u);
    test::writeTempFile("printer-cli/nv.bit", {0x1B, 0x40, 0x1C, 0x71, 0x01, 0x01});
    const Finished bad = run({"--listen", "127.0.0.1:0", "--nv", nv, "--out", out});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(holds(bad.err, nv));

    const Bytes bit = Bytes{0x1B, 0x40, 0x1C, 0x71, 0x02} + kImage + kImage;
    const std::string txt = test::writeTempFile("printer-cli/logos.txt", formatLogoFile(bit, HEX));
    const std::string decoded = dir + "/decoded";
    const Finished r = run({"decode", txt, "--out", decoded});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "wrote " + decoded + "/image-001.png (8 x 8 dots)\nwrote " + decoded + "/image-002.png (8 x 8 dots)\n");
    EXPECT_EQ(run({"decode", txt, "--out", decoded}).status, 2) << "the images of two files would mix";
    EXPECT_EQ(run({"decode", txt, "--out", decoded, "--force"}).status, 0);
}

TEST(NvlogoWithVirtualPrinter, EachPrinterConfirmsOrFailsOnItsOwn) {
    const std::string dir = freshDir("each-printer");
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp"),
                                            example("line-drawing.bmp")};
    ASSERT_EQ(nvlogo({"save", "-o", dir + "/expected.bit", logos[0], logos[1], logos[2]}).status, 0);
    const Bytes expected = slurp(dir + "/expected.bit");
    const std::string done = ": uploaded 3 logos, " + std::to_string(expected.size()) + " bytes";
    const std::string after = " after " + std::to_string(expected.size()) + " bytes\n";
    const struct {
        std::vector<std::string> options;
        std::string line; // after the port
    } rows[] = {
        {{}, done + ", confirmed\n"},
        {{"--model", "bit-image"}, done + ", confirmed\n"},
        {{"--model", "mute"}, done + ", not confirmed: the printer does not answer status requests\n"},
        // The whole upload fits in the sockets' buffers: only the missing confirmation can tell.
        {{"--stall-after", "2000"}, ": the printer stopped answering" + after},
        {{"--capacity", "1000"}, ": the printer reports an auto-recoverable error" + after},
        {{"--cover", "open"}, ": the printer is offline: the cover is open\n"},
    };
    std::vector<std::unique_ptr<Printer>> servers;
    std::vector<std::string> upload = {"upload"};
    for (const auto& row : rows) {
        servers.push_back(std::make_unique<Printer>(dir + "/" + std::to_string(servers.size()), row.options));
        upload.insert(upload.end(), {"--port", servers.back()->address});
    }
    upload.insert(upload.end(), logos.begin(), logos.end());
    const Outcome r = nvlogo(upload);
    const std::string output = r.out + r.err;
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.seconds, 9.0) << "5 s plus 1 s per 10 KB after the stream, then one more question";
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_TRUE(holds(output, servers[i]->address + rows[i].line));
    EXPECT_EQ(slurp(servers[0]->nv), expected);

    // Required: a printer that never answers is sent nothing of the stream.
    Printer mute(dir + "/mute", {"--model", "mute"});
    EXPECT_EQ(nvlogo({"erase", "--confirm", "required", "--port", mute.address}).status, 1);
    mute.stop();
    EXPECT_TRUE(holds(mute.log(), "DLE EOT 1 not answered (mute)\nconnection 1 closed"));
}

Outcome status(const std::string& port) {
    return nvlogo({"status", "--json", "--port", port});
}

TEST(NvlogoStatus, ReportsThePrintersSettingsAndWhatItIs) {
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> reported;
    } cases[] = {
        {{},
         {R"("answers": true, "online": true, "paper": "ok", "cover": "closed", "errors": [], "maker": "Tessera", )"
          R"("model": "Virtual 80", "firmware": ")",
          R"(, "nv_graphics": {"capacity": 262144, "free": 262144, "keys": []}})"}},
        {{"--paper", "near-end", "--cover", "open", "--graphics-capacity", "1000", "--model", "graphics"},
         {R"("online": false, "paper": "near-end", "cover": "open", "errors": ["offline", "cover-open"])",
          R"("nv_graphics": {"capacity": 1000, "free": 1000, "keys": []})"}},
        {{"--model", "bit-image"}, {R"("answers": true)", R"("nv_graphics": null})"}},
    };
    for (const auto& c : cases) {
        Printer server(freshDir("status"), c.options);
        const Outcome r = status(server.address);
        EXPECT_EQ(r.status, 0) << r.out;
        for (const std::string& part : c.reported)
            EXPECT_TRUE(holds(r.out, part));
        EXPECT_TRUE(holds(r.out, "\"serial\": \"VP" + std::to_string(server.port) + "\""));
    }
}

TEST(NvlogoStatus, APrinterThatDoesNotAnswerIsReportedWithinASecond) {
    LoopbackPrinter silent; // reads and never answers
    const Outcome r = status("127.0.0.1:" + std::to_string(silent.port()));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(holds(r.out, R"("answers": false, "online": null)"));
    EXPECT_LT(r.seconds, 1.0);
    EXPECT_EQ(silent.connections()[0], (Bytes{0x10, 0x04, 0x01})) << "nothing but the question";
}

// --- NV graphics ---------------------------------------------------------------------------------------

TEST(NvlogoGraphics, UploadKeepRefuseAndDeleteByKey) {
    const std::vector<std::string> logos = {example("shop-logo.bmp"), example("badge.bmp"),
                                            example("line-drawing.bmp")};
    Printer printer(freshDir("graphics-printer"), {"--model", "graphics", "--graphics-capacity", "20000"});
    const auto store = [&] { return slurp(printer.dir + "/nv.bit.graphics"); };
    const auto keys = [&] { return vp::parseGraphicsFile(store())->keys(); };
    const auto upload = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"upload", "-H", "indexed-order", "-p", printer.address});
        return nvlogo(args);
    };
    Outcome r = upload({"--family", "graphics", logos[0], logos[1], logos[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(holds(r.out, "uploaded 3 logos as NV graphics"));
    EXPECT_TRUE(holds(r.out, ", confirmed"));
    // What arrived is exactly what save writes; the store's file holds the defines as they came.
    const std::string saved = printer.dir + "/saved.bit";
    ASSERT_EQ(nvlogo({"save", "--family", "graphics", "--keep", "-H", "indexed-order", "-o", saved, logos[0], logos[1],
                      logos[2]})
                  .status,
              0);
    EXPECT_EQ(store(), slurp(saved));

    ASSERT_EQ(upload({"--family", "graphics", "--keep", "--keys", "x2C41", logos[2]}).status, 0);
    EXPECT_EQ(keys(), (std::vector<std::string>{",A", "01", "02", "03"}));
    const auto before = store();
    r = upload({"--family", "auto", "--keep", "--keys", "05,06", logos[0], logos[1]});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(holds(r.err, "nothing sent: the logos need "));
    EXPECT_TRUE(holds(r.err, " are free"));
    EXPECT_EQ(store(), before);

    r = nvlogo({"erase", "--family", "graphics", "--keys", "02,x2C41", "-p", printer.address});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(keys(), (std::vector<std::string>{"01", "03"}));
    r = nvlogo({"print", "--family", "graphics", "--scale", "double", "-p", printer.address});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(printer.dir + "/out/print-0001.png"));

    Printer bitImage(freshDir("bit-image-printer"), {"--model", "bit-image"});
    r = nvlogo({"upload", "--family", "auto", "-p", bitImage.address, "-p", printer.address, logos[0]});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(holds(r.out, bitImage.address + ": uploaded 1 logo as NV bit images"));
    EXPECT_TRUE(holds(r.out, printer.address + ": uploaded 1 logo as NV graphics"));
}

// --- rollouts: the report, retries, and the ledger that spares printers already holding the stream ------

TEST(Rollout, ReportsEveryPrinterAndTheLedgerSparesThoseThatConfirmed) {
    const std::string dir = freshDir("rollout");
    Printer a(dir + "/a"), b(dir + "/b");
    const std::string gone = "127.0.0.1:" + std::to_string(LoopbackPrinter::closedPort());
    std::ofstream(dir + "/fleet.txt") << "# till printers\n"
                                      << a.address << "\tStore 1\n"
                                      << b.address << "\n"
                                      << gone << "\tGone\n";
    const std::string logo = example("badge.bmp"), ledger = dir + "/ledger.json";
    const std::vector<std::string> upload = {
        "upload",   "--ports-from", dir + "/fleet.txt", "--retries",     "1", "--retry-wait", "0",
        "--ledger", ledger,         "--report",         dir + "/report", logo};
    Outcome r = nvlogo(upload);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string report = slurpText(dir + "/report");
    EXPECT_TRUE(
        holds(report, R"({"port": ")" + a.address + R"(", "name": "Store 1", "result": "confirmed", "bytes": 1161, )"));
    EXPECT_TRUE(holds(report, R"({"port": ")" + gone + R"(", "name": "Gone", "result": "failed", "bytes": 0, )"));
    EXPECT_TRUE(holds(report, R"("attempts": 2, "error": "connect: Connection refused", "status": null})"));
    EXPECT_TRUE(holds(r.err, "3 printers: 2 confirmed, 1 failed\n"));

    const auto written = fs::last_write_time(a.nv);
    std::vector<std::string> again = upload;
    again.insert(again.end() - 1, "--skip-unchanged");
    r = nvlogo(again);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(holds(r.out, a.address + ": skipped: unchanged since "));
    EXPECT_TRUE(holds(r.err, "3 printers: 1 failed, 2 skipped\n"));
    EXPECT_EQ(fs::last_write_time(a.nv), written) << "nothing sent to a printer that holds the stream";

    // An erase takes the entry away, so the next upload is sent again.
    EXPECT_EQ(nvlogo({"erase", "--port", a.address, "--ledger", ledger}).status, 0);
    r = nvlogo({"upload", "--port", a.address, "--ledger", ledger, "--skip-unchanged", logo});
    EXPECT_TRUE(holds(r.out, a.address + ": uploaded 1 logo, 1161 bytes, confirmed"));

    // A damaged ledger, or one in use, stops the rollout before anything is sent, and stays as it was.
    std::ofstream(ledger) << R"({"printers": {)";
    r = nvlogo(upload);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(ledger + ": damaged ledger ("), std::string::npos) << r.err;
    EXPECT_EQ(slurpText(ledger), R"({"printers": {)");
    const std::string inventory = slurpText(dir + "/fleet.txt");
    EXPECT_EQ(nvlogo({"status", "--ports-from", dir + "/fleet.txt", "--report", dir + "/./fleet.txt"}).status, 2);
    EXPECT_EQ(slurpText(dir + "/fleet.txt"), inventory) << "a report must not truncate the inventory";
}

TEST(Rollout, RetriesAPrintoutOnlyWhenNoneOfItWasSent) {
    const std::string dir = freshDir("rollout-retry");
    Printer resets(dir + "/resets", {"--close-after", "11"}); // after the status requests and 2 stream bytes
    const std::string gone = "127.0.0.1:" + std::to_string(LoopbackPrinter::closedPort());
    const struct {
        std::string command, port;
        const char* attempts;
    } cases[] = {
        {"print", gone, R"("attempts": 2)"},
        {"print", resets.address, R"("attempts": 1)"},
        {"erase", resets.address, R"("attempts": 2)"},
    };
    for (const auto& c : cases) {
        Outcome r = nvlogo({c.command, "--port", c.port, "--retries", "1", "--retry-wait", "0", "--report", "-"});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(holds(r.out, c.attempts));
    }
}

} // namespace
} // namespace tessera
