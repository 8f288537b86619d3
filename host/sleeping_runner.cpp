// SPDX-License-Identifier: MIT
// SleepingRunner: the host side of the sleep protocol.
#include "host/sleeping_runner.h"

#include <algorithm>

namespace kvx::host {

SleepingRunner::SleepingRunner(PluginInstance& driven, int32_t output)
    : instance(driven), outputPin(output) {}

bool SleepingRunner::runBlock(int32_t sampleCount, const HostEvent* events) {
    // A negative count is passed on to the module as it is, but the host fills nothing.
    const int32_t fillCount = sampleCount > 0 ? sampleCount : 0;
    ++counters.blocks;
    counters.samples += sampleCount;
    if (sleeping && honourSleep && events == nullptr) {
        // A sleeping module costs the host nothing but, at most, one fill of its buffer.
        if (refillSleptBlocks || heldSpan < fillCount) {
            float* out = instance.buffer(outputPin);
            std::fill(out, out + fillCount, held);
            heldSpan = fillCount;
        }
        ++counters.blocksSlept;
        ++sleptBlocks;
        sleptSamples += fillCount;
        return false;
    }
    if (sleptBlocks != 0) {
        instance.skip(sleptSamples, sleptBlocks);
        sleptBlocks = 0;
        sleptSamples = 0;
    }
    float* out = instance.buffer(outputPin);
    sleeping = false;
    heldSpan = 0;
    HostServices& host = instance.host();
    host.sleepCountdown = std::max(minimumCountdown, sampleCount);
    host.clearSleepRequest();
    const int64_t thisBlock = instance.blocksProcessed();
    instance.process(sampleCount, events);
    ++counters.blocksCalled;

    // The value the output holds from the position where it was last declared constant.
    const HostServices::PinStreamState& state = host.streamState(outputPin);
    int32_t constantFrom = 0;
    if (state.known && !state.streaming && state.block == thisBlock && state.timestamp >= 0 &&
        state.timestamp < fillCount) {
        constantFrom = state.timestamp;
        held = out[constantFrom];
    }
    if (host.sleepRequested) {
        ++counters.sleepRequests;
        sleeping = honourSleep;
        // Samples after the sleep request were not written; the constant value holds there.
        // (A host that keeps calling a sleepy module gets the same: the module writes nothing
        // once its countdown has run out.)
        if (state.known && !state.streaming) {
            std::fill(out + constantFrom, out + fillCount, held);
            if (constantFrom == 0) heldSpan = fillCount;
        }
    }
    return true;
}

}  // namespace kvx::host
