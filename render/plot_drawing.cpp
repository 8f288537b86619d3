// SPDX-License-Identifier: MIT
// The figures' shared drawing.
#include "render/plot_drawing.h"

#include <cairo-svg.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "render/error.h"

namespace kvx::render::drawing {

void setColour(cairo_t* cr, Colour c, double alpha) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

double niceStep(double span, int wanted) {
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (raw <= factor * power) return factor * power;
    return 10.0 * power;
}

std::string tickLabel(double value, double step) {
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    char label[32];
    std::snprintf(label, sizeof label, "%.*f", decimals, std::fabs(value) < step * 1e-6 ? 0.0 : value);
    return label;
}

void text(cairo_t* cr, double x, double y, const std::string& s, double size, Colour c, double alignX,
          bool bold) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, s.c_str(), &extents);
    setColour(cr, c);
    cairo_move_to(cr, x - alignX * extents.x_advance, y);
    cairo_show_text(cr, s.c_str());
}

double textWidth(cairo_t* cr, const std::string& s, double size) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, s.c_str(), &extents);
    return extents.x_advance;
}

void drawToFile(const std::string& path, PlotFormat format, double width, double height,
                const std::function<void(cairo_t*)>& draw) {
    cairo_surface_t* surface = format == PlotFormat::Png
                                   ? cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width),
                                                                static_cast<int>(height))
                                   : cairo_svg_surface_create(path.c_str(), width, height);
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> owner(surface, cairo_surface_destroy);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        throw RenderError("cannot write plot '" + path +
                          "': " + cairo_status_to_string(cairo_surface_status(surface)));
    cairo_t* cr = cairo_create(surface);
    draw(cr);
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    if (drawn != CAIRO_STATUS_SUCCESS)
        throw RenderError("cannot draw plot '" + path + "': " + cairo_status_to_string(drawn));
    cairo_status_t written = CAIRO_STATUS_SUCCESS;
    if (format == PlotFormat::Png) {
        written = cairo_surface_write_to_png(surface, path.c_str());
    } else {
        cairo_surface_finish(surface);
        written = cairo_surface_status(surface);
    }
    if (written != CAIRO_STATUS_SUCCESS)
        throw RenderError("cannot write plot '" + path + "': " + cairo_status_to_string(written));
    owner.reset();
    // cairo and fontconfig keep font caches for the life of the process; handing them back here
    // keeps leak checkers quiet about a tool that draws once.
    cairo_debug_reset_static_data();
    FcFini();
}

}  // namespace kvx::render::drawing
