// SPDX-License-Identifier: MIT
// Patch: building one from its graph (libraries, instances, buffers, order) and what it answers
// about itself. The block runner is patch_run.cpp.
#include "host/patch.h"

#include <algorithm>
#include <string>

#include "host/accepted_pins.h"
#include "host/host_error.h"
#include "host/patch_checks.h"
#include "host/patch_parts.h"
#include "host/plugin_instance.h"
#include "interfaces/result_codes.h"

namespace kvx::host {

namespace {

// Stream reports a loop module makes in one one-sample call, at most, before they merge.
constexpr int32_t LOOP_CALL_REPORTS = 16;

size_t at(int32_t index) { return static_cast<size_t>(index); }

const PatchConnection* feeding(const PatchGraph& graph, int32_t module, int32_t pin) {
    for (const PatchConnection& c : graph.connections)
        if (c.toModule == module && c.toPin == pin) return &c;
    return nullptr;
}

}  // namespace

float* Patch::Parts::buffer(size_t samples, float value) {
    buffers.push_back(std::make_unique<float[]>(samples));
    std::fill_n(buffers.back().get(), samples, value);
    return buffers.back().get();
}

Patch::Patch(const PatchGraph& graph, float sampleRate, int32_t maxBlockSize, const PatchLimits& limits)
    : parts(std::make_unique<Parts>()), maxBlock(maxBlockSize) {
    const std::string prefix = patchPrefix(graph);
    if (maxBlock <= 0 || !(sampleRate > 0.0f) || limits.eventsPerBlock < 0)
        throw HostError(prefix + "blocks of up to " + std::to_string(maxBlock) + " samples at " +
                        std::to_string(sampleRate) + " Hz, " + std::to_string(limits.eventsPerBlock) +
                        " events a block: nothing to run");
    checkPatchGraph(graph);
    Parts& p = *parts;
    p.stages = orderPatch(graph);
    p.prefix = prefix;
    p.eventsPerBlock = limits.eventsPerBlock;
    p.callerOrder.resize(at(limits.eventsPerBlock));

    const size_t count = graph.modules.size();
    std::vector<int32_t> stageOf(count, 0);
    for (size_t s = 0; s < p.stages.size(); ++s)
        for (int32_t m : p.stages[s].modules) stageOf[at(m)] = static_cast<int32_t>(s);
    const size_t block = at(maxBlock);
    const int32_t changeCapacity = 2 * maxBlock + 16;

    // Outputs first: inputs bind to them.
    for (size_t m = 0; m < count; ++m) {
        p.modules.push_back(std::make_unique<PatchModuleState>());
        PatchModuleState& module = *p.modules.back();
        module.perSample = p.stages[at(stageOf[m])].perSample;
        for (const PatchPin& pin : graph.modules[m].pins) {
            if (pin.kind != PatchPinKind::AudioOut) continue;
            ModuleOutput output;
            output.pin = pin.id;
            output.block = p.buffer(block, 0.0f);
            output.cell = module.perSample ? p.buffer(1, 0.0f) : output.block;
            output.reportCapacity = module.perSample ? LOOP_CALL_REPORTS : changeCapacity;
            p.reportStores.push_back(std::make_unique<StreamReport[]>(at(output.reportCapacity)));
            output.reports = p.reportStores.back().get();
            output.changeCapacity = changeCapacity;
            p.changeStores.push_back(std::make_unique<StreamChange[]>(at(changeCapacity)));
            output.changes = p.changeStores.back().get();
            module.outputs.push_back(output);
        }
    }
    auto outputOf = [&p](int32_t module, int32_t pin) -> ModuleOutput* {
        for (ModuleOutput& output : p.modules[at(module)]->outputs)
            if (output.pin == pin) return &output;
        return nullptr;
    };

    size_t mostEvents = 0;
    for (size_t m = 0; m < count; ++m) {
        const PatchModule& described = graph.modules[m];
        const auto index = static_cast<int32_t>(m);
        const std::string name = moduleName(graph, index);
        PatchModuleState& module = *p.modules[m];
        for (const PatchPin& pin : described.pins) {
            if (pin.kind == PatchPinKind::BoolIn || pin.kind == PatchPinKind::FloatIn) {
                module.controls.push_back(
                    ControlValue{pin.id, pin.initial, pin.kind == PatchPinKind::BoolIn});
                if (pin.kind == PatchPinKind::BoolIn) module.boolPins.push_back(pin.id);
            }
            if (pin.kind != PatchPinKind::AudioIn) continue;
            const PatchConnection* connection = feeding(graph, index, pin.id);
            if (connection == nullptr) {
                HostInput input{pin.id, p.buffer(block, pin.initial), nullptr};
                if (module.perSample) input.cell = p.buffer(1, pin.initial);
                module.hostInputs.push_back(input);
                module.startConstant.push_back(pin.id);
                module.startFromHost.push_back(true);
                continue;
            }
            FedInput input;
            input.from = outputOf(connection->fromModule, connection->fromPin);
            input.fromModule = connection->fromModule;
            input.pin = pin.id;
            input.delayed = connection->oneSampleDelay;
            input.sameLoop = module.perSample && stageOf[at(connection->fromModule)] == stageOf[m];
            if (input.delayed) {
                module.startConstant.push_back(pin.id);
                module.startFromHost.push_back(false);
                input.from->feedsDelayed = true;
            }
            if (input.sameLoop) {
                if (input.delayed) {
                    input.cell = p.buffer(1, pin.initial);
                    p.loopDelays.emplace_back(input.cell, input.from->cell);
                }
            } else if (input.delayed) {
                p.lines.push_back(std::make_unique<DelayLine>());
                DelayLine& line = *p.lines.back();
                line.from = input.from;
                line.fromModule = connection->fromModule;
                line.buffer = p.buffer(block, pin.initial);
                line.last = pin.initial;
                input.line = &line;
                input.source = line.buffer;
            } else {
                input.source = input.from->block;
            }
            if (module.perSample && !input.sameLoop) input.cell = p.buffer(1, 0.0f);
            module.fed.push_back(input);
        }
        // The most one call can get: graph start, initial values, the caller's, and each
        // connection's changes of a block (with those carried over a delay).
        size_t events = 1 + module.controls.size() + module.startConstant.size() + at(p.eventsPerBlock);
        for (const FedInput& input : module.fed)
            events += at(input.from->changeCapacity) + ModuleOutput::CARRY_CAPACITY;
        mostEvents = std::max(mostEvents, events);

        const auto [known, added] = p.libraries.try_emplace(described.libraryPath);
        try {
            if (added) known->second = std::make_unique<PluginLibrary>(described.libraryPath);
            module.host.outputs = module.outputs.data();
            module.host.outputCount = static_cast<int32_t>(module.outputs.size());
            module.host.sampleRate = sampleRate;
            module.plugin =
                createPlugin(*known->second, described.id, described.subtype, module.host.asUnknown());
        } catch (const HostError& error) {
            if (added && !known->second) p.libraries.erase(known);
            throw HostError(prefix + name + ": " + error.what());
        }

        const std::vector<int32_t> accepted = acceptedPins(*module.plugin);
        std::vector<int32_t> bound;
        auto bind = [&](int32_t pin, float* buffer) {
            const int32_t result = module.plugin->bindPinBuffer(pin, buffer);
            if (result != RESULT_OK)
                throw HostError(prefix + name + ": the module refuses a buffer for pin " +
                                std::to_string(pin) + " (result " + std::to_string(result) + ")");
            bound.push_back(pin);
        };
        for (const ModuleOutput& output : module.outputs) bind(output.pin, output.cell);
        for (const HostInput& input : module.hostInputs)
            bind(input.pin, module.perSample ? input.cell : input.block);
        for (const FedInput& input : module.fed) {
            if (input.cell != nullptr)
                bind(input.pin, input.cell);
            else if (input.sameLoop)
                bind(input.pin, input.from->cell);
            else
                bind(input.pin, input.source);
        }
        // A spare buffer to every other pin the library accepts.
        const size_t spareSamples = module.perSample ? 1 : block;
        for (int32_t pin : accepted)
            if (std::find(bound.begin(), bound.end(), pin) == bound.end())
                module.plugin->bindPinBuffer(pin, p.buffer(spareSamples, 0.0f));
        module.plugin->openModule();
    }
    p.merge.reserve(mostEvents);
    for (const PatchStage& stage : p.stages) {
        p.stageModules.emplace_back();
        for (int32_t m : stage.modules) p.stageModules.back().push_back(p.modules[at(m)].get());
    }

    for (const PatchOutput& output : graph.outputs) {
        const ModuleOutput* found = outputOf(output.module, output.pin);
        p.outputs.emplace_back(output.module,
                               static_cast<int32_t>(found - p.modules[at(output.module)]->outputs.data()));
    }
}

Patch::~Patch() = default;

int32_t Patch::moduleCount() const noexcept { return static_cast<int32_t>(parts->modules.size()); }

const std::vector<PatchStage>& Patch::stages() const noexcept { return parts->stages; }

const float* Patch::output(size_t index) const noexcept {
    if (index >= parts->outputs.size()) return nullptr;
    const auto [module, slot] = parts->outputs[index];
    return parts->modules[at(module)]->outputs[at(slot)].block;
}

const float* Patch::output(int32_t module, int32_t pin) const noexcept {
    if (module < 0 || module >= moduleCount()) return nullptr;
    for (const ModuleOutput& output : parts->modules[at(module)]->outputs)
        if (output.pin == pin) return output.block;
    return nullptr;
}

float* Patch::input(int32_t module, int32_t pin) noexcept {
    if (module < 0 || module >= moduleCount()) return nullptr;
    for (HostInput& input : parts->modules[at(module)]->hostInputs)
        if (input.pin == pin) return input.block;
    return nullptr;
}

std::optional<float> Patch::constantOutput(size_t index) const noexcept {
    if (index >= parts->outputs.size()) return std::nullopt;
    const auto [module, slot] = parts->outputs[index];
    const ModuleOutput& output = parts->modules[at(module)]->outputs[at(slot)];
    if (output.state != StreamState::Constant) return std::nullopt;
    return output.held;
}

bool Patch::setStartValue(int32_t module, int32_t pin, float value) noexcept {
    if (module < 0 || module >= moduleCount() || counters.blocks > 0) return false;
    PatchModuleState& state = *parts->modules[at(module)];
    for (ControlValue& control : state.controls)
        if (control.pin == pin) {
            control.value = value;
            return true;
        }
    for (HostInput& input : state.hostInputs)
        if (input.pin == pin) {
            std::fill(input.block, input.block + maxBlock, value);
            if (input.cell != nullptr) *input.cell = value;
            return true;
        }
    return false;
}

std::span<const StreamChange> Patch::streamChanges(int32_t module, int32_t pin) const noexcept {
    if (module < 0 || module >= moduleCount() || changesOfBlock != counters.blocks) return {};
    for (const ModuleOutput& output : parts->modules[at(module)]->outputs)
        if (output.pin == pin) return {output.changes, static_cast<size_t>(output.changeCount)};
    return {};
}

bool Patch::asleep(int32_t module) const noexcept {
    return module >= 0 && module < moduleCount() && parts->modules[at(module)]->asleep;
}

IMpPlugin2* Patch::plugin(int32_t module) const noexcept {
    return module >= 0 && module < moduleCount() ? parts->modules[at(module)]->plugin : nullptr;
}

const PatchModuleStats& Patch::moduleStats(int32_t module) const noexcept {
    static const PatchModuleStats none;
    return module >= 0 && module < moduleCount() ? parts->modules[at(module)]->stats : none;
}

}  // namespace kvx::host
