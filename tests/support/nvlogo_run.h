#pragma once
// nvlogo run in-process, for the test programs that link the command line's library.

#include "cli/nvlogo.h"
#include "printer/nv_upload_ctrl.h"
#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

namespace tessera::test {

struct Outcome {
    int status;
    std::string out, err;
    double seconds; // wall time, for the tests that bound how long a failure may take
};

inline Outcome nvlogo(std::vector<std::string> args) {
    args.insert(args.begin(), "nvlogo");
    std::vector<const char*> argv;
    for (auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const auto t0 = std::chrono::steady_clock::now();
    const int status = runNvlogo(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str(), std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count()};
}

// The stream that "nvlogo save" writes for these logos, and that stream with the bytes that end a transfer.
inline std::vector<std::uint8_t> saved(const std::vector<std::string>& logos, int mode, int level) {
    MemorySink unused;
    CNVUploadCtrl ctrl(unused);
    auto bytes = ctrl.buildLogoFile(logos, mode, level, BIN);
    EXPECT_TRUE(bytes);
    return bytes ? *bytes : std::vector<std::uint8_t>{};
}
inline std::vector<std::uint8_t> withFinish(std::vector<std::uint8_t> b) {
    b.insert(b.end(), {0x1D, 0x61, 0x00});
    return b;
}

inline std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace tessera::test
