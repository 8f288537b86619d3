// SPDX-License-Identifier: MIT
// The conformance kit's block loop, driven by scripted modules (process hooks that write what a
// test wants): sleep is honoured only while no event is due, writes outside the block and into
// inputs are evidence naming pin, index and block, the events reach the owed-sample rule, and
// owed samples are judged only when the host heard every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "conformance/block_loop.h"
#include "host/event_list.h"

namespace kvx::conformance {
namespace {

constexpr int32_t OUT = 9, IN = 2, CAPACITY = 8;

BlockLoop makeLoop() { return BlockLoop({OUT}, {IN}, {IN}, CAPACITY); }

// A module that writes `value` to the first `written` samples of the output, and asks to sleep
// when `sleep` is set; counts its calls.
struct Scripted {
    BlockLoop& loop;
    int32_t written = CAPACITY;
    float value = 0.5f;
    bool sleep = false;
    bool heardAll = true;
    int calls = 0;
    int32_t lastCount = 0;
    ModuleCall sleepRequest{ModuleCall::SleepRequest};
    BlockLoop::Process hook() {
        return [this](const Block& block, int32_t sampleCount, const void*) {
            ++calls;
            lastCount = sampleCount;
            for (int32_t i = 0; i < std::min(written, block.length); ++i) loop.buffer(OUT).data()[i] = value;
            return HeardCalls{sleep ? &sleepRequest : nullptr, sleep ? 1u : 0u, heardAll, sleep ? 1 : 0};
        };
    }
};

TEST(BlockLoop, ASleepingModuleIsCalledOnlyWhenAnEventIsDue) {
    for (const bool honour : {true, false}) {
        SCOPED_TRACE(honour ? "honouring sleep" : "ignoring sleep");
        BlockLoop loop = makeLoop();
        loop.honourSleep = honour;
        Scripted module{loop};
        module.sleep = true;
        EXPECT_TRUE(loop.runBlock(4, 4, nullptr, module.hook()));
        module.value = 0.25f;  // heard only if called
        EXPECT_EQ(loop.runBlock(4, 4, nullptr, module.hook()), !honour);
        EXPECT_EQ(loop.buffer(OUT).data()[3], honour ? 0.5f : 0.25f);
        host::EventList events;
        events.add(2, EV_GRAPH_BEGIN);
        EXPECT_TRUE(loop.runBlock(4, 4, events.head(), module.hook()));
        EXPECT_EQ(module.calls, honour ? 2 : 3);
        EXPECT_EQ(loop.stats().blocksSlept, honour ? 1 : 0);
        EXPECT_EQ(loop.stats().blocks, 3);
        EXPECT_EQ(loop.position(), 12);
    }
}

TEST(BlockLoop, CountsBeyondTheCapacityThrowAndNegativeOnesRunNothing) {
    BlockLoop loop = makeLoop();
    Scripted module{loop};
    EXPECT_THROW(loop.runBlock(CAPACITY + 1, 1, nullptr, module.hook()), std::invalid_argument);
    EXPECT_TRUE(loop.runBlock(CAPACITY, 1, nullptr, module.hook()));
    EXPECT_TRUE(loop.runBlock(-5, 1, nullptr, module.hook()));
    EXPECT_EQ(module.lastCount, -5);  // passed on as the host gives it
    EXPECT_EQ(loop.position(), CAPACITY);
    EXPECT_EQ(loop.evidence().outsideWrite, "");
}

TEST(BlockLoop, WritesOutsideTheBlockAndIntoInputsAreEvidence) {
    struct Case {
        int32_t pin, index;
        std::string outside, input;
    };
    const std::vector<Case> cases{
        {OUT, 4, "output pin 9 written at index 4, past the block end, in block 0 (samples 0..3, 4 long)",
         ""},
        {OUT, CAPACITY, "pin 9 buffer written at index 8 (guard zone) in block 0 (samples 0..3, 4 long)", ""},
        {OUT, -1, "pin 9 buffer written at index -1 (guard zone) in block 0 (samples 0..3, 4 long)", ""},
        {IN, -64, "pin 2 buffer written at index -64 (guard zone) in block 0 (samples 0..3, 4 long)", ""},
        {IN, CAPACITY - 1, "", "input pin 2 buffer changed at index 7 in block 0 (samples 0..3, 4 long)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("pin " + std::to_string(c.pin) + " index " + std::to_string(c.index));
        BlockLoop loop = makeLoop();
        const auto hook = [&](const Block&, int32_t, const void*) {
            loop.buffer(c.pin).data()[c.index] = 1.0f;
            return HeardCalls{};
        };
        loop.runBlock(4, 4, nullptr, hook);
        EXPECT_EQ(loop.evidence().outsideWrite, c.outside);
        EXPECT_EQ(loop.evidence().inputWritten, c.input);
        EXPECT_FALSE(loop.buffer(c.pin).firstGuardHit());  // armed again for the next block
    }
}

TEST(BlockLoop, EventsReachTheOwedRuleAndOnlyAHostThatHeardAllJudgesIt) {
    // Writes sample 0 and asks to sleep: with an event at sample 6 the stretch before it was owed.
    for (const bool withEvent : {false, true})
        for (const bool heardAll : {false, true}) {
            SCOPED_TRACE(std::string(withEvent ? "event at 6" : "no event") +
                         (heardAll ? ", heard all" : ""));
            BlockLoop loop = makeLoop();
            Scripted module{loop};
            module.written = 1;
            module.sleep = true;
            module.heardAll = heardAll;
            host::EventList events;
            events.add(6, EV_GRAPH_BEGIN);
            loop.runBlock(CAPACITY, 1, withEvent ? events.head() : nullptr, module.hook());
            const std::string& owed = loop.evidence().unwrittenOwed;
            if (withEvent && heardAll)
                EXPECT_NE(owed.find("sample 1 was left unwritten, but the module owed samples 0..5"),
                          std::string::npos)
                    << owed;
            else
                EXPECT_EQ(owed, "");
            // Unwritten samples the host may hold take the held value.
            EXPECT_EQ(loop.buffer(OUT).data()[7], 0.5f);
        }
}

}  // namespace
}  // namespace kvx::conformance
