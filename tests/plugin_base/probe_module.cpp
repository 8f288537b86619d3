// SPDX-License-Identifier: MIT
// ProbeModule: pins, recording, and a routine that writes where and how it was called.
#include "tests/plugin_base/probe_module.h"

#include "tests/support/mp_test_access.h"

namespace kvx::test {

ProbeModule::ProbeModule() {
    const PinCallback callback = pinCallback(&ProbeModule::noteEvent);
    registerPin(signal, callback);
    registerPin(offsets, callback);
    registerPin(flag, callback);
    registerPin(counts, callback);
    registerPin(startAt, callback);
    registerPin(echo, callback);
    registerPin(stopAt, callback);
    installModuleRoutine(subBlockRoutine(&ProbeModule::run));
    const float never = -1.0f;  // until told
    startAt.setRawValue(sizeof never, &never);
    stopAt.setRawValue(sizeof never, &never);
}

IMpUnknown* createProbe() { return static_cast<IMpPlugin2*>(new ProbeModule()); }

void ProbeModule::note(ProbeRecord::Kind kind, int32_t count, int32_t pinId) noexcept {
    if (recordCount == static_cast<int32_t>(records.size())) {
        recordsDropped = true;
        return;
    }
    records[static_cast<size_t>(recordCount++)] = ProbeRecord{kind,
                                                              blockPosition(),
                                                              count,
                                                              pinId,
                                                              MpTestAccess::sleepAllowed(*this),
                                                              signal.updatedNow(),
                                                              flag.updatedNow(),
                                                              flag.currentValue(),
                                                              startAt.updatedNow(),
                                                              startAt.currentValue(),
                                                              MpTestAccess::streamingCount(*this)};
}

void ProbeModule::noteEvent(const HostEvent* event) noexcept {
    note(ProbeRecord::NOTIFY, event->type, event->pinId);
}

void ProbeModule::onPinChanges() noexcept {
    note(ProbeRecord::PIN_CHANGES, 0, -1);
    if (flag.updatedNow()) {
        offsets.declareStreaming(flag.currentValue(), -1);
        counts.declareStreaming(flag.currentValue(), -1);
    }
}

namespace {

// The sample `value` names, when it lies in the stretch of `sampleCount` samples from `start`.
bool inStretch(float value, int32_t start, int32_t sampleCount, int32_t* at) {
    if (!(value >= 0.0f && value < 1.0e9f)) return false;
    *at = static_cast<int32_t>(value);
    return *at >= start && *at - start < sampleCount;
}

}  // namespace

void ProbeModule::run(int32_t sampleCount) noexcept {
    note(ProbeRecord::ROUTINE, sampleCount, -1);
    const int32_t position = blockPosition();
    const float start = static_cast<float>(position);
    const float length = static_cast<float>(MpTestAccess::sleepAllowed(*this) ? sampleCount : -sampleCount);
    for (int32_t i = 0; i < sampleCount; ++i) {
        if (offsets.boundBuffer() != nullptr) offsets.boundBuffer()[position + i] = start;
        if (counts.boundBuffer() != nullptr) counts.boundBuffer()[position + i] = length;
    }
    // Starts or stops streaming in the middle of a stretch, as an envelope starting or ending a
    // segment would.
    int32_t at = 0;
    if (!offsets.isStreaming() && inStretch(startAt.currentValue(), position, sampleCount, &at)) {
        offsets.declareStreaming(true, at);
        counts.declareStreaming(true, at);
    }
    if (inStretch(stopAt.currentValue(), position, sampleCount, &at)) {
        offsets.declareStreaming(false, at);
        counts.declareStreaming(false, at);
    }
}

}  // namespace kvx::test
