// Confirmed transfers over the USB printer and a scripted device: what is sent before, after and instead of
// the stream for each way the printer answers, and what the transfer is reported as.

#include "printer/confirmed_transfer.h"

#include "support/fake_usb_layer.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

using test::Bytes;
using Kind = TransferResultKind;

const std::string kPrinter = "\\\\?\\usb#vid_0525&pid_a700#5&1234#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const Bytes kErase = {0x1C, 0x65, 0x1C, 0x70, 0xE8, 0x30, 0x1D, 0x56, 0x42, 0x01};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Sent {
    TransferReport report;
    Bytes bytes;
};

Sent transfer(ConfirmMode mode, std::deque<Bytes> answers, bool print = false) {
    test::FakeUsbLayer layer;
    layer.devices = {test::FakeUsbLayer::byPath(kPrinter)};
    layer.answersRequests = true;
    layer.answers = std::move(answers);
    auto noSleep = [](std::chrono::milliseconds) {};
    CUsbPrinter usb(layer, noSleep);
    CNVUploadCtrl ctrl(PortSet{nullptr, nullptr, nullptr, &usb, nullptr}, noSleep);
    PortSettings settings;
    settings.portName = "USB";
    const TransferReport r = runConfirmedTransfer(ctrl, settings, [](CNVUploadCtrl& c) { return c.eraseNvImages(); },
                                                  {mode, print, "usb", {}});
    return {r, layer.all()};
}

TEST(ConfirmedTransfer, EachAnswerOverUsbGivesItsBytesAndResult) {
    // What an unconfirmed transfer sends after its stream (GS a 0 and the device's own ending).
    const Bytes off = transfer(ConfirmMode::Off, {}).bytes;
    ASSERT_EQ(Bytes(off.begin(), off.begin() + 10), kErase);
    const Bytes finish(off.begin() + 10, off.end());
    const Bytes dle1 = {0x10, 0x04, 0x01}, dle2 = {0x10, 0x04, 0x02}, dle3 = {0x10, 0x04, 0x03},
                dle4 = {0x10, 0x04, 0x04}, gsr = {0x1D, 0x72, 0x01};
    const struct {
        ConfirmMode mode;
        bool print;
        std::deque<Bytes> answers;
        Kind kind;
        std::string message;
        Bytes bytes;
    } rows[] = {
        {ConfirmMode::Auto, false, {{0x12}, {0x00}}, Kind::Confirmed, "", cat({dle1, kErase, gsr, finish})},
        {ConfirmMode::Required,
         true,
         {{0x12}, {0x12}, {0x12}, {0x00}},
         Kind::Confirmed,
         "",
         cat({dle1, dle2, dle4, kErase, gsr, finish})},
        {ConfirmMode::Auto,
         false,
         {},
         Kind::NotConfirmed,
         "the printer does not answer status requests",
         cat({dle1, kErase, finish})},
        {ConfirmMode::Required,
         false,
         {},
         Kind::Failed,
         "nothing sent, --confirm required: the printer does not answer status requests",
         dle1},
        {ConfirmMode::Auto,
         false,
         {{0x1A}, {0x36}, {0x52}},
         Kind::Failed,
         "the printer is offline: the cover is open, the paper is at its end and it reports an auto-recoverable "
         "error",
         cat({dle1, dle2, dle3})},
        {ConfirmMode::Auto,
         true,
         {{0x12}, {0x16}, {0x72}},
         Kind::Failed,
         "nothing printed: the cover is open and the paper is at its end",
         cat({dle1, dle2, dle4})},
    };
    for (const auto& row : rows) {
        const Sent s = transfer(row.mode, row.answers, row.print);
        EXPECT_EQ(s.report.kind, row.kind) << row.message;
        EXPECT_EQ(s.report.message, row.message);
        EXPECT_EQ(s.bytes, row.bytes) << row.message;
        const bool streamed = s.bytes.size() > 9;
        EXPECT_EQ(s.report.streamStarted, streamed) << row.message;
        EXPECT_EQ(s.report.streamBytes, streamed ? kErase.size() : 0u) << row.message;
    }
}

TEST(ConfirmedTransfer, TheBoundGrowsWithTheStream) {
    EXPECT_EQ(confirmationBound(0).count(), 5000);
    EXPECT_EQ(confirmationBound(10240).count(), 6000);
    EXPECT_EQ(confirmationBound(15689).count(), 6533);
}

} // namespace
} // namespace tessera
