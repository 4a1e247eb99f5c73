// All-or-nothing writes on the file system as users meet it: links, permissions, folders that fail.

#include "base/file_io.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tessera {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(WriteFileAtomically, WritesThroughLinksKeepsModesAndNamesWhatFailed) {
    const std::string dir = test::freshDir("atomic");
    const Bytes data = {1, 2, 3};
    ASSERT_TRUE(writeFileAtomically(dir + "/target", Bytes{9}));
    ::chmod((dir + "/target").c_str(), 0640);
    fs::create_symlink("target", dir + "/link");
    fs::create_symlink("later", dir + "/dangling");
    for (const char* name : {"/link", "/dangling"})
        ASSERT_TRUE(writeFileAtomically(dir + name, data)) << name;
    EXPECT_TRUE(fs::is_symlink(dir + "/link"));
    EXPECT_EQ(test::slurp(dir + "/target"), data);
    EXPECT_EQ(test::slurp(dir + "/later"), data);
    struct stat st {};
    ::stat((dir + "/target").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(sameFile(dir + "/link", dir + "/target"));
    EXPECT_FALSE(sameFile(dir + "/later", dir + "/target"));
    EXPECT_FALSE(sameFile(dir + "/missing", dir + "/missing"));

    const std::string noFolder = writeFileAtomically(dir + "/no/x.bit", data).error().message;
    EXPECT_EQ(noFolder.rfind(dir + "/no/x.bit: cannot create a file in the folder " + dir + "/no:", 0), 0u) << noFolder;
    // Renaming over a folder fails once the temporary file is written; the message names the user's file.
    const std::string overFolder = writeFileAtomically(dir, data).error().message;
    EXPECT_EQ(overFolder.rfind(dir + ": rename:", 0), 0u) << overFolder;
    EXPECT_EQ(writeFileAtomically("", data).error().kind, ErrorKind::BadInput);
}

TEST(WriteFileAtomically, AFullDiskKeepsTheOldFileAndLeavesNoTemporaryFile) {
    const std::string dir = test::freshDir("full");
    const std::string path = dir + "/keep.bit";
    ASSERT_TRUE(writeFileAtomically(path, Bytes{1, 2, 3}));
    // A file size limit makes a write fail part way through, as a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const Status s = writeFileAtomically(path, Bytes(1000, 7));
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().message.rfind(path + ": write:", 0), 0u) << s.error().message;
    EXPECT_EQ(test::slurp(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}

} // namespace
} // namespace tessera
