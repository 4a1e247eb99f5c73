#pragma once
// A scripted device layer for the serial and parallel ports. Its clock moves only when a port sleeps, a wait
// expires or a scripted write completes, so every time limit is checked exactly and nothing really waits.

#include "port/line_device.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace tessera::test {

struct FakeLineLayer : LineDeviceLayer {
    // How one started write goes. Without a script, each write completes at once with every byte.
    struct Step {
        StartStatus start = StartStatus::Done;
        std::optional<std::size_t> count;   // bytes written (all of them when not given)
        std::optional<std::uint32_t> after; // Pending: completes this many ms after its start; never if unset
        bool fails = false;                 // Pending: completes with an error
        std::size_t cancelCount = 0;        // bytes a cancellation reports written
    };

    // Script.
    bool openFails = false, eventFails = false, readFails = false;
    PlatformGeneration platform = PlatformGeneration::Current;
    std::optional<std::size_t> syncCount; // bytes a synchronous write takes (all when unset)
    std::deque<Step> steps;
    // Each byte the printer sends, with the time it arrives; bytes not yet on the line.
    std::deque<std::pair<std::uint32_t, std::uint8_t>> incoming;
    std::size_t unsent = 0;

    // Record.
    std::uint32_t now = 1000;
    std::vector<std::string> log;
    std::vector<std::size_t> starts;    // length of every started write
    std::vector<std::size_t> readSizes; // what each read asked for
    std::vector<std::uint8_t> written;
    std::optional<CommTimeouts> timeouts;
    std::optional<LineState> state;

    std::string serialDevicePath(const std::string& name) override { return windowsSerialDevicePath(name); }
    std::string parallelDevicePath(const std::string& name) override { return name; }
    DeviceHandle open(const std::string& path, bool overlapped) override {
        log.push_back("open " + path + (overlapped ? " overlapped" : ""));
        return openFails ? kNoDevice : 100;
    }
    void close(DeviceHandle) override { log.push_back("close"); }
    void setupQueues(DeviceHandle, std::uint32_t in, std::uint32_t out) override {
        log.push_back("setup " + std::to_string(in) + " " + std::to_string(out));
    }
    void purge(DeviceHandle, Purge what) override { log.push_back(what == Purge::Everything ? "purge" : "purge rx"); }
    void setTimeouts(DeviceHandle, const CommTimeouts& t) override { timeouts = t; }
    void setLineState(DeviceHandle, const LineState& s) override { state = s; }
    void take(std::span<const std::uint8_t> b, std::size_t n) {
        written.insert(written.end(), b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(n, b.size())));
    }
    std::size_t writeSync(DeviceHandle, std::span<const std::uint8_t> b) override {
        log.push_back("write-sync " + std::to_string(b.size()));
        take(b, syncCount.value_or(b.size()));
        return std::min(syncCount.value_or(b.size()), b.size());
    }
    PlatformGeneration generation() override { return platform; }
    std::uint32_t tickCount() override { return now; }
    void sleep(std::chrono::milliseconds d) override {
        now += static_cast<std::uint32_t>(d.count());
        unsent -= std::min<std::size_t>(unsent, d.count()); // about 9600 bit/s
    }
    std::size_t arrivedBy(std::uint32_t t) const {
        return std::find_if(incoming.begin(), incoming.end(), [&](const auto& b) { return b.first > t; }) -
               incoming.begin();
    }
    std::size_t inputWaiting(DeviceHandle) override { return arrivedBy(now); }
    std::size_t outputWaiting(DeviceHandle) override { return unsent; }
    // Like Windows with the line's 100 ms read time-out: a read waits until it is full or timed out.
    std::optional<std::size_t> readSome(DeviceHandle, std::span<std::uint8_t> b, std::chrono::milliseconds t) override {
        readSizes.push_back(b.size());
        if (readFails) return std::nullopt;
        const std::uint32_t end = now + static_cast<std::uint32_t>(std::min<long long>(t.count(), 100));
        now = arrivedBy(end) >= b.size() ? std::max(now, incoming[b.size() - 1].first) : end;
        const std::size_t n = std::min(b.size(), arrivedBy(now));
        for (std::size_t i = 0; i < n; ++i, incoming.pop_front())
            b[i] = incoming.front().second;
        return n;
    }
    std::string lastError() const override { return readFails ? "ReadFile: The device is not ready" : ""; }

    struct Write : DeviceWrite {
        FakeLineLayer& layer;
        std::span<const std::uint8_t> bytes;
        Step step;
        std::uint32_t startedAt = 0;
        explicit Write(FakeLineLayer& l) : layer(l) {}
        ~Write() override { layer.log.push_back("release"); }

        std::size_t count() const { return std::min(step.count.value_or(bytes.size()), bytes.size()); }
        void resetEvent() override { layer.log.push_back("reset"); }
        WriteStart start(std::span<const std::uint8_t> b) override {
            bytes = b;
            layer.starts.push_back(b.size());
            layer.log.push_back("start " + std::to_string(b.size()));
            step = layer.steps.empty() ? Step{} : layer.steps.front();
            if (!layer.steps.empty()) layer.steps.pop_front();
            startedAt = layer.now;
            if (step.start != StartStatus::Done) return {step.start, 0, step.start == StartStatus::Failed ? 31 : 0};
            layer.take(bytes, count());
            return {StartStatus::Done, count(), 0};
        }
        WaitOutcome wait(std::chrono::milliseconds timeout) override {
            layer.log.push_back("wait " + std::to_string(timeout.count()));
            const auto limit = static_cast<std::uint32_t>(timeout.count());
            if (step.after && *step.after - (layer.now - startedAt) <= limit) {
                layer.now = startedAt + *step.after;
                return WaitOutcome::Signalled;
            }
            layer.now += limit;
            return WaitOutcome::TimedOut;
        }
        WritePoll result() override {
            if (!step.after || layer.now - startedAt < *step.after) return {PollStatus::Incomplete, 0, 0};
            if (step.fails) return {PollStatus::Failed, 0, 22};
            layer.take(bytes, count());
            return {PollStatus::Done, count(), 0};
        }
        std::size_t cancel() override {
            layer.log.push_back("cancel at " + std::to_string(layer.now - startedAt));
            layer.take(bytes, step.cancelCount);
            return std::min(step.cancelCount, bytes.size());
        }
    };

    std::unique_ptr<DeviceWrite> beginWrite(DeviceHandle, EventReset reset) override {
        log.push_back(reset == EventReset::Manual ? "event manual" : "event auto");
        if (eventFails) return nullptr;
        return std::make_unique<Write>(*this);
    }

    // The log from the first entry that starts with prefix.
    std::vector<std::string> logFrom(const std::string& prefix) const {
        auto it = std::find_if(log.begin(), log.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
        return {it, log.end()};
    }
};

inline std::vector<std::uint8_t> sequence(std::size_t n) {
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return b;
}

} // namespace tessera::test
