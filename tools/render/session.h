// The render itself: drives one module instance through the host library block by block,
// feeding the scheduled events and the parameter inputs, honouring sleep as a real host does,
// and collecting the output, the output's streaming reports and where the module slept.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/plugin_instance.h"
#include "host/sleeping_runner.h"
#include "tools/render/plan.h"
#include "tools/render/schedule.h"
#include "tools/render/segments.h"

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
    std::vector<float> output;         // one sample per frame, plan.length of them
    std::vector<StreamMark> marks;     // the output pin's streaming reports, in call order
    std::vector<StreamSpan> sleeping;  // samples the module was not called for
    host::RunnerStats stats;
    double cpuSeconds = 0.0;  // process CPU time of the block loop
    bool stopped = false;     // the progress callback asked to stop
};

// Called now and then with samples done; returning false stops the render.
using ProgressCallback = std::function<bool(int64_t done, int64_t total)>;

// Binds the buffers, tells the instance the rate and runs the whole plan.
SessionResult runSession(host::PluginInstance& instance, const RenderPlan& plan,
                         const std::vector<ScheduledEvent>& events, const BlockSizing& sizing,
                         const ProgressCallback& progress = nullptr);

}  // namespace kvx::render
