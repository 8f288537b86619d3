// SPDX-License-Identifier: MIT
// The strict host's rule for the samples a module owes, case by case from the sleep protocol:
// nothing before the module starts, everything while awake, and in a block with a sleep
// request the stretches before events, the countdown's reach and the sample of a stream end.
#include <gtest/gtest.h>

#include <vector>

#include "conformance/owed_samples.h"
#include "conformance/raw_abi.h"

namespace kvx::conformance {
namespace {

constexpr int32_t AUDIO_IN = 2;
constexpr int32_t CONTROL_IN = 0;
constexpr int32_t OUTPUT = 9;

const ModuleCall SLEEP{ModuleCall::SleepRequest};
ModuleCall constantAt(int32_t position) { return ModuleCall{ModuleCall::Streaming, position, OUTPUT, 0}; }
ModuleCall streamingAt(int32_t position) { return ModuleCall{ModuleCall::Streaming, position, OUTPUT, 1}; }

struct Event {
    int32_t time;
    int32_t type;
    int32_t pin;
};

class Owed : public ::testing::Test {
protected:
    // One block of `length` samples from `start`; `firstWritten` as the host found it.
    OwedSpan block(int64_t start, int32_t length, int32_t countdown, const std::vector<ModuleCall>& calls,
                   const std::vector<Event>& events = {}, int32_t firstWritten = 0) {
        owed.beginBlock(start, length, countdown);
        for (const Event& e : events) owed.event(e.time, e.type, e.pin);
        return owed.endBlock(calls.data(), calls.size(), firstWritten);
    }
    void expectSpan(OwedSpan span, int32_t from, int32_t to) {
        EXPECT_EQ(span.from, from) << owed.reason();
        EXPECT_EQ(span.to, to) << owed.reason();
    }
    OwedSamples owed{{AUDIO_IN}};
};

TEST_F(Owed, NothingUntilTheModuleWritesOrDeclaresItsOutputConstant) {
    // Awake but silent (a module whose first event has not come): nothing owed.
    expectSpan(block(0, 64, 64, {streamingAt(0)}, {}, 64), 64, 64);
    // The first constant declaration starts the obligation at its sample.
    expectSpan(block(64, 64, 64, {constantAt(20)}, {}, 64), 20, 64);
    // From then on every sample of a block without a sleep request.
    expectSpan(block(128, 64, 64, {}), 0, 64);

    OwedSamples writer({AUDIO_IN});
    writer.beginBlock(0, 64, 64);
    EXPECT_EQ(writer.endBlock(nullptr, 0, 7).from, 7) << "the first written sample starts it too";
}

TEST_F(Owed, TheCountdownReachesAcrossBlocksFromTheLatestDeclaration) {
    // Constant at 10 with a countdown of 100: the module runs up to sample 110 at least.
    expectSpan(block(0, 64, 100, {constantAt(10)}), 0, 64);
    expectSpan(block(64, 64, 100, {SLEEP}), 0, 46);
    expectSpan(block(128, 64, 100, {SLEEP}), 0, 0);
    // A later declaration replaces the countdown, also with a shorter one: 192 + 10 + 5.
    expectSpan(block(192, 64, 5, {constantAt(10), SLEEP}), 0, 15);
    // A countdown of 0 owes nothing past the declaration's sample.
    expectSpan(block(256, 64, 0, {constantAt(40), SLEEP}), 0, 40);
}

TEST_F(Owed, StretchesThatEndAtEventsRunWhole) {
    block(0, 64, 0, {constantAt(0)});
    // Events of any type split, in any list order; times past the block or negative do not.
    expectSpan(block(64, 64, 0, {SLEEP}, {{30, 105, -1}, {12, event::PIN_VALUE, CONTROL_IN}, {-5, 105, -1}}),
               0, 30);
    expectSpan(block(128, 64, 0, {SLEEP}, {{64, 105, -1}}), 0, 64);  // at the block's end
    expectSpan(block(192, 64, 0, {SLEEP}, {{65, 105, -1}}), 0, 0);
}

TEST_F(Owed, AStreamEndOfAnAudioInputOwesItsSample) {
    block(0, 64, 0, {constantAt(0)});
    expectSpan(block(64, 64, 0, {SLEEP}, {{40, event::STREAM_END, AUDIO_IN}}), 0, 41);
    // Control pins do not stream: their stream ends owe nothing beyond the stretch before them.
    expectSpan(block(128, 64, 0, {SLEEP}, {{40, event::STREAM_END, CONTROL_IN}}), 0, 40);
    // A constant declaration at the same sample comes after the stop and replaces its countdown.
    expectSpan(block(192, 64, 0, {constantAt(40), SLEEP}, {{40, event::STREAM_END, AUDIO_IN}}), 0, 40);
    // One before the stop does not: the stop still raises the countdown it handed over.
    expectSpan(block(256, 64, 0, {constantAt(10), SLEEP}, {{40, event::STREAM_END, AUDIO_IN}}), 0, 41);
}

}  // namespace
}  // namespace kvx::conformance
