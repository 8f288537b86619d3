// SPDX-License-Identifier: MIT
// PoolSession: the voices, their schedule, and the random starts.
#include "bench/voice_session.h"

#include <random>

#include "bench/host_note.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::bench {

std::vector<int64_t> randomStarts(int32_t count) {
    std::mt19937_64 random(20261207);
    std::uniform_int_distribution<int64_t> start(0, secondsToSamples(VOICE_PERIOD) - 1);
    std::vector<int64_t> starts;
    for (int32_t v = 0; v < count; ++v) starts.push_back(start(random));
    return starts;
}

PoolSession::PoolSession(const std::vector<int64_t>& starts, bool honourSleep)
    : voices(moduleLibrary(), adsr::MODULE_ID, adsr::MODULE_SUBTYPE, static_cast<int32_t>(starts.size()),
             envelopeLayout(), static_cast<float>(SAMPLE_RATE)),
      schedule(static_cast<size_t>(PeriodicVoice::periodBlocks())) {
    voices.honourSleep = honourSleep;
    setPinValues(voices, VOICE_NOTE);
    startGraph(voices);
    const int64_t period = secondsToSamples(VOICE_PERIOD);
    const int64_t gate = secondsToSamples(VOICE_NOTE.gateOn);
    lists.reserve(2 * starts.size());
    for (int32_t voice = 0; voice < static_cast<int32_t>(starts.size()); ++voice) {
        const int64_t on = starts[static_cast<size_t>(voice)];
        const int64_t off = (on + gate) % period;
        lists.push_back(noteOnEvents(static_cast<int32_t>(on % BLOCK)));
        schedule[static_cast<size_t>(on / BLOCK)].push_back({voice, lists.back().data()});
        lists.push_back(noteOffEvents(static_cast<int32_t>(off % BLOCK)));
        schedule[static_cast<size_t>(off / BLOCK)].push_back({voice, lists.back().data()});
    }
}

}  // namespace kvx::bench
