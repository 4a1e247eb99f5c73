// The reply reader over real answer sequences in arbitrary pieces, and conversations over a scripted printer.

#include "printer/printer_status.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace tessera {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const Bytes kAsb = {0x18, 0x40, 0x03, 0x00};

// A GS ( L free-capacity block holding the text.
Bytes digits(const std::string& text) {
    Bytes b(text.begin(), text.end());
    b.insert(b.begin(), {0x37, 0x31});
    b.push_back(0x00);
    return b;
}

TEST(ReplyReader, PicksTheAnswerOutOfWhatArrivesInAnyPieces) {
    const struct Case {
        const char* name;
        Query query;
        Bytes bytes;
        std::optional<std::uint8_t> byte; // a one-byte answer
        std::string text;                 // or a block's text
        bool status = false;              // kAsb kept as the latest status
    } cases[] = {
        {"DLE EOT after XON, XOFF and an ASB",
         Query::RealTimeStatus,
         {0x11, 0x18, 0x40, 0x03, 0x00, 0x13, 0x16},
         0x16,
         "",
         true},
        {"DLE EOT skips a GS r byte", Query::RealTimeStatus, {0x0C, 0x12}, 0x12},
        {"GS r takes no ASB", Query::PrinterStatus, {0x18, 0x40, 0x03, 0x00, 0x0F}, 0x0F, "", true},
        {"GS I 1 takes any byte", Query::PrinterId, {0x13, 0x37}, 0x37},
        {"GS I 66 with an unasked block first",
         Query::PrinterInfo,
         Bytes{0x37, 0x30, '9', 0x00, 0x5F, 'T', 'e', 0x00},
         {},
         "Te"},
        {"an ASB never starts inside a block", Query::PrinterInfo, {0x5F, 0x10, 0x11, 0x00}, {}, "\x10\x11"},
        {"capacity", Query::GraphicsCapacity, {0x37, 0x30, '2', '6', '2', '1', '4', '4', 0x00}, {}, "262144"},
        {"nothing asked: no answer", Query::None, {0x12, 0x00, 0x5F, 'x', 0x00}},
        {"cut short: no answer yet", Query::PrinterInfo, {0x5F, 'V', 'P'}},
    };
    for (const Case& c : cases)
        for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
            ReplyReader r;
            r.expect(c.query);
            r.feed(std::span(c.bytes).first(split));
            r.feed(std::span(c.bytes).subspan(split));
            const auto a = r.takeAnswer();
            EXPECT_EQ(a.has_value(), c.byte || !c.text.empty()) << c.name << " split at " << split;
            EXPECT_EQ(a && c.byte ? a->byte : 0, c.byte.value_or(0)) << c.name;
            EXPECT_EQ(a && !c.text.empty() ? a->text : "", c.text) << c.name;
            const auto& status = r.latestStatus();
            EXPECT_EQ(status ? Bytes(status->begin(), status->end()) : Bytes{}, c.status ? kAsb : Bytes{}) << c.name;
        }
}

TEST(ReplyReader, MalformedBlocksAreMarkedForTheHostToAskAgain) {
    const Bytes tooLong = [] {
        Bytes b = {0x5F};
        b.insert(b.end(), 300, 'a');
        b.push_back(0x00);
        return b;
    }();
    const struct {
        Query query;
        Bytes bytes;
    } cases[] = {
        {Query::GraphicsCapacity, {0x37, 0x30, '1', 'x', 0x00}},
        {Query::GraphicsFree, {0x37, 0x31, 0x00}},
        {Query::GraphicsFree, digits("99999999999999999999")},
        {Query::GraphicsFree, digits("18446744073709551616")}, // 2^64
        {Query::GraphicsKeys, {0x37, 0x72, 0x40, 'A', 0x00}},
        {Query::GraphicsKeys, {0x37, 0x72, 0x42, 0x00}},
        {Query::GraphicsKeys, {0x37, 0x72, 0x40, 'A', 0x7F, 0x00}},
        {Query::PrinterInfo, tooLong},
    };
    for (const auto& c : cases) {
        ReplyReader r;
        r.expect(c.query);
        r.feed(c.bytes);
        const auto a = r.takeAnswer();
        ASSERT_TRUE(a) << c.bytes.size();
        EXPECT_TRUE(a->malformed) << c.bytes.size();
    }
}

// A printer behind a byte sink and a reply source: each request, once written, queues its scripted answer.
struct ScriptedPrinter : ByteSink, ReplySource {
    std::map<std::string, std::deque<Bytes>> answers; // by the request's bytes
    Bytes written, pending;
    std::chrono::steady_clock::time_point now{};

    bool write(std::span<const std::uint8_t> b) override {
        written.insert(written.end(), b.begin(), b.end());
        auto& queue = answers[std::string(b.begin(), b.end())];
        if (!queue.empty()) {
            pending.insert(pending.end(), queue.front().begin(), queue.front().end());
            queue.pop_front();
        }
        return true;
    }
    Result<std::size_t> read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        if (pending.empty()) {
            now += timeout;
            return std::size_t{0};
        }
        // Three bytes a read, so that every answer comes in pieces.
        const std::size_t n = std::min({buffer.size(), pending.size(), std::size_t{3}});
        std::copy_n(pending.begin(), n, buffer.begin());
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
};

Bytes keyBlock(std::uint8_t s, const std::string& keys) {
    std::string b = "\x37\x72" + std::string(1, static_cast<char>(s)) + keys;
    Bytes out(b.begin(), b.end());
    out.push_back(0x00);
    return out;
}

TEST(PrinterConversation, AKeyListInThreeBlocksWithANakInTheMiddle) {
    ScriptedPrinter p;
    PrinterConversation c(p, p, [&] { return p.now; });
    const Bytes query = graphicsKeysRequest().bytes;
    p.answers[std::string(query.begin(), query.end())] = {keyBlock(0x41, "A1B2")};
    // The second block arrives broken, is asked for again, and comes whole.
    p.answers["\x06"] = {keyBlock(0x41, "C3\x01"), keyBlock(0x40, "E5")};
    p.answers["\x15"] = {keyBlock(0x41, "C3D4")};
    auto keys = readGraphicsKeys(c, 500ms);
    ASSERT_TRUE(keys && *keys);
    EXPECT_EQ(**keys, (std::vector<std::string>{"A1", "B2", "C3", "D4", "E5"}));
    Bytes expected = graphicsKeysRequest().bytes;
    for (std::uint8_t b : {kAck, kNak, kAck, kAck})
        expected.push_back(b);
    EXPECT_EQ(p.written, expected);
}

TEST(PrinterStatus, AnswersBecomeTheirMeaningsAndASilentPrinterIsAskedNothingMore) {
    ScriptedPrinter p;
    PrinterConversation c(p, p, [&] { return p.now; });
    const auto t0 = p.now;
    EXPECT_FALSE(queryPrinterStatus(c).answers);
    EXPECT_EQ(p.written, realTimeStatusRequest(1).bytes);
    EXPECT_EQ(p.now - t0, 500ms);

    const struct {
        std::array<std::uint8_t, 4> bytes;
        bool online;
        const char *paper, *cover;
        std::vector<std::string> errors;
    } cases[] = {
        {{0x12, 0x12, 0x12, 0x12}, true, "ok", "closed", {}},
        {{0x1A, 0x16, 0x12, 0x1E}, false, "near-end", "open", {"offline", "cover-open"}},
        {{0x1A, 0x32, 0x12, 0x12}, false, "end", "closed", {"offline", "paper-end-stop"}},
        {{0x1A, 0x52, 0x6C, 0x7E},
         false,
         "end",
         "closed",
         {"offline", "mechanical", "cutter", "unrecoverable", "auto-recoverable"}},
    };
    for (const auto& k : cases) {
        PrinterStatusReport r;
        describeRealTimeStatus({k.bytes[0], k.bytes[1], k.bytes[2], k.bytes[3]}, r);
        EXPECT_EQ(r.online, k.online);
        EXPECT_EQ(r.paper, k.paper);
        EXPECT_EQ(r.cover, k.cover);
        EXPECT_EQ(r.errors, k.errors);
    }
    PrinterStatusReport partial;
    describeRealTimeStatus({0x12, std::nullopt, 0x12, std::nullopt}, partial);
    EXPECT_FALSE(partial.paper || partial.cover || partial.errors);
}

} // namespace
} // namespace tessera
