// SPDX-License-Identifier: MIT
// VoiceAllocation: the choice of a voice, and the phases of a note.
#include "host/voice_allocation.h"

namespace kvx::host {

VoiceChoice VoiceAllocation::choose(uint8_t key) const noexcept {
    int32_t free = -1;
    int32_t released = -1;
    int32_t held = -1;
    for (int32_t v = 0; v < size(); ++v) {
        const VoiceState& s = (*this)[v];
        if (s.phase == VoicePhase::Free) {
            if (free < 0) free = v;
            continue;
        }
        if (s.key == key && !s.muted) return {v, VoiceTake::Own};
        if (s.phase == VoicePhase::Released) {
            if (released < 0 || s.ended < (*this)[released].ended) released = v;
        } else if (held < 0 || s.started < (*this)[held].started) {
            held = v;
        }
    }
    if (free >= 0) return {free, VoiceTake::Free};
    return {released >= 0 ? released : held, VoiceTake::Stolen};
}

int32_t VoiceAllocation::heldVoice(uint8_t key) const noexcept {
    for (int32_t v = 0; v < size(); ++v)
        if ((*this)[v].phase == VoicePhase::Held && (*this)[v].key == key) return v;
    return -1;
}

void VoiceAllocation::start(int32_t voice, uint8_t key) noexcept {
    VoiceState& s = at(voice);
    if (s.phase == VoicePhase::Free) ++busyCount;
    s.phase = VoicePhase::Held;
    s.key = key;
    s.muted = false;
    s.started = ++clock;
}

void VoiceAllocation::sustain(int32_t voice) noexcept {
    if (at(voice).phase == VoicePhase::Held) at(voice).phase = VoicePhase::Sustained;
}

void VoiceAllocation::end(int32_t voice) noexcept {
    VoiceState& s = at(voice);
    if (s.phase != VoicePhase::Held && s.phase != VoicePhase::Sustained) return;
    s.phase = VoicePhase::Released;
    s.ended = ++clock;
}

void VoiceAllocation::free(int32_t voice) noexcept {
    VoiceState& s = at(voice);
    if (s.phase != VoicePhase::Free) --busyCount;
    s = VoiceState{};
}

}  // namespace kvx::host
