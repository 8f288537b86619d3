// SPDX-License-Identifier: MIT
// The render itself: drives one module instance through the host library block by block,
// feeding the scheduled events and the audio inputs, honouring sleep as a real host does, and
// collecting the outputs, the first output's streaming reports and where the module slept.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/plugin_instance.h"
#include "host/sleeping_runner.h"
#include "render/module.h"
#include "render/plan.h"
#include "render/schedule.h"
#include "render/segments.h"

namespace kvx::render {

// Block sizes: a fixed size, or sizes drawn from 1..512 by a seeded generator.
struct BlockSizing {
    static constexpr int32_t MAX_RANDOM = 512;
    int32_t size = 64;
    bool random = false;
    uint32_t seed = 1;

    int32_t largest() const { return random ? MAX_RANDOM : size; }
};

struct SessionResult {
    std::vector<std::vector<float>> outputs;  // per audio output, plan.length samples each
    std::vector<StreamMark> marks;            // the first output's streaming reports, in call order
    std::vector<StreamSpan> sleeping;         // samples the module was not called for
    host::RunnerStats stats;
    double cpuSeconds = 0.0;  // process CPU time of the block loop
    bool stopped = false;     // the progress callback asked to stop

    const std::vector<float>& output() const { return outputs.front(); }
};

// Called now and then with samples done; returning false stops the render.
using ProgressCallback = std::function<bool(int64_t done, int64_t total)>;

// Binds a buffer to every audio pin, tells the instance the rate and runs the whole plan. A
// module with one audio output may sleep (the host holds that output meanwhile); with more,
// the host hands it a countdown that never runs out, so every output is written every block.
SessionResult runSession(host::PluginInstance& instance, const RenderModule& module, const RenderPlan& plan,
                         const std::vector<ScheduledEvent>& events, const BlockSizing& sizing,
                         const ProgressCallback& progress = nullptr);

}  // namespace kvx::render
