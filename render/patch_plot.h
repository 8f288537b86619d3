// SPDX-License-Identifier: MIT
// The figure of a patch render: every module's audio output on a track of its own, one above
// the other on one time axis, each with the spans its module slept through, and the notes' gate
// shaded across them all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/plot.h"
#include "render/schedule.h"

namespace kvx::render {

struct PlotTrack {
    std::string name;  // "env.output"
    const std::vector<float>* samples = nullptr;
    std::vector<StreamSpan> sleeping;  // samples its module was not called for
};

struct PatchPlotData {
    std::vector<PlotTrack> tracks;  // top to bottom
    int32_t rate = 48000;
    std::vector<StreamSpan> gates;
    bool hasGate = false;
    std::string title, subtitle;
};

// Draws to `path` in `format`. Throws RenderError when cairo cannot write it.
void writePatchPlot(const std::string& path, PlotFormat format, const PatchPlotData& data);

}  // namespace kvx::render
