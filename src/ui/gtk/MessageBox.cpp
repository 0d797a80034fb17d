#include "ui/gtk/MessageBox.hpp"

#include <gtk/gtk.h>

#include "ui/gtk/AppIcon.hpp"

namespace ui::gtk {

namespace {

constexpr int kBoxBorder = 16;
constexpr int kBoxSpacing = 16;
constexpr int kStopIconSize = 32;

// The screen is the primary monitor when one is marked, else the first:
// the box is centred on it, and half its width bounds the text.
int HalfScreenWidth() {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return 400;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor == nullptr) return 400;
  GdkRectangle geometry{};
  gdk_monitor_get_geometry(monitor, &geometry);
  return geometry.width / 2;
}

GtkWidget* NewTextLabel(const std::string& text) {
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_yalign(GTK_LABEL(label), 0.5);

  PangoLayout* layout = gtk_widget_create_pango_layout(label, text.c_str());
  int width = 0;
  pango_layout_get_pixel_size(layout, &width, nullptr);
  g_object_unref(layout);
  const int limit = HalfScreenWidth();
  if (width > limit) {
    // A wrapping label would otherwise pick a width of its own liking: the
    // tiny width hint lets the size request alone decide, so the lines fill
    // exactly the allowed width and the box grows in height instead.
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
    gtk_widget_set_size_request(label, limit, -1);
  }
  return label;
}

}  // namespace

std::string DisplayText(std::string_view text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    return std::string(text);
  }
  gsize written = 0;
  gchar* converted =
      g_locale_to_utf8(text.data(), static_cast<gssize>(text.size()), nullptr, &written, nullptr);
  if (converted != nullptr) {
    std::string result(converted, written);
    g_free(converted);
    return result;
  }
  gchar* repaired = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string result(repaired);
  g_free(repaired);
  return result;
}

GtkWidget* NewBox(BoxKind kind, GtkWindow* owner, const std::string& title, const std::string& text,
                  GdkPixbuf* icon) {
  GtkWidget* dialog = gtk_dialog_new();
  GtkWindow* window = GTK_WINDOW(dialog);
  gtk_window_set_title(window, title.c_str());
  gtk_window_set_modal(window, TRUE);
  if (owner != nullptr) gtk_window_set_transient_for(window, owner);
  // Centred on the screen, not on the owner, as system message boxes are.
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(window, FALSE);
  if (icon != nullptr) gtk_window_set_icon(window, icon);
  atk_object_set_role(gtk_widget_get_accessible(dialog), ATK_ROLE_ALERT);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, kBoxSpacing);
  gtk_container_set_border_width(GTK_CONTAINER(row), kBoxBorder);
  if (kind == BoxKind::kError) {
    GdkPixbuf* stop = NewStopIcon(kStopIconSize);
    if (stop != nullptr) {
      GtkWidget* image = gtk_image_new_from_pixbuf(stop);
      g_object_unref(stop);
      gtk_widget_set_valign(image, GTK_ALIGN_START);
      atk_object_set_name(gtk_widget_get_accessible(image), "Error");
      gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    }
  }
  gtk_box_pack_start(GTK_BOX(row), NewTextLabel(DisplayText(text)), TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);

  // The message box's button says "OK" whatever the locale, as the chain's
  // messages expect; the error box is the toolkit's own and so speaks its
  // language.
  const char* button_text = kind == BoxKind::kError ? g_dgettext("gtk30", "_OK") : "OK";
  GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(dialog), button_text, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_grab_focus(button);
  gtk_widget_show_all(row);
  return dialog;
}

}  // namespace ui::gtk
