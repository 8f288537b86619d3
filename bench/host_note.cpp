// HostVoice and HostNote: the real host driving the dlopen'd module.
#include "bench/host_note.h"

#include <algorithm>

#include "bench/in_process_voice.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::bench {

const host::PluginLibrary& moduleLibrary() {
    static const host::PluginLibrary library(KVX_MODULE_PATH);
    return library;
}

HostVoice::HostVoice(const NoteSettings& note, bool honourSleep) {
    instance = std::make_unique<host::PluginInstance>(moduleLibrary(), adsr::MODULE_ID, adsr::MODULE_SUBTYPE);
    instance->host().recordTrace = false;
    const PinValues values = pinValuesFor(note);
    const float perPin[] = {values.attackTime,  values.decayTime,  values.sustainLevel, values.releaseTime,
                            values.attackCurve, values.decayCurve, values.releaseCurve};
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
        instance->bindBuffer(pin, BLOCK);
        std::fill_n(instance->buffer(pin), BLOCK, perPin[pin - adsr::PIN_ATTACK_TIME]);
    }
    instance->bindBuffer(adsr::PIN_OUTPUT, BLOCK);
    out = instance->buffer(adsr::PIN_OUTPUT);
    instance->plugin()->openModule();
    runner = std::make_unique<host::SleepingRunner>(*instance, adsr::PIN_OUTPUT);
    runner->honourSleep = honourSleep;
    HostEvent graphBegin{};
    graphBegin.type = EV_GRAPH_BEGIN;
    graphBegin.pinId = -1;
    runner->runBlock(BLOCK, &graphBegin);
}

std::vector<HostEvent> noteOnEvents(int32_t timestamp) {
    std::vector<HostEvent> events{boolEvent(timestamp, adsr::PIN_GATE, true), boolEvent(timestamp, adsr::PIN_TRIGGER, true)};
    linkEvents(events);
    return events;
}

std::vector<HostEvent> noteOffEvents(int32_t timestamp) {
    std::vector<HostEvent> events{boolEvent(timestamp, adsr::PIN_GATE, false)};
    linkEvents(events);
    return events;
}

HostNote::HostNote(bool honourSleep) : voice(SINGLE_NOTE, honourSleep) {}

void HostNote::render(float* out) {
    const int64_t total = noteSamples(SINGLE_NOTE);
    const int64_t gateOff = secondsToSamples(SINGLE_NOTE.gateOn);
    for (int64_t start = 0; start < total; start += BLOCK) {
        const HostEvent* events = start == 0 ? on.data() : (start == gateOff ? off.data() : nullptr);
        voice.runBlock(events);
        if (out != nullptr) std::copy_n(voice.output(), BLOCK, out + start);
    }
}

}  // namespace kvx::bench
