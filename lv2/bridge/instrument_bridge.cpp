// SPDX-License-Identifier: MIT
// The instrument bridge: loading the bundle's patch as an instrument, and each run cut into
// blocks of at most the instrument's length with the run's MIDI and control changes as note
// events at their frames.
#include "lv2/bridge/instrument_bridge.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "host/midi_note_event.h"
#include "lv2/bridge/bridge.h"
#include "lv2/bridge/bundle_entry.h"
#include "lv2/layout/patch_layout.h"
#include "patch/patch_instrument.h"
#include "patch/patch_reader.h"

namespace kvx::lv2 {

InstrumentBridge::InstrumentBridge(const std::string& bundleFolder, const std::string& uri, double rate,
                                   const HostFeatures& features) {
    PatchEntry entry = openPatchEntry(bundleFolder, uri, rate, features);
    file = std::move(entry.file);
    layout = std::move(entry.layout);
    midiEvent = entry.midiEvent;
    maxSlice = features.maxBlockLength > 0 ? std::min(features.maxBlockLength, MAX_SLICE) : DEFAULT_SLICE;

    ports.assign(layout.ports.size(), nullptr);
    int32_t controlPins = 0;
    for (const Port& port : layout.ports) {
        const auto which = static_cast<size_t>(port.pin);
        if (port.role == PortRole::MidiIn) midiPort = port.index;
        if (port.role == PortRole::SignalOut) outputs.push_back(OutputPort{port.index, which});
        if (port.role != PortRole::Parameter) continue;
        // A port first connected after the first run sends its value unless it is the patch's.
        const describe::PinDescription& range = file.controls[which].range;
        const auto held = static_cast<float>(range.defaultValue.value_or(range.minimum.value_or(0.0)));
        controls.push_back(ControlPort{port.index, which, std::bit_cast<uint32_t>(held)});
        controlPins += static_cast<int32_t>(file.controls[which].pins.size());
    }
    // A reset and every control at frame 0 of a run leave half a block's list for MIDI at least.
    if (2 * (controlPins + 1) > EVENT_CAPACITY)
        throw BridgeError(file.graph.source + " drives too many pins from its controls for the bridge");
    host::InstrumentLimits limits;
    limits.eventsPerBlock = EVENT_CAPACITY;
    instrument = std::make_unique<host::Instrument>(file.graph, patch::instrumentNotes(file), file.voices,
                                                    static_cast<float>(rate), maxSlice, limits);
}

InstrumentBridge::~InstrumentBridge() = default;

void InstrumentBridge::connect(uint32_t port, void* data) noexcept {
    if (port < ports.size()) ports[port] = data;
}

void InstrumentBridge::add(const host::NoteEvent& event) noexcept {
    if (count < EVENT_CAPACITY) events[static_cast<size_t>(count++)] = event;
}

void InstrumentBridge::readControls(bool start) noexcept {
    for (ControlPort& port : controls) {
        const describe::PinDescription& range = file.controls[port.control].range;
        const auto* data = static_cast<const float*>(ports[port.port]);
        if (data == nullptr) continue;  // unconnected: the patch's own value
        const uint32_t bits = std::bit_cast<uint32_t>(*data);
        if (!start && bits == port.userBits) continue;
        port.userBits = bits;
        double user = *data;
        if (std::isnan(user)) user = range.defaultValue.value_or(range.minimum.value_or(0.0));
        // Hosts keep to the declared range; one that does not gets its ends.
        if (range.minimum) user = std::max(user, *range.minimum);
        if (range.maximum) user = std::min(user, *range.maximum);
        if (start) {  // held from the first sample, as kvx render --set holds it
            patch::holdControl(*instrument, file, port.control, user);
            continue;
        }
        const size_t room = static_cast<size_t>(EVENT_CAPACITY - count);
        count += static_cast<int32_t>(
            patch::controlEvents(file, port.control, user, 0, {events.data() + count, room}));
    }
}

int32_t InstrumentBridge::addMidiEvents(uint32_t runStart, int32_t length) noexcept {
    if (midiPort < 0 || nextMidi == nullptr) return length;
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(ports[static_cast<size_t>(midiPort)]);
    int64_t latest = 0;                  // a message out of time order counts at the latest frame before it
    int64_t added = count > 0 ? 0 : -1;  // the frame of the latest event in the list
    while (!lv2_atom_sequence_is_end(&sequence->body, sequence->atom.size, nextMidi)) {
        const LV2_Atom_Event* event = nextMidi;
        const int64_t frame = std::max<int64_t>(event->time.frames - static_cast<int64_t>(runStart), latest);
        if (frame >= length) break;  // a later block's
        latest = frame;
        // A full list ends the block before this message, which comes in the next block at its
        // frame; when the list holds messages of its frame, it comes a frame later.
        if (count == EVENT_CAPACITY) return static_cast<int32_t>(frame > added ? frame : frame + 1);
        if (event->body.type == midiEvent) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(event + 1);
            if (const auto note =
                    host::noteEventFromMidi({bytes, event->body.size}, static_cast<int32_t>(frame)))
                add(*note);
            added = frame;
        }
        nextMidi = lv2_atom_sequence_next(event);
    }
    return length;
}

void InstrumentBridge::run(uint32_t frames) noexcept {
    const auto* sequence =
        midiPort >= 0 ? static_cast<const LV2_Atom_Sequence*>(ports[static_cast<size_t>(midiPort)]) : nullptr;
    nextMidi = sequence != nullptr ? lv2_atom_sequence_begin(&sequence->body) : nullptr;
    uint32_t done = 0;
    while (done < frames) {
        int32_t length =
            static_cast<int32_t>(std::min<uint32_t>(frames - done, static_cast<uint32_t>(maxSlice)));
        count = 0;
        if (done == 0) {
            if (pendingReset) add(host::NoteEvent{0, host::NoteEventKind::Reset, 0, 0.0f, 0});
            pendingReset = false;
            readControls(!started);
        }
        length = addMidiEvents(done, length);
        instrument->runBlock(length, {events.data(), static_cast<size_t>(count)});
        for (const OutputPort& out : outputs)
            if (auto* port = static_cast<float*>(ports[out.port])) {
                const float* samples = instrument->output(out.output);
                std::copy(samples, samples + length, port + done);
            }
        done += static_cast<uint32_t>(length);
        started = true;
    }
}

}  // namespace kvx::lv2
