// SPDX-License-Identifier: MIT
// The render's view of a described module.
#include "render/module.h"

#include <filesystem>

#include "describe/description_reader.h"
#include "render/error.h"
#include "render/profile.h"

namespace kvx::render {

size_t RenderModule::inputIndex(std::string_view name) const {
    for (size_t i = 0; i < inputs.size(); ++i)
        if (describe::flagName(inputs[i].symbol) == describe::flagName(name)) return i;
    return NONE;
}

size_t RenderModule::roleIndex(describe::Role role) const {
    for (size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i].role == role) return i;
    return NONE;
}

std::string RenderModule::inputNames() const {
    std::string names;
    for (size_t i = 0; i < inputs.size(); ++i) names += (i == 0 ? "" : ", ") + inputName(i);
    return names;
}

RenderModule renderModule(const describe::ModuleDescription& module, std::string source) {
    RenderModule view;
    view.description = module;
    view.source = std::move(source);
    for (const describe::PinDescription& pin : module.pins) {
        if (pin.isInput())
            view.inputs.push_back(pin);
        else if (pin.isAudio())
            view.outputs.push_back(pin);
    }
    if (view.outputs.empty())
        throw RenderError("\"" + module.id + "\" has no audio output to render (" + view.source + ")");
    view.profile = profileFor(module.id, module.subtype);
    return view;
}

RenderModule moduleForRender(const std::string& library, const std::string& describePath,
                             const std::string& id, int32_t subtype, const ModuleVetting& vet) {
    auto view = [&vet](const describe::ModuleDescription& module, const std::string& source) {
        if (vet) vet(module, source);
        return renderModule(module, source);
    };
    const std::string path = describe::chooseDescriptionFile(library, describePath);
    if (path.empty()) {
        const describe::ModuleDescription& builtIn = builtInModule();
        if (!id.empty() && (id != builtIn.id || subtype != builtIn.subtype))
            throw RenderError(
                "'" + library + "' has no description (" +
                std::filesystem::path(describe::descriptionPathFor(library)).filename().string() +
                " beside it, or --describe FILE), and without one only \"" + builtIn.id +
                "\" can be rendered");
        return view(builtIn, "built in");
    }
    describe::Description description;
    try {
        description = describe::loadDescription(path);
    } catch (const describe::DescriptionError& problem) {
        throw RenderError(problem.what());
    }
    if (id.empty()) {
        if (description.modules.size() > 1)
            throw RenderError(path + " describes " + std::to_string(description.modules.size()) +
                              " modules: choose one with --id (and --subtype)");
        return view(description.modules.front(), path);
    }
    const describe::ModuleDescription* module = description.find(id, subtype);
    if (module == nullptr)
        throw RenderError(path + " does not describe \"" + id + "\" subtype " + std::to_string(subtype));
    return view(*module, path);
}

}  // namespace kvx::render
