// SPDX-License-Identifier: MIT
// The module a render drives, as the render sees it: its description (from NAME.kvx.json,
// --describe, or the one built in), its input pins by the names flags and scores use, the audio
// outputs it writes, and what the render knows of it beyond the description (its profile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "describe/description.h"

namespace kvx::render {

class ModuleProfile;

struct RenderModule {
    describe::ModuleDescription description;
    std::string source;                             // the description file, or "built in"
    std::vector<describe::PinDescription> inputs;   // every input pin, in id order
    std::vector<describe::PinDescription> outputs;  // the audio outputs, in id order
    const ModuleProfile* profile = nullptr;         // none: rendered from the description alone

    static constexpr size_t NONE = static_cast<size_t>(-1);
    // Index into `inputs` of the pin named `name` (its symbol; '-' may stand for '_'), or NONE.
    size_t inputIndex(std::string_view name) const;
    // Index into `inputs` of the first input with `role`, or NONE.
    size_t roleIndex(describe::Role role) const;
    // The name flags and scores use for input `index` (attack_curve -> attack-curve).
    std::string inputName(size_t index) const { return describe::flagName(inputs[index].symbol); }
    // "attack, decay, ...": the inputs' names, for messages.
    std::string inputNames() const;
};

// The render's view of `module`. Throws RenderError when it has no audio output to render.
RenderModule renderModule(const describe::ModuleDescription& module, std::string source);

// The module to render from `library`: module (id, subtype) of the description `describePath`,
// or else of the description beside the library (NAME.kvx.json); an empty id picks the
// description's only module. Without a description only the module whose description is built in
// can be rendered (builtInModule). `vet`, when given, sees the chosen module and where its
// description came from before the render's view of it is made (kvx render holds it against the
// library there, so that a description that contradicts it is refused for that first). Throws
// RenderError (a malformed description's message included).
using ModuleVetting = std::function<void(const describe::ModuleDescription&, const std::string& source)>;
RenderModule moduleForRender(const std::string& library, const std::string& describePath,
                             const std::string& id, int32_t subtype, const ModuleVetting& vet = {});

}  // namespace kvx::render
