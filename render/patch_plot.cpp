// SPDX-License-Identifier: MIT
// The patch figure: one track per module output.
#include "render/patch_plot.h"

#include <algorithm>
#include <cmath>

#include "render/plot_drawing.h"

namespace kvx::render {

namespace {

using namespace drawing;

constexpr double WIDTH = 1200.0;
constexpr double LEFT = 78.0;
constexpr double RIGHT = 28.0;
constexpr double TOP = 96.0;
constexpr double BOTTOM = 66.0;
constexpr double TRACK = 150.0;  // height of one track
constexpr double GAP = 14.0;     // between tracks
constexpr double SLEEP_BAND = 7.0;

double figureHeight(size_t tracks) {
    return TOP + BOTTOM + static_cast<double>(tracks) * TRACK +
           static_cast<double>(tracks > 0 ? tracks - 1 : 0) * GAP;
}

class PatchFigure {
public:
    PatchFigure(cairo_t* context, const PatchPlotData& plotData) : cr(context), data(plotData) {
        size_t longest = 1;
        for (const PlotTrack& track : data.tracks) longest = std::max(longest, track.samples->size());
        seconds = static_cast<double>(longest) / data.rate;
        plotW = WIDTH - LEFT - RIGHT;
    }

    void draw() {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        text(cr, LEFT, 30, data.title, 15, INK, 0.0, true);
        text(cr, LEFT, 52, data.subtitle, 12, MUTED);
        for (size_t i = 0; i < data.tracks.size(); ++i)
            drawTrack(data.tracks[i], TOP + static_cast<double>(i) * (TRACK + GAP));
        drawTimeAxis();
        drawLegend();
    }

private:
    double x(double timeSeconds) const { return LEFT + timeSeconds / seconds * plotW; }
    double xs(int64_t sample) const { return x(static_cast<double>(sample) / data.rate); }

    void drawTrack(const PlotTrack& track, double top) {
        const std::vector<float>& samples = *track.samples;
        double low = 0.0, high = 0.0;
        for (float v : samples)
            if (std::isfinite(v)) {
                low = std::min(low, static_cast<double>(v));
                high = std::max(high, static_cast<double>(v));
            }
        if (high - low < 1e-9) high = low + 1.0;
        const double pad = (high - low) * 0.08;
        const double yLow = low - pad * 1.5, yHigh = high + pad;
        auto y = [&](double level) { return top + (yHigh - level) / (yHigh - yLow) * TRACK; };

        cairo_save(cr);
        cairo_rectangle(cr, LEFT, top, plotW, TRACK);
        cairo_clip(cr);
        setColour(cr, GATE);
        for (const StreamSpan& span : data.gates)
            cairo_rectangle(cr, xs(span.begin), top, xs(span.end) - xs(span.begin), TRACK);
        cairo_fill(cr);
        setColour(cr, GRID);
        cairo_set_line_width(cr, 1.0);
        const double step = niceStep(seconds, 10);
        for (double t = 0.0; t <= seconds + step * 1e-6; t += step) {
            cairo_move_to(cr, std::round(x(t)) + 0.5, top);
            cairo_line_to(cr, std::round(x(t)) + 0.5, top + TRACK);
        }
        cairo_move_to(cr, LEFT, std::round(y(0.0)) + 0.5);
        cairo_line_to(cr, LEFT + plotW, std::round(y(0.0)) + 0.5);
        cairo_stroke(cr);
        setColour(cr, SLEEP);
        for (const StreamSpan& span : track.sleeping)
            cairo_rectangle(cr, xs(span.begin), top + TRACK - SLEEP_BAND,
                            std::max(1.0, xs(span.end) - xs(span.begin)), SLEEP_BAND);
        cairo_fill(cr);
        drawCurve(samples, y);
        cairo_restore(cr);

        setColour(cr, INK);
        cairo_set_line_width(cr, 1.2);
        cairo_rectangle(cr, LEFT, top, plotW, TRACK);
        cairo_stroke(cr);
        text(cr, LEFT + 8, top + 16, track.name, 12, INK, 0.0, true);
        for (double level : {low, high}) {
            cairo_move_to(cr, LEFT - 5, std::round(y(level)) + 0.5);
            cairo_line_to(cr, LEFT, std::round(y(level)) + 0.5);
            cairo_stroke(cr);
            text(cr, LEFT - 9, y(level) + 4, tickLabel(level, niceStep(high - low, 4) / 10), 11, INK, 1.0);
        }
    }

    template <typename Y>
    void drawCurve(const std::vector<float>& samples, const Y& y) {
        if (samples.empty()) return;
        setColour(cr, CURVE);
        cairo_set_line_width(cr, 1.5);
        const size_t n = samples.size();
        const size_t columns = static_cast<size_t>(plotW) * 2;
        auto clean = [](float v) { return std::isfinite(v) ? static_cast<double>(v) : 0.0; };
        if (n <= columns * 2) {
            for (size_t i = 0; i < n; ++i) {
                const double px = xs(static_cast<int64_t>(i)), py = y(clean(samples[i]));
                if (i == 0)
                    cairo_move_to(cr, px, py);
                else
                    cairo_line_to(cr, px, py);
            }
        } else {
            // Many samples per column: trace each column's extremes.
            for (size_t c = 0; c < columns; ++c) {
                const size_t begin = c * n / columns, end = std::max(begin + 1, (c + 1) * n / columns);
                double lo = clean(samples[begin]), hi = lo;
                for (size_t i = begin; i < end; ++i) {
                    lo = std::min(lo, clean(samples[i]));
                    hi = std::max(hi, clean(samples[i]));
                }
                const double px = xs(static_cast<int64_t>(begin));
                if (c == 0)
                    cairo_move_to(cr, px, y(lo));
                else
                    cairo_line_to(cr, px, y(lo));
                cairo_line_to(cr, px, y(hi));
            }
        }
        cairo_stroke(cr);
    }

    void drawTimeAxis() {
        const double bottom = figureHeight(data.tracks.size()) - BOTTOM;
        const double step = niceStep(seconds, 10);
        setColour(cr, INK);
        cairo_set_line_width(cr, 1.0);
        for (double t = 0.0; t <= seconds + step * 1e-6; t += step) {
            const double px = std::round(x(t)) + 0.5;
            cairo_move_to(cr, px, bottom);
            cairo_line_to(cr, px, bottom + 5);
            text(cr, px, bottom + 20, tickLabel(t, step), 12, INK, 0.5);
        }
        cairo_stroke(cr);
        text(cr, LEFT + plotW / 2, bottom + BOTTOM - 18, "time (s)", 13, INK, 0.5);
    }

    void drawLegend() {
        double px = LEFT + plotW - 330;
        const double py = TOP - 16;
        setColour(cr, CURVE);
        cairo_set_line_width(cr, 2.0);
        cairo_move_to(cr, px, py - 4);
        cairo_line_to(cr, px + 20, py - 4);
        cairo_stroke(cr);
        text(cr, px + 26, py, "module output", 11, INK);
        px += 130;
        if (data.hasGate) {
            setColour(cr, GATE);
            cairo_rectangle(cr, px, py - 10, 20, 12);
            cairo_fill(cr);
            text(cr, px + 26, py, "gate on", 11, INK);
        }
        px += 90;
        setColour(cr, SLEEP);
        cairo_rectangle(cr, px, py - 8, 20, SLEEP_BAND);
        cairo_fill(cr);
        text(cr, px + 26, py, "module asleep", 11, INK);
    }

    cairo_t* cr;
    const PatchPlotData& data;
    double seconds = 1.0, plotW = 0.0;
};

}  // namespace

void writePatchPlot(const std::string& path, PlotFormat format, const PatchPlotData& data) {
    drawToFile(path, format, WIDTH, figureHeight(data.tracks.size()),
               [&data](cairo_t* cr) { PatchFigure(cr, data).draw(); });
}

}  // namespace kvx::render
