// The parallel port's logic over the scripted layer: one transfer per call, polled every 10 ms, cancelled
// after its allowance, retried only within 500 ms of the call's start, and true only when every byte went.

#include "port/parallel_port.h"

#include "serial_fake_layer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tessera {
namespace {

using test::FakeLineLayer;
using test::sequence;
using Log = std::vector<std::string>;
using Step = FakeLineLayer::Step;

TEST(ParallelPort, OpensTheNameAsItIsOverlappedOnlyOnCurrentPlatforms) {
    FakeLineLayer layer;
    CParallelPort port(layer);
    ASSERT_EQ(port.open("LPT2", 7), 0);
    EXPECT_EQ(layer.log.front(), "open LPT2 overlapped");
    EXPECT_NE(std::find(layer.log.begin(), layer.log.end(), "setup 1024 0"), layer.log.end());
    // Still open from before: refused, and the dispatcher's close follows.
    EXPECT_EQ(port.open("LPT2", 7), 1);
    port.close();

    FakeLineLayer legacy;
    legacy.platform = PlatformGeneration::Legacy;
    CParallelPort old(legacy);
    ASSERT_EQ(old.open("LPT1", 0), 0);
    EXPECT_EQ(legacy.log.front(), "open LPT1");
    EXPECT_EQ(old.generation(), PlatformGeneration::Legacy);

    FakeLineLayer missing;
    missing.openFails = true;
    CParallelPort none(missing);
    EXPECT_EQ(none.open("LPT1", 0), 1);
    EXPECT_FALSE(none.isOpen());
    EXPECT_FALSE(none.write(sequence(4)));
    EXPECT_EQ(missing.log.size(), 1u);
}

TEST(ParallelPort, AllowanceIsOneMsPerByteFrom512Bytes) {
    EXPECT_EQ(CParallelPort::allowanceFor(100).count(), 500);
    EXPECT_EQ(CParallelPort::allowanceFor(511).count(), 500);
    EXPECT_EQ(CParallelPort::allowanceFor(512).count(), 1012);
    EXPECT_EQ(CParallelPort::allowanceFor(600).count(), 1100);
}

TEST(ParallelPort, PendingTransferIsPolledUntilDone) {
    FakeLineLayer layer;
    CParallelPort port(layer);
    ASSERT_EQ(port.open("LPT1", 0), 0);
    layer.log.clear();
    layer.steps = {Step{StartStatus::Pending, {}, 25}};
    const auto bytes = sequence(300);
    ASSERT_TRUE(port.write(bytes));
    EXPECT_EQ(layer.written, bytes);
    EXPECT_EQ(layer.log, (Log{"event auto", "reset", "start 300", "release"}));
    EXPECT_EQ(layer.now, 1030u); // three polls 10 ms apart
}

TEST(ParallelPort, StuckTransferIsCancelledAfterItsAllowance) {
    for (const auto& [n, limit] : {std::pair<std::size_t, std::uint32_t>{600, 1100}, {100, 500}}) {
        FakeLineLayer layer;
        CParallelPort port(layer);
        ASSERT_EQ(port.open("LPT1", 0), 0);
        layer.steps = {Step{StartStatus::Pending}};
        const std::uint32_t t0 = layer.now;
        EXPECT_FALSE(port.write(sequence(n)));
        // Cancelled at the first poll past the limit; the window has passed by then, so no second attempt.
        EXPECT_EQ(layer.logFrom("cancel"), (Log{"cancel at " + std::to_string(limit + 10), "release"})) << n;
        EXPECT_EQ(layer.starts.size(), 1u);
        EXPECT_EQ(layer.now - t0, limit + 10);
    }
}

TEST(ParallelPort, AttemptsRepeatWithin500MsAndOnlyAllBytesCount) {
    const auto bytes = sequence(600);
    {
        // A short transfer, then the rest.
        FakeLineLayer layer;
        CParallelPort port(layer);
        ASSERT_EQ(port.open("LPT1", 0), 0);
        layer.steps = {Step{StartStatus::Done, 250}};
        ASSERT_TRUE(port.write(bytes));
        EXPECT_EQ(layer.starts, (std::vector<std::size_t>{600, 350}));
        EXPECT_EQ(layer.written, bytes);
    }
    {
        // A failure after part of the block, then one that is cut short: the count stays below n.
        FakeLineLayer layer;
        CParallelPort port(layer);
        ASSERT_EQ(port.open("LPT1", 0), 0);
        layer.steps = {Step{StartStatus::Pending, {}, {}, false, 200}};
        EXPECT_FALSE(port.write(bytes));
        EXPECT_EQ(layer.written.size(), 200u);
    }
    {
        // Refused at once: asked again, 10 ms apart, until 500 ms have passed.
        FakeLineLayer layer;
        CParallelPort port(layer);
        ASSERT_EQ(port.open("LPT1", 0), 0);
        for (int i = 0; i < 100; ++i)
            layer.steps.push_back(Step{StartStatus::Failed});
        const std::uint32_t t0 = layer.now;
        EXPECT_FALSE(port.write(bytes));
        EXPECT_EQ(layer.starts.size(), 50u);
        EXPECT_EQ(layer.now - t0, 500u);
    }
    {
        // Refused a few times, then taken.
        FakeLineLayer layer;
        CParallelPort port(layer);
        ASSERT_EQ(port.open("LPT1", 0), 0);
        layer.steps = {Step{StartStatus::Failed}, Step{StartStatus::Failed}};
        EXPECT_TRUE(port.write(bytes));
        EXPECT_EQ(layer.starts.size(), 3u);
    }
}

TEST(ParallelPort, LegacyPlatformsWriteOnceSynchronously) {
    FakeLineLayer layer;
    layer.platform = PlatformGeneration::Legacy;
    CParallelPort port(layer);
    ASSERT_EQ(port.open("LPT1", 0), 0);
    EXPECT_TRUE(port.write(sequence(700)));
    layer.syncCount = 699;
    EXPECT_FALSE(port.write(sequence(700)));
    EXPECT_TRUE(layer.starts.empty());
    EXPECT_EQ(layer.logFrom("write-sync"), (Log{"write-sync 700", "write-sync 700"}));
}

} // namespace
} // namespace tessera
