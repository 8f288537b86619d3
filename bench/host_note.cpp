// SPDX-License-Identifier: MIT
// HostVoice and HostNote: the real host driving the dlopen'd module.
#include "bench/host_note.h"

#include <algorithm>
#include <span>

#include "bench/in_process_voice.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::bench {

const host::PluginLibrary& moduleLibrary() {
    static const host::PluginLibrary library(KVX_MODULE_PATH);
    return library;
}

host::VoiceLayout envelopeLayout() {
    host::VoiceLayout layout;
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        layout.inputPins.push_back(pin);
    layout.outputPin = adsr::PIN_OUTPUT;
    layout.maxBlock = BLOCK;
    return layout;
}

void setPinValues(host::VoicePool& pool, const NoteSettings& note) {
    const PinValues values = pinValuesFor(note);
    const float perPin[] = {values.attackTime,  values.decayTime,  values.sustainLevel, values.releaseTime,
                            values.attackCurve, values.decayCurve, values.releaseCurve};
    for (int32_t voice = 0; voice < pool.size(); ++voice)
        for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
            std::fill_n(pool.input(voice, pin), BLOCK, perPin[pin - adsr::PIN_ATTACK_TIME]);
}

void startGraph(host::VoicePool& pool) {
    HostEvent graphBegin{};
    graphBegin.type = EV_GRAPH_BEGIN;
    graphBegin.pinId = -1;
    std::vector<host::VoiceEvents> everyVoice;
    for (int32_t voice = 0; voice < pool.size(); ++voice) everyVoice.push_back({voice, &graphBegin});
    pool.runBlock(BLOCK, everyVoice);
}

HostVoice::HostVoice(const NoteSettings& note, HostMode hostMode) : mode(hostMode) {
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
    HostEvent graphBegin{};
    graphBegin.type = EV_GRAPH_BEGIN;
    graphBegin.pinId = -1;
    runner->runBlock(BLOCK, &graphBegin);
}

// As the SleepingRunner, except that a sleeping module's output is not touched: the value it
// holds is determined once, when the module asks to sleep.
// The host's block numbers count the blocks it calls: skipped blocks cost nothing.
bool HostVoice::runLean(const HostEvent* events) {
    asleep = false;
    host::HostServices& services = instance->host();
    services.sleepCountdown = BLOCK;
    services.clearSleepRequest();
    const int64_t thisBlock = instance->blocksProcessed();
    instance->process(BLOCK, events);
    ++lean.called;
    const host::HostServices::PinStreamState& state = services.streamState(adsr::PIN_OUTPUT);
    int32_t constantFrom = 0;
    if (state.known && !state.streaming && state.block == thisBlock && state.timestamp >= 0 &&
        state.timestamp < BLOCK) {
        constantFrom = state.timestamp;
        held = out[constantFrom];
    }
    if (services.sleepRequested) {
        asleep = true;
        if (state.known && !state.streaming) std::fill(out + constantFrom, out + BLOCK, held);
    }
    return true;
}

std::vector<HostEvent> noteOnEvents(int32_t timestamp) {
    std::vector<HostEvent> events{boolEvent(timestamp, adsr::PIN_GATE, true),
                                  boolEvent(timestamp, adsr::PIN_TRIGGER, true)};
    linkEvents(events);
    return events;
}

std::vector<HostEvent> noteOffEvents(int32_t timestamp) {
    std::vector<HostEvent> events{boolEvent(timestamp, adsr::PIN_GATE, false)};
    linkEvents(events);
    return events;
}

HostNote::HostNote(HostMode mode) {
    if (mode == HostMode::Pool || mode == HostMode::PoolEveryBlock) {
        pool = std::make_unique<host::VoicePool>(moduleLibrary(), adsr::MODULE_ID, adsr::MODULE_SUBTYPE, 1,
                                                 envelopeLayout(), static_cast<float>(SAMPLE_RATE));
        pool->honourSleep = mode == HostMode::Pool;
        setPinValues(*pool, SINGLE_NOTE);
        startGraph(*pool);
    } else {
        voice = std::make_unique<HostVoice>(SINGLE_NOTE, mode);
    }
}

void HostNote::render(float* out) {
    const int64_t total = noteSamples(SINGLE_NOTE);
    const int64_t gateOff = secondsToSamples(SINGLE_NOTE.gateOn);
    for (int64_t start = 0; start < total; start += BLOCK) {
        const HostEvent* events = start == 0 ? on.data() : (start == gateOff ? off.data() : nullptr);
        if (pool) {
            const host::VoiceEvents entry{0, events};
            pool->runBlock(BLOCK,
                           events != nullptr ? std::span(&entry, 1) : std::span<const host::VoiceEvents>());
            if (out != nullptr) std::copy_n(pool->output(0), BLOCK, out + start);
            continue;
        }
        const bool called = voice->runBlock(events);
        if (out != nullptr) {
            if (called)
                std::copy_n(voice->output(), BLOCK, out + start);
            else
                std::fill_n(out + start, BLOCK, voice->heldValue());
        }
    }
}

BlockCounts HostNote::counts() const {
    return pool ? BlockCounts{pool->stats().blocks, pool->stats().calls} : voice->counts();
}

PeriodicVoice::PeriodicVoice(int64_t onAt, HostMode mode)
    : onBlock(onAt / BLOCK),
      offBlock(((onAt + secondsToSamples(VOICE_NOTE.gateOn)) % secondsToSamples(VOICE_PERIOD)) / BLOCK),
      host(VOICE_NOTE, mode),
      on(noteOnEvents(static_cast<int32_t>(onAt % BLOCK))),
      off(noteOffEvents(static_cast<int32_t>((onAt + secondsToSamples(VOICE_NOTE.gateOn)) % BLOCK))) {}

}  // namespace kvx::bench
