// SPDX-License-Identifier: MIT
// Audio pins: streaming state changes, reported to the module and to the host.
#include "plugin/audio_pins.h"

namespace kvx {

void AudioInPin::decodeEvent(const HostEvent* event) noexcept {
    if (event->type != EV_STREAM_BEGIN && event->type != EV_STREAM_END) return;
    updated = true;
    const bool nowStreaming = event->type == EV_STREAM_BEGIN;
    setStreaming(nowStreaming);
    // Process at least the sample where the input went still before sleeping (also when it
    // was still already).
    if (!nowStreaming) tellOwnerInputStopped();
}

void AudioInPin::finishEvent(const HostEvent* event) noexcept {
    if (event->type == EV_STREAM_BEGIN || event->type == EV_STREAM_END) updated = false;
}

void AudioOutPin::declareStreaming(bool isStreaming, int32_t position) noexcept {
    position = resolvePosition(position);
    setStreaming(isStreaming);
    // On every call, changed or not: a constant output hands the countdown over again, and the
    // host hears the state again.
    if (!isStreaming) handCountdownToHost();
    reportStreamingToHost(position, isStreaming);
}

}  // namespace kvx
