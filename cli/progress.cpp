#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace tessera::cli {

namespace {

std::string amount(double bytes) {
    char buf[32];
    if (bytes < 1024)
        std::snprintf(buf, sizeof buf, "%.0f B", bytes);
    else if (bytes < 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024);
    else
        std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / (1024 * 1024));
    return buf;
}

} // namespace

ProgressMeter::ProgressMeter(std::ostream& err, bool enabled, std::uint64_t total)
    : err_(err), enabled_(enabled), total_(total) {
    if (enabled_) ticker_ = std::thread([this] { run(); });
}

ProgressMeter::~ProgressMeter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
    std::lock_guard lock(mutex_);
    clear();
}

void ProgressMeter::println(std::ostream& out, const std::string& line) {
    std::lock_guard lock(mutex_);
    clear();
    out << line << '\n';
    out.flush();
}

void ProgressMeter::run() {
    std::unique_lock lock(mutex_);
    // Short transfers show nothing: the bar appears only once a second has gone by.
    if (wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) return;
    while (!stop_) {
        draw();
        wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; });
    }
}

void ProgressMeter::describeWith(std::function<std::string()> describe) {
    std::lock_guard lock(mutex_);
    describe_ = std::move(describe);
}

void ProgressMeter::draw() {
    if (describe_) {
        std::string line = describe_();
        line.resize(std::min<std::size_t>(line.size(), 78));
        err_ << "\r" << line << std::string(78 - line.size(), ' ') << std::flush;
        drawn_ = true;
        return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double sent = static_cast<double>(sent_.load());
    const double total = static_cast<double>(total_ ? total_ : 1);
    const double rate = seconds > 0 ? sent / seconds : 0;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(kWidth * std::min(1.0, sent / total));
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    char left[32] = "";
    if (rate > 0 && sent < total) std::snprintf(left, sizeof left, "  %.0f s left", (total - sent) / rate);
    err_ << "\r[" << bar << "] " << amount(sent) << " of " << amount(total) << "  " << amount(rate) << "/s" << left
         << "   " << std::flush;
    drawn_ = true;
}

void ProgressMeter::clear() {
    if (!drawn_) return;
    err_ << "\r" << std::string(79, ' ') << "\r" << std::flush;
    drawn_ = false;
}

} // namespace tessera::cli
