// The operations on the printer's logos: the `.bit` and `.txt` files (their bytes, the all-or-nothing save,
// sending a stored file back); what a transfer opens, writes and finishes, how each failure is classified, and
// how long a confirmation is waited for.

#include "printer/nv_operation.h"

#include "base/file_io.h"
#include "printer/confirmed_transfer.h"
#include "support/bmp_writer.h"
#include "support/fake_ports.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

namespace tessera {
namespace {

using test::Bytes;
using test::freshDir;
using test::slurp;
namespace fs = std::filesystem;

std::string logo10() {
    test::Picture p(10, 10, {0, 0, 0});
    return test::writeTempFile("ten.bmp", test::writeBmp24(p));
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

TEST(LogoFiles, TextFileSpellsEveryByteWithASpace) {
    MemorySink unused;
    CNVUploadCtrl ctrl(unused);
    const std::string out = freshDir("hex") + "/logo.txt";
    ASSERT_EQ(ctrl.saveLogoFile(out, {logo10()}, Threshold, 5, HEX), CNVUploadCtrl::kSaveWritten);
    const Bytes text = slurp(out);
    ASSERT_EQ(text.size(), 123u);
    EXPECT_EQ(std::string(text.begin(), text.begin() + 30), "1B 40 1C 71 01 02 00 02 00 FF ");
    EXPECT_EQ(text.back(), ' ');
    for (std::uint8_t c : text)
        EXPECT_TRUE(c == ' ' || std::isdigit(c) || (c >= 'A' && c <= 'F')) << int(c);

    auto back = parseHexText(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(formatLogoFile(*back, HEX), text);
}

TEST(LogoFiles, HexTextReaderRejectsWhatIsNotTheFormat) {
    auto bytes = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    EXPECT_EQ(*parseHexText(bytes("1b 40\r\n1C\t71 ")), (Bytes{0x1B, 0x40, 0x1C, 0x71}));
    EXPECT_TRUE(parseHexText(bytes(""))->empty());
    for (const char* bad : {"1B 4", "1B4 0", "1G", "1B,40", "123"}) EXPECT_FALSE(parseHexText(bytes(bad))) << bad;
}

TEST(LogoFiles, FailedSaveLeavesNothingBehindAndTheOldFileUntouched) {
    MemorySink unused;
    CNVUploadCtrl ctrl(unused);
    const std::string dir = freshDir("atomic");
    const std::string out = dir + "/keep.bit";
    ASSERT_TRUE(writeFileAtomically(out, Bytes{1, 2, 3}));

    EXPECT_EQ(ctrl.saveLogoFile(out, {}, Threshold, 5, BIN), CNVUploadCtrl::kSaveNoLogo);
    EXPECT_EQ(ctrl.saveLogoFile(out, {logo10(), dir + "/gone.bmp"}, Threshold, 5, BIN), CNVUploadCtrl::kSaveFailed);
    EXPECT_NE(ctrl.lastError().message.find("gone.bmp"), std::string::npos);
    EXPECT_EQ(slurp(out), (Bytes{1, 2, 3}));
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"keep.bit"});

    // A successful save replaces the old file.
    ASSERT_EQ(ctrl.saveLogoFile(out, {logo10()}, Threshold, 5, BIN), CNVUploadCtrl::kSaveWritten);
    EXPECT_EQ(slurp(out).size(), 41u);
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"keep.bit"});
}

// The saved file is the upload stream without its pauses, sent back as it is.
TEST(LogoFiles, DownloadSendsTheFileUnchangedInOneWrite) {
    MemorySink saved;
    CNVUploadCtrl ctrl(saved);
    const std::string dir = freshDir("download");
    ASSERT_EQ(ctrl.saveLogoFile(dir + "/l.bit", {logo10()}, ErrorDiffusion, 8, BIN), CNVUploadCtrl::kSaveWritten);
    ASSERT_EQ(ctrl.uploadLogos({logo10()}, ErrorDiffusion, 8), 1);

    MemorySink port;
    CNVUploadCtrl sender(port);
    EXPECT_EQ(sender.downloadBitFile(dir + "/l.bit"), 0);
    EXPECT_EQ(port.bytes, saved.bytes);
    EXPECT_TRUE(port.pauseOffsets.empty());

    const std::string junk = test::writeTempFile("any.txt", Bytes{'h', 'i'});
    port.bytes.clear();
    EXPECT_EQ(sender.downloadBitFile(junk), 0); // content is not examined
    EXPECT_EQ(port.bytes, (Bytes{'h', 'i'}));

    port.bytes.clear();
    EXPECT_EQ(sender.downloadBitFile(test::writeTempFile("empty.bit", {})), 0);
    EXPECT_TRUE(port.bytes.empty());

    EXPECT_EQ(sender.downloadBitFile(dir + "/missing.bit"), CNVUploadCtrl::kDownloadFailed);
    EXPECT_TRUE(port.bytes.empty());

    class Dead : public ByteSink {
        bool write(std::span<const std::uint8_t>) override { return false; }
    } dead;
    CNVUploadCtrl deadCtrl(dead);
    EXPECT_EQ(deadCtrl.downloadBitFile(dir + "/l.bit"), CNVUploadCtrl::kDownloadFailed);
    EXPECT_EQ(deadCtrl.lastError().kind, ErrorKind::Io);
}

struct Rig {
    test::FakeLine serial, parallel, usb;
    test::FakeNet net;
    test::FakeSpooler spooler;
    CNVUploadCtrl ctrl{PortSet{&spooler, &serial, &parallel, &usb, &net}, [](std::chrono::milliseconds) {}};
};

int erase(CNVUploadCtrl& c) { return c.eraseNvImages(); }

TEST(NvOperation, EachFailureIsNamed) {
    Rig r;
    PortSettings s;
    s.portName = "TCP/IP";
    r.net.connectResult = 8;
    TransferResult open = runTransfer(r.ctrl, s, erase);
    EXPECT_EQ(open.outcome, TransferOutcome::OpenFailed);
    EXPECT_EQ(open.openCode, 8);
    EXPECT_TRUE(r.net.sent.empty());

    r.net.connectResult = 0;
    r.net.sendOk = false;
    EXPECT_EQ(runTransfer(r.ctrl, s, erase).outcome, TransferOutcome::WriteFailed);
    EXPECT_EQ(r.net.finishes, 1) << "the port is finished and closed after a failed write too";

    r.net.sendOk = true;
    r.net.finishResult = 0;
    EXPECT_EQ(runTransfer(r.ctrl, s, erase).outcome, TransferOutcome::FinishFailed);
}

TEST(NvOperation, ADriverThatCannotBeOpenedSendsNothingAnywhere) {
    Rig r;
    PortSettings driver;
    driver.useDriver = true;
    driver.printerName = "nobody";
    r.spooler.openOk = false;
    int writerRuns = 0;
    const auto counted = [&](CNVUploadCtrl& c) {
        ++writerRuns;
        return c.eraseNvImages();
    };
    EXPECT_EQ(runTransfer(r.ctrl, driver, counted).outcome, TransferOutcome::OpenFailed);
    EXPECT_EQ(writerRuns, 0);

    r.spooler.openOk = true;
    r.spooler.maxPerCall = 64;
    EXPECT_TRUE(runTransfer(r.ctrl, driver, erase).ok());
    EXPECT_EQ(r.spooler.taken.size(), 10u);
    r.spooler.endOk = false;
    EXPECT_EQ(runTransfer(r.ctrl, driver, erase).outcome, TransferOutcome::FinishFailed);
}

TEST(ConfirmedTransfer, ThePrinterIsGiven5sPlus1sPer10KBRoundedUp) {
    const std::pair<std::uint64_t, long long> cases[] = {
        {0, 5000}, {1, 5001}, {10240, 6000}, {10241, 6001}, {102400, 15000}, {1 << 20, 107400},
    };
    for (const auto& [bytes, ms] : cases) EXPECT_EQ(confirmationBound(bytes).count(), ms) << bytes;
}

} // namespace
} // namespace tessera
