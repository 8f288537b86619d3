// SPDX-License-Identifier: MIT
// Looking up a patch's pins and controls by what the file calls them.
#include "patch/patch_file.h"

#include <stdexcept>

namespace kvx::patch {

const describe::PinDescription& PatchFile::pin(const PinRef& ref) const {
    const describe::PinDescription* described = modules.at(static_cast<size_t>(ref.module)).description.pinById(ref.pin);
    if (described == nullptr) throw std::out_of_range("no pin " + std::to_string(ref.pin) + " in the patch's module");
    return *described;
}

std::string PatchFile::pinName(const PinRef& ref) const {
    return graph.modules.at(static_cast<size_t>(ref.module)).name + "." + pin(ref).symbol;
}

const Control* PatchFile::control(std::string_view name) const {
    for (const Control& control : controls)
        if (describe::flagName(control.name) == describe::flagName(name)) return &control;
    return nullptr;
}

}  // namespace kvx::patch
