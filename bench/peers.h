// SPDX-License-Identifier: MIT
// The peer envelopes on the benchmark note, behind one small interface each: JUCE's
// juce::ADSR (linear segments) and Faust's en.adsre (exponential, one-pole smoothing).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/note.h"

namespace kvx::bench {

// Renders the whole single note (gate held, release, idle) in 64-sample blocks into `out`
// (when not null). Each call renders one complete note from the idle state.
class PeerEnvelope {
public:
    virtual ~PeerEnvelope() = default;
    virtual void renderNote(float* out) = 0;
};

std::unique_ptr<PeerEnvelope> makeJucePerSample();
std::unique_ptr<PeerEnvelope> makeJuceBuffer();
std::unique_ptr<PeerEnvelope> makeFaust();

}  // namespace kvx::bench
