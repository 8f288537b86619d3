// SPDX-License-Identifier: MIT
// Follows one audio output across the blocks of a session as a strict host hears it: the
// streaming state the module declared for every sample, the samples it owed and left unwritten,
// the held value the host puts where the module rightly wrote nothing, and the first evidence
// of a sample that is not finite, is subnormal, or moves while its output is declared constant,
// and of a sleep request while the output is declared streaming.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "conformance/block.h"
#include "conformance/owed_samples.h"
#include "conformance/raw_host.h"

namespace kvx::conformance {

class OutputMonitor {
public:
    // `capacity`: the longest block the host will process.
    OutputMonitor(int32_t pin, size_t capacity);

    // Takes what the module told the host during the block just processed, in call order:
    // reports for this pin set the declared state from their timestamp, clamped to the block, to
    // its end; a sleep request while this pin is declared streaming is evidence. Call before
    // follow() for the same block.
    void readCalls(const ModuleCall* calls, size_t count, const Block& block);
    // Goes through the block's samples in `data`: an unwritten sample inside `owed` is evidence
    // (`rule` says why it was owed); other unwritten samples are replaced by the held value (the
    // last sample the host heard); every sample is checked.
    void follow(float* data, const Block& block, OwedSpan owed = {}, const OwedSamples* rule = nullptr);

    float held() const { return heldValue; }
    // First evidence of each kind, empty if none was seen.
    const std::string& nonFinite() const { return firstNonFinite; }
    const std::string& denormal() const { return firstDenormal; }
    const std::string& notConstant() const { return firstNotConstant; }
    const std::string& sleptWhileStreaming() const { return firstSleepWhileStreaming; }
    const std::string& unwrittenOwed() const { return firstUnwrittenOwed; }

private:
    int32_t pin;
    int8_t state = -1;  // declared state carried across blocks: -1 unknown, 0 constant, 1 streaming
    float heldValue = 0.0f;
    bool haveConstant = false;
    float constant = 0.0f;
    int64_t constantFrom = 0;
    bool restartNext = false;     // a constant declaration at or past the end of the last block
    std::vector<int8_t> stateAt;  // per sample of the current block
    std::vector<bool> restartAt;  // a constant declaration starts a new stretch at this sample
    std::string firstNonFinite, firstDenormal, firstNotConstant, firstSleepWhileStreaming, firstUnwrittenOwed;
};

// A sample as evidence: nine significant digits, so it reads back as the same float.
std::string sampleText(float value);

}  // namespace kvx::conformance
