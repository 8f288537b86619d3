// SPDX-License-Identifier: MIT
// Pin discovery by behaviour: one short session on a fresh instance per probe, every accepted
// pin bound to a buffer of its own, and the outputs and host calls of two sessions compared.
#include "host/pin_discovery.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>

#include "host/accepted_pins.h"
#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "interfaces/host_event.h"

namespace kvx::host {

namespace {

constexpr int32_t PROBE_BLOCK = 512;
// 0.68 s at 48 kHz: an envelope with the default times of ours gets through its attack and decay
// before the change and is released in the second half.
constexpr int32_t PROBE_LENGTH = 32768;
constexpr int32_t CHANGE_AT = PROBE_LENGTH / 4;   // where a probed control gets its test value
constexpr int32_t RELEASE_AT = PROBE_LENGTH / 2;  // where a held-on pin goes off
constexpr float PROBE_RATE = 48000.0f;

// How one pin is driven through a session.
struct Drive {
    float buffer = 0.5f;      // every sample, every block
    float startValue = 0.5f;  // a value event at sample 0
    bool heldOn = false;      // then 1.0 at onAt, 0.0 at RELEASE_AT
    int32_t onAt = 0;
    bool streaming = false;  // a stream begin at sample 0
    bool change = false;     // a value event at CHANGE_AT with these four bytes
    uint32_t changeBits = 0;
};

// What a session did: the outputs' samples and the module's host calls, in order, as words.
struct Session {
    std::vector<uint32_t> record;
    std::map<int32_t, bool> written;       // by pin: some sample differed from what was filled in
    std::map<int32_t, bool> reported;      // by pin: a streaming state was reported
    std::map<int32_t, int32_t> valueSize;  // by pin: the size of the last value sent
};

Session runSession(const PluginLibrary& library, std::u16string_view id, int32_t subtype,
                   const std::vector<int32_t>& pins, const std::map<int32_t, Drive>& drives,
                   const std::vector<int32_t>& recorded, int32_t length) {
    PluginInstance instance(library, id, subtype);
    HostServices& host = instance.host();
    host.sampleRate = PROBE_RATE;
    host.reserveTrace(4096);
    for (int32_t pin : pins) instance.bindBuffer(pin, PROBE_BLOCK);
    instance.plugin()->openModule();

    EventList timeline;  // the whole session, in absolute samples
    timeline.add(0, EV_GRAPH_BEGIN);
    for (const auto& [pin, drive] : drives) {
        if (!drive.heldOn || drive.onAt > 0) timeline.addFloat(0, pin, drive.startValue);
        if (drive.heldOn) {
            timeline.addFloat(drive.onAt, pin, 1.0f);
            timeline.addFloat(RELEASE_AT, pin, 0.0f);
        }
        if (drive.streaming) timeline.add(0, EV_STREAM_BEGIN, pin);
        if (drive.change) timeline.addInline(CHANGE_AT, pin, 4, &drive.changeBits, 4);
    }
    timeline.sortByTime();

    Session session;
    EventList block;
    size_t next = 0;
    for (int32_t start = 0; start < length; start += PROBE_BLOCK) {
        for (int32_t pin : pins) {
            const auto drive = drives.find(pin);
            std::fill_n(instance.buffer(pin), PROBE_BLOCK,
                        drive == drives.end() ? 0.5f : drive->second.buffer);
        }
        block.clear();
        for (; next < timeline.size() && timeline[next].timestamp < start + PROBE_BLOCK; ++next) {
            HostEvent event = timeline[next];
            block.addInline(event.timestamp - start, event.pinId, event.size, event.inlineValue, 8);
            block[block.size() - 1].type = event.type;
        }
        host.trace.clear();
        instance.process(PROBE_BLOCK, block.head());
        for (int32_t pin : pins) {
            const float* samples = instance.buffer(pin);
            const auto drive = drives.find(pin);
            const float filled = drive == drives.end() ? 0.5f : drive->second.buffer;
            for (int32_t i = 0; i < PROBE_BLOCK; ++i)
                if (std::bit_cast<uint32_t>(samples[i]) != std::bit_cast<uint32_t>(filled))
                    session.written[pin] = true;
        }
        for (int32_t pin : recorded)
            for (int32_t i = 0; i < PROBE_BLOCK; ++i)
                session.record.push_back(std::bit_cast<uint32_t>(instance.buffer(pin)[i]));
        for (const TraceEntry& call : host.trace) {
            if (call.call == HostCall::SendPinStreaming) session.reported[call.pinId] = true;
            if (call.call == HostCall::SendPinValue) session.valueSize[call.pinId] = call.value;
            if (call.call != HostCall::SendPinValue && call.call != HostCall::SendPinStreaming) continue;
            session.record.insert(session.record.end(),
                                  {static_cast<uint32_t>(call.call), static_cast<uint32_t>(call.timestamp),
                                   static_cast<uint32_t>(call.pinId), static_cast<uint32_t>(call.value)});
        }
    }
    return session;
}

// Classifies an input from five probes: `probe(buffer, change)` runs a session with the pin's
// buffer at `buffer` and a value event of the bytes `change` at CHANGE_AT.
template <typename Probe>
void classifyInput(FoundPin& f, Probe probe) {
    const auto base = probe(0.25f, std::bit_cast<uint32_t>(0.0f));
    const auto otherBuffer = probe(0.75f, std::bit_cast<uint32_t>(0.0f));
    const auto one = probe(0.25f, std::bit_cast<uint32_t>(1.0f));
    const auto word = probe(0.25f, 1u);
    const auto negativeZero = probe(0.25f, std::bit_cast<uint32_t>(-0.0f));
    const bool readsBuffer = otherBuffer != base;
    const bool readsEvents = one != base || word != base || negativeZero != base;
    f.unsure.clear();
    if (readsBuffer && readsEvents) {
        f.unsure = "it reacts both to its buffer and to value events";
    } else if (readsBuffer) {
        f.kind = PinFound::AudioIn;
    } else if (!readsEvents) {
        f.unsure = "neither its buffer nor its value events changed what the module did in the probes";
    } else {
        f.kind = PinFound::ControlIn;
        if (one != base && word == one && negativeZero == one)
            f.value = ValueFound::Bool;
        else if (one != base && (word != one || negativeZero != one))
            f.value = ValueFound::Float;
        else
            f.unsure = "1.0f did not change what the module did, so bool and float could not be told apart";
    }
}

}  // namespace

std::vector<FoundPin> discoverPins(const PluginLibrary& library, std::u16string_view id, int32_t subtype,
                                   const std::vector<ProbeHint>& hints) {
    std::vector<int32_t> pins;
    {
        PluginInstance instance(library, id, subtype);
        pins = acceptedPins(*instance.plugin());
    }
    std::map<int32_t, Drive> rest;
    for (const ProbeHint& hint : hints) {
        if (std::find(pins.begin(), pins.end(), hint.id) == pins.end()) continue;
        Drive& drive = rest[hint.id];
        drive.buffer = drive.startValue = hint.rest;
        drive.heldOn = hint.heldOn;
    }

    // Outputs: a pin whose buffer the module writes, or whose state or value it reports, in one
    // block with every pin at rest.
    const Session first = runSession(library, id, subtype, pins, rest, {}, PROBE_BLOCK);
    std::vector<FoundPin> found;
    std::vector<int32_t> outputs;
    for (int32_t pin : pins) {
        FoundPin& f = found.emplace_back();
        f.id = pin;
        if (first.valueSize.count(pin)) {
            f.kind = PinFound::ControlOut;
            const int32_t size = first.valueSize.at(pin);
            f.value = size == 1 ? ValueFound::Bool : size == 4 ? ValueFound::Float : ValueFound::Unknown;
            if (f.value == ValueFound::Unknown)
                f.unsure = "it sends values of " + std::to_string(size) + " bytes";
            outputs.push_back(pin);
        } else if (first.written.count(pin) || first.reported.count(pin)) {
            f.kind = PinFound::AudioOut;
            outputs.push_back(pin);
        }
    }

    // Inputs: each probed on its own, the others at rest. Its buffer at 0.25 or 0.75 (streaming
    // from the start), and at CHANGE_AT a value event of +0.0f, 1.0f, the 32-bit 1 or -0.0f. When
    // that shows nothing with the held-on pins on from the start, once more with them going on
    // just after the change (a gate that only counts when a trigger comes).
    std::map<int32_t, Drive> heldLater = rest;
    for (auto& [pin, drive] : heldLater) drive.onAt = CHANGE_AT + 1;
    for (FoundPin& f : found) {
        if (f.kind != PinFound::Unknown) continue;
        for (const std::map<int32_t, Drive>* scenario : {&rest, &heldLater}) {
            classifyInput(f, [&](float buffer, uint32_t changeBits) {
                std::map<int32_t, Drive> drives = *scenario;
                drives[f.id] = Drive{buffer, 0.0f, false, 0, true, true, changeBits};
                return runSession(library, id, subtype, pins, drives, outputs, PROBE_LENGTH).record;
            });
            if (f.kind != PinFound::Unknown || !f.unsure.starts_with("neither")) break;
        }
    }
    return found;
}

const char* pinFoundName(PinFound kind) {
    switch (kind) {
        case PinFound::AudioIn:
            return "an audio input";
        case PinFound::ControlIn:
            return "a control input";
        case PinFound::AudioOut:
            return "an audio output";
        case PinFound::ControlOut:
            return "a control output";
        case PinFound::Unknown:
            break;
    }
    return "a pin of unknown kind";
}

const char* valueFoundName(ValueFound value) {
    switch (value) {
        case ValueFound::Bool:
            return "bool";
        case ValueFound::Float:
            return "float";
        case ValueFound::Unknown:
            break;
    }
    return "unknown";
}

}  // namespace kvx::host
