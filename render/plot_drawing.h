// SPDX-License-Identifier: MIT
// What the render's figures share: their colours, text, tick steps and labels, and drawing onto
// a PNG or SVG file through cairo.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>

#include "render/plot.h"

namespace kvx::render::drawing {

struct Colour {
    double r, g, b;
};
inline constexpr Colour INK{0.13, 0.13, 0.15};
inline constexpr Colour MUTED{0.42, 0.42, 0.46};
inline constexpr Colour GRID{0.89, 0.89, 0.91};
inline constexpr Colour CURVE{0.11, 0.31, 0.62};
inline constexpr Colour GATE{0.87, 0.92, 0.98};
inline constexpr Colour SLEEP{0.62, 0.62, 0.66};
inline constexpr Colour START{0.13, 0.55, 0.27};
inline constexpr Colour STOP{0.80, 0.26, 0.18};
inline constexpr Colour BOUNDARY{0.70, 0.70, 0.74};

void setColour(cairo_t* cr, Colour c, double alpha = 1.0);

// A tick step of 1, 2 or 5 times a power of ten giving about `wanted` intervals over `span`.
double niceStep(double span, int wanted);
// `value` with as many decimals as `step` needs.
std::string tickLabel(double value, double step);

// `s` at (x, y), `alignX` 0 left, 0.5 centred, 1 right.
void text(cairo_t* cr, double x, double y, const std::string& s, double size, Colour c, double alignX = 0.0,
          bool bold = false);
double textWidth(cairo_t* cr, const std::string& s, double size);

// A width x height figure that `draw` paints, written to `path`. Throws RenderError when cairo
// cannot draw or write it.
void drawToFile(const std::string& path, PlotFormat format, double width, double height,
                const std::function<void(cairo_t*)>& draw);

}  // namespace kvx::render::drawing
