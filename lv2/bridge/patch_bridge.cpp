// SPDX-License-Identifier: MIT
// The patch bridge: loading the bundle's patch, and each run sliced into patch blocks with the
// notes, controls and inputs of the slice as events and buffers at their frames.
#include "lv2/bridge/patch_bridge.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "lv2/bridge/bridge.h"
#include "lv2/bridge/bundle_entry.h"
#include "lv2/layout/bundle_index.h"
#include "lv2/layout/patch_layout.h"
#include "patch/patch_reader.h"

namespace kvx::lv2 {

PatchBridge::PatchBridge(const std::string& bundleFolder, const std::string& uri, double rate,
                         const HostFeatures& features)
    : sampleRate(static_cast<float>(rate)) {
    PatchEntry entry = openPatchEntry(bundleFolder, uri, rate, features);
    file = std::move(entry.file);
    layout = std::move(entry.layout);
    midiEvent = entry.midiEvent;
    maxSlice = features.maxBlockLength > 0 ? std::min(features.maxBlockLength, MAX_SLICE) : DEFAULT_SLICE;

    ports.assign(layout.ports.size(), nullptr);
    int32_t controlPins = 0;
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
            case PortRole::Parameter:
                controls.push_back(ControlPort{port.index, which});
                controlPins += static_cast<int32_t>(file.controls[which].pins.size());
                break;
            default:
                break;
        }
    }
    driver = std::make_unique<patch::PatchDriver>(file, EVENT_CAPACITY);
    // One MIDI message, and any audio pin's stream ending in the slice.
    reserve = driver->mostPerCall() + driver->mostStreamEnds() + 1;
    if (2 * controlPins + static_cast<int32_t>(inputs.size()) + 4 * reserve > EVENT_CAPACITY)
        throw BridgeError(file.graph.source +
                          " drives too many pins from its controls and notes for the bridge");
    createPatch();
}

PatchBridge::~PatchBridge() = default;

void PatchBridge::createPatch() {
    engine.reset();
    engine = std::make_unique<host::Patch>(file.graph, sampleRate, maxSlice);
    driver->bind(*engine);
    for (size_t i = 0; i < inputs.size(); ++i)
        inputs[i].buffer = engine->input(file.inputs[i].module, file.inputs[i].pin);
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

void PatchBridge::readControls(bool start) noexcept {
    for (ControlPort& port : controls) {
        const describe::PinDescription& range = file.controls[port.control].range;
        const auto* data = static_cast<const float*>(ports[port.port]);
        const float user = data != nullptr ? *data : static_cast<float>(range.defaultValue.value_or(0.0));
        const uint32_t bits = std::bit_cast<uint32_t>(user);
        if (!start && bits == port.userBits) continue;
        port.userBits = bits;
        double value = user;
        if (std::isnan(value)) value = range.defaultValue.value_or(range.minimum.value_or(0.0));
        // Hosts keep to the declared range; one that does not gets its ends.
        if (range.minimum) value = std::max(value, *range.minimum);
        if (range.maximum) value = std::min(value, *range.maximum);
        if (start)
            driver->holdControl(port.control, value);
        else
            driver->setControl(0, port.control, value);
    }
}

// The latest note on sounds (any channel); its note off, or "all notes off" (CC 123) / "all
// sound off" (CC 120), ends it.
void PatchBridge::onMidi(const uint8_t* message, uint32_t size, int32_t frame) noexcept {
    if (size < 3) return;
    const uint8_t status = message[0] & 0xF0;
    const int32_t key = message[1] & 0x7F;
    const int32_t note = (message[0] & 0x0F) * 128 + key;
    if (status == 0x90 && message[2] != 0)
        driver->noteOn(frame, note, key, message[2] & 0x7F);
    else if (status == 0x80 || status == 0x90)
        driver->noteOff(frame, note);
    else if (status == 0xB0 && (message[1] == 123 || message[1] == 120))
        driver->allNotesOff(frame);
    else if (status == 0xE0)
        driver->pitchBend(frame, (((message[2] & 0x7F) << 7 | (message[1] & 0x7F)) - 8192) / 8192.0);
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
        if (driver->room() < reserve)
            return static_cast<int32_t>(frame > handled ? std::max<int64_t>(frame, 1) : frame + 1);
        handled = frame;
        if (event->body.type == midiEvent)
            onMidi(reinterpret_cast<const uint8_t*>(event + 1), event->body.size,
                   static_cast<int32_t>(frame));
        nextMidi = lv2_atom_sequence_next(event);
    }
    return length;
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
        driver->beginBlock(position);
        if (firstSlice) readControls(fresh);
        length = addMidiEvents(done, length);
        if (fresh)  // the host's audio moves from the start
            for (const patch::PinRef& ref : file.inputs)
                driver->add(
                    host::PatchEvent{ref.module, 0, EV_STREAM_BEGIN, ref.pin, 0.0f, host::EventRank::Stream});
        for (const InputPort& in : inputs) {
            const auto* port = static_cast<const float*>(ports[in.port]);
            if (port != nullptr)
                std::copy(port + done, port + done + length, in.buffer);
            else
                std::fill(in.buffer, in.buffer + length, 0.0f);
        }
        fresh = false;
        firstSlice = false;
        engine->runBlock(length, driver->endBlock(length));
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
