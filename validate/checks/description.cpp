// SPDX-License-Identifier: MIT
// Description: the module description (NAME.kvx.json beside the library, or --describe) against
// what a host observes of the module. Every described pin must be bindable; what the contract
// lets a host see of datatype and direction must agree (an audio output reports its streaming
// state or has its buffer written after graph start, and no other pin does); and nothing the
// module accepts may be left undescribed. Then the module is run to tell audio inputs from
// control inputs and bool controls from float ones (describe/library_agreement.h); a pin those
// probes cannot settle is named in the pass note.
#include <algorithm>

#include "describe/description_reader.h"
#include "describe/library_agreement.h"
#include "host/plugin_library.h"
#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

std::string pinName(const describe::PinDescription& pin) {
    return "pin " + std::to_string(pin.id) + " (" + pin.symbol + ")";
}

// "an audio input", "a float output".
std::string kindOf(const describe::PinDescription& pin) {
    return std::string(pin.isAudio() ? "an " : "a ") + describe::datatypeName(pin.datatype) +
           (pin.isInput() ? " input" : " output");
}

bool contains(const std::vector<int32_t>& ids, int32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

Outcome describedPins(const Context& context) {
    if (context.description.empty())
        return skip("no description: none beside the library (NAME.kvx.json), and no --describe FILE");
    describe::Description description;
    try {
        description = describe::loadDescription(context.description);
    } catch (const describe::DescriptionError& error) {
        return fail(error.what());
    }
    const std::string id(context.id.begin(), context.id.end());
    const describe::ModuleDescription* module = description.find(id, context.subtype);
    if (module == nullptr)
        return fail(context.description + " does not describe \"" + id + "\" subtype " +
                    std::to_string(context.subtype));

    const Subject subject(context);
    for (const describe::PinDescription& pin : module->pins)
        if (!contains(subject.shape.pins, pin.id))
            return fail(pinName(pin) + ": described, but bindPinBuffer refuses it");
    // What running the module shows of each pin against the described datatype and direction:
    // the same line kvx render, kvx lv2 and the bridge refuse the description with.
    const host::PluginLibrary library(context.path);
    const describe::PinAgreement agreement = describe::checkAgainstLibrary(library, *module);
    const std::string refused = describe::refusal(agreement, description.source);
    if (!refused.empty()) return fail(refused);

    const ModuleShape& shape = subject.shape;
    int audioOutputs = 0;
    for (const describe::PinDescription& pin : module->pins) {
        const bool describedAudioOutput = pin.isAudio() && !pin.isInput();
        const bool actsAsAudioOutput = contains(shape.outputs, pin.id);
        if (describedAudioOutput && !actsAsAudioOutput)
            return fail(pinName(pin) +
                        ": described as an audio output, but after graph start it neither reported a "
                        "streaming state nor had its buffer written");
        if (!describedAudioOutput && actsAsAudioOutput)
            return fail(pinName(pin) + ": described as " + kindOf(pin) +
                        ", but it acts as an audio output (it reported a streaming state or had its buffer "
                        "written)");
        audioOutputs += describedAudioOutput ? 1 : 0;
    }
    for (int32_t pin : shape.pins)
        if (module->pinById(pin) == nullptr)
            return fail("pin " + std::to_string(pin) + ": bindPinBuffer accepts it, but " +
                        context.description + " does not describe it");
    std::string note = std::to_string(module->pins.size()) + " pins, " + std::to_string(audioOutputs) +
                       " audio output" + (audioOutputs == 1 ? "" : "s") + ", as " + context.description +
                       " says";
    for (const std::string& unsure : agreement.unsure) note += "; " + unsure;
    return pass(note);
}

}  // namespace

Group descriptionChecks() {
    return {"description",
            {{"pins",
              "every described pin is bindable with the datatype and direction the module acts on; nothing "
              "undescribed is bindable",
              describedPins}}};
}

}  // namespace kvx::validate
