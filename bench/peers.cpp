// SPDX-License-Identifier: MIT
// The peers: JUCE through getNextSample per sample or applyEnvelopeToBuffer per block, Faust
// through compute per block. The gate opens at sample 0 and closes after SINGLE_NOTE.gateOn.
#include "bench/peers.h"

#include <algorithm>

#include "bench/faust_standins.h"
#include "bench/juce_standins.h"

namespace kvx::bench {

namespace {

const int64_t NOTE_SAMPLES = noteSamples(SINGLE_NOTE);
const int64_t GATE_OFF = secondsToSamples(SINGLE_NOTE.gateOn);

juce::ADSR makeJuceAdsr() {
    juce::ADSR adsr;
    adsr.setSampleRate(SAMPLE_RATE);
    adsr.setParameters(juce::ADSR::Parameters(
        static_cast<float>(SINGLE_NOTE.attack), static_cast<float>(SINGLE_NOTE.decay),
        static_cast<float>(SINGLE_NOTE.sustain), static_cast<float>(SINGLE_NOTE.release)));
    return adsr;
}

class JucePerSample final : public PeerEnvelope {
public:
    void renderNote(float* out) override {
        adsr.reset();
        adsr.noteOn();
        for (int64_t start = 0; start < NOTE_SAMPLES; start += BLOCK) {
            if (start == GATE_OFF) adsr.noteOff();
            float* block = out != nullptr ? out + start : scratch;
            for (int32_t i = 0; i < BLOCK; ++i) block[i] = adsr.getNextSample();
        }
    }

private:
    juce::ADSR adsr = makeJuceAdsr();
    float scratch[BLOCK];
};

// The way JUCE synthesiser voices use it: the voice's audio block, multiplied in place. For the
// guard the block is refilled with 1.0 first, so that it shows the envelope itself; timed runs
// leave the refill out (it is the voice's rendering, not the envelope's cost) and run with
// flush-to-zero so that the shrinking samples never become slow subnormals.
class JuceBuffer final : public PeerEnvelope {
public:
    void renderNote(float* out) override {
        adsr.reset();
        adsr.noteOn();
        float* samples = buffer.getWritePointer(0);
        for (int64_t start = 0; start < NOTE_SAMPLES; start += BLOCK) {
            if (start == GATE_OFF) adsr.noteOff();
            if (out != nullptr) std::fill_n(samples, BLOCK, 1.0f);
            adsr.applyEnvelopeToBuffer(buffer, 0, BLOCK);
            if (out != nullptr) std::copy_n(samples, BLOCK, out + start);
        }
    }

private:
    juce::ADSR adsr = makeJuceAdsr();
    juce::AudioBuffer<float> buffer{1, BLOCK};
};

class Faust final : public PeerEnvelope {
public:
    Faust() {
        faust.init(static_cast<int>(SAMPLE_RATE));
        faust.buildUserInterface(&ui);
    }
    void renderNote(float* out) override {
        faust.instanceClear();
        *ui.gate = 1.0f;
        for (int64_t start = 0; start < NOTE_SAMPLES; start += BLOCK) {
            if (start == GATE_OFF) *ui.gate = 0.0f;
            float* outputs[1] = {out != nullptr ? out + start : scratch};
            faust.compute(BLOCK, nullptr, outputs);
        }
    }

private:
    FaustAdsre faust;
    UI ui;
    float scratch[BLOCK];
};

}  // namespace

std::unique_ptr<PeerEnvelope> makeJucePerSample() { return std::make_unique<JucePerSample>(); }
std::unique_ptr<PeerEnvelope> makeJuceBuffer() { return std::make_unique<JuceBuffer>(); }
std::unique_ptr<PeerEnvelope> makeFaust() { return std::make_unique<Faust>(); }

}  // namespace kvx::bench
