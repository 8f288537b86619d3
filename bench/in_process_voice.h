// SPDX-License-Identifier: MIT
// An envelope instance driven inside the benchmark process: kvx::adsr::Adsr from the static
// library, a minimal host object (sample rate and sleep countdown only), and its pin buffers.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/floor_loop.h"
#include "bench/note.h"
#include "interfaces/host_event.h"
#include "interfaces/host_interfaces.h"
#include "modules/adsr/adsr.h"

namespace kvx::bench {

// The least a module needs from a host: the sample rate, a sleep countdown, a place to report.
class MinimalHost final : public IMpHostServices, public IMpHostAux {
public:
    int32_t queryInterface(const MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override { return 1; }
    int32_t release() noexcept override { return 1; }
    int32_t sendPinValue(int32_t, int32_t, int32_t, const void*) noexcept override { return 0; }
    int32_t sendPinStreaming(int32_t, int32_t, int32_t) noexcept override { return 0; }
    int32_t requestSleep() noexcept override {
        ++sleepRequests;
        return 0;
    }
    int32_t reservedSlot6() noexcept override { return 0; }
    int32_t getSleepCountdown(int32_t* samples) noexcept override {
        *samples = BLOCK;
        return 0;
    }
    int32_t querySampleRate(float* rate) noexcept override {
        *rate = static_cast<float>(SAMPLE_RATE);
        return 0;
    }
    int64_t sleepRequests = 0;
};

class InProcessVoice {
public:
    // Creates the instance, attaches the host and binds buffers of `maxBlock` samples holding
    // the note's pin values.
    InProcessVoice(const NoteSettings& note, int32_t maxBlock);
    ~InProcessVoice();
    InProcessVoice(const InProcessVoice&) = delete;
    InProcessVoice& operator=(const InProcessVoice&) = delete;

    adsr::Adsr& module() { return *adsr; }
    float* output() { return outputBuffer.data(); }
    void process(int32_t sampleCount, const HostEvent* events) { adsr->process(sampleCount, events); }

    MinimalHost host;

private:
    adsr::Adsr* adsr = nullptr;
    std::vector<std::vector<float>> inputBuffers;
    std::vector<float> outputBuffer;
};

// The floor loop's view of an envelope's running segment.
inline FloorSegment floorSegmentOf(const adsr::Adsr::SegmentSnapshot& running) {
    return FloorSegment{running.level, running.asymptote, running.coefficient, running.threshold};
}

// Builds event records in caller-owned storage (linked in array order).
HostEvent boolEvent(int32_t timestamp, int32_t pinId, bool value);
void linkEvents(std::vector<HostEvent>& events);

}  // namespace kvx::bench

namespace kvx::bench {

// Renders one whole note (gate on at sample 0, off after note.gateOn, then release and idle)
// in blocks of `blockSize` through an InProcessVoice.
std::vector<float> renderInProcessNote(const NoteSettings& note, int32_t blockSize);

// Samples on which the envelope moves: those that differ from the sample before.
int64_t countMovingSamples(const std::vector<float>& envelope);

}  // namespace kvx::bench
