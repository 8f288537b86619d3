// Audio pins: streaming state changes, reported to the module and to the host.
#include "plugin/audio_pins.h"

namespace kvx {

void AudioInPin::decodeEvent(const HostEvent* event) noexcept {
    if (event->type != EV_STREAM_BEGIN && event->type != EV_STREAM_END) return;
    updated = true;
    bool nowStreaming = event->type == EV_STREAM_BEGIN;
    if (nowStreaming != streaming) {
        streaming = nowStreaming;
        plugin->streamingChanged(nowStreaming);
    }
    // Process at least the sample where the input went still before sleeping.
    if (!streaming && plugin->samplesBeforeSleep < 1) plugin->samplesBeforeSleep = 1;
}

void AudioInPin::finishEvent(const HostEvent* event) noexcept {
    if (event->type == EV_STREAM_BEGIN || event->type == EV_STREAM_END) updated = false;
}

void AudioOutPin::declareStreaming(bool isStreaming, int32_t position) noexcept {
    if (position == -1) position = plugin->blockOffset;
    if (isStreaming != streaming) {
        streaming = isStreaming;
        plugin->streamingChanged(isStreaming);
    }
    if (!streaming) plugin->hostGetSleepCountdown();
    plugin->hostSendPinStreaming(position, id, streaming);
}

}  // namespace kvx
