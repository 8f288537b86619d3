// SPDX-License-Identifier: MIT
// AdsrSession: one "KV ADSR4" instance created from build/ADSR.kvx through the host library,
// fed the same parameters and control events as a ReferenceEnvelope, so that a test can render
// the module and state the exact expected output side by side.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "tests/adsr/reference_envelope.h"
#include "tests/support/block_renderer.h"

namespace kvx::test {

// Pin ids as a host knows them.
enum : int32_t {
    TRIGGER = 0,
    GATE = 1,
    ATTACK_TIME = 2,
    DECAY_TIME = 3,
    SUSTAIN = 4,
    RELEASE_TIME = 5,
    ATTACK_CURVE = 6,
    DECAY_CURVE = 7,
    RELEASE_CURVE = 8,
    OUTPUT = 9,
    RESET = 10,
};

// build/ADSR.kvx, loaded once per test program.
const host::PluginLibrary& adsrLibrary();

class AdsrSession {
public:
    explicit AdsrSession(float sampleRate, const EnvelopeParams& params = {}, int32_t maxBlockSize = 4096);

    // Parameter inputs for the whole session (set them before the first render): constant, or
    // sample by sample over the first `length` samples (the last values hold after that).
    void setParams(const EnvelopeParams& params);
    void setParams(const std::function<EnvelopeParams(int64_t)>& params, int64_t length);

    // A control event at an absolute sample time; trigger and gate take 0.0 / 1.0.
    void event(int64_t time, int32_t pinId, float value);
    void noteOn(int64_t time) { event(time, GATE, 1.0f), event(time, TRIGGER, 1.0f); }
    void noteOff(int64_t time) { event(time, GATE, 0.0f); }
    // A parameter input starts (true) or stops changing at an absolute sample time. It does not
    // change the envelope, only whether the module may sleep; the reference ignores it.
    void streaming(int64_t time, int32_t pinId, bool begins);

    // Renders `samples` more samples in host blocks of `blockSize`; returns all output so far.
    const std::vector<float>& render(int64_t samples, int32_t blockSize = 64);

    // The reference run over the same span with the same inputs.
    ReferenceEnvelope expected(bool stepLimit = true) const;

    std::vector<StreamReport> reports() const { return renderer->streamReports(OUTPUT); }
    BlockRenderer& blocks() { return *renderer; }
    host::HostServices& host() { return instance->host(); }

private:
    float sampleRate;
    std::function<EnvelopeParams(int64_t)> params;
    std::vector<ControlEvent> events;
    std::unique_ptr<host::PluginInstance> instance;
    std::unique_ptr<BlockRenderer> renderer;
};

// Index of the first differing sample (bitwise; NaNs of one pattern compare equal), or -1.
int64_t firstDifference(const std::vector<float>& a, const std::vector<float>& b);

}  // namespace kvx::test
