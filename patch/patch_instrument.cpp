// SPDX-License-Identifier: MIT
#include "patch/patch_instrument.h"

#include "describe/user_value.h"

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
    return notes;
}

std::unique_ptr<host::Instrument> makeInstrument(const PatchFile& file, float sampleRate, int32_t maxBlock,
                                                 int32_t voices) {
    return std::make_unique<host::Instrument>(file.spec, instrumentNotes(file), voices > 0 ? voices : file.voices,
                                              sampleRate, maxBlock);
}

}  // namespace kvx::patch
