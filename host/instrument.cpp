// SPDX-License-Identifier: MIT
// Instrument: building the voices, turning note events into each voice's pin events at their
// samples, running the voices between note starts and summing them. Nothing in runBlock
// allocates: every list is reserved when the instrument is built.
#include "host/instrument.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string>

#include "host/host_error.h"
#include "interfaces/host_event.h"

namespace kvx::host {

namespace {

constexpr int64_t NEVER = std::numeric_limits<int64_t>::max();
constexpr int64_t NONE = -1;

size_t at(int32_t index) { return static_cast<size_t>(index); }

const PatchPin* findPin(const PatchGraph& graph, int32_t module, int32_t pin) {
    if (module < 0 || at(module) >= graph.modules.size()) return nullptr;
    for (const PatchPin& each : graph.modules[at(module)].pins)
        if (each.id == pin) return &each;
    return nullptr;
}

}  // namespace

// A pitch, velocity or control pin: an audio input the instrument steps at a note's (or the
// control's) sample, streaming for that one sample as kvx render steps an input, or a bool or
// float input it sends the value.
struct Instrument::Target {
    enum class Role : uint8_t {
        Pitch,
        Velocity,
        Control
    };
    int32_t module = 0;
    int32_t pin = 0;
    const std::function<float(double)>* pinValue = nullptr;  // a note's number to the pin's value
    bool audio = false;
    Role role = Role::Pitch;
    float initial = 0.0f;
};

struct Instrument::Voice {
    struct Step {
        size_t target;
        int64_t time;
        float value;
    };
    std::unique_ptr<Patch> patch;
    std::vector<PatchEvent> events;  // this run's, in time order
    std::vector<Step> steps;         // this run's steps of audio targets, in time order
    std::vector<float*> buffers;     // per target: the audio input's buffer (else null)
    std::vector<float> values;       // per target: its value at the start of this run
    std::vector<int64_t> streamEnd;  // per audio target: where its one-sample stream ends, or NONE
    std::vector<float> pending;      // per control target: the latest value set while free
    std::vector<uint8_t> due;        // per control target: `pending` waits for the voice to wake
    int64_t muteAt = NEVER;          // all sound off at this sample of this run

    void add(int64_t time, int64_t runStart, int32_t module, int32_t type, int32_t pin, float value,
             EventRank rank) noexcept {
        events.push_back(PatchEvent{module, static_cast<int32_t>(time - runStart), type, pin, value, rank});
    }
    // Sends the end of every one-sample stream that ends by `time` (but keeps `keep` streaming
    // when it would end right there), earliest first.
    void endStreams(int64_t time, int64_t runStart, const std::vector<Target>& targets,
                    size_t keep) noexcept {
        for (;;) {
            size_t first = targets.size();
            for (size_t t = 0; t < targets.size(); ++t) {
                const int64_t end = streamEnd[t];
                if (end == NONE || end > time || (t == keep && end == time)) continue;
                if (first == targets.size() || end < streamEnd[first]) first = t;
            }
            if (first == targets.size()) return;
            add(streamEnd[first], runStart, targets[first].module, EV_STREAM_END, targets[first].pin, 0.0f,
                EventRank::Stream);
            streamEnd[first] = NONE;
        }
    }
    void set(const std::vector<Target>& targets, size_t t, int64_t time, int64_t runStart,
             double number) noexcept {
        const Target& target = targets[t];
        const float value = target.pinValue != nullptr && *target.pinValue ? (*target.pinValue)(number)
                                                                           : static_cast<float>(number);
        endStreams(time, runStart, targets, t);
        if (!target.audio) {
            add(time, runStart, target.module, EV_PIN_VALUE, target.pin, value, EventRank::Change);
            return;
        }
        if (streamEnd[t] == NONE)
            add(time, runStart, target.module, EV_STREAM_BEGIN, target.pin, 0.0f, EventRank::Stream);
        streamEnd[t] = time + 1;
        steps.push_back(Step{t, time, value});
    }
    void send(const std::vector<NotePin>& pins, int64_t time, int64_t runStart,
              const std::vector<Target>& targets, bool value) noexcept {
        endStreams(time, runStart, targets, targets.size());
        for (const NotePin& pin : pins)
            add(time, runStart, pin.module, EV_PIN_VALUE, pin.pin, value ? 1.0f : 0.0f, EventRank::Note);
    }
};

Instrument::Instrument(const PatchGraph& graph, InstrumentNotes noteTargets, int32_t voiceCount,
                       float sampleRate, int32_t blockLimit, const InstrumentLimits& limits)
    : notes(std::move(noteTargets)),
      allocation(voiceCount),
      outputs(graph.outputs.size()),
      maxBlock(blockLimit),
      eventsPerBlock(limits.eventsPerBlock) {
    const std::string prefix = (graph.source.empty() ? std::string("patch") : graph.source) + ": ";
    if (voiceCount < 1)
        throw HostError(prefix + "an instrument of " + std::to_string(voiceCount) + " voices");
    if (eventsPerBlock < 0) throw HostError(prefix + "room for a negative number of events");
    for (const auto* pins : {&notes.gate, &notes.trigger, &notes.freeTrigger})
        for (const NotePin& pin : *pins) {
            const PatchPin* found = findPin(graph, pin.module, pin.pin);
            if (found == nullptr || found->kind != PatchPinKind::BoolIn)
                throw HostError(prefix + "module " + std::to_string(pin.module) + " pin " +
                                std::to_string(pin.pin) + ": a note's gate and triggers drive bool inputs");
        }
    for (const auto* pins : {&notes.pitch, &notes.velocity})
        for (const NoteValuePin& pin : *pins) {
            const PatchPin* found = findPin(graph, pin.module, pin.pin);
            if (found == nullptr ||
                (found->kind != PatchPinKind::AudioIn && found->kind != PatchPinKind::FloatIn))
                throw HostError(prefix + "module " + std::to_string(pin.module) + " pin " +
                                std::to_string(pin.pin) +
                                ": a note's pitch and velocity drive audio or float inputs");
            targets.push_back(Target{pin.module, pin.pin, &pin.pinValue, found->kind == PatchPinKind::AudioIn,
                                     pins == &notes.pitch ? Target::Role::Pitch : Target::Role::Velocity,
                                     found->initial});
        }
    for (const NotePin& pin : notes.controls) {
        const PatchPin* found = findPin(graph, pin.module, pin.pin);
        if (found == nullptr || (found->kind != PatchPinKind::AudioIn &&
                                 found->kind != PatchPinKind::FloatIn && found->kind != PatchPinKind::BoolIn))
            throw HostError(prefix + "module " + std::to_string(pin.module) + " pin " +
                            std::to_string(pin.pin) + ": a control drives bool, float or audio inputs");
        targets.push_back(Target{pin.module, pin.pin, nullptr, found->kind == PatchPinKind::AudioIn,
                                 Target::Role::Control, found->initial});
    }

    // The most pin events one note event gives a voice: a gate off and on, the triggers, and for
    // each target a value and the end of an earlier stream.
    const size_t perEvent =
        2 * notes.gate.size() + notes.trigger.size() + notes.freeTrigger.size() + 3 * targets.size() + 1;
    PatchLimits patchLimits;
    patchLimits.eventsPerBlock = static_cast<int32_t>(perEvent * at(eventsPerBlock) + targets.size());
    for (int32_t v = 0; v < voiceCount; ++v) {
        auto voice = std::make_unique<Voice>();
        voice->patch = std::make_unique<Patch>(graph, sampleRate, maxBlock, patchLimits);
        voice->events.reserve(at(patchLimits.eventsPerBlock));
        voice->steps.reserve(targets.size() * at(eventsPerBlock));
        for (const Target& target : targets) {
            float* buffer = nullptr;
            if (target.audio) {
                buffer = voice->patch->input(target.module, target.pin);
                if (buffer == nullptr)
                    throw HostError(prefix + "module " + std::to_string(target.module) + " pin " +
                                    std::to_string(target.pin) +
                                    ": a note or control drives an input a connection feeds");
            }
            voice->buffers.push_back(buffer);
            voice->values.push_back(target.initial);
            voice->streamEnd.push_back(NONE);
            voice->pending.push_back(target.initial);
            voice->due.push_back(0);
        }
        voices.push_back(std::move(voice));
    }
    mixArena = std::make_unique<float[]>(std::max<size_t>(outputs, 1) * at(maxBlock));
    for (size_t o = 0; o < outputs; ++o) mix.push_back(mixArena.get() + o * at(maxBlock));
}

Instrument::~Instrument() = default;

const float* Instrument::output(size_t index) const noexcept {
    return index < outputs ? mix[index] : nullptr;
}

bool Instrument::setStartValue(int32_t module, int32_t pin, float value) noexcept {
    if (counters.blocks > 0) return false;
    for (const auto& voice : voices)
        if (!voice->patch->setStartValue(module, pin, value)) return false;
    // An audio target's buffer is refilled from its value at every run.
    for (size_t t = 0; t < targets.size(); ++t)
        if (targets[t].module == module && targets[t].pin == pin)
            for (const auto& voice : voices) voice->values[t] = voice->pending[t] = value;
    return true;
}

const Patch& Instrument::voicePatch(int32_t index) const noexcept { return *voices[at(index)]->patch; }

int64_t Instrument::moduleCalls() const noexcept {
    int64_t calls = 0;
    for (const auto& voice : voices) calls += voice->patch->stats().calls;
    return calls;
}

void Instrument::checkEvents(int32_t sampleCount, std::span<const NoteEvent> events) const {
    if (sampleCount < 0 || sampleCount > maxBlock)
        throw HostError("instrument: a block of " + std::to_string(sampleCount) + " samples, buffers of " +
                        std::to_string(maxBlock));
    if (events.size() > at(eventsPerBlock))
        throw HostError("instrument: " + std::to_string(events.size()) + " events in one block, room for " +
                        std::to_string(eventsPerBlock));
    int32_t latest = 0;
    for (const NoteEvent& event : events) {
        if (event.timestamp < latest || event.timestamp >= sampleCount)
            throw HostError("instrument: an event at sample " + std::to_string(event.timestamp) +
                            " of a block of " + std::to_string(sampleCount) + ", after one at " +
                            std::to_string(latest));
        if (event.key > 127) throw HostError("instrument: note " + std::to_string(event.key) + " (0 to 127)");
        if (event.kind == NoteEventKind::Control &&
            (event.control < 0 || at(event.control) >= notes.controls.size()))
            throw HostError("instrument: control " + std::to_string(event.control) + " of " +
                            std::to_string(notes.controls.size()));
        latest = event.timestamp;
    }
}

void Instrument::runAll(int32_t sampleCount, std::span<const NoteEvent> events) {
    checkEvents(sampleCount, events);
    ++counters.blocks;
    for (float* buffer : mix) std::fill(buffer, buffer + dirty, 0.0f);
    dirty = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const int64_t time = blockStart + events[i].timestamp;
        // A note start sees every voice as it is at its sample: run them up to the first event
        // there, so that the events before the note at that sample still reach them.
        if (time > subStart)
            for (size_t j = i; j < events.size() && events[j].timestamp == events[i].timestamp; ++j)
                if (events[j].kind == NoteEventKind::NoteOn && events[j].value > 0.0f) {
                    runVoices(time);
                    break;
                }
        handle(events[i], time);
    }
    runVoices(blockStart + sampleCount);
    blockStart += sampleCount;
    subStart = blockStart;
    resting = allocation.busy() == 0 && dirty == 0;
}

void Instrument::handle(const NoteEvent& event, int64_t time) noexcept {
    switch (event.kind) {
        case NoteEventKind::NoteOn:
            if (event.value > 0.0f) {
                noteOn(event, time);
                return;
            }
            [[fallthrough]];
        case NoteEventKind::NoteOff: {
            const int32_t v = allocation.heldVoice(event.key);
            if (v < 0) return;
            if (pedalDown)
                allocation.sustain(v);
            else
                endNote(v, time);
            return;
        }
        case NoteEventKind::Sustain: {
            const bool down = event.value != 0.0f;
            if (pedalDown && !down)
                for (int32_t v = 0; v < allocation.size(); ++v)
                    if (allocation[v].phase == VoicePhase::Sustained) endNote(v, time);
            pedalDown = down;
            return;
        }
        case NoteEventKind::PitchBend:
            bend = std::clamp(static_cast<double>(event.value), -1.0, 1.0);
            bendAll(time);
            return;
        case NoteEventKind::AllNotesOff:
            endAllNotes(time);
            return;
        case NoteEventKind::AllSoundOff:
            endAllNotes(time);
            muteAll(time);
            return;
        case NoteEventKind::Reset:
            endAllNotes(time);
            muteAll(time);
            pedalDown = false;
            bend = 0.0;
            return;
        case NoteEventKind::Control:
            setControl(event.control, event.value, time);
            return;
    }
}

void Instrument::noteOn(const NoteEvent& event, int64_t time) noexcept {
    const VoiceChoice choice = allocation.choose(event.key);
    Voice& voice = *voices[at(choice.voice)];
    const VoiceState& state = allocation[choice.voice];
    if (choice.take == VoiceTake::Stolen) ++counters.steals;
    const bool gateOn = state.phase == VoicePhase::Held || state.phase == VoicePhase::Sustained;
    if (gateOn) voice.send(notes.gate, time, subStart, targets, false);  // a retrigger
    voice.muteAt = NEVER;
    allocation.start(choice.voice, event.key);
    for (size_t t = 0; t < targets.size(); ++t) {
        if (targets[t].role == Target::Role::Velocity) voice.set(targets, t, time, subStart, event.value);
        if (voice.due[t] != 0) {  // a control set while the voice was free
            voice.set(targets, t, time, subStart, voice.pending[t]);
            voice.due[t] = 0;
        }
    }
    setPitch(choice.voice, time);
    voice.send(notes.trigger, time, subStart, targets, true);
    if (choice.take == VoiceTake::Free) voice.send(notes.freeTrigger, time, subStart, targets, true);
    voice.send(notes.gate, time, subStart, targets, true);
}

void Instrument::setPitch(int32_t v, int64_t time) noexcept {
    const double hertz = noteHertz(allocation[v].key, bend * notes.bendRange);
    Voice& voice = *voices[at(v)];
    for (size_t t = 0; t < targets.size(); ++t)
        if (targets[t].role == Target::Role::Pitch) voice.set(targets, t, time, subStart, hertz);
}

void Instrument::setControl(int32_t control, float value, int64_t time) noexcept {
    const size_t t = targets.size() - notes.controls.size() + at(control);
    for (int32_t v = 0; v < allocation.size(); ++v) {
        Voice& voice = *voices[at(v)];
        voice.pending[t] = value;
        voice.due[t] = allocation[v].phase == VoicePhase::Free ? 1 : 0;
        if (voice.due[t] == 0) voice.set(targets, t, time, subStart, value);
    }
}

void Instrument::endNote(int32_t v, int64_t time) noexcept {
    voices[at(v)]->send(notes.gate, time, subStart, targets, false);
    allocation.end(v);
}

void Instrument::endAllNotes(int64_t time) noexcept {
    for (int32_t v = 0; v < allocation.size(); ++v) {
        const VoicePhase phase = allocation[v].phase;
        if (phase == VoicePhase::Held || phase == VoicePhase::Sustained) endNote(v, time);
    }
}

void Instrument::muteAll(int64_t time) noexcept {
    for (int32_t v = 0; v < allocation.size(); ++v)
        if (allocation[v].phase != VoicePhase::Free && !allocation[v].muted)
            voices[at(v)]->muteAt = std::min(voices[at(v)]->muteAt, time);
}

void Instrument::bendAll(int64_t time) noexcept {
    for (int32_t v = 0; v < allocation.size(); ++v)
        if (allocation[v].phase != VoicePhase::Free && !allocation[v].muted) setPitch(v, time);
}

void Instrument::runVoices(int64_t end) noexcept {
    const auto count = static_cast<int32_t>(end - subStart);
    if (count <= 0) return;
    for (int32_t v = 0; v < allocation.size(); ++v)
        if (allocation[v].phase != VoicePhase::Free) runVoice(v, count);
    subStart = end;
}

void Instrument::runVoice(int32_t v, int32_t count) noexcept {
    Voice& voice = *voices[at(v)];
    const int64_t end = subStart + count;
    voice.endStreams(end - 1, subStart, targets, targets.size());
    // The audio targets' buffers: the value at the start of the run, then each step from its sample.
    size_t step = 0;
    for (size_t t = 0; t < targets.size(); ++t) {
        if (!targets[t].audio) continue;
        float* buffer = voice.buffers[t];
        std::fill(buffer, buffer + count, voice.values[t]);
    }
    for (; step < voice.steps.size(); ++step) {
        const Voice::Step& s = voice.steps[step];
        std::fill(voice.buffers[s.target] + (s.time - subStart), voice.buffers[s.target] + count, s.value);
        voice.values[s.target] = s.value;
    }
    voice.patch->runBlock(count, voice.events);
    ++counters.voiceRuns;
    voice.events.clear();
    voice.steps.clear();

    // Heard up to all sound off; ascending voices at every sample.
    const int32_t offset = static_cast<int32_t>(subStart - blockStart);
    const int64_t heardEnd = allocation[v].muted ? subStart : std::min(end, voice.muteAt);
    const auto heard = static_cast<int32_t>(heardEnd - subStart);
    for (size_t o = 0; o < outputs; ++o) {
        const float* from = voice.patch->output(o);
        float* to = mix[o] + offset;
        for (int32_t i = 0; i < heard; ++i) to[i] += from[i];
    }
    if (heard > 0) dirty = std::max(dirty, offset + heard);
    if (voice.muteAt < end) {
        allocation.mute(v);
        voice.muteAt = NEVER;
    }

    // Free once its note has ended, every output rests at 0 and no stream is left to end.
    if (allocation[v].phase != VoicePhase::Released) return;
    for (size_t t = 0; t < targets.size(); ++t)
        if (voice.streamEnd[t] != NONE) return;
    for (size_t o = 0; o < outputs; ++o) {
        const std::optional<float> held = voice.patch->constantOutput(o);
        if (!held || *held != 0.0f) return;
    }
    allocation.free(v);
}

}  // namespace kvx::host
