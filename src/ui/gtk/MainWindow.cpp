#include "ui/gtk/MainWindow.hpp"

#include <gtk/gtk.h>

#include "MainFrm.hpp"
#include "Texts.hpp"
#include "ui/gtk/GtkApplication.hpp"
#include "ui/gtk/MessageBox.hpp"

namespace ui::gtk {

namespace {

// The form's layout, in pixels of the client area.
constexpr int kWindowLeft = 362;
constexpr int kWindowTop = 236;
constexpr int kClientWidth = 359;
constexpr int kClientHeight = 82;

struct Place {
  int left, top, width, height;
};
constexpr Place kLabel1{35, 48, 7, 13};  // the size of the empty label
constexpr Place kProgressBar1{16, 16, 329, 17};
constexpr Place kButton1{136, 48, 89, 25};

// The window font (a sans face, 11 pixels) serves the button; the label has
// a CJK face of 13 pixels of its own. The theme's button padding and least
// heights would not let the controls take their sizes, so they go. The bar
// is drawn in blocks rather than smoothly.
constexpr char kStyle[] = R"css(
#Button1 {
  font-family: Sans;
  font-size: 11px;
  font-weight: normal;
  min-height: 0;
  min-width: 0;
  padding: 0 4px;
}
#Label1 {
  font-family: "WenQuanYi Micro Hei";
  font-size: 13px;
  font-weight: normal;
  color: @theme_text_color;
}
#ProgressBar1 trough {
  min-height: 15px;
  min-width: 0;
  padding: 0;
  border-radius: 0;
}
#ProgressBar1 progress {
  min-height: 15px;
  margin: 1px;
  border: none;
  border-radius: 0;
  background-color: transparent;
  background-image: repeating-linear-gradient(to right, @theme_selected_bg_color 0px,
      @theme_selected_bg_color 8px, transparent 8px, transparent 10px);
}
)css";

GtkWidget* Put(GtkWidget* fixed, GtkWidget* widget, const char* name, const Place& place) {
  gtk_widget_set_name(widget, name);
  gtk_widget_set_size_request(widget, place.width, place.height);
  gtk_fixed_put(GTK_FIXED(fixed), widget, place.left, place.top);
  return widget;
}

}  // namespace

TMainWindow::TMainWindow(TGtkApplication& application, TMainForm& form)
    : application_(application), form_(form) {
  style_ = gtk_css_provider_new();
  gtk_css_provider_load_from_data(style_, kStyle, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(style_),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(window_);
  gtk_widget_set_name(window_, "MainForm");
  gtk_window_set_title(window, texts::kWindowCaption);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_position(window, GTK_WIN_POS_NONE);
  gtk_window_set_gravity(window, GDK_GRAVITY_NORTH_WEST);
  gtk_window_move(window, kWindowLeft, kWindowTop);
  if (application_.Icon() != nullptr) gtk_window_set_icon(window, application_.Icon());

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, kClientWidth, kClientHeight);
  gtk_container_add(GTK_CONTAINER(window_), fixed);

  label_ = Put(fixed, gtk_label_new(nullptr), "Label1", kLabel1);
  gtk_label_set_xalign(GTK_LABEL(label_), 0);
  gtk_label_set_single_line_mode(GTK_LABEL(label_), TRUE);

  progress_bar_ = Put(fixed, gtk_progress_bar_new(), "ProgressBar1", kProgressBar1);
  gtk_widget_set_can_focus(progress_bar_, FALSE);

  button_ =
      Put(fixed, gtk_button_new_with_label(form_.Button1.Caption().c_str()), "Button1", kButton1);
  gtk_widget_set_can_focus(button_, TRUE);

  // Close and minimise, but no maximise, on a frame that can't be resized.
  gtk_widget_realize(window_);
  GdkWindow* frame = gtk_widget_get_window(window_);
  gdk_window_set_functions(
      frame, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(
      frame, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU |
                                          GDK_DECOR_MINIMIZE));

  Bind();
  application_.SetMainWindow(window);
}

TMainWindow::~TMainWindow() {
  form_.Label1.OnChange = nullptr;
  form_.ProgressBar1.OnChange = nullptr;
  form_.Button1.OnChange = nullptr;
  application_.SetMainWindow(nullptr);
  g_signal_handlers_disconnect_by_data(button_, this);
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(),
                                               GTK_STYLE_PROVIDER(style_));
  g_object_unref(style_);
}

void TMainWindow::Bind() {
  form_.Label1.OnChange = [this] { ShowLabel(); };
  form_.ProgressBar1.OnChange = [this] { ShowProgress(); };
  form_.Button1.OnChange = [this] { ShowButton(); };
  ShowLabel();
  ShowProgress();

  g_signal_connect(button_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                     auto* self = static_cast<TMainWindow*>(data);
                     // An exception must never unwind through the toolkit's C frames.
                     try {
                       ui::RunHandler(self->application_, self->form_.Button1.OnClick);
                     } catch (...) {
                     }
                   }),
                   this);
  // Every way of closing the window (its close button, its menu, Alt+F4)
  // arrives here: it asks to quit and leaves the window where it is.
  g_signal_connect(window_, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                     static_cast<TMainWindow*>(data)->application_.Terminate();
                     return TRUE;
                   }),
                   this);
}

void TMainWindow::Show() {
  gtk_widget_show_all(window_);
  ShowButton();
  gtk_window_present(GTK_WINDOW(window_));
  if (form_.Button1.Visible()) gtk_widget_grab_focus(button_);
}

void TMainWindow::ShowLabel() {
  gtk_label_set_text(GTK_LABEL(label_), DisplayText(form_.Label1.Caption()).c_str());
}

void TMainWindow::ShowProgress() {
  const ui::TProgressBar& bar = form_.ProgressBar1;
  const int range = bar.Max() - bar.Min();
  const double fraction =
      range > 0 ? static_cast<double>(bar.Position() - bar.Min()) / static_cast<double>(range) : 0;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_bar_), fraction);
}

void TMainWindow::ShowButton() { gtk_widget_set_visible(button_, form_.Button1.Visible()); }

}  // namespace ui::gtk
