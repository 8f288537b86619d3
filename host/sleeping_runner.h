// SPDX-License-Identifier: MIT
// SleepingRunner: drives one instance block by block the way a real host honours sleep.
// After the module asks to sleep, the host stops calling it until it has an event for it and
// fills the output with the module's last constant value meanwhile.
#pragma once

#include <cstdint>

#include "host/plugin_instance.h"

namespace kvx::host {

struct RunnerStats {
    int64_t blocks = 0;        // blocks run, called or not
    int64_t blocksCalled = 0;  // blocks in which process() was called
    int64_t blocksSlept = 0;   // blocks the module slept through
    int64_t sleepRequests = 0;
    int64_t samples = 0;
};

class SleepingRunner {
public:
    // `outputPin` is the audio output whose value is held while the module sleeps.
    SleepingRunner(PluginInstance& instance, int32_t outputPin);

    // false: call the module every block, ignoring its sleep requests.
    bool honourSleep = true;
    // The countdown handed out is max(minimumCountdown, the current block size); a countdown of
    // 0 would let a module sleep before the sample it declared constant is written.
    int32_t minimumCountdown = 1;

    // While the module sleeps, the output buffer keeps the held value from the previous block
    // and is not written again. Set this when something else writes into the output buffer
    // between blocks, so that every slept block is filled anew.
    bool refillSleptBlocks = false;

    // Runs one block of `sampleCount` samples. Returns true when the module was called. The
    // instance's block count and position catch up with slept blocks when it is next called.
    bool runBlock(int32_t sampleCount, const HostEvent* events);

    bool asleep() const { return sleeping; }
    float heldValue() const { return held; }
    const RunnerStats& stats() const { return counters; }

private:
    PluginInstance& instance;
    int32_t outputPin;
    bool sleeping = false;
    float held = 0.0f;
    int32_t heldSpan = 0;  // leading output samples known to hold `held` since the module last ran
    // Slept blocks not yet counted by the instance: a sleeping voice touches only this object.
    int64_t sleptBlocks = 0;
    int64_t sleptSamples = 0;
    RunnerStats counters;
};

}  // namespace kvx::host
