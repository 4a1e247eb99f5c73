// File names that only POSIX systems allow.

#include "printer/nv_upload_ctrl.h"

#include "support/bmp_writer.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

TEST(NvUpload, PathsMayHoldTheListSeparator) {
    // The logos travel as a list of paths, not as one "|"-separated text.
    const auto odd = test::writeTempFile("odd|name.bmp", test::writeBmp24(test::Picture(8, 8, {0, 0, 0})));
    MemorySink sink;
    CNVUploadCtrl ctrl(sink);
    ASSERT_EQ(ctrl.uploadLogos({odd}, Threshold, 5), 1) << ctrl.lastError().message;
    ASSERT_EQ(sink.bytes.size(), 5u + 4 + 8);
    EXPECT_EQ(sink.bytes[4], 1);
}

} // namespace
} // namespace tessera
