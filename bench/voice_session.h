// SPDX-License-Identifier: MIT
// The many-voice session through our host library: a host::VoicePool whose every voice plays
// the many-voice note from its own start in every period of VOICE_PERIOD seconds, with the
// events of each block of the period scheduled up front, as a sequencer hands them to a host.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/note.h"
#include "host/voice_pool.h"
#include "interfaces/host_event.h"

namespace kvx::bench {

// `count` note starts (samples into the period), from the session's fixed seed.
std::vector<int64_t> randomStarts(int32_t count);

class PoolSession {
public:
    // One voice per start; the graph started and no note played yet.
    PoolSession(const std::vector<int64_t>& starts, bool honourSleep);

    // Block `block` (0 .. periodBlocks()-1) of the period.
    void runBlock(int64_t block) { voices.runBlock(BLOCK, schedule[static_cast<size_t>(block)]); }
    void runPeriod() {
        for (size_t block = 0; block < schedule.size(); ++block) voices.runBlock(BLOCK, schedule[block]);
    }
    const host::VoicePool& pool() const { return voices; }

private:
    host::VoicePool voices;
    std::vector<std::vector<HostEvent>> lists;             // each voice's note-on and note-off lists
    std::vector<std::vector<host::VoiceEvents>> schedule;  // per block of the period, by voice
};

}  // namespace kvx::bench
