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

// A port opened on LPT1, whose writes follow the script.
struct Opened {
    FakeLineLayer layer;
    CParallelPort port{layer};
    explicit Opened(std::deque<Step> steps = {}, PlatformGeneration platform = PlatformGeneration::Current) {
        layer.platform = platform;
        EXPECT_EQ(port.open("LPT1", 0), 0);
        layer.steps = std::move(steps);
    }
};

TEST(ParallelPort, OpensTheNameAsItIsOverlappedOnlyOnCurrentPlatforms) {
    Opened o;
    EXPECT_EQ(o.layer.log.front(), "open LPT1 overlapped");
    EXPECT_NE(std::find(o.layer.log.begin(), o.layer.log.end(), "setup 1024 0"), o.layer.log.end());
    // Still open from before: refused, and the dispatcher's close follows.
    EXPECT_EQ(o.port.open("LPT1", 7), 1);

    Opened legacy({}, PlatformGeneration::Legacy);
    EXPECT_EQ(legacy.layer.log.front(), "open LPT1");

    FakeLineLayer missing;
    missing.openFails = true;
    CParallelPort none(missing);
    EXPECT_EQ(none.open("LPT1", 0), 1);
    EXPECT_FALSE(none.isOpen());
    EXPECT_FALSE(none.write(sequence(4)));
    EXPECT_EQ(missing.log.size(), 1u);
}

TEST(ParallelPort, PendingTransferIsPolledUntilDone) {
    Opened o({Step{StartStatus::Pending, {}, 25}});
    const auto bytes = sequence(300);
    ASSERT_TRUE(o.port.write(bytes));
    EXPECT_EQ(o.layer.written, bytes);
    EXPECT_EQ(o.layer.now, 1030u); // three polls 10 ms apart
}

// The allowance is 500 ms, plus 1 ms per byte from 512 bytes on.
TEST(ParallelPort, StuckTransferIsCancelledAfterItsAllowance) {
    // Cancelled at the first 10 ms poll past the limit; the window has passed by then, so no second attempt.
    for (const auto& [n, at] :
         {std::pair<std::size_t, std::uint32_t>{600, 1110}, {512, 1020}, {511, 510}, {100, 510}}) {
        Opened o({Step{StartStatus::Pending}});
        EXPECT_FALSE(o.port.write(sequence(n)));
        EXPECT_EQ(o.layer.logFrom("cancel"), (Log{"cancel at " + std::to_string(at), "release"})) << n;
        EXPECT_EQ(o.layer.starts.size(), 1u);
        EXPECT_EQ(o.layer.now, 1000 + at);
    }
}

TEST(ParallelPort, AttemptsRepeatWithin500MsAndOnlyAllBytesCount) {
    const auto bytes = sequence(600);
    Opened shortThenRest({Step{StartStatus::Done, 250}});
    ASSERT_TRUE(shortThenRest.port.write(bytes));
    EXPECT_EQ(shortThenRest.layer.starts, (std::vector<std::size_t>{600, 350}));
    EXPECT_EQ(shortThenRest.layer.written, bytes);

    // A failure after part of the block, then one that is cut short: the count stays below n.
    Opened partFailed({Step{StartStatus::Pending, {}, {}, false, 200}});
    EXPECT_FALSE(partFailed.port.write(bytes));
    EXPECT_EQ(partFailed.layer.written.size(), 200u);

    // Refused at once: asked again, 10 ms apart, until 500 ms have passed.
    Opened refused(std::deque<Step>(100, Step{StartStatus::Failed}));
    EXPECT_FALSE(refused.port.write(bytes));
    EXPECT_EQ(refused.layer.starts.size(), 50u);
    EXPECT_EQ(refused.layer.now, 1500u);

    Opened refusedTwice({Step{StartStatus::Failed}, Step{StartStatus::Failed}});
    EXPECT_TRUE(refusedTwice.port.write(bytes));
    EXPECT_EQ(refusedTwice.layer.starts.size(), 3u);
}

TEST(ParallelPort, LegacyPlatformsWriteOnceSynchronously) {
    Opened o({}, PlatformGeneration::Legacy);
    EXPECT_TRUE(o.port.write(sequence(700)));
    o.layer.syncCount = 699;
    EXPECT_FALSE(o.port.write(sequence(700)));
    EXPECT_TRUE(o.layer.starts.empty());
    EXPECT_EQ(o.layer.logFrom("write-sync"), (Log{"write-sync 700", "write-sync 700"}));
}

} // namespace
} // namespace tessera
