#include "ui/gtk/AppIcon.hpp"

#include <gtk/gtk.h>

#include <cmath>

namespace ui::gtk {

namespace {

// Draws on a transparent ARGB surface and hands the pixels over as a
// pixbuf, which is what window icons are made of.
template <typename Draw>
GdkPixbuf* DrawPixbuf(int size, Draw draw) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_t* cr = cairo_create(surface);
  draw(cr, static_cast<double>(size));
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, size, size);
  cairo_surface_destroy(surface);
  return pixbuf;
}

void RoundedSquare(cairo_t* cr, double x, double y, double side, double radius) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + side - radius, y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x + side - radius, y + side - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x + radius, y + side - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

}  // namespace

GdkPixbuf* NewAppIcon() {
  return DrawPixbuf(kAppIconSize, [](cairo_t* cr, double s) {
    RoundedSquare(cr, 1, 1, s - 2, s / 6);
    cairo_pattern_t* fill = cairo_pattern_create_linear(0, 0, 0, s);
    cairo_pattern_add_color_stop_rgb(fill, 0, 0.33, 0.62, 0.93);
    cairo_pattern_add_color_stop_rgb(fill, 1, 0.08, 0.30, 0.66);
    cairo_set_source(cr, fill);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(fill);
    cairo_set_source_rgb(cr, 0.05, 0.20, 0.45);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    // An arrow pointing up over a bar: something new arriving.
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, s / 2, s * 0.16);
    cairo_line_to(cr, s * 0.80, s * 0.48);
    cairo_line_to(cr, s * 0.61, s * 0.48);
    cairo_line_to(cr, s * 0.61, s * 0.70);
    cairo_line_to(cr, s * 0.39, s * 0.70);
    cairo_line_to(cr, s * 0.39, s * 0.48);
    cairo_line_to(cr, s * 0.20, s * 0.48);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_rectangle(cr, s * 0.25, s * 0.76, s * 0.50, s * 0.08);
    cairo_fill(cr);
  });
}

GdkPixbuf* NewStopIcon(int size) {
  return DrawPixbuf(size, [](cairo_t* cr, double s) {
    cairo_arc(cr, s / 2, s / 2, s / 2 - 1, 0, 2 * M_PI);
    cairo_set_source_rgb(cr, 0.85, 0.12, 0.10);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.55, 0.05, 0.05);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, s / 8);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    const double near = s * 0.32;
    const double far = s * 0.68;
    cairo_move_to(cr, near, near);
    cairo_line_to(cr, far, far);
    cairo_move_to(cr, far, near);
    cairo_line_to(cr, near, far);
    cairo_stroke(cr);
  });
}

}  // namespace ui::gtk
