// The USB printer's logic against a scripted device layer: which devices are taken, the pieces, the bytes at
// the end of a transfer for each family, a piece failing in the middle, the reconnect thread, and a transfer
// confirmed through it.

#include "port/usb_printer.h"

#include "printer/confirmed_transfer.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <numeric>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Ms = std::chrono::milliseconds;
using namespace std::chrono_literals;

const std::string kA700 = "\\\\?\\usb#vid_0525&pid_a700#5&1234#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string kA702 = "\\\\?\\usb#vid_0525&pid_a702#5&77#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string k811E = "\\\\?\\usb#vid_0fe6&pid_811e#6&9#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string kOther = "\\\\?\\usb#vid_04b8&pid_0202#7&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

class FakeUsbLayer : public UsbDeviceLayer {
  public:
    // What a test changes or reads while the reconnect thread may run goes through the mutex.
    mutable std::mutex m;
    std::vector<UsbInterface> devices;
    int presentCalls = 0;
    std::vector<std::string> refuse; // paths whose probe or open fails
    bool isLoaded = false;
    std::string opened;
    Bytes sent;
    std::vector<Ms> limits; // one for each piece
    int failPiece = -1;     // this piece (0-based, counted over the layer's life) fails
    int purges = 0;
    std::deque<Bytes> answers; // one bulk IN transfer each; none: the read times out
    bool noAnswerChannel = false;
    bool answersRequests = false; // like a printer: an answer only once a status request was written
    int requests = 0;

    static UsbInterface byPath(const std::string& p) { return {p, 0, 0, false}; }
    static UsbInterface byIds(std::uint16_t v, std::uint16_t p) { return {"1-" + std::to_string(v), v, p, true}; }
    template <class F> auto locked(F f) const {
        std::lock_guard l(m);
        return f();
    }
    bool refused(const std::string& p) const { return std::find(refuse.begin(), refuse.end(), p) != refuse.end(); }

    bool load() override { return isLoaded = true; }
    void unload() override { isLoaded = false; }
    bool loaded() const override { return isLoaded; }
    std::vector<UsbInterface> present() override {
        std::lock_guard l(m);
        ++presentCalls;
        return devices;
    }
    bool probe(const UsbInterface& d) override { return !refused(d.path); }
    bool open(const UsbInterface& d) override {
        if (!refused(d.path)) opened = d.path;
        return !refused(d.path);
    }
    bool isOpen() const override { return !opened.empty(); }
    void close() override { opened.clear(); }
    void purge() override { ++purges; }
    std::optional<std::size_t> writePiece(std::span<const std::uint8_t> piece, Ms limit) override {
        limits.push_back(limit);
        if (static_cast<int>(limits.size()) - 1 == failPiece) return std::nullopt;
        sent.insert(sent.end(), piece.begin(), piece.end());
        requests += piece.size() == 3 && (piece[0] == 0x10 || piece[0] == 0x1D); // DLE EOT n, GS r n
        return piece.size();
    }
    std::optional<std::size_t> readPiece(std::span<std::uint8_t> b, Ms limit) override {
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
};

struct UsbTest : ::testing::Test {
    FakeUsbLayer layer;
    CUsbPrinter usb{layer, [](Ms) {}};

    void plug(std::vector<UsbInterface> devices) {
        layer.locked([&] { layer.devices = std::move(devices); });
    }
    void openA700() {
        layer.devices = {FakeUsbLayer::byPath(kA700)};
        ASSERT_EQ(usb.open("USB", 7), 0);
    }

    // Waits up to 3 s for the condition, for the reconnect thread's 500 ms polls.
    template <class F> bool eventually(F f) {
        for (int i = 0; i < 300 && !f(); ++i)
            std::this_thread::sleep_for(10ms);
        return f();
    }
};

TEST_F(UsbTest, OnlyTheAcceptedModelsAreTakenAndTheFirstThatOpensWins) {
    // Capitals spell another path.
    std::string shouted = kA700;
    shouted.replace(4, 3, "USB");
    layer.devices = {FakeUsbLayer::byPath(kOther), FakeUsbLayer::byPath(shouted)};
    EXPECT_EQ(usb.open("USB", 7), CUsbPrinter::kNoDevice);
    EXPECT_TRUE(layer.opened.empty());

    layer.devices = {FakeUsbLayer::byPath(kOther), FakeUsbLayer::byPath(kA700), FakeUsbLayer::byPath(kA702)};
    layer.refuse = {kA700};
    EXPECT_EQ(usb.open("USB", 7), CUsbPrinter::kOpened);
    EXPECT_EQ(layer.opened, kA702);
    EXPECT_FALSE(usb.reEnablesStatus());
    usb.closeDevice();

    // libusb names devices by their numbers; one more pair can be accepted.
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
    openA700();
    Bytes block(2500);
    std::iota(block.begin(), block.end(), 0);
    EXPECT_TRUE(usb.write(block));
    EXPECT_EQ(layer.sent, block);
    EXPECT_EQ(layer.limits, (std::vector<Ms>{Ms(300 * 1024 + 500), Ms(300 * 1024 + 500), Ms(300 * 452 + 500)}));
}

TEST_F(UsbTest, AFailedPieceEndsTheWriteAndTheReconnectThreadPollsEvenAfterAClose) {
    openA700();
    layer.failPiece = 1; // unplugged during the second piece
    plug({});
    EXPECT_FALSE(usb.write(Bytes(3000, 0x55)));
    EXPECT_EQ(layer.limits.size(), 2u) << "the failed piece is not retried and nothing after it is sent";
    EXPECT_TRUE(layer.opened.empty());
    EXPECT_TRUE(usb.reconnecting());
    // While it is missing the writes fail and no second thread starts.
    EXPECT_FALSE(usb.write(Bytes{1}));
    // The thread's first poll finds nothing, which drops the open flag; a close then leaves it polling.
    ASSERT_TRUE(eventually([&] { return layer.locked([&] { return layer.presentCalls >= 2; }); }));
    ASSERT_TRUE(eventually([&] { return !usb.isOpen(); }));
    EXPECT_EQ(usb.closeDevice(), CUsbPrinter::kNothingOpen);
    EXPECT_TRUE(usb.reconnecting());

    plug({FakeUsbLayer::byPath(kA700)});
    ASSERT_TRUE(eventually([&] { return !usb.reconnecting(); }));
    EXPECT_TRUE(usb.isOpen());
    EXPECT_EQ(layer.opened, kA700);
    EXPECT_TRUE(usb.write(Bytes{9, 9}));
    EXPECT_EQ(usb.closeDevice(), CUsbPrinter::kClosed);
}

TEST_F(UsbTest, AnswersComeFromTheAnswerChannelAndALongTransferIsKeptForTheNextRead) {
    openA700();
    layer.answers = {{0x12}, {0x5F, 'V', 'P', '1', 0x00}};
    std::uint8_t buffer[3];
    for (std::size_t count : {1, 3, 2, 0})
        EXPECT_EQ(usb.read(buffer, 500ms).value(), count);
    EXPECT_EQ(buffer[1], 0x00);
    layer.noAnswerChannel = true;
    EXPECT_EQ(usb.read(buffer, 500ms).error().message, "read: no bulk IN endpoint");
}

// A whole transfer, confirmed or not: what is sent before, after or instead of the stream; the bytes at the
// end, the pauses and the purge depend on the family.
TEST(UsbTransfer, EachFamilyAndAnswerGivesItsBytesAndResult) {
    const Bytes erase = {0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30, 0x1D, 0x56, 0x42, 0x01}, dle1 = {0x10, 0x04, 0x01},
                gsr = {0x1D, 0x72, 0x01}, finish = {0x1D, 0x61, 0x00, 0x00},
                finishOn = {0x1D, 0x61, 0x00, 0x1D, 0x61, 0xFF, 0x00};
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        const std::string& path;
        ConfirmMode mode;
        std::deque<Bytes> answers;
        TransferResultKind kind;
        Bytes bytes;
        std::vector<Ms> pauses;
    } rows[] = {
        {kA700, ConfirmMode::Off, {}, TransferResultKind::NotConfirmed, cat({erase, finish}), {700ms}},
        {k811E, ConfirmMode::Off, {}, TransferResultKind::NotConfirmed, cat({erase, finishOn}), {100ms, 2000ms, 700ms}},
        {kA700,
         ConfirmMode::Auto,
         {{0x12}, {0x00}},
         TransferResultKind::Confirmed,
         cat({dle1, erase, gsr, finish}),
         {700ms}},
        {kA700, ConfirmMode::Auto, {}, TransferResultKind::NotConfirmed, cat({dle1, erase, finish}), {700ms}},
        // Not even the device's last byte.
        {kA700, ConfirmMode::Required, {}, TransferResultKind::Failed, dle1, {700ms}},
    };
    for (const auto& row : rows) {
        FakeUsbLayer layer;
        layer.devices = {FakeUsbLayer::byPath(row.path)};
        layer.answers = row.answers;
        layer.answersRequests = true;
        std::vector<Ms> slept;
        auto record = [&](Ms d) { slept.push_back(d); };
        CUsbPrinter usb(layer, record);
        CNVUploadCtrl ctrl(PortSet{.usb = &usb}, record);
        const TransferReport r =
            runConfirmedTransfer(ctrl, PortSettings{.portName = "USB"},
                                 [](CNVUploadCtrl& c) { return c.eraseNvImages(); }, {row.mode, false, "usb", {}});
        EXPECT_EQ(r.kind, row.kind) << r.message;
        EXPECT_EQ(layer.sent, row.bytes) << r.message;
        EXPECT_EQ(r.streamBytes, row.kind == TransferResultKind::Failed ? 0u : erase.size());
        EXPECT_EQ(slept, row.pauses) << r.message;
        EXPECT_EQ(layer.purges, 1);
        EXPECT_TRUE(layer.opened.empty());
        EXPECT_FALSE(layer.isLoaded);
    }
}

} // namespace
} // namespace tessera
