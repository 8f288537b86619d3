// SPDX-License-Identifier: MIT
// The instrument cases' guard: the voices' patches replaying what the instrument ran them on
// must add up to the instrument's output, bit for bit, or the "voices alone" row times
// something else.
#pragma once

#include <cstdint>

namespace kvx::bench {

struct InstrumentGuard {
    bool identical = false;
    double largestDifference = 0.0;
    int64_t steals = 0;
    int64_t instrumentVoiceRuns = 0;  // the voices' runs in blocks of 256
    int64_t replayedRuns = 0;         // the runs replayed alone
};

InstrumentGuard checkInstrumentReplay();

}  // namespace kvx::bench
