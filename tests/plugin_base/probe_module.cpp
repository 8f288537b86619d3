// ProbeModule: pins, recording, and a routine that writes where and how it was called.
#include "tests/plugin_base/probe_module.h"

namespace kvx::test {

ProbeModule::ProbeModule() {
    const PinCallback callback = pinCallback(&ProbeModule::noteEvent);
    registerPin(signal, callback);
    registerPin(offsets, callback);
    registerPin(flag, callback);
    registerPin(counts, callback);
    registerPin(startAt, callback);
    registerPin(echo, callback);
    installModuleRoutine(subBlockRoutine(&ProbeModule::run));
    startAt.value = -1.0f;  // never, until told
}

IMpUnknown* createProbe() { return static_cast<IMpPlugin2*>(new ProbeModule()); }

void ProbeModule::note(ProbeRecord::Kind kind, int32_t count, int32_t pinId) noexcept {
    if (recordCount == static_cast<int32_t>(records.size())) {
        recordsDropped = true;
        return;
    }
    records[static_cast<size_t>(recordCount++)] =
        ProbeRecord{kind,         blockOffset, count,           pinId,         sleepAllowed,  signal.updated,
                    flag.updated, flag.value,  startAt.updated, startAt.value, streamingCount};
}

void ProbeModule::noteEvent(const HostEvent* event) noexcept {
    note(ProbeRecord::NOTIFY, event->type, event->pinId);
}

void ProbeModule::onPinChanges() noexcept {
    note(ProbeRecord::PIN_CHANGES, 0, -1);
    if (flag.updated) {
        offsets.declareStreaming(flag.value, -1);
        counts.declareStreaming(flag.value, -1);
    }
}

void ProbeModule::run(int32_t sampleCount) noexcept {
    note(ProbeRecord::ROUTINE, sampleCount, -1);
    const float start = static_cast<float>(blockOffset);
    const float length = static_cast<float>(sleepAllowed ? sampleCount : -sampleCount);
    for (int32_t i = 0; i < sampleCount; ++i) {
        if (offsets.buffer != nullptr) offsets.buffer[blockOffset + i] = start;
        if (counts.buffer != nullptr) counts.buffer[blockOffset + i] = length;
    }
    // Starts streaming in the middle of a stretch, as an envelope starting a segment would.
    if (!offsets.streaming && startAt.value >= 0.0f && startAt.value < 1.0e9f) {
        const auto at = static_cast<int32_t>(startAt.value);
        if (at >= blockOffset && at - blockOffset < sampleCount) {
            offsets.declareStreaming(true, at);
            counts.declareStreaming(true, at);
        }
    }
}

}  // namespace kvx::test
