// SPDX-License-Identifier: MIT
// Block processing as the module sees it: where the block is split, what blockOffset and
// sleepAllowed say during each stretch, and how each timestamp's events reach the pins
// (decode all, notify all, onPinChanges once, finish all). Includes the event lists a careless
// host may send: times at or past the block end, negative or out-of-order times, negative counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "host/event_list.h"
#include "tests/plugin_base/probe_harness.h"
#include "tests/support/mp_test_access.h"

namespace kvx::test {
namespace {

using Kind = ProbeRecord::Kind;

// Direct processing with sleep switched off, so every stretch reaches the routine unchanged.
class BlockProcessing : public ::testing::Test {
protected:
    BlockProcessing() {
        MpTestAccess::setSleepPolicy(probe(), SleepPolicy::Never);
        MpTestAccess::routeDirect(probe());
    }
    ProbeModule& probe() { return harness.probe(); }
    ProbeHarness harness;
    host::EventList events;
};

struct SplitCase {
    std::string name;
    int32_t sampleCount;
    std::vector<int32_t> times;  // in order; each a value event for PROBE_START_AT
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.name; }

// The documented rules, for in-order events: every distinct event time inside the block ends a
// stretch; a stretch is never empty; only the stretch after the last delivered timestamp may
// sleep. An event at or past the block's end ends the block there and neither it nor any later
// event is delivered (a block of 0 samples has no end to reach: its events act at time 0).
struct Split {
    std::vector<Stretch> stretches;
    std::vector<int32_t> groupTimes;
    std::vector<size_t> delivered;  // indexes into the case's times
};

Split expectedSplit(int32_t n, const std::vector<int32_t>& times) {
    Split e;
    int32_t start = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        const int32_t t = std::min(times[i], n);
        if (t > start) {
            e.stretches.push_back({start, t - start, false});
            start = t;
        }
        if (t == n && n > 0) return e;
        if (e.groupTimes.empty() || e.groupTimes.back() != t) e.groupTimes.push_back(t);
        e.delivered.push_back(i);
    }
    e.stretches.push_back({start, n - start, true});
    return e;
}

class BlockSplit : public BlockProcessing, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(BlockSplit, StretchesGroupsAndOffsetsFollowTheEventTimes) {
    const SplitCase& c = GetParam();
    // Distinct negative values, so that no value makes the routine start streaming.
    auto valueOf = [](size_t i) { return -2.0f - static_cast<float>(i); };
    for (size_t i = 0; i < c.times.size(); ++i) events.addFloat(c.times[i], PROBE_START_AT, valueOf(i));
    harness.run(c.sampleCount, events.head());

    const Split want = expectedSplit(c.sampleCount, c.times);
    EXPECT_EQ(harness.stretches(), want.stretches);
    harness.expectOutputsMatch(want.stretches, c.sampleCount);

    // Every delivered event is notified at its group's time, after the whole group was decoded:
    // the value seen at notification is the group's last value.
    const auto notified = harness.records(Kind::NOTIFY);
    ASSERT_EQ(notified.size(), want.delivered.size());
    for (size_t k = 0; k < notified.size(); ++k) {
        const size_t i = want.delivered[k];
        const int32_t time = std::min(c.times[i], c.sampleCount);
        size_t last = k;
        while (last + 1 < want.delivered.size() &&
               std::min(c.times[want.delivered[last + 1]], c.sampleCount) == time)
            ++last;
        SCOPED_TRACE("event " + std::to_string(i));
        EXPECT_EQ(notified[k].offset, time);
        EXPECT_EQ(notified[k].pinId, PROBE_START_AT);
        EXPECT_TRUE(notified[k].startUpdated);
        EXPECT_EQ(notified[k].startAt, valueOf(want.delivered[last]));
    }
    std::vector<int32_t> changeTimes;
    for (const ProbeRecord& r : harness.records(Kind::PIN_CHANGES)) changeTimes.push_back(r.offset);
    EXPECT_EQ(changeTimes, want.groupTimes);
    // The finish pass has cleared the flag before any later stretch runs.
    for (const ProbeRecord& r : harness.records(Kind::ROUTINE)) EXPECT_FALSE(r.startUpdated);

    EXPECT_EQ(probe().startAt.currentValue(),
              want.delivered.empty() ? -1.0f : valueOf(want.delivered.back()));
    EXPECT_EQ(MpTestAccess::blockPosition(probe()), want.groupTimes.empty() ? 0 : want.groupTimes.back());
    EXPECT_TRUE(MpTestAccess::sleepAllowed(probe()));
}

INSTANTIATE_TEST_SUITE_P(
    EventTimes, BlockSplit,
    ::testing::Values(
        SplitCase{"NoEvents64", 64, {}}, SplitCase{"OneAt10", 64, {10}},
        SplitCase{"FiveFiveTwentyIn32", 32, {5, 5, 20}}, SplitCase{"AtZero", 64, {0}},
        SplitCase{"FirstAndLastSample", 64, {0, 63}}, SplitCase{"LastSample", 64, {63}},
        SplitCase{"EverySampleOf7", 7, {0, 1, 2, 3, 4, 5, 6}}, SplitCase{"OneSampleBlock", 1, {0}},
        SplitCase{"ManyIn512", 512, {3, 100, 100, 100, 257, 511}}, SplitCase{"AtSampleCount", 64, {64}},
        SplitCase{"InBlockThenAtSampleCount", 64, {10, 64}}, SplitCase{"PastTheBlock", 64, {10, 65, 1000}},
        SplitCase{"FarPastTheBlock", 64, {10, INT32_MAX}}, SplitCase{"OnlyPastTheBlock", 16, {17, 30}},
        SplitCase{"EmptyBlock", 0, {}}, SplitCase{"EmptyBlockEventAtZero", 0, {0, 0}},
        SplitCase{"EmptyBlockEventsPastIt", 0, {0, 5, INT32_MAX}}),
    [](const auto& info) { return info.param.name; });

TEST_F(BlockProcessing, AGroupIsDecodedWholeBeforeAnyNotificationAndChangesOnce) {
    events.addBool(12, PROBE_FLAG, true);
    events.addFloat(12, PROBE_START_AT, -4.0f);
    events.addFloat(12, PROBE_START_AT, -9.0f);  // the later event of one pin wins
    harness.run(40, events.head());

    EXPECT_EQ(harness.kinds(), (std::vector<Kind>{Kind::ROUTINE, Kind::NOTIFY, Kind::NOTIFY, Kind::NOTIFY,
                                                  Kind::PIN_CHANGES, Kind::ROUTINE}));
    for (const ProbeRecord& r : harness.records(Kind::NOTIFY)) {
        EXPECT_EQ(r.offset, 12);
        EXPECT_TRUE(r.flagUpdated && r.flagValue && r.startUpdated);
        EXPECT_EQ(r.startAt, -9.0f);
        EXPECT_EQ(r.streamingCount, 0) << "onPinChanges ran before a notification";
    }
    const ProbeRecord changes = harness.records(Kind::PIN_CHANGES).at(0);
    EXPECT_TRUE(changes.flagUpdated && changes.startUpdated);
    EXPECT_EQ(changes.offset, 12);
    const auto routines = harness.records(Kind::ROUTINE);
    EXPECT_FALSE(routines[1].flagUpdated || routines[1].startUpdated);
    EXPECT_EQ(routines[1].streamingCount, 2);  // onPinChanges declared both outputs streaming
    EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 12, false}, {12, 28, true}}));
}

TEST_F(BlockProcessing, AValueEventMarksThePinUpdatedEvenWhenTheValueStays) {
    events.addFloat(3, PROBE_START_AT, probe().startAt.currentValue());
    harness.run(8, events.head());
    ASSERT_EQ(harness.records(Kind::NOTIFY).size(), 1u);
    EXPECT_TRUE(harness.records(Kind::NOTIFY)[0].startUpdated);
    EXPECT_EQ(harness.records(Kind::PIN_CHANGES).size(), 1u);
}

TEST_F(BlockProcessing, UnknownTypesAndUnregisteredPinsSplitTheBlockWithoutDelivery) {
    for (int32_t type : {0, 99, 105, -1, INT32_MAX}) {
        SCOPED_TRACE("type " + std::to_string(type));
        events.clear();
        events.add(8, type, PROBE_FLAG);
        harness.run(16, events.head());
        EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 8, false}, {8, 8, true}}));
        EXPECT_EQ(harness.kinds(), (std::vector<Kind>{Kind::ROUTINE, Kind::ROUTINE}));
    }
    // Pin-addressed types for an id the module lacks reach no pin; 100 to 102 still count as
    // changes of their timestamp, 103 does not.
    for (int32_t type : {EV_PIN_VALUE, EV_STREAM_BEGIN, EV_STREAM_END, EV_PIN_OTHER}) {
        for (int32_t pin : {int32_t{PROBE_PIN_COUNT}, 42, -1}) {
            SCOPED_TRACE("type " + std::to_string(type) + " pin " + std::to_string(pin));
            events.clear();
            events.add(8, type, pin);
            harness.run(16, events.head());
            EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 8, false}, {8, 8, true}}));
            EXPECT_TRUE(harness.records(Kind::NOTIFY).empty());
            EXPECT_EQ(harness.records(Kind::PIN_CHANGES).size(), type == EV_PIN_OTHER ? 0u : 1u);
        }
    }
    EXPECT_TRUE(harness.host.trace.empty());
}

TEST_F(BlockProcessing, OtherPinEventsReachThePinButChangeNothing) {
    events.add(4, EV_PIN_OTHER, PROBE_FLAG);
    events.add(4, EV_PIN_OTHER, PROBE_SIGNAL);
    harness.run(16, events.head());
    const auto notified = harness.records(Kind::NOTIFY);
    ASSERT_EQ(notified.size(), 2u);
    EXPECT_EQ(notified[0].count, EV_PIN_OTHER);
    EXPECT_FALSE(notified[0].flagUpdated);
    EXPECT_TRUE(harness.records(Kind::PIN_CHANGES).empty());
}

TEST_F(BlockProcessing, EventsForAnAudioOutputOnlyReachItsCallback) {
    for (int32_t type : {EV_PIN_VALUE, EV_STREAM_BEGIN, EV_STREAM_END, EV_PIN_OTHER})
        events.add(5, type, PROBE_OFFSETS);
    harness.run(16, events.head());
    EXPECT_EQ(harness.records(Kind::NOTIFY).size(), 4u);
    EXPECT_EQ(harness.records(Kind::PIN_CHANGES).size(), 1u);
    EXPECT_FALSE(probe().offsets.isStreaming());
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 0);
    EXPECT_TRUE(harness.host.trace.empty());
}

TEST_F(BlockProcessing, GraphStartRunsInTheNotifyPassAtItsPlace) {
    events.addFloat(6, PROBE_START_AT, -1.0f);
    events.add(6, EV_GRAPH_BEGIN);
    events.addFloat(6, PROBE_START_AT, -2.0f);
    harness.run(16, events.head());
    const auto notified = harness.records(Kind::NOTIFY);
    ASSERT_EQ(notified.size(), 2u);
    EXPECT_EQ(notified[0].streamingCount, 0);
    EXPECT_EQ(notified[1].streamingCount, 2);  // both audio outputs declared streaming between them
    EXPECT_EQ(harness.records(Kind::PIN_CHANGES).size(), 1u);

    // Graph start alone causes no onPinChanges.
    events.clear();
    events.add(6, EV_GRAPH_BEGIN);
    harness.run(16, events.head());
    EXPECT_TRUE(harness.records(Kind::PIN_CHANGES).empty());
    EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 6, false}, {6, 10, true}}));
}

TEST_F(BlockProcessing, AnEarlierTimeIsHandledAtTheCurrentPosition) {
    // Out of order: the event at 4 comes after the one at 20 and acts at 20, as its own group.
    events.addFloat(20, PROBE_START_AT, -1.0f);
    events.addFloat(4, PROBE_START_AT, -2.0f);
    events.addFloat(30, PROBE_START_AT, -3.0f);
    harness.run(64, events.head());
    EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 20, false}, {20, 10, false}, {30, 34, true}}));
    std::vector<int32_t> changeTimes;
    for (const ProbeRecord& r : harness.records(Kind::PIN_CHANGES)) changeTimes.push_back(r.offset);
    EXPECT_EQ(changeTimes, (std::vector<int32_t>{20, 20, 30}));
    harness.expectOutputsMatch(harness.stretches(), 64);
}

TEST_F(BlockProcessing, NegativeTimesActAtTheCurrentPositionAndNeverStretchTheBlock) {
    for (int32_t negative : {-1, -5, -64, INT32_MIN}) {
        SCOPED_TRACE("time " + std::to_string(negative));
        // First in the list: acts at 0, grouped with the events at 0 after it.
        events.clear();
        events.addFloat(negative, PROBE_START_AT, -1.0f);
        events.addFloat(0, PROBE_START_AT, -2.0f);
        events.addFloat(40, PROBE_START_AT, -3.0f);
        harness.run(64, events.head());
        EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 40, false}, {40, 24, true}}));
        ASSERT_EQ(harness.records(Kind::NOTIFY).size(), 3u);
        EXPECT_EQ(harness.records(Kind::NOTIFY)[0].offset, 0);
        EXPECT_EQ(harness.records(Kind::NOTIFY)[0].startAt, -2.0f);
        EXPECT_EQ(harness.records(Kind::PIN_CHANGES).size(), 2u);

        // After a later event: acts at that event's time, with no stretch before it.
        events.clear();
        events.addFloat(10, PROBE_START_AT, -1.0f);
        events.addFloat(negative, PROBE_START_AT, -2.0f);
        harness.run(64, events.head());
        EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 10, false}, {10, 54, true}}));
        std::vector<int32_t> changeTimes;
        for (const ProbeRecord& r : harness.records(Kind::PIN_CHANGES)) changeTimes.push_back(r.offset);
        EXPECT_EQ(changeTimes, (std::vector<int32_t>{10, 10}));
        EXPECT_EQ(probe().startAt.currentValue(), -2.0f);
    }
}

TEST_F(BlockProcessing, ANegativeSampleCountIsAnEmptyBlock) {
    for (int32_t count : {-1, -64, INT32_MIN}) {
        SCOPED_TRACE("sampleCount " + std::to_string(count));
        harness.run(count, nullptr);
        EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 0, true}}));

        events.clear();
        events.addFloat(0, PROBE_START_AT, -1.0f);
        events.addFloat(5, PROBE_START_AT, -2.0f);
        harness.run(count, events.head());
        EXPECT_EQ(harness.stretches(), (std::vector<Stretch>{{0, 0, true}}));
        EXPECT_EQ(harness.records(Kind::NOTIFY).size(), 2u);
        EXPECT_EQ(harness.records(Kind::PIN_CHANGES).size(), 1u);
    }
}

TEST_F(BlockProcessing, TheFirstVersionViewRunsTheSameBlock) {
    events.addFloat(9, PROBE_START_AT, -1.0f);
    events.add(20, 105);
    harness.run(32, events.head());
    const std::vector<Stretch> throughView2 = harness.stretches();
    const auto kindsThroughView2 = harness.kinds();

    probe().recordCount = 0;
    static_cast<IMpPlugin*>(&probe())->processV1(32, events.head());
    EXPECT_EQ(harness.stretches(), throughView2);
    EXPECT_EQ(harness.kinds(), kindsThroughView2);
}

}  // namespace
}  // namespace kvx::test
