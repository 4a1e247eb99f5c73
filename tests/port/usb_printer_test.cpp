// The USB printer's logic against a scripted device layer: which devices are taken, the pieces, the bytes at
// the end of a transfer for each family, a piece failing in the middle, the reconnect thread, and a transfer
// confirmed through it.

#include "port/usb_printer.h"

#include "port/port_dispatcher.h"
#include "printer/confirmed_transfer.h"
#include "serial_fake_layer.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const std::string kA700 = "\\\\?\\usb#vid_0525&pid_a700#5&1234#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string kA702 = "\\\\?\\usb#vid_0525&pid_a702#5&77#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string k811E = "\\\\?\\usb#vid_0fe6&pid_811e#6&9#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string kOther = "\\\\?\\usb#vid_04b8&pid_0202#7&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

class FakeUsbLayer : public UsbDeviceLayer {
  public:
    // Everything a test changes while the reconnect thread may run goes through the mutex.
    mutable std::mutex m;
    std::vector<UsbInterface> devices;
    std::vector<std::string> refuse; // paths whose probe or open fails
    bool loadOk = true;
    bool isLoaded = false;
    bool legacyPlatform = false;
    std::string opened;
    std::vector<Bytes> pieces;
    std::vector<std::chrono::milliseconds> limits;
    int failPiece = -1; // this piece (0-based, counted over the layer's life) fails
    int presentCalls = 0, purges = 0, closes = 0, unloads = 0;

    static UsbInterface byPath(const std::string& p) { return {p, 0, 0, false}; }
    static UsbInterface byIds(std::uint16_t v, std::uint16_t p) { return {"1-" + std::to_string(v), v, p, true}; }

    bool load() override {
        std::lock_guard l(m);
        isLoaded = loadOk;
        return loadOk;
    }
    void unload() override {
        std::lock_guard l(m);
        isLoaded = false;
        ++unloads;
    }
    bool loaded() const override {
        std::lock_guard l(m);
        return isLoaded;
    }
    bool legacy() const override { return legacyPlatform; }
    std::vector<UsbInterface> present() override {
        std::lock_guard l(m);
        ++presentCalls;
        return devices;
    }
    bool refused(const std::string& p) const { return std::find(refuse.begin(), refuse.end(), p) != refuse.end(); }
    bool probe(const UsbInterface& d) override {
        std::lock_guard l(m);
        return !refused(d.path);
    }
    bool open(const UsbInterface& d) override {
        std::lock_guard l(m);
        if (refused(d.path)) return false;
        opened = d.path;
        return true;
    }
    bool isOpen() const override {
        std::lock_guard l(m);
        return !opened.empty();
    }
    void close() override {
        std::lock_guard l(m);
        opened.clear();
        ++closes;
    }
    std::optional<std::size_t> writePiece(std::span<const std::uint8_t> piece, std::chrono::milliseconds limit) override {
        std::lock_guard l(m);
        const int index = static_cast<int>(pieces.size());
        pieces.emplace_back(piece.begin(), piece.end());
        limits.push_back(limit);
        if (index == failPiece) return std::nullopt;
        requests += piece.size() == 3 && (piece[0] == 0x10 || piece[0] == 0x1D); // DLE EOT n, GS r n
        return piece.size();
    }
    void purge() override {
        std::lock_guard l(m);
        ++purges;
    }
    std::deque<Bytes> answers; // one bulk IN transfer each; none: the read times out
    bool noAnswerChannel = false;
    bool answersRequests = false; // like a printer: an answer only once a status request was written
    int requests = 0;
    std::optional<std::size_t> readPiece(std::span<std::uint8_t> b, std::chrono::milliseconds limit) override {
        if (noAnswerChannel) return std::nullopt;
        if (answers.empty() || (answersRequests && requests == 0)) {
            std::this_thread::sleep_for(std::min(limit, 10ms)); // a reader polling to its deadline must not spin
            return 0;
        }
        requests -= answersRequests;
        const std::size_t n = std::min(b.size(), answers.front().size());
        std::copy_n(answers.front().begin(), n, b.begin());
        answers.pop_front();
        return n;
    }
    std::string lastError() const override { return noAnswerChannel ? "read: no bulk IN endpoint" : ""; }

    Bytes all() const {
        std::lock_guard l(m);
        Bytes out;
        for (const Bytes& p : pieces)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    }
};

struct UsbTest : ::testing::Test {
    FakeUsbLayer layer;
    std::vector<std::chrono::milliseconds> pauses;
    CUsbPrinter usb{layer, [this](std::chrono::milliseconds d) { pauses.push_back(d); }};

    void plug(std::vector<UsbInterface> devices) {
        std::lock_guard l(layer.m);
        layer.devices = std::move(devices);
    }
    // An open printer whose next piece fails because it was unplugged.
    void openThenUnplug() {
        layer.devices = {FakeUsbLayer::byPath(kA700)};
        ASSERT_EQ(usb.open("USB", 7), 0);
        layer.failPiece = static_cast<int>(layer.pieces.size());
        plug({});
    }

    // Waits up to 3 s for the condition, for the reconnect thread's 500 ms polls.
    template <class F>
    bool eventually(F f) {
        for (int i = 0; i < 300; ++i) {
            if (f()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return f();
    }
};

TEST_F(UsbTest, OnlyTheAcceptedModelsAreTakenAndTheFirstThatOpensWins) {
    layer.devices = {FakeUsbLayer::byPath(kOther)};
    EXPECT_EQ(usb.open("USB", 7), CUsbPrinter::kNoDevice);
    EXPECT_EQ(layer.presentCalls, 1);
    EXPECT_TRUE(layer.opened.empty());

    // Capitals spell another path.
    std::string shouted = kA700;
    shouted.replace(4, 3, "USB");
    layer.devices = {FakeUsbLayer::byPath(shouted)};
    EXPECT_EQ(usb.open("USB", 7), CUsbPrinter::kNoDevice);

    layer.devices = {FakeUsbLayer::byPath(kOther), FakeUsbLayer::byPath(kA700), FakeUsbLayer::byPath(kA702)};
    layer.refuse = {kA700};
    EXPECT_EQ(usb.open("USB", 7), CUsbPrinter::kOpened);
    EXPECT_EQ(layer.opened, kA702);
    EXPECT_FALSE(usb.reEnablesStatus());
    usb.closeDevice();

    // libusb names devices by their numbers; one more pair can be accepted.
    layer.refuse.clear();
    layer.devices = {FakeUsbLayer::byIds(0x04B8, 0x0202), FakeUsbLayer::byIds(0x0FE6, 0x811E)};
    EXPECT_EQ(usb.open("USB", 7), CUsbPrinter::kOpened);
    EXPECT_EQ(layer.opened, "1-" + std::to_string(0x0FE6));
    EXPECT_TRUE(usb.reEnablesStatus());
    usb.closeDevice();
    layer.devices = {FakeUsbLayer::byIds(0x04B8, 0x0202)};
    usb.acceptAlso(0x04B8, 0x0202);
    EXPECT_EQ(usb.open("USB", 7), CUsbPrinter::kOpened);
    EXPECT_FALSE(usb.reEnablesStatus());
}

TEST_F(UsbTest, BlocksGoInPiecesOf1024EachWithItsOwnTimeLimit) {
    layer.devices = {FakeUsbLayer::byPath(kA700)};
    ASSERT_EQ(usb.open("USB", 7), 0);
    const Bytes block = test::sequence(2500);
    EXPECT_TRUE(usb.write(block));
    ASSERT_EQ(layer.pieces.size(), 3u);
    EXPECT_EQ(layer.pieces[0].size(), 1024u);
    EXPECT_EQ(layer.pieces[1].size(), 1024u);
    EXPECT_EQ(layer.pieces[2].size(), 452u);
    EXPECT_EQ(layer.all(), block);
    EXPECT_EQ(layer.limits[0], std::chrono::milliseconds(300 * 1024 + 500));
    EXPECT_EQ(layer.limits[2], std::chrono::milliseconds(300 * 452 + 500));
}

// A whole transfer through the dispatcher: the last bytes, pauses and purge depend on the family.
TEST_F(UsbTest, TransfersEndWithTheBytesOfTheirFamily) {
    struct Case {
        std::string path;
        Bytes tail;
        std::vector<std::chrono::milliseconds> pauses;
    } cases[] = {
        {kA700, {0x1D, 0x61, 0x00, 0x00}, {700ms}},
        {k811E, {0x1D, 0x61, 0x00, 0x1D, 0x61, 0xFF, 0x00}, {100ms, 2000ms, 700ms}},
    };
    for (const Case& c : cases) {
        FakeUsbLayer l;
        l.devices = {FakeUsbLayer::byPath(c.path)};
        std::vector<std::chrono::milliseconds> slept;
        auto record = [&](std::chrono::milliseconds d) { slept.push_back(d); };
        CUsbPrinter printer(l, record);
        PortDispatcher dispatcher(PortSet{.usb = &printer}, record);
        ASSERT_EQ(dispatcher.OpenPort("USB", 7, 0, 0, 0, 0), 0);
        const Bytes body = {0x1B, 0x40, 0x1C, 0x71, 0x00};
        ASSERT_EQ(dispatcher.SendBytes(body.data(), body.size()), 1);
        EXPECT_EQ(dispatcher.FinishPort(), 0);
        Bytes expected = body;
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(l.all(), expected) << c.path;
        EXPECT_EQ(slept, c.pauses) << c.path;
        EXPECT_EQ(l.purges, 1);
        EXPECT_TRUE(l.opened.empty());
        EXPECT_FALSE(l.isLoaded);
    }
}

TEST_F(UsbTest, AFailedPieceEndsTheWriteAtOnceAndTheReconnectThreadFindsThePrinterAgain) {
    openThenUnplug();
    layer.failPiece = 1;
    EXPECT_FALSE(usb.write(Bytes(3000, 0x55)));
    EXPECT_EQ(layer.pieces.size(), 2u) << "the failed piece is not retried and nothing after it is sent";
    EXPECT_TRUE(layer.opened.empty());
    EXPECT_TRUE(usb.reconnecting());
    // While it is missing the writes fail and no second thread starts.
    EXPECT_FALSE(usb.write(Bytes{1}));

    plug({FakeUsbLayer::byPath(kA700)});
    ASSERT_TRUE(eventually([&] { return !usb.reconnecting(); }));
    EXPECT_TRUE(usb.isOpen());
    EXPECT_EQ(layer.opened, kA700);
    EXPECT_TRUE(usb.write(Bytes{9, 9}));
    EXPECT_EQ(usb.closeDevice(), CUsbPrinter::kClosed);
}

TEST_F(UsbTest, ClosingWhileThePrinterIsMissingLeavesTheThreadPolling) {
    openThenUnplug();
    EXPECT_FALSE(usb.write(Bytes(10)));
    // The thread's first poll finds nothing, which drops the open flag.
    ASSERT_TRUE(eventually([&] {
        std::lock_guard l(layer.m);
        return layer.presentCalls >= 2;
    }));
    ASSERT_TRUE(eventually([&] { return !usb.isOpen(); }));
    EXPECT_EQ(usb.closeDevice(), CUsbPrinter::kNothingOpen);
    EXPECT_TRUE(usb.reconnecting());
    plug({FakeUsbLayer::byPath(kA700)});
    ASSERT_TRUE(eventually([&] { return !usb.reconnecting(); }));
    EXPECT_EQ(layer.opened, kA700);

    // The next open stops any thread and replaces the handle itself.
    EXPECT_EQ(usb.open("USB", 7), 0);
    EXPECT_FALSE(usb.reconnecting());
}

TEST_F(UsbTest, AnswersComeFromTheAnswerChannelAndALongTransferIsKeptForTheNextRead) {
    layer.devices = {FakeUsbLayer::byPath(kA700)};
    ASSERT_EQ(usb.open("USB", 7), 0);
    layer.answers = {{0x12}, {0x5F, 'V', 'P', '1', 0x00}};
    std::uint8_t buffer[3];
    for (std::size_t count : {1, 3, 2, 0}) {
        auto got = usb.read(buffer, 500ms);
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, count);
    }
    EXPECT_EQ(buffer[1], 0x00);
    layer.noAnswerChannel = true;
    EXPECT_EQ(usb.read(buffer, 500ms).error().message, "read: no bulk IN endpoint");
    // A status query sends nothing but its questions: not even the last byte 00.
    usb.setTrailingByte(false);
    usb.closeDevice();
    EXPECT_TRUE(layer.all().empty());
}

// Each way the printer answers a confirmed transfer: what is sent before, after or instead of the stream.
TEST(UsbConfirmation, EachAnswerGivesItsBytesAndResult) {
    const Bytes erase = {0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30, 0x1D, 0x56, 0x42, 0x01}, dle1 = {0x10, 0x04, 0x01},
                gsr = {0x1D, 0x72, 0x01}, finish = {0x1D, 0x61, 0x00, 0x00};
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        ConfirmMode mode;
        std::deque<Bytes> answers;
        TransferResultKind kind;
        Bytes bytes;
    } rows[] = {
        {ConfirmMode::Off, {}, TransferResultKind::NotConfirmed, cat({erase, finish})},
        {ConfirmMode::Auto, {{0x12}, {0x00}}, TransferResultKind::Confirmed, cat({dle1, erase, gsr, finish})},
        {ConfirmMode::Auto, {}, TransferResultKind::NotConfirmed, cat({dle1, erase, finish})},
        {ConfirmMode::Required, {}, TransferResultKind::Failed, dle1}, // not even the device's last byte
    };
    for (const auto& row : rows) {
        FakeUsbLayer layer;
        layer.devices = {FakeUsbLayer::byPath(kA700)};
        layer.answers = row.answers;
        layer.answersRequests = true;
        CUsbPrinter usb(layer, [](std::chrono::milliseconds) {});
        CNVUploadCtrl ctrl(PortSet{.usb = &usb}, [](std::chrono::milliseconds) {});
        const TransferReport r =
            runConfirmedTransfer(ctrl, PortSettings{.portName = "USB"},
                                 [](CNVUploadCtrl& c) { return c.eraseNvImages(); }, {row.mode, false, "usb", {}});
        EXPECT_EQ(r.kind, row.kind) << r.message;
        EXPECT_EQ(layer.all(), row.bytes) << r.message;
        EXPECT_EQ(r.streamBytes, row.kind == TransferResultKind::Failed ? 0u : erase.size());
    }
}

} // namespace
} // namespace tessera
