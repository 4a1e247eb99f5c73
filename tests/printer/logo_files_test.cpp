// The `.bit` and `.txt` files: their bytes, the all-or-nothing save, and sending a stored file back.

#include "printer/nv_upload_ctrl.h"

#include "base/file_io.h"
#include "support/bmp_writer.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

namespace tessera {
namespace {

using test::freshDir;
using test::slurp;

using Bytes = std::vector<std::uint8_t>;
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

    EXPECT_EQ(ctrl.saveLogoFile(dir + "/no/such/dir/x.bit", {logo10()}, Threshold, 5, BIN), CNVUploadCtrl::kSaveFailed);
    EXPECT_EQ(ctrl.lastError().kind, ErrorKind::Io);
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"keep.bit"});

    EXPECT_EQ(ctrl.saveLogoFile(dir + "/new.bit", {}, Threshold, 5, BIN), CNVUploadCtrl::kSaveNoLogo);
    EXPECT_FALSE(fs::exists(dir + "/new.bit"));

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

} // namespace
} // namespace tessera
