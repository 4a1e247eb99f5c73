#include "cli/fleet.h"

#include "cli/progress.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>

namespace tessera::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Kept for the process itself: standard streams, the report, the ledger and its lock, libraries opened at run
// time and what they open.
constexpr std::size_t kReservedFiles = 64;

constexpr const char* kInterrupted = "interrupted";

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, s < 10 ? "%.3g s" : "%.0f s", s);
    return text;
}

class Fleet {
  public:
    Fleet(Context& ctx, const std::vector<PortTarget>& targets, const FleetOptions& options, const FleetJob& job,
          FleetSystem& system, FleetReportFile* report)
        : targets_(targets), options_(options), job_(job), system_(system), report_(report),
          out_(options.report == "-" ? ctx.err : ctx.out), err_(ctx.err), outcomes_(targets.size()),
          done_(targets.size(), false), meter_(ctx.err, ctx.interactive, (job.streamBytes + 3) * targets.size()) {
        if (targets.size() > 1) meter_.describeWith([this] { return progressLine(); });
    }

    void run(std::size_t width) {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; width > 1 && i < width; ++i) {
            try {
                threads.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                // Out of threads (a process or memory limit): those running take the rest in turn.
                meter_.println(err_, "nvlogo: no more threads after " + std::to_string(i) +
                                         "; that many printers run at once");
                break;
            }
        }
        if (threads.empty()) work();
        for (std::thread& t : threads)
            t.join();
        // Printers never started: interrupted, in the report in their own order.
        for (std::size_t i = 0; i < targets_.size(); ++i) {
            if (done_[i]) continue;
            FleetOutcome o;
            o.record.result = kInterrupted;
            finish(i, o, false);
        }
    }

    std::vector<FleetOutcome>& outcomes() { return outcomes_; }

  private:
    void work() {
        for (;;) {
            if (system_.interrupted()) return;
            const std::size_t i = next_++;
            if (i >= targets_.size()) return;
            ++running_;
            FleetOutcome o = runOne(targets_[i]);
            --running_;
            finish(i, o, true);
        }
    }

    FleetOutcome runOne(const PortTarget& target) {
        if (job_.before)
            if (auto skipped = job_.before(target)) return *skipped;
        const auto start = Clock::now();
        FleetOutcome o;
        for (unsigned attempt = 1;; ++attempt) {
            o = job_.attempt(target, &meter_);
            o.record.attempts = attempt;
            if (!o.retry || attempt > options_.retries) break;
            // Doubling from at most an hour; a day at the most, which also keeps the clock's arithmetic in range.
            const double wait = std::min(options_.retryWait * std::pow(2.0, attempt - 1), 86400.0);
            if (!o.line.empty())
                meter_.println(err_, "nvlogo: " + o.line + " (attempt " + std::to_string(attempt) + " of " +
                                         std::to_string(options_.retries + 1) + "; again in " + seconds(wait) + ")");
            if (!pause(wait)) {
                // The last failure stays in the record; the printer counts as interrupted, not failed.
                o.record.result = kInterrupted;
                o.failed = false;
                o.line.clear();
                break;
            }
        }
        o.record.milliseconds = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        return o;
    }

    // Waits, in slices, unless Ctrl-C comes first: false then.
    bool pause(double secondsToWait) {
        const auto until =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(secondsToWait));
        while (Clock::now() < until) {
            if (system_.interrupted()) return false;
            std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
        }
        return !system_.interrupted();
    }

    void finish(std::size_t i, FleetOutcome& o, bool ran) {
        if (job_.after) job_.after(targets_[i], o);
        outcomes_[i] = o;
        done_[i] = true;
        if (ran) ++finished_;
        if (o.failed) ++failed_;
        if (report_) report_->write(targets_[i], o.record);
        if (o.line.empty()) return;
        if (o.failed)
            meter_.println(err_, "nvlogo: " + o.line);
        else
            meter_.println(out_, o.line);
    }

    std::string progressLine() {
        const std::size_t done = finished_, total = targets_.size();
        std::string line = std::to_string(done) + " of " + std::to_string(total) + " printers done, " +
                           std::to_string(failed_.load()) + " failed, " + std::to_string(running_.load()) + " running";
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        if (done > 0 && done < total)
            line += ", about " +
                    seconds(std::ceil(elapsed / static_cast<double>(done) * static_cast<double>(total - done))) +
                    " left";
        return line;
    }

    const std::vector<PortTarget>& targets_;
    const FleetOptions& options_;
    const FleetJob& job_;
    FleetSystem& system_;
    FleetReportFile* report_;
    std::ostream& out_;
    std::ostream& err_;
    std::vector<FleetOutcome> outcomes_;
    std::vector<char> done_; // written by the worker that took the printer, read after the joins
    std::atomic<std::size_t> next_{0}, running_{0}, finished_{0}, failed_{0};
    const Clock::time_point start_ = Clock::now();
    ProgressMeter meter_;
};

} // namespace

std::size_t fleetWidth(std::size_t printers, unsigned jobs, std::size_t openFiles) {
    std::size_t width = jobs ? std::min<std::size_t>(jobs, printers) : printers;
    const std::size_t allowed = openFiles > kReservedFiles * 2 ? openFiles - kReservedFiles : openFiles / 2;
    return std::max<std::size_t>(1, std::min(width, allowed));
}

std::string fleetSummary(const std::vector<FleetOutcome>& outcomes) {
    static constexpr std::pair<const char*, const char*> kOrder[] = {
        {"confirmed", "confirmed"},    {"not-confirmed", "not confirmed"},
        {"answered", "answered"},      {"would-send", "would send"},
        {"failed", "failed"},          {"skipped", "skipped"},
        {"interrupted", "interrupted"}};
    std::string summary = std::to_string(outcomes.size()) + (outcomes.size() == 1 ? " printer" : " printers");
    const char* separator = ": ";
    for (const auto& [result, words] : kOrder) {
        const std::string name = result; // older compilers cannot capture a structured binding
        const auto n = std::count_if(outcomes.begin(), outcomes.end(),
                                     [&](const FleetOutcome& o) { return o.record.result == name; });
        if (n == 0) continue;
        summary += separator + std::to_string(n) + " " + words;
        separator = ", ";
    }
    return summary;
}

int runFleet(Context& ctx, const std::vector<PortTarget>& targets, const FleetOptions& options, const FleetJob& job,
             FleetSystem& system, FleetReportFile* report, std::vector<FleetOutcome>* outcomes) {
    const std::size_t openFiles = system.openFileLimit();
    const std::size_t width = fleetWidth(targets.size(), options.jobs, openFiles);
    const std::size_t asked = options.jobs ? std::min<std::size_t>(options.jobs, targets.size()) : targets.size();
    if (width < asked)
        ctx.err << "nvlogo: the open-file limit (" << openFiles << ") lets " << width
                << " printers run at once; the others wait their turn\n";
    Fleet fleet(ctx, targets, options, job, system, report);
    fleet.run(width);
    std::vector<FleetOutcome>& all = fleet.outcomes();
    if (targets.size() > 1) ctx.err << fleetSummary(all) << '\n';
    int rc = kExitOk;
    if (report)
        if (Status s = report->status(); !s) {
            ctx.err << "nvlogo: " << s.error().message << '\n';
            rc = kExitFailure;
        }
    if (std::any_of(all.begin(), all.end(), [](const FleetOutcome& o) { return o.failed; })) rc = kExitFailure;
    if (system.interrupted()) rc = kExitInterrupted;
    if (outcomes) *outcomes = std::move(all);
    return rc;
}

} // namespace tessera::cli
