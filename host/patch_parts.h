// SPDX-License-Identifier: MIT
// What a host::Patch is made of inside, shared by its building (patch.cpp) and its block runner
// (patch_run.cpp); not for the patch's users.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/patch.h"
#include "host/patch_events.h"
#include "host/patch_module_host.h"
#include "host/plugin_library.h"

namespace kvx::host {

// A delayed connection between two stages: the input reads the output one sample late.
struct DelayLine {
    const ModuleOutput* from = nullptr;
    int32_t fromModule = 0;
    float* buffer = nullptr;  // maxBlock samples: what the input reads this block
    float last = 0.0f;        // the output's last sample of the previous block
    bool settled = false;     // `buffer` holds the producer's held value throughout, and `last` too
};

// An input a connection feeds.
struct FedInput {
    ModuleOutput* from = nullptr;
    int32_t fromModule = 0;
    int32_t pin = 0;
    bool delayed = false;
    bool sameLoop = false;      // both ends in one loop stage: the input reads the output's cell
    DelayLine* line = nullptr;  // a delayed connection from another stage
    float* cell = nullptr;      // a loop module's one-sample cell for the input (else null)
    float* source = nullptr;    // the block buffer it reads (a loop module: copies into `cell`)
    int32_t cursor = 0;         // a loop stage: the next change of `from` not yet delivered
};

// An audio input no connection feeds: the caller's buffer.
struct HostInput {
    int32_t pin = 0;
    float* block = nullptr;
    float* cell = nullptr;  // a loop module's one-sample cell (else null)
};

struct ControlValue {
    int32_t pin = 0;
    float value = 0.0f;
    bool isBool = false;
};

struct PatchModuleState {
    PatchModuleState() = default;
    ~PatchModuleState() {
        if (plugin != nullptr) plugin->release();
    }
    PatchModuleState(const PatchModuleState&) = delete;
    PatchModuleState& operator=(const PatchModuleState&) = delete;

    PatchModuleHost host;
    IMpPlugin2* plugin = nullptr;
    std::vector<ModuleOutput> outputs;
    std::vector<FedInput> fed;
    std::vector<HostInput> hostInputs;
    std::vector<ControlValue> controls;  // initial values, sent at graph start
    std::vector<int32_t> boolPins;       // caller values for these go as a 32-bit word
    // Inputs told "constant" at graph start: unfed ones (unless the caller starts them
    // streaming at 0) and delayed ones, whose first sample is the pin's initial value.
    std::vector<int32_t> startConstant;
    std::vector<bool> startFromHost;  // per startConstant entry: an unfed input
    bool perSample = false;
    bool asleep = false;
    bool started = false;  // has had its graph start
    // This block's caller events: callerOrder[callerFirst .. callerFirst + callerCount).
    int32_t callerFirst = 0;
    int32_t callerCount = 0;
    int32_t callerCursor = 0;
    int64_t lastBlockCalled = -1;
    PatchModuleStats stats;
};

struct Patch::Parts {
    std::map<std::string, std::unique_ptr<PluginLibrary>> libraries;  // outlive the instances
    std::vector<std::unique_ptr<float[]>> buffers;
    std::vector<std::unique_ptr<StreamReport[]>> reportStores;
    std::vector<std::unique_ptr<StreamChange[]>> changeStores;
    std::vector<std::unique_ptr<DelayLine>> lines;
    std::vector<std::unique_ptr<PatchModuleState>> modules;  // in graph order
    std::vector<PatchStage> stages;
    std::vector<std::vector<PatchModuleState*>>
        stageModules;                                  // the stages' modules, for the loop's inner steps
    std::vector<std::pair<int32_t, int32_t>> outputs;  // patch outputs: module, index in its outputs
    // Delayed cells inside loops: after each sample, cell = *from.
    std::vector<std::pair<float*, const float*>> loopDelays;
    PatchEventMerge merge;
    std::vector<int32_t> callerOrder;  // the caller's events of the block, grouped by module
    std::string prefix;                // for messages: the patch's file, or "patch"
    int32_t eventsPerBlock = 0;
    int64_t blockIndex = 0;
    bool started = false;

    float* buffer(size_t samples, float value);
};

}  // namespace kvx::host
