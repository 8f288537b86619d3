// SPDX-License-Identifier: MIT
// `kvx render PATCH.kvxpatch.json`: a patch rendered with the options and score a module takes.
// The score and the flags see the patch as a module whose inputs are the patch's controls, its
// audio inputs ("vca.input") and a note's gate, and whose outputs are the patch's outputs. Notes
// (with their key and velocity, A4 and 127 unless given) and control settings reach the patch
// through patch::PatchDriver, as the LV2 bridge plays MIDI. The patch runs through host::Patch
// block by block, and every module's output is kept for the figure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/patch.h"
#include "patch/patch_file.h"
#include "render/module.h"
#include "render/module_rendering.h"
#include "render/options.h"
#include "render/plan.h"
#include "render/schedule.h"
#include "render/score.h"
#include "render/segments.h"
#include "render/session.h"

namespace kvx::render {

// The patch as the score and flags see it.
struct PatchView {
    enum class Kind {
        Control,     // index into PatchFile::controls
        AudioInput,  // index into PatchFile::inputs
        NoteGate     // the notes' pins, played by --note and the score's notes
    };
    struct Input {
        Kind kind;
        size_t index = 0;
    };
    RenderModule module;
    std::vector<Input> inputs;  // one per module.inputs
};
PatchView patchView(const patch::PatchFile& patch);

// The user value of a control's setting (a plain number is the control's user value: a control
// has no pin value of its own). Throws RenderError naming the control when the value lies outside
// its range.
double controlUserValue(const ParameterSpec& given, const patch::Control& control, double sampleRate);

// One audio output of one module over the render.
struct ModuleTrack {
    int32_t module = 0;
    int32_t pin = 0;
    std::string name;  // "env.output"
    std::vector<float> samples;
    // Where the module said the output starts streaming or holds still: each change of state
    // its connections were told, at its sample of the render.
    std::vector<StreamMark> marks;
};

struct PatchSessionResult {
    std::vector<std::vector<float>> outputs;        // per patch output, plan.length samples each
    std::vector<ModuleTrack> tracks;                // every module's audio outputs, modules in file order
    std::vector<std::vector<StreamSpan>> sleeping;  // per module: samples it was not called for
    host::PatchStats stats;
    std::vector<host::PatchModuleStats> modules;
    int64_t samples = 0;
    double cpuSeconds = 0.0;
    bool stopped = false;
};

// Runs `patch` over `plan` (resolved from `score` for `view`) in blocks as `sizing` says.
// Throws RenderError for a control value out of range, host::HostError when the patch cannot be
// built.
PatchSessionResult runPatchSession(const patch::PatchFile& patch, const PatchView& view, const Score& score,
                                   const RenderPlan& plan, const BlockSizing& sizing,
                                   const ProgressCallback& progress = nullptr);

// A patch's render kept in memory, as renderModuleSamples keeps a module's.
struct PatchRendering {
    PatchView view;
    Score score;
    RenderPlan plan;
    BlockSizing sizing;
    PatchSessionResult result;
    bool hasGate = false;
    std::vector<StreamSpan> gates;
};
PatchRendering renderPatchSamples(const RenderOptions& options, const patch::PatchFile& patch,
                                  const RenderHooks& hooks = {});

// What runPatch prints when the patch has played.
void printPatchSummary(std::ostream& out, const patch::PatchFile& patch, const RenderPlan& plan,
                       const PatchSessionResult& result, const BlockSizing& sizing);

// The whole render of the patch read from `options.plugin`, as run() renders a module: settings,
// files (default out/STEM.wav, .csv, .png) and the report on `out`. Returns the exit status (0).
int runPatch(RenderOptions options, const patch::PatchFile& patch, std::ostream& out);

}  // namespace kvx::render
