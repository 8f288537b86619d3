// SPDX-License-Identifier: MIT
// A module's render kept in memory: the steps `kvx render` takes from its options to the outputs,
// the streaming reports, the sleep and the segments, without writing a file. The command writes
// them out; the studio sends them to the page. The hooks let a caller act between the steps (the
// command picks its file names once the module is known and prints as the render goes).
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "render/module.h"
#include "render/options.h"
#include "render/plan.h"
#include "render/schedule.h"
#include "render/score.h"
#include "render/segments.h"
#include "render/session.h"

namespace kvx::render {

struct ModuleRendering {
    RenderModule module;
    Score score;
    RenderPlan plan;
    BlockSizing sizing;
    std::vector<ScheduledEvent> events;
    SessionResult result;
    bool hasGate = false;
    std::vector<StreamSpan> gates;  // where the gate was on
    std::optional<SegmentLabels> labels;
};

struct RenderHooks {
    std::function<void(const RenderModule&)> moduleRead;  // before the score is read
    std::function<void(const Score&)> scoreBuilt;         // its warnings not yet reported
    std::function<void(const RenderModule&, const Score&, const RenderPlan&)> planned;  // before the session
    ProgressCallback progress;
};

// Renders what `options` asks for (the options' output files are not looked at). Throws what
// run() throws for wrong input, before any hook it has not reached.
ModuleRendering renderModuleSamples(const RenderOptions& options, const RenderHooks& hooks = {});

}  // namespace kvx::render
