// SPDX-License-Identifier: MIT
// Description: the module description (NAME.kvx.json beside the library, or --describe) against
// what a host observes of the module. Every described pin must be bindable; what the contract
// lets a host see of datatype and direction must agree (an audio output reports its streaming
// state or has its buffer written after graph start, and no other pin does); and nothing the
// module accepts may be left undescribed. Datatypes of inputs and of control outputs cannot be
// observed this way: a host believes the description for them.
#include <algorithm>

#include "describe/description_reader.h"
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
    const ModuleShape& shape = subject.shape;
    int audioOutputs = 0;
    for (const describe::PinDescription& pin : module->pins) {
        if (!contains(shape.pins, pin.id))
            return fail(pinName(pin) + ": described, but bindPinBuffer refuses it");
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
    return pass(std::to_string(module->pins.size()) + " pins, " + std::to_string(audioOutputs) +
                " audio output" + (audioOutputs == 1 ? "" : "s") + ", as " + context.description + " says");
}

}  // namespace

Group descriptionChecks() {
    return {"description",
            {{"pins", "every described pin is bindable with its direction; nothing undescribed is bindable",
              describedPins}}};
}

}  // namespace kvx::validate
