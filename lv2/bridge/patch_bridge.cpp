// SPDX-License-Identifier: MIT
// The patch bridge: loading the bundle's patch, and each run sliced into patch blocks with the
// notes, controls and inputs of the slice as events and buffers at their frames.
#include "lv2/bridge/patch_bridge.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "describe/user_value.h"
#include "lv2/bridge/bridge.h"
#include "lv2/layout/bundle_index.h"
#include "lv2/layout/patch_layout.h"
#include "patch/patch_reader.h"

namespace kvx::lv2 {

namespace {

using host::EventRank;
using host::PatchPinKind;

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

const host::PatchPin* specPin(const host::PatchModule& module, int32_t id) {
    for (const host::PatchPin& pin : module.pins)
        if (pin.id == id) return &pin;
    return nullptr;
}

}  // namespace

PatchBridge::PatchBridge(const std::string& bundleFolder, const std::string& uri, double rate,
                         const HostFeatures& features)
    : sampleRate(static_cast<float>(rate)) {
    if (!std::isfinite(rate) || rate < MIN_SAMPLE_RATE || rate > MAX_SAMPLE_RATE)
        throw BridgeError("cannot run at a sample rate of " + std::to_string(rate) + " Hz (1 Hz to " +
                          std::to_string(static_cast<int64_t>(MAX_SAMPLE_RATE)) + " Hz)");
    const std::string bundle = bundleFolder.ends_with('/') ? bundleFolder : bundleFolder + "/";
    const BundleIndex index = readBundleIndex(bundle);
    const IndexedPlugin* entry = index.find(uri);
    if (entry == nullptr) throw BridgeError(bundle + BUNDLE_INDEX_FILE + " does not list this plug-in");
    patch::PathModuleSource modules({});  // the bundle's patch names its libraries by file
    file = patch::loadPatch(bundle + index.patch, modules);
    layout = patchLayoutFor(file, entry->flavour);
    if (layout.symbols() != entry->ports)
        throw BridgeError(file.spec.source + " gives the ports [" + joined(layout.symbols()) +
                          "], the bundle's Turtle declares [" + joined(entry->ports) +
                          "]: write the bundle again with kvx lv2");
    if (features.map == nullptr) throw BridgeError("the host offers no urid:map, needed to read MIDI");
    midiEvent = features.map->map(features.map->handle, LV2_MIDI__MidiEvent);
    maxSlice = features.maxBlockLength > 0 ? std::min(features.maxBlockLength, MAX_SLICE) : DEFAULT_SLICE;

    for (const patch::PinRef& ref : file.notes.pitch) pitchPins.push_back(drivenPin(ref));
    for (const patch::PinRef& ref : file.notes.velocity) velocityPins.push_back(drivenPin(ref));
    gatePins = file.notes.gate;
    triggerPins = file.notes.trigger;
    ports.assign(layout.ports.size(), nullptr);
    for (const Port& port : layout.ports) {
        const auto which = static_cast<size_t>(port.pin);
        switch (port.role) {
            case PortRole::MidiIn:
                midiPort = port.index;
                break;
            case PortRole::SignalIn:
                inputs.push_back(InputPort{port.index});
                break;
            case PortRole::SignalOut:
                outputs.push_back(OutputPort{port.index, which});
                break;
            case PortRole::Parameter: {
                ControlPort control{port.index, &file.controls[which], {}};
                for (const patch::PinRef& ref : file.controls[which].pins)
                    control.pins.push_back(drivenPin(ref));
                controls.push_back(std::move(control));
                break;
            }
            default:
                break;
        }
    }
    // One MIDI message sets every pitch and velocity pin (a stream begin, and an end still due)
    // and every gate and trigger; and any audio pin's stream may end in the slice.
    reserve = static_cast<int32_t>(2 * (pitchPins.size() + velocityPins.size()) + gatePins.size() +
                                   triggerPins.size() + driven.size()) +
              1;
    int32_t controlEvents = 0;
    for (const ControlPort& control : controls)
        controlEvents += 2 * static_cast<int32_t>(control.pins.size());
    if (controlEvents + 4 * reserve > EVENT_CAPACITY)
        throw BridgeError(file.spec.source +
                          " drives too many pins from its controls and notes for the bridge");
    createPatch();
}

PatchBridge::~PatchBridge() = default;

size_t PatchBridge::drivenPin(const patch::PinRef& ref) {
    for (size_t i = 0; i < driven.size(); ++i)
        if (driven[i].module == ref.module && driven[i].pin == ref.pin) return i;
    const host::PatchPin* pin = specPin(file.spec.modules[static_cast<size_t>(ref.module)], ref.pin);
    if (pin == nullptr)
        throw BridgeError(file.spec.source + ": the patch does not bind " + file.pinName(ref));
    driven.push_back(DrivenPin{ref.module, ref.pin, &file.pin(ref), pin->kind, pin->initial});
    return driven.size() - 1;
}

void PatchBridge::createPatch() {
    engine.reset();
    engine = std::make_unique<host::Patch>(file.spec, sampleRate, maxSlice);
    for (DrivenPin& pin : driven) {
        pin.buffer = pin.kind == PatchPinKind::AudioIn ? engine->input(pin.module, pin.pin) : nullptr;
        pin.value = pin.initial;
        pin.streamEnd = -1;
        pin.refill = false;
    }
    for (size_t i = 0; i < inputs.size(); ++i)
        inputs[i].buffer = engine->input(file.inputs[i].module, file.inputs[i].pin);
    sounding = -1;
    lastKey = -1;
    bend = 0.0;
    position = 0;
    fresh = true;
    used = false;
}

void PatchBridge::connect(uint32_t port, void* data) noexcept {
    if (port < ports.size()) ports[port] = data;
}

void PatchBridge::activate() {
    if (used) createPatch();
}

void PatchBridge::add(int32_t frame, int32_t module, int32_t type, int32_t pin, float value,
                      EventRank rank) noexcept {
    if (eventCount == EVENT_CAPACITY) return;
    host::PatchEvent& event = events[static_cast<size_t>(eventCount++)];
    event.module = module;
    event.timestamp = frame;
    event.type = type;
    event.pin = pin;
    event.value = value;
    event.rank = rank;
}

void PatchBridge::set(DrivenPin& pin, int32_t frame, int32_t length, float value, EventRank rank) noexcept {
    if (std::bit_cast<uint32_t>(value) == std::bit_cast<uint32_t>(pin.value)) return;
    pin.value = value;
    if (pin.buffer == nullptr) {
        add(frame, pin.module, EV_PIN_VALUE, pin.pin, value, rank);
        return;
    }
    std::fill(pin.buffer + frame, pin.buffer + length, value);
    pin.refill = true;
    const int64_t at = position + frame;
    if (pin.streamEnd >= 0 && pin.streamEnd < at) {  // an earlier change's stream ends first
        add(static_cast<int32_t>(pin.streamEnd - position), pin.module, EV_STREAM_END, pin.pin, 0.0f,
            EventRank::Stream);
        pin.streamEnd = -1;
    }
    if (pin.streamEnd < at) add(frame, pin.module, EV_STREAM_BEGIN, pin.pin, 0.0f, EventRank::Stream);
    pin.streamEnd = at + 1;
}

void PatchBridge::addEndedStreams(int32_t length) noexcept {
    for (DrivenPin& pin : driven)
        if (pin.streamEnd >= position && pin.streamEnd < position + length) {
            add(static_cast<int32_t>(pin.streamEnd - position), pin.module, EV_STREAM_END, pin.pin, 0.0f,
                EventRank::Stream);
            pin.streamEnd = -1;
        }
}

void PatchBridge::readControls(bool start, int32_t length) noexcept {
    for (ControlPort& control : controls) {
        const describe::PinDescription& range = control.control->range;
        const auto* port = static_cast<const float*>(ports[control.port]);
        const float user = port != nullptr ? *port : static_cast<float>(range.defaultValue.value_or(0.0));
        const uint32_t bits = std::bit_cast<uint32_t>(user);
        if (!start && bits == control.userBits) continue;
        control.userBits = bits;
        double value = user;
        if (std::isnan(value)) value = range.defaultValue.value_or(range.minimum.value_or(0.0));
        // Hosts keep to the declared range; one that does not gets its ends.
        if (range.minimum) value = std::max(value, *range.minimum);
        if (range.maximum) value = std::min(value, *range.maximum);
        for (size_t index : control.pins) {
            DrivenPin& pin = driven[index];
            const float pinValue = pin.described->datatype == describe::Datatype::Bool
                                       ? (value > 0.5 ? 1.0f : 0.0f)
                                       : describe::pinValueFor(*pin.described, value);
            if (start && pin.buffer != nullptr) {
                // Held from the start, as the patch holds its own values: no stream.
                pin.value = pinValue;
                std::fill(pin.buffer, pin.buffer + maxSlice, pinValue);
            } else {
                set(pin, 0, length, pinValue, EventRank::Change);
            }
        }
    }
}

void PatchBridge::setPitch(int32_t frame, int32_t length) noexcept {
    if (lastKey < 0) return;
    const double semitones = lastKey - 69 + bend * file.notes.bendRange;
    const double hertz = 440.0 * std::exp2(semitones / 12.0);
    for (size_t index : pitchPins) {
        DrivenPin& pin = driven[index];
        set(pin, frame, length, describe::pinValueFor(*pin.described, hertz), EventRank::Note);
    }
}

void PatchBridge::onMidi(const uint8_t* message, uint32_t size, int32_t frame, int32_t length) noexcept {
    if (size < 3) return;
    const uint8_t status = message[0] & 0xF0;
    const int key = (message[0] & 0x0F) * 128 + (message[1] & 0x7F);
    bool release = false;
    if (status == 0x90 && message[2] != 0) {
        sounding = key;
        lastKey = message[1] & 0x7F;
        setPitch(frame, length);
        for (size_t index : velocityPins) {
            DrivenPin& pin = driven[index];
            set(pin, frame, length, describe::pinValueFor(*pin.described, (message[2] & 0x7F) / 127.0),
                EventRank::Note);
        }
        for (const patch::PinRef& pin : triggerPins)
            add(frame, pin.module, EV_PIN_VALUE, pin.pin, 1.0f, EventRank::Note);
        for (const patch::PinRef& pin : gatePins)
            add(frame, pin.module, EV_PIN_VALUE, pin.pin, 1.0f, EventRank::Note);
        return;
    }
    if (status == 0x80 || status == 0x90)
        release = key == sounding;
    else if (status == 0xB0 && (message[1] == 123 || message[1] == 120))
        release = sounding >= 0;
    else if (status == 0xE0) {
        const int value = ((message[2] & 0x7F) << 7 | (message[1] & 0x7F)) - 8192;
        bend = value / 8192.0;
        setPitch(frame, length);
    }
    if (!release) return;
    sounding = -1;
    for (const patch::PinRef& pin : gatePins)
        add(frame, pin.module, EV_PIN_VALUE, pin.pin, 0.0f, EventRank::Note);
}

int32_t PatchBridge::addMidiEvents(uint32_t runStart, int32_t length) noexcept {
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(ports[static_cast<size_t>(midiPort)]);
    if (sequence == nullptr || nextMidi == nullptr) return length;
    int64_t latest = 0;    // a message out of time order counts at the latest frame before it
    int64_t handled = -1;  // the frame of the latest message handled
    while (!lv2_atom_sequence_is_end(&sequence->body, sequence->atom.size, nextMidi)) {
        const LV2_Atom_Event* event = nextMidi;
        const int64_t frame = std::max<int64_t>(event->time.frames - static_cast<int64_t>(runStart), latest);
        if (frame >= length) break;  // a later slice's
        latest = frame;
        // The rest in a new slice; messages crowding one frame past the list's room come a frame
        // later (the slice keeps that frame's events, and a block cannot be empty).
        if (EVENT_CAPACITY - eventCount < reserve)
            return static_cast<int32_t>(frame > handled ? std::max<int64_t>(frame, 1) : frame + 1);
        handled = frame;
        if (event->body.type == midiEvent)
            onMidi(reinterpret_cast<const uint8_t*>(event + 1), event->body.size, static_cast<int32_t>(frame),
                   length);
        nextMidi = lv2_atom_sequence_next(event);
    }
    return length;
}

void PatchBridge::sortEvents() noexcept {
    for (int32_t i = 1; i < eventCount; ++i) {  // insertion sort: stable, and mostly in order already
        const host::PatchEvent moving = events[static_cast<size_t>(i)];
        int32_t j = i;
        for (; j > 0 && host::deliveredBefore(moving.timestamp, moving.rank,
                                              events[static_cast<size_t>(j - 1)].timestamp,
                                              events[static_cast<size_t>(j - 1)].rank);
             --j)
            events[static_cast<size_t>(j)] = events[static_cast<size_t>(j - 1)];
        events[static_cast<size_t>(j)] = moving;
    }
}

void PatchBridge::run(uint32_t frames) noexcept {
    if (!engine) {  // activation failed to build the patch: silence, never a crash
        for (const OutputPort& out : outputs)
            if (auto* port = static_cast<float*>(ports[out.port])) std::fill(port, port + frames, 0.0f);
        return;
    }
    used = true;
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(ports[static_cast<size_t>(midiPort)]);
    nextMidi = sequence != nullptr ? lv2_atom_sequence_begin(&sequence->body) : nullptr;
    bool firstSlice = true;
    uint32_t done = 0;
    while (done < frames) {
        int32_t length =
            static_cast<int32_t>(std::min<uint32_t>(frames - done, static_cast<uint32_t>(maxSlice)));
        eventCount = 0;
        for (DrivenPin& pin : driven)
            if (pin.refill) {
                std::fill(pin.buffer, pin.buffer + maxSlice, pin.value);
                pin.refill = false;
            }
        if (firstSlice) readControls(fresh, length);
        length = addMidiEvents(done, length);
        addEndedStreams(length);
        if (fresh)  // the host's audio moves from the start
            for (size_t i = 0; i < inputs.size(); ++i)
                add(0, file.inputs[i].module, EV_STREAM_BEGIN, file.inputs[i].pin, 0.0f, EventRank::Stream);
        for (const InputPort& in : inputs) {
            const auto* port = static_cast<const float*>(ports[in.port]);
            if (port != nullptr)
                std::copy(port + done, port + done + length, in.buffer);
            else
                std::fill(in.buffer, in.buffer + length, 0.0f);
        }
        fresh = false;
        firstSlice = false;
        sortEvents();
        engine->runBlock(length,
                         std::span<const host::PatchEvent>(events.data(), static_cast<size_t>(eventCount)));
        for (const OutputPort& out : outputs)
            if (auto* port = static_cast<float*>(ports[out.port])) {
                const float* samples = engine->output(out.output);
                std::copy(samples, samples + length, port + done);
            }
        done += static_cast<uint32_t>(length);
        position += length;
    }
}

}  // namespace kvx::lv2
