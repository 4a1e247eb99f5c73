// The nvlogo-printer executable: a stream over a loopback socket, restarts, fault injection, the command line.

#include "base/file_io.h"
#include "cli/nvlogo.h"
#include "printer/logo_files.h"
#include "support/bmp_writer.h"
#include "support/loopback_printer_posix.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"
#include "tools/nvlogo_printer/virtual_printer.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

extern char** environ;

namespace tessera {
namespace {

using test::freshDir;
using test::nvlogo;
using test::Outcome;
using test::slurp;

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

pid_t spawn(std::vector<std::string> args, posix_spawn_file_actions_t* actions) {
    args.insert(args.begin(), NVLOGO_PRINTER_PATH);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], actions, nullptr, argv.data(), environ), 0);
    return pid;
}

int exitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Finished {
    int status;
    std::string out, err;
};

Finished run(const std::vector<std::string>& args) {
    const std::string dir = test::tempDir();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir + "/run.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "/run.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int status = exitStatus(spawn(args, &actions));
    posix_spawn_file_actions_destroy(&actions);
    const Bytes out = slurp(dir + "/run.out"), err = slurp(dir + "/run.err");
    return {status, {out.begin(), out.end()}, {err.begin(), err.end()}};
}

// The server as a child process, its log collected as it comes. Its args must name a --ready-file last.
class Server {
  public:
    explicit Server(std::vector<std::string> args) : ready_(args.back()) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        pid_ = spawn(std::move(args), &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        reader_ = std::thread([this, fd = fds[0]] {
            char chunk[4096];
            ssize_t n;
            while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
                std::lock_guard lock(mutex_);
                log_.append(chunk, static_cast<std::size_t>(n));
                changed_.notify_all();
            }
            ::close(fd);
        });
        EXPECT_TRUE(waitFor("listening on 127.0.0.1:"));
        port = std::atoi(log().c_str() + std::string("listening on 127.0.0.1:").size());
        const Bytes ready = slurp(ready_);
        EXPECT_EQ(std::string(ready.begin(), ready.end()), "127.0.0.1:" + std::to_string(port) + "\n");
    }
    ~Server() { EXPECT_EQ(stop(), 0); }

    // Waits for a line that starts with text.
    bool waitFor(const std::string& text) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(
            lock, 10s, [&] { return log_.rfind(text, 0) == 0 || log_.find("\n" + text) != std::string::npos; });
    }
    std::string log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    int stop() {
        if (pid_ < 0) return status_;
        ::kill(pid_, SIGTERM);
        status_ = exitStatus(pid_);
        pid_ = -1;
        reader_.join();
        EXPECT_FALSE(fs::exists(ready_)) << "the ready file outlived the server";
        return status_;
    }

    int port = 0;

  private:
    std::string ready_;
    pid_t pid_ = -1;
    int status_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string log_;
};

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

const Bytes kImage = {0x01, 0x00, 0x01, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0x01}; // 8 x 8, two corner dots

struct Files {
    std::string dir = freshDir("server");
    std::string nv = dir + "/nv.bit";
    std::string out = dir + "/out";
    std::vector<std::string> args(std::vector<std::string> more = {}) const {
        std::vector<std::string> a = {"--listen", "localhost:0", "--nv", nv, "--out", out};
        a.insert(a.end(), more.begin(), more.end());
        static int servers = 0; // each its own ready file
        a.insert(a.end(), {"--ready-file", dir + "/ready-" + std::to_string(++servers)});
        return a;
    }
};

TEST(NvlogoPrinter, PrintsAndKeepsImagesAcrossARestart) {
    const Files files;
    {
        Server server(files.args());
        const int idle = connectTo(server.port); // a second client must not wait for this one
        const int fd = connectTo(server.port);
        Bytes stream = {0x1B, 0x40, 0x1D, 0x61, 0x01, 0x1C, 0x71, 0x01};
        stream.insert(stream.end(), kImage.begin(), kImage.end());
        stream.insert(stream.end(), {0x1C, 0x70, 0x01, 0x31, 0x1D, 0x56, 0x00, 0x1C, 0x70, 0x01, 0x00});
        sendBytes(fd, stream);
        ::shutdown(fd, SHUT_WR);
        EXPECT_EQ(readAll(fd), std::make_pair(Bytes{0x10, 0x00, 0x00, 0x00}, 0));
        ::close(fd);
        ASSERT_TRUE(server.waitFor("connection 2 closed"));
        for (const char* line : {"GS a 1 automatic status on\n", "FS p print image 1 scaling 1 (double width)\n",
                                 "wrote print-0001.png (576 x 8 dots)\n", "wrote print-0002.png (576 x 8 dots)\n"})
            EXPECT_NE(server.log().find(line), std::string::npos) << line;
        // A stop executes what an open connection has sent and cuts its paper.
        sendBytes(idle, {0x1C, 0x70, 0x01, 0x00});
        EXPECT_EQ(server.stop(), 0);
        ::close(idle);
        EXPECT_NE(server.log().find("FS p print image 1 scaling 0 (normal)\nwrote print-0003.png (576 x 8 dots)\n"
                                    "connection 1 closed by the shutdown after 4 bytes\nstopped\n"),
                  std::string::npos)
            << server.log();
    }
    Bytes nv = {0x1B, 0x40, 0x1C, 0x71, 0x01};
    nv.insert(nv.end(), kImage.begin(), kImage.end());
    EXPECT_EQ(slurp(files.nv), nv);

    const Bytes png = slurp(files.out + "/print-0001.png");
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), int(png.size()), &w, &h, &channels, 1);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 576);
    EXPECT_EQ(h, 8);
    EXPECT_EQ(pixels[0] + pixels[1], 0); // the top-left dot, twice as wide
    EXPECT_EQ(pixels[2], 255);
    EXPECT_EQ(pixels[7 * 576 + 14] + pixels[7 * 576 + 15], 0);
    stbi_image_free(pixels);

    // The next start prints what the last one stored.
    Server again(files.args());
    const int fd = connectTo(again.port);
    sendBytes(fd, {0x1C, 0x70, 0x01, 0x00});
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(readAll(fd).second, 0);
    ::close(fd);
    EXPECT_TRUE(again.waitFor("wrote print-0004.png (576 x 8 dots)"));
}

TEST(NvlogoPrinter, InjectsFaults) {
    const Files files;
    {
        Server server(files.args({"--close-after", "6", "--quiet"}));
        const int fd = connectTo(server.port);
        // Exactly the bytes the server reads: with any left unread, even a plain close would send a reset.
        sendBytes(fd, {0x1B, 0x40, 0x1C, 0x71, 0x01, 0x01});
        EXPECT_EQ(readAll(fd).second, ECONNRESET);
        ::close(fd);
        ASSERT_TRUE(server.waitFor("FS q error: the connection ended inside image 1 of 1"));
        server.stop();
        EXPECT_EQ(server.log().find("connection 1"), std::string::npos) << "quiet: errors only";
        EXPECT_EQ(server.log().find("ESC @"), std::string::npos) << "quiet: errors only";
        EXPECT_EQ(fs::file_size(files.nv), 0u);
    }
    {
        Server server(files.args({"--idle-timeout", "1"}));
        const int fd = connectTo(server.port);
        EXPECT_EQ(readAll(fd), std::make_pair(Bytes{}, 0)); // closed, not reset
        ::close(fd);
        EXPECT_TRUE(server.waitFor("connection 1 closed, silent for 1 s, after 0 bytes"));
    }
    {
        Server server(files.args({"--refuse"}));
        const int fd = connectTo(server.port);
        EXPECT_EQ(readAll(fd).second, ECONNRESET);
        ::close(fd);
        EXPECT_TRUE(server.waitFor("connection 1 from 127.0.0.1:"));
    }
    {
        Server server(files.args({"--stall-after", "2"}));
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
}

TEST(NvlogoPrinter, CommandLineErrorsAndDecode) {
    const Files files;
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--listen", "127.0.0.1:0"}, 2},
        {files.args({"--capacity", "-1"}), 2},
        {{"--listen", "10.0.0.1:9100", "--nv", "x", "--out", "y"}, 2},
        {{"--listen", "127.0.0.1:0", "--nv", files.dir + "/missing/nv.bit", "--out", files.out}, 1},
        {{"--listen", "127.0.0.1:0", "--nv", files.nv, "--out", files.out, "--ready-file", files.dir + "/no/r"}, 1},
    };
    for (const auto& c : cases) {
        const Finished r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(run({"--version"}).out.rfind("nvlogo-printer ", 0), 0u);
    test::writeTempFile("server/nv.bit", {0x1B, 0x40, 0x1C, 0x71, 0x01, 0x01});
    const Finished bad = run(files.args());
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find(files.nv), std::string::npos) << bad.err;

    Bytes bit = {0x1B, 0x40, 0x1C, 0x71, 0x02};
    for (int i = 0; i < 2; ++i)
        bit.insert(bit.end(), kImage.begin(), kImage.end());
    const std::string txt = test::writeTempFile("server/logos.txt", formatLogoFile(bit, HEX));
    const std::string out = files.dir + "/decoded";
    const Finished decoded = run({"decode", txt, "--out", out});
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.out,
              "wrote " + out + "/image-001.png (8 x 8 dots)\nwrote " + out + "/image-002.png (8 x 8 dots)\n");
    EXPECT_EQ(run({"decode", txt, "--out", out}).status, 2) << "the images of two files would mix";
    EXPECT_EQ(run({"decode", txt, "--out", out, "--force"}).status, 0);
}

// --- nvlogo against the virtual printer ----------------------------------------------------------------

std::vector<std::string> sampleLogos() {
    return {test::example("shop-logo.bmp"), test::example("badge.bmp"), test::example("line-drawing.bmp")};
}

TEST(NvlogoWithVirtualPrinter, UploadPrintAndEraseReachTheNvMemory) {
    Files files;
    Server server(files.args());
    const std::string port = "127.0.0.1:" + std::to_string(server.port);
    std::vector<std::string> upload = {"upload", "-H", "indexed-order", "-b", "3", "--port", port};
    for (const auto& l : sampleLogos()) upload.push_back(l);
    ASSERT_EQ(nvlogo(upload).status, 0);
    ASSERT_TRUE(server.waitFor("GS a 0"));

    std::vector<std::string> save = {"save", "-H", "indexed-order", "-b", "3", "-o", files.dir + "/expected.bit"};
    for (const auto& l : sampleLogos()) save.push_back(l);
    ASSERT_EQ(nvlogo(save).status, 0);
    EXPECT_EQ(slurp(files.nv), slurp(files.dir + "/expected.bit"));

    ASSERT_EQ(nvlogo({"print", "--range", "2-3", "--scale", "double-wide", "--port", port}).status, 0);
    ASSERT_TRUE(server.waitFor("wrote print-0001.png"));
    int w = 0, h = 0, n = 0;
    unsigned char* png = stbi_load((files.out + "/print-0001.png").c_str(), &w, &h, &n, 1);
    ASSERT_NE(png, nullptr);
    stbi_image_free(png);
    EXPECT_EQ(w, 576);
    EXPECT_EQ(h, 96 + 120); // badge and line drawing, double width only

    ASSERT_EQ(nvlogo({"erase", "--port", port}).status, 0);
    ASSERT_TRUE(server.waitFor("FS e"));
    EXPECT_EQ(fs::file_size(files.nv), 0u);
}

TEST(NvlogoWithVirtualPrinter, FaultsEndAsFailuresAndKeepTheOldImages) {
    std::vector<std::string> upload = {"upload", "--port", ""};
    for (int i = 0; i < 20; ++i)
        upload.push_back(test::example("shop-logo.bmp"));
    {
        Files files;
        ASSERT_EQ(nvlogo({"save", "-o", files.nv, test::example("badge.bmp")}).status, 0);
        const Bytes before = slurp(files.nv);
        Server server(files.args({"--close-after", "5000"}));
        upload[2] = "127.0.0.1:" + std::to_string(server.port);
        EXPECT_EQ(nvlogo(upload).status, 1);
        server.stop();
        EXPECT_EQ(slurp(files.nv), before) << "a cut-off definition leaves the stored images";
    }
    {
        Files files;
        Server server(files.args({"--refuse"}));
        EXPECT_EQ(nvlogo({"erase", "--port", "127.0.0.1:" + std::to_string(server.port)}).status, 1);
    }
}

TEST(NvlogoWithVirtualPrinter, EachPrinterConfirmsOrFailsOnItsOwn) {
    Files files;
    const std::vector<std::string> logos = sampleLogos();
    ASSERT_EQ(nvlogo({"save", "-o", files.dir + "/expected.bit", logos[0], logos[1], logos[2]}).status, 0);
    const Bytes expected = slurp(files.dir + "/expected.bit");
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
    std::vector<std::unique_ptr<Server>> servers;
    std::vector<std::string> upload = {"upload"};
    for (const auto& row : rows) {
        servers.push_back(std::make_unique<Server>(files.args(row.options)));
        upload.insert(upload.end(), {"--port", "127.0.0.1:" + std::to_string(servers.back()->port)});
    }
    upload.insert(upload.end(), logos.begin(), logos.end());
    const Outcome r = nvlogo(upload);
    const std::string output = r.out + r.err;
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.seconds, 9.0) << "5 s plus 1 s per 10 KB after the stream, then one more question";
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_NE(output.find("127.0.0.1:" + std::to_string(servers[i]->port) + rows[i].line), std::string::npos)
            << rows[i].line << output;
    EXPECT_EQ(slurp(files.nv), expected);

    // Required: a printer that never answers is sent nothing of the stream.
    Server mute(files.args({"--model", "mute"}));
    EXPECT_EQ(nvlogo({"erase", "--confirm", "required", "--port", "127.0.0.1:" + std::to_string(mute.port)}).status, 1);
    mute.stop();
    EXPECT_NE(mute.log().find("DLE EOT 1 not answered (mute)\nconnection 1 closed"), std::string::npos) << mute.log();
}

// --- nvlogo status ----------------------------------------------------------------------------------------

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
        {{"--paper", "end"}, {R"("paper": "end", "cover": "closed", "errors": ["offline", "paper-end-stop"])"}},
        {{"--model", "bit-image"}, {R"("answers": true)", R"("nv_graphics": null})"}},
    };
    for (const auto& c : cases) {
        Files files;
        Server server(files.args(c.options));
        const Outcome r = status("127.0.0.1:" + std::to_string(server.port));
        EXPECT_EQ(r.status, 0) << r.out;
        for (const std::string& part : c.reported)
            EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
        EXPECT_NE(r.out.find("\"serial\": \"VP" + std::to_string(server.port) + "\""), std::string::npos) << r.out;
    }
}

TEST(NvlogoStatus, APrinterThatDoesNotAnswerIsReportedWithinASecond) {
    test::LoopbackPrinter silent; // reads and never answers
    Files files;
    Server mute(files.args({"--model", "mute"}));
    Server stalled(files.args({"--stall-after", "0"}));
    for (int port : {silent.port(), mute.port, stalled.port}) {
        const Outcome r = status("127.0.0.1:" + std::to_string(port));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(R"("answers": false, "online": null)"), std::string::npos) << r.out;
        EXPECT_LT(r.seconds, 1.0);
    }
    EXPECT_EQ(silent.connections()[0], (Bytes{0x10, 0x04, 0x01})) << "nothing but the question";
}

} // namespace
} // namespace tessera
