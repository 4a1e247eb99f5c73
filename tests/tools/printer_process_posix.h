#pragma once
// nvlogo-printer in a process of its own, listening on a free loopback port, with its files and its log
// (DIR/log) in a directory of its own; stopped by its PID.

#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tessera::test {

class PrinterProcess {
  public:
    PrinterProcess(const std::string& directory, std::vector<std::string> more = {})
        : dir(directory), nv(directory + "/nv.bit") {
        std::filesystem::create_directories(dir);
        std::vector<std::string> args = {NVLOGO_PRINTER_PATH, "--listen",     "127.0.0.1:0", "--nv", nv, "--out",
                                         dir + "/out",        "--ready-file", dir + "/ready"};
        args.insert(args.end(), more.begin(), more.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir + "/log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 1000 && !std::filesystem::exists(dir + "/ready"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        address = slurpText(dir + "/ready");
        if (!address.empty()) address.pop_back();
    }
    ~PrinterProcess() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    std::string dir, nv, address; // address: 127.0.0.1:N

  private:
    pid_t pid_ = -1;
};

} // namespace tessera::test
