// The command line's pieces that need no printer: how --port and --range values are read (which transport and
// device each port names, which images a range lists, what is refused), inventories and the one name of a
// printer, the ledger's text, and the fleet runner's bounds, retries and Ctrl-C, driven through a test double of
// the system.

#include "cli/fleet.h"
#include "cli/inventory.h"
#include "cli/ledger.h"
#include "cli/port_spec.h"
#include "cli/print_range.h"

#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

namespace tessera::cli {
namespace {

TEST(PortSpec, EachFormNamesItsTransportAndDevice) {
    const struct {
        const char* spec;
        PortKind kind;
        const char* device; // the host of a network port
        int tcpPort = kDefaultTcpPort;
    } cases[] = {
        {"COM1", PortKind::Serial, "COM1"},
        {"com12", PortKind::Serial, "COM12"},
        {"LPT1", PortKind::Parallel, "LPT1"},
        {"lpt2", PortKind::Parallel, "LPT2"},
        {"/dev/ttyUSB0", PortKind::Serial, "/dev/ttyUSB0"},
        {"/dev/pts/7", PortKind::Serial, "/dev/pts/7"},
        {"/dev/lp0", PortKind::Parallel, "/dev/lp0"},
        {"/dev/usb/lp1", PortKind::Parallel, "/dev/usb/lp1"},
        {"serial:/tmp/link-to-a-tty", PortKind::Serial, "/tmp/link-to-a-tty"},
        {"parallel:/tmp/capture.bin", PortKind::Parallel, "/tmp/capture.bin"},
        {"SERIAL:/tmp/x", PortKind::Serial, "/tmp/x"},
        {"serial:\\\\.\\COM15", PortKind::Serial, "\\\\.\\COM15"},
        {"usb", PortKind::Usb, ""},
        {"Usb", PortKind::Usb, ""},
        {"driver:Front desk", PortKind::Driver, "Front desk"},
        {"tcp:printer.local:9101", PortKind::Network, "printer.local", 9101},
        // Names that merely begin like a port are host names after tcp: (in any case) or with a dot.
        {"tcp:compaq-printer", PortKind::Network, "compaq-printer"},
        {"TCP:lpt-office", PortKind::Network, "lpt-office"},
        {"192.168.1.50", PortKind::Network, "192.168.1.50"},
        {"com1.example", PortKind::Network, "com1.example"},
        {"usbprinter.local", PortKind::Network, "usbprinter.local"},
        {"tcp:localhost", PortKind::Network, "localhost"},
    };
    for (const auto& c : cases) {
        auto t = parsePortSpec(c.spec);
        ASSERT_TRUE(t) << c.spec << ": " << t.error().message;
        EXPECT_EQ(t->kind, c.kind) << c.spec;
        EXPECT_EQ(t->kind == PortKind::Network ? t->host : t->device, c.device) << c.spec;
        EXPECT_EQ(t->tcpPort, c.tcpPort) << c.spec;
        EXPECT_FALSE(t->usbIds) << c.spec;
        EXPECT_EQ(t->spec, c.spec);
    }
    auto extra = parsePortSpec("usb:04B8:0e2a");
    ASSERT_TRUE(extra && extra->usbIds);
    EXPECT_EQ(*extra->usbIds, std::make_pair(std::uint16_t{0x04B8}, std::uint16_t{0x0E2A}));
}

TEST(PortSpec, RefusedForms) {
    for (const char* spec :
         {"COM0", "COM13", "COM", "COM99999999999", "LPT0", "LPT3", "USB001", "usb:0525", "usb:05250:a700",
          "usb:xyz1:a700", "driver:", "serial:", "parallel:", "/tmp/file", "/dev/null", "/dev/sda", "tcp:host:0", "",
          // no DNS query for a slip: bare words, and digits that are no IPv4 address
          "garbage", "com1x", "compaq-printer:9100", "tcp:256.1.1.1", "1.2.3", "01.2.3.4", "1.2.3.4.5", "tcp:-bad",
          "a..b", "tcp:under_score"}) {
        auto t = parsePortSpec(spec);
        EXPECT_FALSE(t) << spec;
        if (!t) {
            EXPECT_EQ(t.error().kind, ErrorKind::BadInput) << spec;
        }
    }
    EXPECT_EQ(parsePortSpec("garbage").error().message, "garbage: not a port name; use tcp:NAME for a host name");
}

// nvlogo print --range: exactly the images a person means, or a refusal.
TEST(PrintRange, ListsInTheGivenOrderAndRefusesEverythingElse) {
    const std::pair<const char*, std::vector<int>> taken[] = {
        {"7", {7}}, {"1,3,5-7", {1, 3, 5, 6, 7}}, {"9,2-3,2", {9, 2, 3, 2}}, {"255", {255}}, {"2-2", {2}}};
    for (const auto& [text, images] : taken) {
        auto r = parsePrintRange(text);
        ASSERT_TRUE(r) << text << ": " << r.error().message;
        EXPECT_EQ(*r, images) << text;
    }
    EXPECT_EQ(parsePrintRange("all")->size(), 255u);
    for (const char* text :
         {"254-257", "256", "-3", "99999999999", "abc", "0", "", "5-2", "2-2-3", "1,,3", "1,3,", "1, 3", "+4", "3-"}) {
        auto r = parsePrintRange(text);
        ASSERT_FALSE(r) << text;
        EXPECT_EQ(r.error().kind, ErrorKind::BadInput);
        EXPECT_NE(r.error().message.find(std::string("'") + text + "'"), std::string::npos) << r.error().message;
    }
}

TEST(Inventory, ReadsPrintersWithNamesAndRefusesBadLinesWithTheirPlace) {
    auto good =
        parseInventory("# shop list\r\n\n127.0.0.1:9100\tStore 12, till 3\r\n  COM3 \ndriver:Front Desk\n", "f");
    ASSERT_TRUE(good) << good.error().message;
    ASSERT_EQ(good->size(), 3u);
    EXPECT_EQ((*good)[0].name, "Store 12, till 3");
    EXPECT_EQ((*good)[0].origin, "f:3");
    EXPECT_EQ((*good)[1].device, "COM3");
    EXPECT_EQ((*good)[2].device, "Front Desk") << "an installed printer's name keeps its spaces";
    EXPECT_FALSE((*good)[2].name);

    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"127.0.0.1\n\nprinter7\n", "f:3: printer7: not a port name"},
        {"10.0.0.300\tx\n", "f:1: 10.0.0.300: not an IPv4 address"},
        {"10.0.0.1 Store 4\n", "(a name follows the port after a tab)"},
        {"COM13", "f:1: COM13: the serial ports are COM1 to COM12"},
    };
    for (const auto& c : bad) {
        auto r = parseInventory(c.text, "f");
        ASSERT_FALSE(r) << c.text;
        EXPECT_NE(r.error().message.find(c.message), std::string::npos) << r.error().message;
    }
}

TEST(Inventory, TheSamePrinterWrittenTwoWaysIsRefused) {
    const struct {
        const char *a, *b;
        bool same;
    } cases[] = {
        {"tcp:127.0.0.1", "127.0.0.1:9100", true},
        {"TCP:127.0.0.1", "tcp:127.0.0.1:9100", true},
        {"127.0.0.1:9100", "127.0.0.1:9101", false},
        {"tcp:Till-4.shop", "tcp:till-4.SHOP:9100", true},
        {"com3", "COM3", true},
        {"usb:04B8:0E15", "usb:04b8:0e15", true},
        {"usb", "usb:04b8:0e15", false},
        {"parallel:/dev/lp0", "/dev/lp0", true},
    };
    for (const auto& c : cases) {
        std::vector<PortTarget> targets{*parsePortSpec(c.a), *parsePortSpec(c.b)};
        EXPECT_EQ(!checkDistinct(targets), c.same) << c.a << " " << c.b;
    }
}

TEST(Ledger, ReadsWhatItWritesAndCallsAnythingElseDamaged) {
    const std::string digest(64, 'a');
    LedgerEntries entries{{"tcp:10.0.0.7:9100", {digest, "2026-12-07T14:02:11Z"}},
                          {"serial:COM3", {digest, ledgerTime({})}}};
    auto back = parseLedger(ledgerText(entries), "l");
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(back->at("tcp:10.0.0.7:9100").confirmed, "2026-12-07T14:02:11Z");
    EXPECT_EQ(back->at("serial:COM3").confirmed, "1970-01-01T00:00:00Z");
    EXPECT_EQ(shownTime("2026-12-07T14:02:11Z"), "2026-12-07 14:02");

    const std::string entry = R"({"sha256": ")" + digest + R"(", "confirmed": "2026-12-07T14:02:11Z"})";
    const std::string damaged[] = {
        "",
        "{}",
        R"({"printers": {"a": )" + entry + "}",                        // cut off
        R"({"printers": {"a": )" + entry + ", \"a\": " + entry + "}}", // twice
        R"({"printers": {"a": {"sha256": "abc", "confirmed": "2026-12-07T14:02:11Z"}}})",
        R"({"printers": {"a": {"sha256": ")" + digest + R"(", "confirmed": "yesterday"}}})",
        R"({"printers": {"a": 5}})",
        R"({"printers": {}} x)",
        R"({"printers": {"a\u00e9": {}}})",
    };
    for (const std::string& text : damaged) {
        auto r = parseLedger(text, "l");
        ASSERT_FALSE(r) << text;
        EXPECT_EQ(r.error().message.rfind("l: damaged ledger (", 0), 0u) << r.error().message;
    }
    EXPECT_TRUE(parseLedger(R"( {"note": "x\"y", "printers": {"a": )" + entry + "}}\n", "l")) << "other members";
}

TEST(Ledger, KeepsEveryPortAndLetsOneRolloutInAtATime) {
    const std::string path = test::freshDir("ledger-lock") + "/ledger.json";
    auto first = Ledger::open(path);
    ASSERT_TRUE(first) << first.error().message;
    auto second = Ledger::open(path);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().message, "another rollout is using " + path);
    EXPECT_TRUE(Ledger::open(path, false)) << "a dry run only reads";
    // A port that is not UTF-8 (an installed printer's name in a Windows code page) survives the JSON text.
    const std::string kitchen = "driver:K\xFC"
                                "che 100%",
                      digest(64, 'b');
    first.value()->record(kitchen, digest, {});
    ASSERT_TRUE(first.value()->save());
    first.value().reset();
    auto again = Ledger::open(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again.value()->unchangedSince(kitchen, digest), "1970-01-01 00:00");
    EXPECT_FALSE(again.value()->unchangedSince("driver:K?che 100%", digest));
}

class FakeSystem : public FleetSystem {
  public:
    bool interrupted() const override { return stop; }
    std::size_t openFileLimit() const override { return files; }
    std::atomic<bool> stop{false};
    std::size_t files = SIZE_MAX;
};

TEST(Fleet, WidthKeepsWithinJobsAndTheOpenFileLimit) {
    const struct {
        std::size_t printers;
        unsigned jobs;
        std::size_t files, width;
    } cases[] = {{1000, 0, SIZE_MAX, 1000}, {1000, 10, SIZE_MAX, 10}, {5, 10, SIZE_MAX, 5},
                 {1000, 0, 1024, 960},      {1000, 0, 100, 50},       {3, 0, 1, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(fleetWidth(c.printers, c.jobs, c.files), c.width) << c.printers << " " << c.jobs << " " << c.files;
}

struct FleetRun {
    int status;
    std::string out, err;
    std::vector<FleetOutcome> outcomes;
};

// Printers 127.0.0.1:1..n; the attempt decides by the port and the attempt number.
FleetRun runFake(std::size_t n, FleetOptions options, FakeSystem& system,
                 const std::function<FleetOutcome(int port, int attempt)>& attempt) {
    std::vector<PortTarget> targets;
    for (std::size_t i = 1; i <= n; ++i)
        targets.push_back(*parsePortSpec("127.0.0.1:" + std::to_string(i)));
    std::mutex mutex;
    std::map<int, int> attempts;
    FleetJob job;
    job.attempt = [&](const PortTarget& t, ProgressMeter*) {
        std::unique_lock lock(mutex);
        const int a = ++attempts[t.tcpPort];
        lock.unlock();
        return attempt(t.tcpPort, a);
    };
    std::ostringstream out, err;
    Context ctx{out, err};
    FleetRun r;
    r.status = runFleet(ctx, targets, options, job, system, nullptr, &r.outcomes);
    r.out = out.str();
    r.err = err.str();
    return r;
}

FleetOutcome outcome(const char* result, bool retry = false) {
    FleetOutcome o;
    o.record.result = result;
    if (std::string(result) == "failed") o.record.error = "refused";
    o.failed = o.retry = std::string(result) == "failed";
    o.retry = o.retry && retry;
    return o;
}

TEST(Fleet, RetriesOnlyWhatMayBeRetriedAndCountsAttempts) {
    FakeSystem system;
    FleetOptions options;
    options.retries = 2;
    options.retryWait = 0.01;
    // 1 recovers on its second attempt, 2 never does, 3 fails without a retry, 4 goes through.
    FleetRun r = runFake(4, options, system, [](int port, int attempt) {
        if (port == 1) return outcome(attempt < 2 ? "failed" : "confirmed", true);
        if (port == 2) return outcome("failed", true);
        return outcome(port == 3 ? "failed" : "confirmed", false);
    });
    EXPECT_EQ(r.status, 1);
    const unsigned attempts[] = {2, 3, 1, 1};
    const char* results[] = {"confirmed", "failed", "failed", "confirmed"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.outcomes[i].record.attempts, attempts[i]) << i;
        EXPECT_EQ(r.outcomes[i].record.result, results[i]) << i;
    }
    EXPECT_GE(r.outcomes[1].record.milliseconds, 30u) << "waits of 10 and 20 ms";
    EXPECT_NE(r.err.find("4 printers: 2 confirmed, 2 failed\n"), std::string::npos) << r.err;
}

TEST(Fleet, NeverRunsMoreThanJobsAtOnce) {
    FakeSystem system;
    system.files = 10; // half of so few kept for the process: 5 at once, fewer than the 8 asked for
    FleetOptions options;
    options.jobs = 8;
    std::atomic<int> running{0}, most{0};
    FleetRun r = runFake(40, options, system, [&](int, int) {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        --running;
        return outcome("confirmed");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_LE(most, 5);
    EXPECT_GE(most, 2);
    EXPECT_NE(r.err.find("the open-file limit (10) lets 5 printers run at once"), std::string::npos) << r.err;
}

TEST(Fleet, CtrlCStartsNoMorePrintersAndStopsRetries) {
    FakeSystem system;
    FleetOptions options;
    options.jobs = 1;
    options.retries = 5;
    options.retryWait = 0;
    // Printer 1 keeps failing; during its third attempt Ctrl-C comes: the attempt ends, no retry follows.
    FleetRun r = runFake(3, options, system, [&](int, int attempt) {
        if (attempt == 3) system.stop = true;
        return outcome("failed", true);
    });
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.outcomes[0].record.result, "interrupted");
    EXPECT_EQ(r.outcomes[0].record.attempts, 3u);
    EXPECT_EQ(r.outcomes[0].record.error, "refused") << "the last failure stays on record";
    EXPECT_EQ(r.outcomes[1].record.result, "interrupted");
    EXPECT_EQ(r.outcomes[1].record.attempts, 0u);
    EXPECT_NE(r.err.find("3 printers: 3 interrupted\n"), std::string::npos) << r.err;
}

} // namespace
} // namespace tessera::cli
