// SPDX-License-Identifier: MIT
// Streaming and sleep as the module sees them: the countdown the host hands out when the
// outputs go constant, the sleep request and the samples it leaves unprocessed, stretches that
// end at events (always processed whole), inputs that stop or start streaming.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "host/event_list.h"
#include "tests/plugin_base/probe_harness.h"
#include "tests/support/mp_test_access.h"

namespace kvx::test {
namespace {

using Kind = ProbeRecord::Kind;

class Sleep : public ::testing::Test {
protected:
    ProbeModule& probe() { return harness.probe(); }
    // A block whose only event, at time 0, declares the outputs constant: the host hands out
    // `countdown` through getSleepCountdown.
    void runWithCountdown(int32_t sampleCount, int32_t countdown) {
        harness.host.sleepCountdown = countdown;
        events.clear();
        events.addBool(0, PROBE_FLAG, false);
        harness.run(sampleCount, events.head());
    }
    // Both outputs must show exactly the stretches' samples, the rest left unprocessed.
    void expectWritten(const std::vector<Stretch>& stretches, int32_t sampleCount) {
        EXPECT_EQ(harness.stretches(), stretches);
        harness.expectOutputsMatch(stretches, sampleCount);
    }
    ProbeHarness harness;
    host::EventList events;
};

TEST_F(Sleep, AFreshModuleAsksToSleepAtOnce) {
    harness.run(64, nullptr);
    EXPECT_TRUE(harness.host.sleepRequested);
    expectWritten({}, 64);
    EXPECT_EQ(MpTestAccess::blockPosition(probe()), 0);
}

struct CountdownCase {
    int32_t countdown;
    int32_t blockSize;
};

void PrintTo(const CountdownCase& c, std::ostream* out) {
    *out << "countdown " << c.countdown << ", blocks of " << c.blockSize;
}

class Countdown : public Sleep, public ::testing::WithParamInterface<CountdownCase> {};

// The routine runs for the countdown and no longer; once it has run out, the last stretch of
// the block asks to sleep and the rest of the block is left unprocessed. A countdown of 0 or
// less is kept as the host gave it.
TEST_P(Countdown, RunsForTheCountdownAcrossBlocksThenSleeps) {
    const auto [countdown, n] = GetParam();
    int32_t left = countdown;
    for (int block = 0; block < 8; ++block) {
        SCOPED_TRACE("block " + std::to_string(block));
        if (block == 0)
            runWithCountdown(n, countdown);
        else
            harness.run(n, nullptr);
        const int32_t processed = std::max(0, std::min(left, n));
        left -= processed;
        expectWritten(processed > 0 ? std::vector<Stretch>{{0, processed, true}} : std::vector<Stretch>{}, n);
        EXPECT_EQ(harness.host.sleepRequested, left <= 0);
        EXPECT_EQ(MpTestAccess::samplesBeforeSleep(probe()), left);
        EXPECT_EQ(MpTestAccess::blockPosition(probe()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, Countdown,
                         ::testing::Values(CountdownCase{100, 64}, CountdownCase{64, 64},
                                           CountdownCase{63, 64}, CountdownCase{65, 64}, CountdownCase{1, 64},
                                           CountdownCase{0, 64}, CountdownCase{200, 32}, CountdownCase{5, 1},
                                           CountdownCase{-3, 16}));

TEST_F(Sleep, AStretchEndingAtAnEventIsProcessedWhole) {
    runWithCountdown(64, 0);
    ASSERT_TRUE(harness.host.sleepRequested);

    events.clear();
    events.add(10, 105);
    harness.run(64, events.head());
    expectWritten({{0, 10, false}}, 64);
    EXPECT_TRUE(harness.host.sleepRequested);
    EXPECT_EQ(MpTestAccess::samplesBeforeSleep(probe()), 0);
}

TEST_F(Sleep, ACountdownRunningOutBeforeAnEventStillReachesTheEvent) {
    // Countdown 15 from time 0: samples 0-9 use 10 of it, samples 10-14 the rest; samples 15-29
    // still end at an event and run whole; the stretch after 30 may sleep and does so at once.
    harness.host.sleepCountdown = 15;
    events.addBool(0, PROBE_FLAG, false);
    events.add(10, 105);
    events.add(30, 105);
    harness.run(64, events.head());
    expectWritten({{0, 10, false}, {10, 5, false}, {15, 15, false}}, 64);
    EXPECT_TRUE(harness.host.sleepRequested);
}

TEST_F(Sleep, AnInputThatStopsStreamingGetsAtLeastOneMoreSample) {
    events.add(0, EV_STREAM_BEGIN, PROBE_SIGNAL);
    harness.run(64, events.head());
    expectWritten({{0, 64, true}}, 64);
    EXPECT_FALSE(harness.host.sleepRequested);
    ASSERT_EQ(MpTestAccess::samplesBeforeSleep(probe()), 0);

    // Samples 0-9 run directly; the stop makes the module sleep-aware with a countdown of 1, so
    // sample 10 runs alone and the rest of the block is left for sleep.
    events.clear();
    events.add(10, EV_STREAM_END, PROBE_SIGNAL);
    harness.run(64, events.head());
    expectWritten({{0, 10, false}, {10, 1, true}}, 64);
    EXPECT_TRUE(harness.host.sleepRequested);
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 0);
}

TEST_F(Sleep, AStopForAStillInputKeepsALongerCountdown) {
    runWithCountdown(64, 500);
    events.clear();
    events.add(0, EV_STREAM_END, PROBE_SIGNAL);
    harness.run(64, events.head());
    const auto notified = harness.records(Kind::NOTIFY);
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_TRUE(notified[0].signalUpdated);
    EXPECT_EQ(notified[0].streamingCount, 0);
    expectWritten({{0, 64, true}}, 64);
    EXPECT_EQ(MpTestAccess::samplesBeforeSleep(probe()), 500 - 64 - 64);
    EXPECT_FALSE(harness.host.sleepRequested);
}

TEST_F(Sleep, AnInputStartingBetweenStretchesSwitchesToDirectProcessing) {
    runWithCountdown(64, 100);
    events.clear();
    events.add(20, EV_STREAM_BEGIN, PROBE_SIGNAL);
    harness.run(64, events.head());
    expectWritten({{0, 20, false}, {20, 44, true}}, 64);
    // Only the sleep-aware stretch counted down.
    EXPECT_EQ(MpTestAccess::samplesBeforeSleep(probe()), 100 - 64 - 20);
    EXPECT_TRUE(MpTestAccess::routesDirect(probe()));
}

TEST_F(Sleep, StreamingThatStartsInsideAWrappedCallFinishesTheStretchInOneCall) {
    // Countdown 20; the routine's first call (samples 0-19) starts the outputs streaming at 3.
    harness.host.sleepCountdown = 20;
    events.addBool(0, PROBE_FLAG, false);
    events.addFloat(0, PROBE_START_AT, 3.0f);
    harness.run(64, events.head());
    expectWritten({{0, 20, true}, {20, 44, true}}, 64);
    EXPECT_FALSE(harness.host.sleepRequested);
    EXPECT_TRUE(MpTestAccess::routesDirect(probe()));
    EXPECT_EQ(harness.host.streamState(PROBE_OFFSETS).timestamp, 3);
    EXPECT_TRUE(harness.host.streamState(PROBE_OFFSETS).streaming);

    harness.run(64, nullptr);
    expectWritten({{0, 64, true}}, 64);
    EXPECT_FALSE(harness.host.sleepRequested);
}

TEST_F(Sleep, ACountdownStoredDuringAWrappedCallReplacesTheLoweredOne) {
    // The outputs go constant at 0: countdown 20. The wrapper lowers it to 0 and runs samples
    // 0-19, during which the routine declares the outputs constant again (at 5) and the host
    // stores 20 anew: samples 20-39 run as well before the module asks to sleep. Lowering after
    // the call would have overwritten the new countdown and slept at 20.
    harness.host.sleepCountdown = 20;
    events.addBool(0, PROBE_FLAG, false);
    events.addFloat(0, PROBE_STOP_AT, 5.0f);
    harness.run(64, events.head());
    expectWritten({{0, 20, true}, {20, 20, true}}, 64);
    EXPECT_TRUE(harness.host.sleepRequested);
    EXPECT_EQ(MpTestAccess::samplesBeforeSleep(probe()), 0);
    EXPECT_EQ(harness.host.streamState(PROBE_OFFSETS).timestamp, 5);
}

TEST_F(Sleep, AStreamingInputKeepsTheModuleAwakeWhileTheOutputsAreStill) {
    harness.host.sleepCountdown = 0;
    events.add(0, EV_STREAM_BEGIN, PROBE_SIGNAL);
    events.addBool(0, PROBE_FLAG, false);
    harness.run(64, events.head());
    for (int block = 0; block < 3; ++block) {
        expectWritten({{0, 64, true}}, 64);
        EXPECT_FALSE(harness.host.sleepRequested);
        harness.run(64, nullptr);
    }
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 1);
}

TEST_F(Sleep, GraphStartWakesAndStillOutputsLetTheModuleSleepAgain) {
    harness.host.sleepCountdown = 8;
    events.add(0, EV_GRAPH_BEGIN);
    harness.run(32, events.head());
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 2);
    expectWritten({{0, 32, true}}, 32);

    events.clear();
    events.addBool(4, PROBE_FLAG, false);
    harness.run(32, events.head());
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 0);
    expectWritten({{0, 4, false}, {4, 8, true}}, 32);
    EXPECT_TRUE(harness.host.sleepRequested);
}

// WhenNothingStreams sleeps while nothing streams, Always whatever streams, any other value
// never. Whatever the policy, the wrapper goes back in front when the count returns to 0; under
// a policy that forbids sleep it hands over to the routine at its first call.
TEST(SleepPolicy, DecidesWhenTheModuleMaySleep) {
    struct Case {
        const char* name;
        SleepPolicy policy;
        std::vector<Stretch> whileStreaming;
        std::vector<Stretch> afterTheStop;
        bool sleeps;
    };
    const std::vector<Stretch> whole{{0, 64, true}};
    const std::vector<Stretch> stopAtTen{{0, 10, false}, {10, 1, true}};  // then the countdown of 1 runs out
    const std::vector<Stretch> handedOver{{0, 10, false}, {10, 54, true}};
    const Case cases[] = {
        {"WhenNothingStreams", SleepPolicy::WhenNothingStreams, whole, stopAtTen, true},
        {"Always", SleepPolicy::Always, {}, stopAtTen, true},
        {"Never", SleepPolicy::Never, whole, handedOver, false},
        {"7", static_cast<SleepPolicy>(7), whole, handedOver, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeHarness harness;
        host::EventList events;
        harness.host.sleepCountdown = 0;
        MpTestAccess::setSleepPolicy(harness.probe(), c.policy);
        events.add(0, EV_STREAM_BEGIN, PROBE_SIGNAL);
        harness.run(64, events.head());
        EXPECT_EQ(harness.stretches(), c.whileStreaming);
        EXPECT_EQ(harness.host.sleepRequested, c.whileStreaming.empty());

        events.clear();
        events.add(10, EV_STREAM_END, PROBE_SIGNAL);
        harness.run(64, events.head());
        EXPECT_EQ(harness.stretches(), c.afterTheStop);
        EXPECT_EQ(harness.host.sleepRequested, c.sleeps);

        // Outside process: an output that streams and stops again puts the wrapper in front.
        harness.probe().offsets.declareStreaming(true, 0);
        EXPECT_EQ(MpTestAccess::routesDirect(harness.probe()), c.policy != SleepPolicy::Always);
        harness.probe().offsets.declareStreaming(false, 0);
        EXPECT_TRUE(MpTestAccess::routesThroughWrapper(harness.probe()));
    }
}

}  // namespace
}  // namespace kvx::test
