// All-or-nothing writes on the file system as users meet it: links, permissions, folders that fail.

#include "base/file_io.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
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

} // namespace
} // namespace tessera
