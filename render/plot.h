// SPDX-License-Identifier: MIT
// Draws a render's first output as a figure (PNG or SVG through cairo): level against time with
// labelled axes, gate-on spans shaded, segment boundaries and names, the samples where the
// module told the host its output started or stopped streaming, and the spans it slept through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/schedule.h"
#include "render/segments.h"

namespace kvx::render {

// Between the parts of a title line: "attack 100 ms  ·  decay 400 ms".
inline constexpr const char* TITLE_SEPARATOR = "  \xC2\xB7  ";

struct PlotData {
    const std::vector<float>* samples = nullptr;
    int32_t rate = 48000;
    std::vector<StreamSpan> gates;
    bool hasGate = true;  // the module has a gate input (else no gate in the legend)
    // The host saw the module's sleep and streaming reports (else none in the legend: a plug-in
    // host sees only the output).
    bool hasModuleReports = true;
    std::vector<StreamMark> marks;
    std::vector<StreamSpan> sleeping;
    std::vector<SegmentChange> segments;
    std::string title;     // first line, the settings
    std::string subtitle;  // second line, the session
};

enum class PlotFormat {
    Png,
    Svg
};

// From the file name's extension (.png or .svg); throws RenderError otherwise.
PlotFormat plotFormatFor(const std::string& path);

// Draws to `path` in `format`. Throws RenderError when cairo cannot write it.
void writePlot(const std::string& path, PlotFormat format, const PlotData& data);

}  // namespace kvx::render
