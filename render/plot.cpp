// SPDX-License-Identifier: MIT
// The render figure, drawn with cairo.
#include "render/plot.h"

#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "render/error.h"
#include "render/plot_drawing.h"

namespace kvx::render {

namespace {

using namespace drawing;

constexpr double WIDTH = 1200.0;
constexpr double HEIGHT = 600.0;
constexpr double LEFT = 78.0;
constexpr double RIGHT = 28.0;
constexpr double TOP = 96.0;
constexpr double BOTTOM = 66.0;
constexpr double SLEEP_BAND = 9.0;  // height of the asleep strip along the bottom of the plot

void triangle(cairo_t* cr, double x, double y, bool up, double size) {
    const double h = up ? size : -size;
    cairo_move_to(cr, x, y - h * 0.9);
    cairo_line_to(cr, x - size * 0.75, y + h * 0.55);
    cairo_line_to(cr, x + size * 0.75, y + h * 0.55);
    cairo_close_path(cr);
}

class Figure {
public:
    Figure(cairo_t* context, const PlotData& plotData) : cr(context), data(plotData) {
        const std::vector<float>& samples = *data.samples;
        double low = 0.0, high = 1.0;
        for (float v : samples) {
            low = std::min(low, static_cast<double>(v));
            high = std::max(high, static_cast<double>(v));
        }
        const double pad = (high - low) * 0.06;
        // Room below the lowest level for the asleep strip.
        yLow = low - pad * 1.6;
        yHigh = high + pad;
        seconds = static_cast<double>(std::max<size_t>(samples.size(), 1)) / data.rate;
        plotW = WIDTH - LEFT - RIGHT;
        plotH = HEIGHT - TOP - BOTTOM;
    }

    double x(double timeSeconds) const { return LEFT + timeSeconds / seconds * plotW; }
    double xs(int64_t sample) const { return x(static_cast<double>(sample) / data.rate); }
    double y(double level) const { return TOP + (yHigh - level) / (yHigh - yLow) * plotH; }

    void draw() {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        drawTitle();
        drawGrid();
        cairo_save(cr);
        cairo_rectangle(cr, LEFT, TOP, plotW, plotH);
        cairo_clip(cr);
        drawGates();
        drawSegments();
        drawSleep();
        drawCurve();
        drawMarks();
        cairo_restore(cr);
        drawAxes();
        drawLegend();
    }

private:
    void drawTitle() {
        text(cr, LEFT, 30, data.title, 15, INK, 0.0, true);
        text(cr, LEFT, 52, data.subtitle, 12, MUTED);
    }

    void drawGrid() {
        cairo_set_line_width(cr, 1.0);
        setColour(cr, GRID);
        xStep = niceStep(seconds, 10);
        for (double t = 0.0; t <= seconds + xStep * 1e-6; t += xStep) {
            cairo_move_to(cr, std::round(x(t)) + 0.5, TOP);
            cairo_line_to(cr, std::round(x(t)) + 0.5, TOP + plotH);
        }
        yStep = niceStep(yHigh - yLow, 6);
        for (double v = std::ceil(yLow / yStep) * yStep; v <= yHigh; v += yStep) {
            cairo_move_to(cr, LEFT, std::round(y(v)) + 0.5);
            cairo_line_to(cr, LEFT + plotW, std::round(y(v)) + 0.5);
        }
        cairo_stroke(cr);
    }

    void drawGates() {
        setColour(cr, GATE);
        for (const StreamSpan& span : data.gates)
            cairo_rectangle(cr, xs(span.begin), TOP, xs(span.end) - xs(span.begin), plotH);
        cairo_fill(cr);
        for (const StreamSpan& span : data.gates)
            if (xs(span.end) - xs(span.begin) > 60)
                text(cr, xs(span.end) - 6, TOP + plotH - SLEEP_BAND - 8, "gate on", 11, CURVE, 1.0);
    }

    void drawSegments() {
        const std::vector<SegmentChange>& segments = data.segments;
        const int64_t total = static_cast<int64_t>(data.samples->size());
        const double dashes[] = {4.0, 3.0};
        for (size_t i = 0; i < segments.size(); ++i) {
            const int64_t begin = segments[i].sample;
            const int64_t end = i + 1 < segments.size() ? segments[i + 1].sample : total;
            if (begin > 0) {
                setColour(cr, BOUNDARY);
                cairo_set_line_width(cr, 1.0);
                cairo_set_dash(cr, dashes, 2, 0);
                cairo_move_to(cr, std::round(xs(begin)) + 0.5, TOP);
                cairo_line_to(cr, std::round(xs(begin)) + 0.5, TOP + plotH);
                cairo_stroke(cr);
                cairo_set_dash(cr, nullptr, 0, 0);
            }
            const std::string name = segments[i].name;
            const double room = xs(end) - xs(begin);
            if (room > textWidth(cr, name, 11) + 8)
                text(cr, (xs(begin) + xs(end)) / 2, TOP + 16, name, 11, MUTED, 0.5);
        }
    }

    void drawSleep() {
        setColour(cr, SLEEP);
        for (const StreamSpan& span : data.sleeping)
            cairo_rectangle(cr, xs(span.begin), TOP + plotH - SLEEP_BAND,
                            std::max(1.0, xs(span.end) - xs(span.begin)), SLEEP_BAND);
        cairo_fill(cr);
    }

    void drawCurve() {
        const std::vector<float>& samples = *data.samples;
        if (samples.empty()) return;
        setColour(cr, CURVE);
        cairo_set_line_width(cr, 2.0);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        const size_t n = samples.size();
        const size_t columns = static_cast<size_t>(plotW) * 2;
        if (n <= columns * 2) {
            for (size_t i = 0; i < n; ++i) {
                const double px = xs(static_cast<int64_t>(i)), py = y(samples[i]);
                if (i == 0)
                    cairo_move_to(cr, px, py);
                else
                    cairo_line_to(cr, px, py);
            }
            cairo_line_to(cr, xs(static_cast<int64_t>(n)), y(samples.back()));
        } else {
            // Many samples per column: trace each column's first, extremes and last sample.
            for (size_t c = 0; c < columns; ++c) {
                const size_t begin = c * n / columns, end = std::max(begin + 1, (c + 1) * n / columns);
                const auto [lo, hi] = std::minmax_element(samples.begin() + static_cast<ptrdiff_t>(begin),
                                                          samples.begin() + static_cast<ptrdiff_t>(end));
                const double px = xs(static_cast<int64_t>(begin));
                if (c == 0)
                    cairo_move_to(cr, px, y(samples[begin]));
                else
                    cairo_line_to(cr, px, y(samples[begin]));
                cairo_line_to(cr, px, y(*lo));
                cairo_line_to(cr, px, y(*hi));
                cairo_line_to(cr, px, y(samples[end - 1]));
            }
        }
        cairo_stroke(cr);
    }

    // Only real changes of the reported state: the reports of consecutive moving segments
    // repeat "streaming" and are segment boundaries, drawn as such.
    void drawMarks() {
        const std::vector<float>& samples = *data.samples;
        bool streaming = false;
        size_t i = 0;
        const std::vector<StreamMark>& marks = data.marks;
        while (i < marks.size()) {
            const int64_t sample = marks[i].sample;
            bool now = streaming;
            for (; i < marks.size() && marks[i].sample == sample; ++i) now = marks[i].streaming;
            if (now == streaming || sample >= static_cast<int64_t>(samples.size())) {
                streaming = now;
                continue;
            }
            streaming = now;
            const double px = xs(sample), py = y(samples[static_cast<size_t>(sample)]);
            setColour(cr, now ? START : STOP);
            triangle(cr, px, py - 12, now, 6.0);
            cairo_fill(cr);
            cairo_arc(cr, px, py, 3.0, 0, 2 * std::numbers::pi);
            cairo_fill(cr);
        }
    }

    void drawAxes() {
        setColour(cr, INK);
        cairo_set_line_width(cr, 1.2);
        cairo_rectangle(cr, LEFT, TOP, plotW, plotH);
        cairo_stroke(cr);
        cairo_set_line_width(cr, 1.0);
        for (double t = 0.0; t <= seconds + xStep * 1e-6; t += xStep) {
            const double px = std::round(x(t)) + 0.5;
            cairo_move_to(cr, px, TOP + plotH);
            cairo_line_to(cr, px, TOP + plotH + 5);
            text(cr, px, TOP + plotH + 20, tickLabel(t, xStep), 12, INK, 0.5);
        }
        for (double v = std::ceil(yLow / yStep) * yStep; v <= yHigh; v += yStep) {
            const double py = std::round(y(v)) + 0.5;
            cairo_move_to(cr, LEFT - 5, py);
            cairo_line_to(cr, LEFT, py);
            text(cr, LEFT - 9, py + 4, tickLabel(v, yStep), 12, INK, 1.0);
        }
        cairo_stroke(cr);
        text(cr, LEFT + plotW / 2, HEIGHT - 18, "time (s)", 13, INK, 0.5);
        cairo_save(cr);
        cairo_translate(cr, 24, TOP + plotH / 2);
        cairo_rotate(cr, -std::numbers::pi / 2);
        text(cr, 0, 0, "level (1.0 = full scale)", 13, INK, 0.5);
        cairo_restore(cr);
    }

    void drawLegend() {
        // One row above the plot, right-aligned.
        struct Item {
            int kind;
            std::string label;
        };
        std::vector<Item> items = {{0, "output"},
                                   {1, "gate on"},
                                   {2, "module asleep"},
                                   {3, "streaming starts"},
                                   {4, "streaming stops"}};
        if (!data.hasModuleReports) items.erase(items.begin() + 2, items.end());
        if (!data.hasGate) items.erase(items.begin() + 1);
        double widthSum = 0.0;
        for (const Item& item : items) widthSum += 26 + textWidth(cr, item.label, 11) + 16;
        double px = LEFT + plotW - widthSum + 16;
        const double py = TOP - 16;
        for (const Item& item : items) {
            switch (item.kind) {
                case 0:
                    setColour(cr, CURVE);
                    cairo_set_line_width(cr, 2.0);
                    cairo_move_to(cr, px, py - 4);
                    cairo_line_to(cr, px + 20, py - 4);
                    cairo_stroke(cr);
                    break;
                case 1:
                    setColour(cr, GATE);
                    cairo_rectangle(cr, px, py - 10, 20, 12);
                    cairo_fill(cr);
                    break;
                case 2:
                    setColour(cr, SLEEP);
                    cairo_rectangle(cr, px, py - 8, 20, SLEEP_BAND - 1);
                    cairo_fill(cr);
                    break;
                default:
                    setColour(cr, item.kind == 3 ? START : STOP);
                    triangle(cr, px + 10, py - 4, item.kind == 3, 6.0);
                    cairo_fill(cr);
                    break;
            }
            text(cr, px + 26, py, item.label, 11, INK);
            px += 26 + textWidth(cr, item.label, 11) + 16;
        }
    }

    cairo_t* cr;
    const PlotData& data;
    double yLow = 0.0, yHigh = 1.0, seconds = 1.0, plotW = 0.0, plotH = 0.0, xStep = 0.1, yStep = 0.1;
};

bool endsWith(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i])
            return false;
    return true;
}

}  // namespace

PlotFormat plotFormatFor(const std::string& path) {
    if (endsWith(path, ".png")) return PlotFormat::Png;
    if (endsWith(path, ".svg")) return PlotFormat::Svg;
    throw RenderError("--plot: expected a file name ending in .png or .svg, got '" + path + "'");
}

void writePlot(const std::string& path, PlotFormat format, const PlotData& data) {
    drawing::drawToFile(path, format, WIDTH, HEIGHT, [&data](cairo_t* cr) { Figure(cr, data).draw(); });
}

}  // namespace kvx::render
