// SPDX-License-Identifier: MIT
// InProcessVoice and its minimal host; the pin values that realise a note's durations.
#include "bench/in_process_voice.h"

#include <algorithm>
#include <cstring>

#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"
#include "modules/adsr/segment_math.h"

namespace kvx::bench {

PinValues pinValuesFor(const NoteSettings& note) {
    // Full-scale durations: a segment over distance d takes (full-scale time) * d.
    const double decayDistance = 1.0 - note.sustain;
    return PinValues{static_cast<float>(adsr::secondsToTimeValue(note.attack)),
                     static_cast<float>(adsr::secondsToTimeValue(note.decay / decayDistance)),
                     static_cast<float>(note.sustain),
                     static_cast<float>(adsr::secondsToTimeValue(note.release / note.sustain)),
                     static_cast<float>(ATTACK_CURVE),
                     static_cast<float>(DECAY_CURVE),
                     static_cast<float>(RELEASE_CURVE)};
}

int32_t MinimalHost::queryInterface(const MpGuid* iid, void** out) noexcept {
    if (sameGuid(*iid, IID_MP_HOST_SERVICES)) {
        *out = static_cast<IMpHostServices*>(this);
    } else if (sameGuid(*iid, IID_MP_HOST_AUX)) {
        *out = static_cast<IMpHostAux*>(this);
    } else {
        *out = nullptr;
        return RESULT_UNSUPPORTED;
    }
    return RESULT_OK;
}

InProcessVoice::InProcessVoice(const NoteSettings& note, int32_t maxBlock) {
    adsr = static_cast<adsr::Adsr*>(static_cast<IMpPlugin2*>(adsr::createAdsr()));
    adsr->attachHost(static_cast<IMpHostServices*>(&host));
    const PinValues values = pinValuesFor(note);
    const float perPin[] = {values.attackTime,  values.decayTime,  values.sustainLevel, values.releaseTime,
                            values.attackCurve, values.decayCurve, values.releaseCurve};
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
        inputBuffers.emplace_back(static_cast<size_t>(maxBlock), perPin[pin - adsr::PIN_ATTACK_TIME]);
        adsr->bindPinBuffer(pin, inputBuffers.back().data());
    }
    outputBuffer.assign(static_cast<size_t>(maxBlock), 0.0f);
    adsr->bindPinBuffer(adsr::PIN_OUTPUT, outputBuffer.data());
    adsr->openModule();
}

InProcessVoice::~InProcessVoice() { adsr->release(); }

HostEvent boolEvent(int32_t timestamp, int32_t pinId, bool value) {
    HostEvent event{};
    event.timestamp = timestamp;
    event.type = EV_PIN_VALUE;
    event.pinId = pinId;
    event.size = 4;
    const int32_t word = value ? 1 : 0;
    std::memcpy(event.inlineValue, &word, sizeof word);
    return event;
}

void linkEvents(std::vector<HostEvent>& events) {
    for (size_t i = 0; i < events.size(); ++i)
        events[i].next = i + 1 < events.size() ? &events[i + 1] : nullptr;
}

}  // namespace kvx::bench

namespace kvx::bench {

std::vector<float> renderInProcessNote(const NoteSettings& note, int32_t blockSize) {
    InProcessVoice voice(note, blockSize);
    const int64_t total = noteSamples(note);
    const int64_t gateOff = secondsToSamples(note.gateOn);
    std::vector<HostEvent> on{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
    std::vector<HostEvent> off{boolEvent(0, adsr::PIN_GATE, false)};
    linkEvents(on);
    linkEvents(off);
    std::vector<float> rendered(static_cast<size_t>(total));
    for (int64_t start = 0; start < total; start += blockSize) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(blockSize, total - start));
        // Events at the sample they belong to: a block boundary falls on each of them.
        const HostEvent* events = start == 0 ? on.data() : (start == gateOff ? off.data() : nullptr);
        voice.process(n, events);
        std::copy_n(voice.output(), n, rendered.begin() + start);
    }
    return rendered;
}

int64_t countMovingSamples(const std::vector<float>& envelope) {
    int64_t moving = 0;
    for (size_t i = 1; i < envelope.size(); ++i) moving += envelope[i] != envelope[i - 1] ? 1 : 0;
    return moving + (!envelope.empty() && envelope[0] != 0.0f ? 1 : 0);
}

}  // namespace kvx::bench
