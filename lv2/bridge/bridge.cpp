// SPDX-License-Identifier: MIT
// The bridge: loading from the bundle, and each run sliced into module blocks.
#include "lv2/bridge/bridge.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <span>

#include "describe/description_reader.h"
#include "describe/library_agreement.h"
#include "describe/user_value.h"
#include "host/host_error.h"
#include "interfaces/result_codes.h"
#include "lv2/bridge/bundle_entry.h"
#include "lv2/layout/bundle_index.h"

namespace kvx::lv2 {

namespace {

using describe::Datatype;
using describe::PinDescription;
using describe::Role;

// The held value over a run: four floats a store where the target has SSE (a plain loop is not
// vectorised at -O2), the rest one by one.
void fillHeld(float* out, uint32_t frames, float value) noexcept {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128 four = _mm_set1_ps(value);
    for (; i + 4 <= frames; i += 4) _mm_storeu_ps(out + i, four);
#endif
    for (; i < frames; ++i) out[i] = value;
}

// Room kept free while adding notes or edges: one note or edge, and every stream end due.
int32_t reserveFor(size_t parameters) { return 3 + static_cast<int32_t>(parameters); }

int32_t pinWithRole(const describe::ModuleDescription& module, Role role) {
    const PinDescription* pin = module.inputWithRole(role);
    return pin == nullptr ? -1 : pin->id;
}

// The line a description that contradicts its library is refused with ("" when it agrees),
// found once per library, module and described pins in a process: hosts instantiate often, and
// the probes run the module for a while. Instantiation is not real-time, so a lock is fine here.
std::string refusalFor(const host::PluginLibrary& library, const describe::ModuleDescription& module,
                       const std::string& source) {
    std::string key =
        library.path() + '\n' + source + '\n' + module.id + '\n' + std::to_string(module.subtype);
    for (const PinDescription& pin : module.pins)
        key += ' ' + std::to_string(pin.id) + ':' + describe::datatypeName(pin.datatype) + ':' +
               describe::directionName(pin.direction) + ':' + describe::roleName(pin.role);
    static std::mutex guard;
    static std::map<std::string, std::string> known;
    const std::lock_guard<std::mutex> lock(guard);
    const auto found = known.find(key);
    if (found != known.end()) return found->second;
    return known[key] = describe::refusal(describe::checkAgainstLibrary(library, module), source);
}

}  // namespace

Bridge::Bridge(const std::string& bundleFolder, const std::string& uri, double rate,
               const HostFeatures& features)
    : sampleRate(static_cast<float>(rate)) {
    const BundleEntry opened = openBundleEntry(bundleFolder, uri, rate);
    const std::string& bundle = opened.folder;
    const BundleIndex& index = opened.index;
    const IndexedPlugin* entry = &opened.plugin;

    const describe::Description description = describe::loadDescription(bundle + index.description);
    const describe::ModuleDescription* described = nullptr;
    for (const describe::ModuleDescription& candidate : description.modules)
        if (candidate.symbol == entry->module) described = &candidate;
    if (described == nullptr)
        throw BridgeError(description.source + " does not describe the module '" + entry->module + "'");
    module = *described;
    layout = layoutFor(module, entry->flavour);
    requireDeclaredPorts(description.source, layout.symbols(), *entry);

    if (layout.find(PortRole::MidiIn) != nullptr) {
        if (features.map == nullptr) throw BridgeError("the host offers no urid:map, needed to read MIDI");
        midiEvent = features.map->map(features.map->handle, LV2_MIDI__MidiEvent);
    }
    maxSlice = features.maxBlockLength > 0 ? std::min(features.maxBlockLength, MAX_SLICE) : DEFAULT_SLICE;
    triggerPin = pinWithRole(module, Role::Trigger);
    gatePin = pinWithRole(module, Role::Gate);
    resetPin = pinWithRole(module, Role::Reset);

    ports.assign(layout.ports.size(), nullptr);
    for (const Port& port : layout.ports) {
        switch (port.role) {
            case PortRole::MidiIn:
                midiPort = port.index;
                break;
            case PortRole::GateIn:
                gatePort = port.index;
                break;
            case PortRole::ResetIn:
                resetPort = port.index;
                break;
            case PortRole::SignalIn:
                signalIns.push_back(SignalPort{port.index, port.pin});
                break;
            case PortRole::SignalOut:
                signalOuts.push_back(SignalPort{port.index, port.pin});
                break;
            case PortRole::AmpIn:
                ampIn[port.channel] = port.index;
                break;
            case PortRole::AmpOut:
                ampOut[port.channel] = port.index;
                amp = true;
                break;
            case PortRole::Parameter:
                parameters.push_back(Parameter{port.index, module.pinById(port.pin)});
                break;
        }
    }
    // The events a slice always has room for (graph start, every input's first value, the
    // changes of one run) must leave most of the list to notes and edges.
    if (module.pins.size() * 2 + 8 > static_cast<size_t>(SliceEvents::CAPACITY / 2))
        throw BridgeError("\"" + module.id + "\" has too many pins for the bridge");

    controlPorts.assign(parameters.size(), nullptr);
    controlBits.assign(parameters.size(), 0);
    sleepShortcut = midiPort >= 0 && signalIns.empty() && signalOuts.size() == 1 && !amp;
    library = std::make_unique<host::PluginLibrary>(bundle + index.library);
    const std::string refused = refusalFor(*library, module, description.source);
    if (!refused.empty()) throw BridgeError(refused);
    createModule();
}

Bridge::~Bridge() = default;

void Bridge::createModule() {
    pool.reset();
    host::VoiceLayout voice;
    for (const PinDescription& pin : module.pins)
        if (pin.isInput() && pin.isAudio()) voice.inputPins.push_back(pin.id);
    voice.outputPin = signalOuts.front().pin;
    voice.maxBlock = maxSlice;
    try {
        pool = std::make_unique<host::VoicePool>(*library, host::toUtf16(module.id), module.subtype, 1, voice,
                                                 sampleRate);
        furtherOutputs.assign(signalOuts.size() - 1, std::vector<float>(static_cast<size_t>(maxSlice), 0.0f));
        for (size_t i = 1; i < signalOuts.size(); ++i)
            if (pool->plugin(0)->bindPinBuffer(signalOuts[i].pin, furtherOutputs[i - 1].data()) != RESULT_OK)
                throw host::HostError("the module refuses a buffer for pin " +
                                      std::to_string(signalOuts[i].pin));
    } catch (...) {
        pool.reset();  // run() then plays silence
        throw;
    }
    if (signalOuts.size() > 1) {
        // As kvx render does: a module with several outputs writes all of them every block.
        pool->honourSleep = false;
        pool->minimumCountdown = std::numeric_limits<int32_t>::max();
    }
    for (Parameter& parameter : parameters) {
        parameter.buffer = parameter.pin->isAudio() ? pool->input(0, parameter.pin->id) : nullptr;
        parameter.streamEnd = -1;
    }
    for (SignalPort& port : signalIns) port.buffer = pool->input(0, port.pin);
    signalOuts.front().buffer = const_cast<float*>(pool->output(0));
    for (size_t i = 1; i < signalOuts.size(); ++i) signalOuts[i].buffer = furtherOutputs[i - 1].data();
    streamsOpenUntil = -1;
    notes.reset();
    gateHigh = false;
    resetHigh = false;
    position = 0;
    fresh = true;
    used = false;
}

void Bridge::connect(uint32_t port, void* data) noexcept {
    if (port >= ports.size()) return;
    ports[port] = data;
    for (size_t i = 0; i < parameters.size(); ++i)
        if (parameters[i].port == port) controlPorts[i] = static_cast<const float*>(data);
}

void Bridge::activate() {
    if (used) createModule();
}

float Bridge::pinValueFor(const Parameter& parameter, float user) const noexcept {
    const PinDescription& pin = *parameter.pin;
    double value = user;
    if (std::isnan(value)) value = pin.defaultValue.value_or(pin.minimum.value_or(0.0));
    // Hosts keep to the declared range; one that does not gets its ends (a logarithmic
    // mapping has no value at 0).
    if (pin.minimum) value = std::max(value, *pin.minimum);
    if (pin.maximum) value = std::min(value, *pin.maximum);
    if (pin.datatype == Datatype::Bool) return value > 0.5 ? 1.0f : 0.0f;
    return describe::pinValueFor(pin, value);
}

bool Bridge::readParameter(Parameter& parameter) noexcept {
    const float* port = static_cast<const float*>(ports[parameter.port]);
    const float user =
        port != nullptr ? *port : static_cast<float>(parameter.pin->defaultValue.value_or(0.0));
    const uint32_t bits = std::bit_cast<uint32_t>(user);
    if (bits == parameter.userBits) return false;
    parameter.userBits = bits;
    controlBits[static_cast<size_t>(&parameter - parameters.data())] = bits;
    const float value = pinValueFor(parameter, user);
    if (std::bit_cast<uint32_t>(value) == std::bit_cast<uint32_t>(parameter.value)) return false;
    parameter.value = value;
    if (parameter.buffer != nullptr) std::fill(parameter.buffer, parameter.buffer + maxSlice, value);
    return true;
}

// What kvx render sends at a render's first sample: graph start, every control input's value,
// then every audio input's streaming state.
void Bridge::addStartEvents() noexcept {
    events.add(0, Rank::Graph, EV_GRAPH_BEGIN, -1);
    for (Parameter& parameter : parameters) {
        parameter.userBits = ~std::bit_cast<uint32_t>(0.0f);  // forces the read
        parameter.value = std::numeric_limits<float>::quiet_NaN();
        readParameter(parameter);
    }
    for (const PinDescription& pin : module.pins) {
        if (!pin.isInput() || pin.isAudio()) continue;
        float value = 0.0f;
        if (pin.role == Role::Reset || pin.role == Role::Trigger || pin.role == Role::Gate ||
            pin.role == Role::Signal)
            value = pin.datatype == Datatype::Bool
                        ? static_cast<float>(pin.defaultValue.value_or(0.0))
                        : describe::pinValueFor(pin, pin.defaultValue.value_or(0.0));
        for (const Parameter& parameter : parameters)
            if (parameter.pin->id == pin.id) value = parameter.value;
        if (pin.datatype == Datatype::Bool)
            events.addBool(0, Rank::Initial, pin.id, value != 0.0f);
        else
            events.addFloat(0, Rank::Initial, pin.id, value);
    }
    for (const PinDescription& pin : module.pins) {
        if (!pin.isInput() || !pin.isAudio()) continue;
        const bool live = pin.role == Role::Signal;  // a port's audio: assumed to move
        if (live)
            events.add(0, Rank::Stream, EV_STREAM_BEGIN, pin.id);
        else
            events.add(0, Rank::Initial, EV_STREAM_END, pin.id);
    }
}

// A control port changed since the last run: from this run's first frame on, as kvx render sends
// a step in an input: an audio pin streams for that one frame (joined with a step right before
// it), a control pin gets the value.
void Bridge::addParameterChanges() noexcept {
    for (Parameter& parameter : parameters) {
        if (!readParameter(parameter)) continue;
        if (parameter.buffer == nullptr) {
            if (parameter.pin->datatype == Datatype::Bool)
                events.addBool(0, Rank::Change, parameter.pin->id, parameter.value != 0.0f);
            else
                events.addFloat(0, Rank::Change, parameter.pin->id, parameter.value);
            continue;
        }
        if (parameter.streamEnd < position) events.add(0, Rank::Stream, EV_STREAM_BEGIN, parameter.pin->id);
        parameter.streamEnd = position + 1;
        streamsOpenUntil = parameter.streamEnd;
    }
}

void Bridge::addNote(int32_t frame, GateChange change) noexcept {
    if (change == GateChange::NoteOn) {
        if (triggerPin >= 0) events.addBool(frame, Rank::Note, triggerPin, true);
        events.addBool(frame, Rank::Note, gatePin, true);
    } else if (change == GateChange::NoteOff) {
        events.addBool(frame, Rank::Note, gatePin, false);
    }
}

int32_t Bridge::addSourceEvents(uint32_t runStart, int32_t length) noexcept {
    if (midiPort >= 0) return addMidiEvents(runStart, length);
    if (gatePort >= 0 || resetPort >= 0) return addEdgeEvents(runStart, length);
    return length;
}

int32_t Bridge::addMidiEvents(uint32_t runStart, int32_t length) noexcept {
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(ports[static_cast<size_t>(midiPort)]);
    if (sequence == nullptr || nextMidi == nullptr) return length;
    const int32_t reserve = reserveFor(parameters.size());
    while (!lv2_atom_sequence_is_end(&sequence->body, sequence->atom.size, nextMidi)) {
        const LV2_Atom_Event* event = nextMidi;
        const int64_t frame = std::max<int64_t>(event->time.frames - static_cast<int64_t>(runStart), 0);
        if (frame >= length) break;                                       // a later slice's
        if (events.room() < reserve) return static_cast<int32_t>(frame);  // the rest in a new slice
        if (event->body.type == midiEvent)
            addNote(static_cast<int32_t>(frame),
                    notes.onMessage(reinterpret_cast<const uint8_t*>(event + 1), event->body.size));
        nextMidi = lv2_atom_sequence_next(event);
    }
    return length;
}

int32_t Bridge::addEdgeEvents(uint32_t runStart, int32_t length) noexcept {
    const auto* gate =
        gatePort >= 0 ? static_cast<const float*>(ports[static_cast<size_t>(gatePort)]) : nullptr;
    const auto* reset =
        resetPort >= 0 ? static_cast<const float*>(ports[static_cast<size_t>(resetPort)]) : nullptr;
    const int32_t reserve = reserveFor(parameters.size());
    for (int32_t i = 0; i < length; ++i) {
        const bool gateNow = gate != nullptr && gate[runStart + static_cast<uint32_t>(i)] > 0.5f;
        const bool resetNow = reset != nullptr && reset[runStart + static_cast<uint32_t>(i)] > 0.5f;
        if (gateNow == gateHigh && resetNow == resetHigh) continue;
        if (events.room() < reserve) return i;
        if (resetNow != resetHigh) {
            resetHigh = resetNow;
            if (resetNow && resetPin >= 0) events.addFloat(i, Rank::Reset, resetPin, 1.0f);
        }
        if (gateNow != gateHigh) {
            gateHigh = gateNow;
            addNote(i, gateNow ? GateChange::NoteOn : GateChange::NoteOff);
        }
    }
    return length;
}

void Bridge::writeOutputs(uint32_t runStart, int32_t length) noexcept {
    for (const SignalPort& out : signalOuts)
        if (auto* port = static_cast<float*>(ports[out.port]))
            std::copy(out.buffer, out.buffer + length, port + runStart);
    if (!amp) return;
    const float* envelope = signalOuts.front().buffer;
    for (int channel = 0; channel < 2; ++channel) {
        auto* out = static_cast<float*>(ports[ampOut[channel]]);
        const auto* in = static_cast<const float*>(ports[ampIn[channel]]);
        if (out == nullptr) continue;
        out += runStart;
        if (in == nullptr) {
            std::fill(out, out + length, 0.0f);
            continue;
        }
        in += runStart;
        for (int32_t i = 0; i < length; ++i) out[i] = in[i] * envelope[i];
    }
}

void Bridge::fillSilence(uint32_t frames) noexcept {
    for (const Port& port : layout.ports)
        if (!port.input && ports[port.index] != nullptr)
            std::fill(static_cast<float*>(ports[port.index]), static_cast<float*>(ports[port.index]) + frames,
                      0.0f);
}

inline bool Bridge::controlsUnchanged() const noexcept {
    if (streamsOpenUntil >= position) return false;
    for (size_t i = 0; i < controlPorts.size(); ++i)
        if (controlPorts[i] == nullptr || std::bit_cast<uint32_t>(*controlPorts[i]) != controlBits[i])
            return false;
    return true;
}

void Bridge::run(uint32_t frames) noexcept {
    if (!pool) {  // activation failed to create the module: silence, never a crash
        fillSilence(frames);
        return;
    }
    used = true;
    if (sleepShortcut && !fresh && pool->asleep(0)) {
        const auto* sequence = static_cast<const LV2_Atom_Sequence*>(ports[static_cast<size_t>(midiPort)]);
        if (sequence != nullptr && sequence->atom.size <= sizeof(LV2_Atom_Sequence_Body) &&
            controlsUnchanged()) {
            if (auto* out = static_cast<float*>(ports[signalOuts.front().port]))
                fillHeld(out, frames, pool->heldValue(0));
            position += frames;
            return;
        }
    }
    if (midiPort >= 0) {
        const auto* sequence = static_cast<const LV2_Atom_Sequence*>(ports[static_cast<size_t>(midiPort)]);
        nextMidi = sequence != nullptr ? lv2_atom_sequence_begin(&sequence->body) : nullptr;
    }
    bool firstSlice = true;
    uint32_t done = 0;
    while (done < frames) {
        int32_t length =
            static_cast<int32_t>(std::min<uint32_t>(frames - done, static_cast<uint32_t>(maxSlice)));
        events.clear();
        if (fresh)
            addStartEvents();
        else if (firstSlice)
            addParameterChanges();
        fresh = false;
        firstSlice = false;
        length = addSourceEvents(done, length);
        for (Parameter& parameter : parameters)
            if (parameter.streamEnd >= position && parameter.streamEnd < position + length) {
                events.add(static_cast<int32_t>(parameter.streamEnd - position), Rank::Stream, EV_STREAM_END,
                           parameter.pin->id);
                parameter.streamEnd = -1;
            }
        for (const SignalPort& in : signalIns) {
            const auto* port = static_cast<const float*>(ports[in.port]);
            if (port != nullptr)
                std::copy(port + done, port + done + length, in.buffer);
            else
                std::fill(in.buffer, in.buffer + length, 0.0f);
        }
        const host::VoiceEvents voiceEvents{0, events.link()};
        if (voiceEvents.events != nullptr)
            pool->runBlock(length, std::span<const host::VoiceEvents>(&voiceEvents, 1));
        else
            pool->runBlock(length);
        writeOutputs(done, length);
        done += static_cast<uint32_t>(length);
        position += length;
    }
}

}  // namespace kvx::lv2
