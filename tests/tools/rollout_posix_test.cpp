// Rollouts against virtual printers in processes of their own: the report, retries, and the ledger that
// spares printers already holding the stream.

#include "cli/nvlogo.h"

#include "printer_process_posix.h"
#include "support/loopback_printer_posix.h"
#include "support/nvlogo_run.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tessera {
namespace {

using test::nvlogo;
using test::Outcome;
namespace fs = std::filesystem;

using Printer = test::PrinterProcess;

TEST(Rollout, ReportsEveryPrinterAndTheLedgerSparesThoseThatConfirmed) {
    const std::string dir = test::freshDir("rollout");
    Printer a(dir + "/a"), b(dir + "/b");
    const std::string gone = "127.0.0.1:" + std::to_string(test::LoopbackPrinter::closedPort());
    std::ofstream(dir + "/fleet.txt") << "# till printers\n"
                                      << a.address << "\tStore 1\n"
                                      << b.address << "\n"
                                      << gone << "\tGone\n";
    const std::string logo = test::examplesDir() + "/badge.bmp", ledger = dir + "/ledger.json";
    const std::vector<std::string> upload = {
        "upload",   "--ports-from", dir + "/fleet.txt", "--retries",     "1", "--retry-wait", "0",
        "--ledger", ledger,         "--report",         dir + "/report", logo};
    Outcome r = nvlogo(upload);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string report = test::slurpText(dir + "/report");
    EXPECT_NE(
        report.find(R"({"port": ")" + a.address + R"(", "name": "Store 1", "result": "confirmed", "bytes": 1161, )"),
        std::string::npos)
        << report;
    EXPECT_NE(report.find(R"({"port": ")" + gone + R"(", "name": "Gone", "result": "failed", "bytes": 0, )"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(R"("attempts": 2, "error": "connect: Connection refused", "status": null})"),
              std::string::npos)
        << report;
    EXPECT_NE(r.err.find("3 printers: 2 confirmed, 1 failed\n"), std::string::npos) << r.err;

    const auto written = fs::last_write_time(a.nv);
    std::vector<std::string> again = upload;
    again.insert(again.end() - 1, "--skip-unchanged");
    r = nvlogo(again);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(a.address + ": skipped: unchanged since "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("3 printers: 1 failed, 2 skipped\n"), std::string::npos) << r.err;
    EXPECT_EQ(fs::last_write_time(a.nv), written) << "nothing sent to a printer that holds the stream";

    // An erase takes the entry away, so the next upload is sent again.
    EXPECT_EQ(nvlogo({"erase", "--port", a.address, "--ledger", ledger}).status, 0);
    r = nvlogo({"upload", "--port", a.address, "--ledger", ledger, "--skip-unchanged", logo});
    EXPECT_NE(r.out.find(a.address + ": uploaded 1 logo, 1161 bytes, confirmed"), std::string::npos) << r.out << r.err;

    // A damaged ledger, or one in use, stops the rollout before anything is sent, and stays as it was.
    std::ofstream(ledger) << R"({"printers": {)";
    r = nvlogo(upload);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(ledger + ": damaged ledger ("), std::string::npos) << r.err;
    EXPECT_EQ(test::slurpText(ledger), R"({"printers": {)");
    const std::string inventory = test::slurpText(dir + "/fleet.txt");
    EXPECT_EQ(nvlogo({"status", "--ports-from", dir + "/fleet.txt", "--report", dir + "/./fleet.txt"}).status, 2);
    EXPECT_EQ(test::slurpText(dir + "/fleet.txt"), inventory) << "a report must not truncate the inventory";
}

TEST(Rollout, RetriesAPrintoutOnlyWhenNoneOfItWasSent) {
    const std::string dir = test::freshDir("rollout-retry");
    Printer resets(dir + "/resets", {"--close-after", "11"}); // after the status requests and 2 stream bytes
    const std::string gone = "127.0.0.1:" + std::to_string(test::LoopbackPrinter::closedPort());
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
        EXPECT_NE(r.out.find(c.attempts), std::string::npos) << c.command << " " << r.out;
    }
}

} // namespace
} // namespace tessera
