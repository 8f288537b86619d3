// SPDX-License-Identifier: MIT
// SleepState: the one owner of what decides whether a module's routine runs directly or through
// the sleep-aware wrapper, and when the wrapper may ask the host to let the module sleep: the
// streaming count, the sleep countdown, the policy, and block processing's permission to sleep.
#pragma once

#include <cstdint>

namespace kvx {

// When the sleep-aware wrapper may let a module sleep.
enum class SleepPolicy : int32_t {
    WhenNothingStreams = -1,  // while none of the module's audio pins streams (the default)
    Always = 1,               // whatever streams
    Never = 0,                // every value other than -1 and 1 behaves like this one
};

// Which routine block processing calls for each stretch of a block.
enum class Route {
    Direct,      // the module's own routine
    SleepAware,  // the sleep-aware wrapper, which runs the module's routine for the countdown
};

// What the sleep-aware wrapper does next with the rest of its stretch.
struct SleepStep {
    enum Kind {
        HandOver,      // the sleep path no longer applies: route directly, run the rest at once
        RequestSleep,  // ask the host to let the module sleep; the rest of the stretch is not run
        Done,          // nothing left to run
        Run,           // run the module's routine for `samples` samples, then ask again
    };
    Kind kind;
    int32_t samples;
};

// The protocol, seen from one module (Route is which routine block processing calls):
//
//                  a streaming change leaves the count above 0 and the policy is not
//                  Always; or the wrapper finds that the sleep path no longer applies
//    SleepAware  ------------------------------------------------------------------>  Direct
//    (at start)  <------------------------------------------------------------------
//      |    ^      the count returns to 0, whatever the policy; or any streaming
//      |    |      change while the policy is Always
//      |    |
//      |    | the host calls process() again
//      v    |
//     Asleep       the wrapper asked the host: countdown run out in the last stretch of a block
//
// The sleep path applies under WhenNothingStreams while the count is 0, always under Always,
// never under Never.
// The countdown (samplesBeforeSleep) is what the wrapper may still run before it asks to sleep.
// The host stores it through getSleepCountdown each time an output declares itself constant; an
// input that stops streaming raises it to at least 1. The wrapper lowers it by each run *before*
// the run, so a countdown the host stores during the run replaces the lowered value. A stretch
// that ends at an event (sleep not allowed) is always run whole, even with the countdown run out.
// Each rule is pinned as a row of tests/plugin_base/sleep_state_test.cpp; a new rule adds one.
class SleepState {
public:
    SleepPolicy policy() const noexcept { return sleepPolicy; }
    void setPolicy(SleepPolicy policy) noexcept { sleepPolicy = policy; }

    // --- Audio pins ---
    // A pin's streaming state really changed. Returns the route from the next stretch on.
    Route streamingChanged(bool isStreaming) noexcept {
        streamingCount += isStreaming ? 1 : -1;
        // Back to the wrapper whenever the count reaches 0, whatever the policy (under Never it
        // hands over again at its first call).
        return streamingCount != 0 && sleepPolicy != SleepPolicy::Always ? Route::Direct : Route::SleepAware;
    }
    // An audio input stopped streaming, or was told so again: the sample where it went still
    // runs before the module may sleep.
    void inputStoppedStreaming() noexcept {
        if (samplesBeforeSleep < 1) samplesBeforeSleep = 1;
    }
    // Where the host stores the countdown when an output declares itself constant.
    int32_t* countdownForHost() noexcept { return &samplesBeforeSleep; }

    // --- Block processing ---
    // False while a stretch that ends at an event runs: such a stretch is never cut short.
    void allowSleep(bool allowed) noexcept { sleepAllowed = allowed; }

    // --- The sleep-aware wrapper ---
    // The next step with `remaining` samples of the wrapper's stretch still to run.
    SleepStep nextStep(int32_t remaining) noexcept {
        if (!sleepPathApplies()) return {SleepStep::HandOver, remaining};
        if (samplesBeforeSleep <= 0) {
            if (sleepAllowed) return {SleepStep::RequestSleep, 0};
            samplesBeforeSleep = remaining;  // a stretch that ends at an event runs whole
        }
        if (remaining == 0) return {SleepStep::Done, 0};
        const int32_t samples = samplesBeforeSleep < remaining ? samplesBeforeSleep : remaining;
        samplesBeforeSleep -= samples;  // before the run: a countdown stored meanwhile replaces it
        return {SleepStep::Run, samples};
    }

private:
    friend struct MpTestAccess;

    bool sleepPathApplies() const noexcept {
        return sleepPolicy == SleepPolicy::WhenNothingStreams ? streamingCount == 0
                                                              : sleepPolicy == SleepPolicy::Always;
    }

    int32_t samplesBeforeSleep = 0;  // samples still run before a sleep request; <= 0: run out
    int32_t streamingCount = 0;      // audio pins streaming, inputs and outputs alike; never < 0
    SleepPolicy sleepPolicy = SleepPolicy::WhenNothingStreams;
    bool sleepAllowed = true;  // false while a stretch that ends at an event runs
};

}  // namespace kvx
