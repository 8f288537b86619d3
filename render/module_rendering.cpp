// SPDX-License-Identifier: MIT
// The steps of a module's render, from options to the outputs in memory.
#include "render/module_rendering.h"

#include <filesystem>
#include <optional>
#include <string>

#include "describe/description_reader.h"
#include "describe/library_agreement.h"
#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "render/audio_input.h"
#include "render/error.h"
#include "render/profile.h"

namespace kvx::render {

ModuleRendering renderModuleSamples(const RenderOptions& options, const RenderHooks& hooks) {
    ModuleRendering rendering;
    rendering.sizing = blockSizing(options);
    // The library is loaded and the module created first: a description that contradicts the
    // library is refused before anything else is read from it.
    std::optional<host::PluginLibrary> library;
    std::optional<host::PluginInstance> created;
    auto vet = [&](const describe::ModuleDescription& described, const std::string& source) {
        library.emplace(options.plugin);
        try {
            created.emplace(*library, host::toUtf16(described.id), described.subtype);
        } catch (const host::HostError& error) {
            if (source != "built in") throw;
            throw RenderError(
                std::string(error.what()) + "; without a description (" +
                std::filesystem::path(describe::descriptionPathFor(options.plugin)).filename().string() +
                ") only \"" + described.id + "\" can be rendered");
        }
        if (options.agreementChecked) return;
        const std::string refused =
            describe::refusal(describe::checkAgainstLibrary(*library, described), source);
        if (!refused.empty()) throw RenderError(refused);
    };
    rendering.module = moduleForRender(options.plugin, options.describe, options.id, options.subtype, vet);
    const RenderModule& module = rendering.module;
    if (hooks.moduleRead) hooks.moduleRead(module);

    rendering.score = buildScore(options, module);
    const Score& score = rendering.score;
    if (hooks.scoreBuilt) hooks.scoreBuilt(score);
    for (const ScoreNote& note : score.notes)
        if (note.key || note.velocity)
            throw RenderError((note.field.starts_with("--") ? "" : score.source + ": ") + note.field +
                              ": a key and a velocity are a patch's; a module's notes play its gate");
    const AudioInputs files = readAudioInputs(score);
    rendering.plan = resolvePlan(score, sampleRate(options, score, files), module, files);
    const RenderPlan& plan = rendering.plan;
    if (hooks.planned) hooks.planned(module, score, plan);

    rendering.events = scheduleEvents(plan, module);
    rendering.result = runSession(*created, module, plan, rendering.events, rendering.sizing, hooks.progress);
    const size_t gate = module.roleIndex(describe::Role::Gate);
    rendering.hasGate = gate != RenderModule::NONE;
    rendering.gates = gateSpans(rendering.events, plan.length, rendering.hasGate ? module.inputs[gate].id : -1);
    if (module.profile) rendering.labels = module.profile->segments(module, rendering.events, rendering.result.marks);
    return rendering;
}

}  // namespace kvx::render
