// SPDX-License-Identifier: MIT
// SleepState, step by step: for each state before (policy, pins streaming, countdown, whether
// sleep is allowed) and one operation, the answer and the state after, as the protocol in
// plugin/sleep_state.h and docs/design.md states them. A new sleep rule gets its row here; the
// probe's tests (sleep_test.cpp) show the same rules through whole blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/sleep_state.h"
#include "tests/support/mp_test_access.h"

namespace kvx::test {
namespace {

constexpr SleepPolicy WHEN_QUIET = SleepPolicy::WhenNothingStreams;  // the default
constexpr SleepPolicy ALWAYS = SleepPolicy::Always;
constexpr SleepPolicy NEVER = SleepPolicy::Never;
constexpr SleepPolicy OTHER = static_cast<SleepPolicy>(7);  // neither -1 nor 1

struct Before {
    SleepPolicy policy;
    int32_t streaming;  // pins streaming
    int32_t countdown;
    bool sleepAllowed;
};

struct Operation {
    enum Kind {
        PinStartsStreaming,
        PinStopsStreaming,
        InputStoppedStreaming,
        NextStep
    } kind;
    int32_t remaining = 0;  // NextStep's samples still to run
};
const Operation STARTS{Operation::PinStartsStreaming};
const Operation STOPS{Operation::PinStopsStreaming};
const Operation INPUT_STOPPED{Operation::InputStoppedStreaming};
Operation step(int32_t remaining) { return {Operation::NextStep, remaining}; }

struct After {
    int32_t streaming;
    int32_t countdown;
};

struct Row {
    const char* rule;
    Before before;
    Operation operation;
    std::string answer;  // the route, or the step ("Run 10", "HandOver 64", ...); "" for none
    After after;
};

// Reached through the operations the pins, the host and block processing use.
SleepState stateFrom(const Before& before) {
    SleepState state;
    state.setPolicy(before.policy);
    for (int32_t i = 0; i < before.streaming; ++i) state.streamingChanged(true);
    *state.countdownForHost() = before.countdown;
    state.allowSleep(before.sleepAllowed);
    return state;
}

std::string routeName(Route route) { return route == Route::Direct ? "Direct" : "SleepAware"; }

std::string stepName(SleepStep step) {
    switch (step.kind) {
        case SleepStep::HandOver:
            return "HandOver " + std::to_string(step.samples);
        case SleepStep::RequestSleep:
            return "RequestSleep";
        case SleepStep::Done:
            return "Done";
        case SleepStep::Run:
            return "Run " + std::to_string(step.samples);
    }
    return "?";
}

std::string apply(SleepState& state, const Operation& operation) {
    switch (operation.kind) {
        case Operation::PinStartsStreaming:
            return routeName(state.streamingChanged(true));
        case Operation::PinStopsStreaming:
            return routeName(state.streamingChanged(false));
        case Operation::InputStoppedStreaming:
            state.inputStoppedStreaming();
            return "";
        case Operation::NextStep:
            return stepName(state.nextStep(operation.remaining));
    }
    return "?";
}

TEST(SleepState, EachStepGivesTheDocumentedAnswerAndState) {
    const std::vector<Row> rows = {
        // Streaming changes choose the route and leave the countdown alone.
        {"first pin streams: direct", {WHEN_QUIET, 0, 5, true}, STARTS, "Direct", {1, 5}},
        {"one of two stops: still direct", {WHEN_QUIET, 2, 0, true}, STOPS, "Direct", {1, 0}},
        {"last one stops: the wrapper", {WHEN_QUIET, 1, 0, true}, STOPS, "SleepAware", {0, 0}},
        {"Always: the wrapper as one starts", {ALWAYS, 0, 0, true}, STARTS, "SleepAware", {1, 0}},
        {"Always: the wrapper as one stops", {ALWAYS, 2, 0, true}, STOPS, "SleepAware", {1, 0}},
        {"Never: direct while one streams", {NEVER, 0, 0, true}, STARTS, "Direct", {1, 0}},
        {"Never: the wrapper again at 0", {NEVER, 1, 0, true}, STOPS, "SleepAware", {0, 0}},
        // An input that stops streaming: the sample where it went still runs.
        {"run out: raised to 1", {WHEN_QUIET, 0, 0, true}, INPUT_STOPPED, "", {0, 1}},
        {"negative: raised to 1", {WHEN_QUIET, 0, -4, true}, INPUT_STOPPED, "", {0, 1}},
        {"a longer countdown is kept", {WHEN_QUIET, 0, 7, true}, INPUT_STOPPED, "", {0, 7}},
        {"raised while a pin streams", {WHEN_QUIET, 1, 0, true}, INPUT_STOPPED, "", {1, 1}},
        // The wrapper's steps.
        {"run out: ask to sleep", {WHEN_QUIET, 0, 0, true}, step(64), "RequestSleep", {0, 0}},
        {"negative is run out", {WHEN_QUIET, 0, -3, true}, step(64), "RequestSleep", {0, -3}},
        {"run out at the stretch's end: sleep", {WHEN_QUIET, 0, 0, true}, step(0), "RequestSleep", {0, 0}},
        {"cut by the countdown, lowered first", {WHEN_QUIET, 0, 10, true}, step(64), "Run 10", {0, 0}},
        {"a countdown as long as the stretch", {WHEN_QUIET, 0, 64, true}, step(64), "Run 64", {0, 0}},
        {"a longer countdown: the stretch", {WHEN_QUIET, 0, 100, true}, step(64), "Run 64", {0, 36}},
        {"ends at an event: runs whole", {WHEN_QUIET, 0, 0, false}, step(64), "Run 64", {0, 0}},
        {"ends at an event: no sleep at its end", {WHEN_QUIET, 0, 0, false}, step(0), "Done", {0, 0}},
        {"nothing left to run", {WHEN_QUIET, 0, 5, true}, step(0), "Done", {0, 5}},
        {"a pin streams: hand the rest over", {WHEN_QUIET, 1, 10, true}, step(64), "HandOver 64", {1, 10}},
        {"Always: runs while pins stream", {ALWAYS, 2, 10, true}, step(64), "Run 10", {2, 0}},
        {"Always: sleeps while pins stream", {ALWAYS, 1, 0, true}, step(64), "RequestSleep", {1, 0}},
        {"Never: hands over at once", {NEVER, 0, 0, true}, step(64), "HandOver 64", {0, 0}},
        {"another value acts as Never", {OTHER, 0, 0, true}, step(32), "HandOver 32", {0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rule);
        SleepState state = stateFrom(row.before);
        EXPECT_EQ(apply(state, row.operation), row.answer);
        EXPECT_EQ(MpTestAccess::streamingCount(state), row.after.streaming);
        EXPECT_EQ(*state.countdownForHost(), row.after.countdown);
    }
}

}  // namespace
}  // namespace kvx::test
