// SPDX-License-Identifier: MIT
#include "patch/patch_instrument.h"

#include <algorithm>

#include "describe/user_value.h"
#include "patch/patch_driver.h"

namespace kvx::patch {

host::InstrumentNotes instrumentNotes(const PatchFile& file) {
    host::InstrumentNotes notes;
    const auto pin = [](const PinRef& ref) { return host::NotePin{ref.module, ref.pin}; };
    const auto valuePin = [&file](const PinRef& ref) {
        const describe::PinDescription described = file.pin(ref);
        return host::NoteValuePin{ref.module, ref.pin, [described](double value) {
                                      return describe::pinValueFor(described, value);
                                  }};
    };
    for (const PinRef& ref : file.notes.gate) notes.gate.push_back(pin(ref));
    for (const PinRef& ref : file.notes.trigger)
        (file.pin(ref).role == describe::Role::Reset ? notes.freeTrigger : notes.trigger).push_back(pin(ref));
    for (const PinRef& ref : file.notes.pitch) notes.pitch.push_back(valuePin(ref));
    for (const PinRef& ref : file.notes.velocity) notes.velocity.push_back(valuePin(ref));
    notes.bendRange = file.notes.bendRange;
    for (const Control& control : file.controls)
        for (const PinRef& ref : control.pins) notes.controls.push_back(pin(ref));
    return notes;
}

std::unique_ptr<host::Instrument> makeInstrument(const PatchFile& file, float sampleRate, int32_t maxBlock,
                                                 int32_t voices) {
    return std::make_unique<host::Instrument>(file.graph, instrumentNotes(file),
                                              voices > 0 ? voices : file.voices, sampleRate, maxBlock);
}

bool holdControl(host::Instrument& instrument, const PatchFile& file, size_t control, double user) noexcept {
    bool held = true;
    for (const PinRef& ref : file.controls[control].pins)
        held = instrument.setStartValue(ref.module, ref.pin, controlPinValue(file.pin(ref), user)) && held;
    return held;
}

size_t controlEvents(const PatchFile& file, size_t control, double user, int32_t timestamp,
                     std::span<host::NoteEvent> out) noexcept {
    size_t first = 0;  // the control's first pin among the instrument's controls
    for (size_t c = 0; c < control; ++c) first += file.controls[c].pins.size();
    const std::vector<PinRef>& pins = file.controls[control].pins;
    const size_t count = std::min(pins.size(), out.size());
    for (size_t p = 0; p < count; ++p) {
        host::NoteEvent& event = out[p];
        event = host::NoteEvent{timestamp, host::NoteEventKind::Control, 0,
                                controlPinValue(file.pin(pins[p]), user), static_cast<int32_t>(first + p)};
    }
    return count;
}

}  // namespace kvx::patch
