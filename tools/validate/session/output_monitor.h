// Follows one audio output across the blocks of a session as the host hears it: the streaming
// state the module declared for every sample, the held value the host puts where the module
// wrote nothing, and the first evidence of a sample that is not finite, is subnormal, or moves
// while its output is declared constant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/validate/raw/host.h"
#include "tools/validate/session/block.h"

namespace kvx::validate {

class OutputMonitor {
public:
    // `capacity`: the longest block the host will process.
    OutputMonitor(int32_t pin, size_t capacity);

    // Takes the module's streaming reports of the block just processed (all pins, in the order
    // the module made them); those for this pin set the declared state from their timestamp,
    // clamped to the block, to its end. Call before follow() for the same block.
    void readReports(const StreamingReport* reports, size_t count, const Block& block);
    // Goes through the block's samples in `data`: samples still holding unwrittenSample() are
    // replaced by the held value (the last sample the host heard), every sample is checked.
    void follow(float* data, const Block& block);

    float held() const { return heldValue; }
    // First evidence of each kind, empty if none was seen.
    const std::string& nonFinite() const { return firstNonFinite; }
    const std::string& denormal() const { return firstDenormal; }
    const std::string& notConstant() const { return firstNotConstant; }

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
    std::string firstNonFinite, firstDenormal, firstNotConstant;
};

// A sample as evidence: nine significant digits, so it reads back as the same float.
std::string sampleText(float value);

}  // namespace kvx::validate
