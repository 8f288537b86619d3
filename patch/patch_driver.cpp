// SPDX-License-Identifier: MIT
// PatchDriver: the pins a patch's notes and controls drive, set block by block.
#include "patch/patch_driver.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "describe/user_value.h"
#include "patch/patch_reader.h"

namespace kvx::patch {

namespace {

using host::EventRank;

const host::PatchPin* graphPin(const host::PatchModule& module, int32_t id) {
    for (const host::PatchPin& pin : module.pins)
        if (pin.id == id) return &pin;
    return nullptr;
}

bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

}  // namespace

PatchDriver::PatchDriver(const PatchFile& patchFile, int32_t eventCapacity) : file(patchFile) {
    for (const PinRef& ref : file.notes.pitch) pitchPins.push_back(drivenPin(ref));
    for (const PinRef& ref : file.notes.velocity) velocityPins.push_back(drivenPin(ref));
    for (const Control& control : file.controls) {
        std::vector<size_t> pins;
        for (const PinRef& ref : control.pins) pins.push_back(drivenPin(ref));
        controlPins.push_back(std::move(pins));
    }
    // A note on sets every pitch and velocity pin (a stream begin, and an end still due) and
    // every gate and trigger; a control its pins likewise.
    perCall = static_cast<int32_t>(2 * (pitchPins.size() + velocityPins.size()) + file.notes.gate.size() +
                                   file.notes.trigger.size());
    for (const std::vector<size_t>& pins : controlPins)
        perCall = std::max(perCall, 2 * static_cast<int32_t>(pins.size()));
    reserve(eventCapacity);
}

void PatchDriver::reserve(int32_t eventCapacity) {
    events.assign(static_cast<size_t>(std::max(eventCapacity, 0)), host::PatchEvent{});
    count = 0;
}

size_t PatchDriver::drivenPin(const PinRef& ref) {
    for (size_t i = 0; i < driven.size(); ++i)
        if (driven[i].ref == ref) return i;
    const host::PatchPin* pin = graphPin(file.graph.modules[static_cast<size_t>(ref.module)], ref.pin);
    if (pin == nullptr) throw PatchError(file.graph.source + ": the patch does not bind " + file.pinName(ref));
    driven.push_back(DrivenPin{ref, &file.pin(ref), pin->initial});
    return driven.size() - 1;
}

void PatchDriver::bind(host::Patch& patch) noexcept {
    engine = &patch;
    for (DrivenPin& pin : driven) {
        pin.buffer = file.pin(pin.ref).isAudio() ? patch.input(pin.ref.module, pin.ref.pin) : nullptr;
        pin.value = pin.initial;
        pin.streamEnd = -1;
        pin.refill = false;
    }
    count = 0;
    position = 0;
    sounding = -1;
    lastKey = -1;
    bend = 0.0;
}

float controlPinValue(const describe::PinDescription& pin, double user) {
    if (pin.datatype == describe::Datatype::Bool) return user > 0.5 ? 1.0f : 0.0f;
    return describe::pinValueFor(pin, user);
}

void PatchDriver::holdControl(size_t control, double user) noexcept {
    for (size_t index : controlPins[control]) {
        DrivenPin& pin = driven[index];
        pin.value = controlPinValue(*pin.described, user);
        if (engine != nullptr) engine->setStartValue(pin.ref.module, pin.ref.pin, pin.value);
    }
}

void PatchDriver::beginBlock(int64_t start) noexcept {
    position = start;
    count = 0;
    for (DrivenPin& pin : driven)
        if (pin.refill) {
            std::fill(pin.buffer, pin.buffer + engine->maxBlockSize(), pin.value);
            pin.refill = false;
        }
}

void PatchDriver::push(int32_t frame, const PinRef& ref, int32_t type, float value, EventRank rank) noexcept {
    if (count == static_cast<int32_t>(events.size())) return;
    events[static_cast<size_t>(count++)] = host::PatchEvent{ref.module, frame, type, ref.pin, value, rank};
}

void PatchDriver::add(const host::PatchEvent& event) noexcept {
    if (count == static_cast<int32_t>(events.size())) return;
    events[static_cast<size_t>(count++)] = event;
}

void PatchDriver::set(DrivenPin& pin, int32_t frame, float value, EventRank rank) noexcept {
    if (sameBits(value, pin.value)) return;
    pin.value = value;
    if (pin.buffer == nullptr) {
        push(frame, pin.ref, EV_PIN_VALUE, value, rank);
        return;
    }
    std::fill(pin.buffer + frame, pin.buffer + engine->maxBlockSize(), value);
    pin.refill = true;
    const int64_t at = position + frame;
    if (pin.streamEnd >= 0 && pin.streamEnd < at) {  // an earlier change's stream ends first
        push(static_cast<int32_t>(pin.streamEnd - position), pin.ref, EV_STREAM_END, 0.0f, EventRank::Stream);
        pin.streamEnd = -1;
    }
    if (pin.streamEnd < at) push(frame, pin.ref, EV_STREAM_BEGIN, 0.0f, EventRank::Stream);
    pin.streamEnd = at + 1;
}

void PatchDriver::setControl(int32_t frame, size_t control, double user) noexcept {
    for (size_t index : controlPins[control])
        set(driven[index], frame, controlPinValue(*driven[index].described, user), EventRank::Change);
}

void PatchDriver::setPitch(int32_t frame) noexcept {
    if (lastKey < 0) return;
    const double semitones = lastKey - DEFAULT_KEY + bend * file.notes.bendRange;
    const double hertz = 440.0 * std::exp2(semitones / 12.0);
    for (size_t index : pitchPins)
        set(driven[index], frame, describe::pinValueFor(*driven[index].described, hertz), EventRank::Note);
}

void PatchDriver::noteOn(int32_t frame, int32_t note, int32_t key, int32_t velocity) noexcept {
    sounding = note;
    lastKey = key;
    setPitch(frame);
    for (size_t index : velocityPins)
        set(driven[index], frame, describe::pinValueFor(*driven[index].described, velocity / 127.0),
            EventRank::Note);
    for (const PinRef& ref : file.notes.trigger) push(frame, ref, EV_PIN_VALUE, 1.0f, EventRank::Note);
    for (const PinRef& ref : file.notes.gate) push(frame, ref, EV_PIN_VALUE, 1.0f, EventRank::Note);
}

void PatchDriver::noteOff(int32_t frame, int32_t note) noexcept {
    if (note == sounding) allNotesOff(frame);
}

void PatchDriver::allNotesOff(int32_t frame) noexcept {
    if (sounding < 0) return;
    sounding = -1;
    for (const PinRef& ref : file.notes.gate) push(frame, ref, EV_PIN_VALUE, 0.0f, EventRank::Note);
}

void PatchDriver::pitchBend(int32_t frame, double value) noexcept {
    bend = value;
    setPitch(frame);
}

std::span<const host::PatchEvent> PatchDriver::endBlock(int32_t length) noexcept {
    for (DrivenPin& pin : driven)
        if (pin.streamEnd >= position && pin.streamEnd < position + length) {
            push(static_cast<int32_t>(pin.streamEnd - position), pin.ref, EV_STREAM_END, 0.0f,
                 EventRank::Stream);
            pin.streamEnd = -1;
        }
    for (int32_t i = 1; i < count; ++i) {  // insertion sort: stable, and mostly in order already
        const host::PatchEvent moving = events[static_cast<size_t>(i)];
        int32_t j = i;
        for (; j > 0 && host::deliveredBefore(moving.timestamp, moving.rank,
                                              events[static_cast<size_t>(j - 1)].timestamp,
                                              events[static_cast<size_t>(j - 1)].rank);
             --j)
            events[static_cast<size_t>(j)] = events[static_cast<size_t>(j - 1)];
        events[static_cast<size_t>(j)] = moving;
    }
    return {events.data(), static_cast<size_t>(count)};
}

}  // namespace kvx::patch
