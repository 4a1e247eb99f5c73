#pragma once
// A progress bar on the terminal for transfers that take longer than a second: bytes sent of the total,
// the rate and the time left, or a line of the caller's own (a fleet's count of printers). Lines from several threads
// go through it so that they do not tear the bar.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

namespace tessera::cli {

class ProgressMeter {
  public:
    // enabled: stderr is a terminal. total: the bytes all targets together will send.
    ProgressMeter(std::ostream& err, bool enabled, std::uint64_t total);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void add(std::uint64_t bytes) { sent_ += bytes; }
    // Draws the line describe gives (a fleet's progress) instead of the byte bar. Call before the first second.
    void describeWith(std::function<std::string()> describe);
    // Prints a whole line on out (or err), clearing the bar first.
    void println(std::ostream& out, const std::string& line);

  private:
    void run();
    void draw();
    void clear();

    std::ostream& err_;
    const bool enabled_;
    const std::uint64_t total_;
    std::atomic<std::uint64_t> sent_{0};
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool drawn_ = false;
    std::function<std::string()> describe_;
    std::thread ticker_;
};

} // namespace tessera::cli
