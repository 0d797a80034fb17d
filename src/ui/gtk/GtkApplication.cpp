#include "ui/gtk/GtkApplication.hpp"

#include <gtk/gtk.h>
#include <unistd.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif

#include "ui/gtk/AppIcon.hpp"
#include "ui/gtk/MainWindow.hpp"
#include "ui/gtk/MessageBox.hpp"

namespace ui::gtk {

namespace {

// Events that keep arriving while they are handled (an animation, say)
// must not keep the network operation that is waiting from resuming.
constexpr int kMostEventsPerService = 10000;

// When a box is to close by itself, its loop must not sleep waiting for an
// event that may already have been handled: this wakes it once.
constexpr guint kSelfCloseWakeMs = 50;

std::string ExecutablePath() {
  gchar* path = g_file_read_link("/proc/self/exe", nullptr);
  if (path == nullptr) return {};
  std::string result(path);
  g_free(path);
  return result;
}

#ifdef GDK_WINDOWING_X11
[[noreturn]] int ExitOnLostDisplay(Display*) { _exit(0); }
#endif

// Losing the X server ends the program from inside the toolkit, with a
// status of 1 of its own; the program's status is 0 however it ends.
void KeepExitStatusOnLostDisplay() {
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(gdk_display_get_default())) XSetIOErrorHandler(&ExitOnLostDisplay);
#endif
}

}  // namespace

bool InitToolkit(int* argc, char*** argv) {
  // The window's place on screen can only be set under X11; elsewhere the
  // window still works, just where the system puts it.
  gdk_set_allowed_backends("x11,*");
  if (!gtk_init_check(argc, argv)) return false;
  KeepExitStatusOnLostDisplay();
  return true;
}

TGtkApplication::TGtkApplication()
    : title_(ui::TitleFromExecutable(ExecutablePath())), icon_(NewAppIcon()) {
  if (!title_.empty()) g_set_application_name(DisplayText(title_).c_str());
  if (icon_ != nullptr) gtk_window_set_default_icon(icon_);
}

TGtkApplication::~TGtkApplication() {
  if (icon_ != nullptr) g_object_unref(icon_);
}

const std::string& TGtkApplication::Title() const { return title_; }

void TGtkApplication::ShowMessage(const std::string& text) {
  RunBox(NewBox(BoxKind::kMessage, main_window_, DisplayText(title_), text, icon_), true);
}

void TGtkApplication::ShowErrorBox(const std::string& text) {
  RunBox(NewBox(BoxKind::kError, main_window_, DisplayText(title_), text, icon_), false);
}

void TGtkApplication::ProcessMessages() {
  for (int handled = 0; handled < kMostEventsPerService && gtk_events_pending(); ++handled) {
    gtk_main_iteration_do(FALSE);
  }
  TakeQuitRequest();
}

void TGtkApplication::Terminate() {
  quit_pending_ = true;
  // A loop asleep in its wait must see the request.
  g_main_context_wakeup(nullptr);
}

bool TGtkApplication::Terminated() const { return quitting_; }

void TGtkApplication::Run(TMainWindow& window) {
  window.Show();
  // Each iteration returns only after the event it handled is done with, so
  // a quit request made in a click handler ends the loop after the handler.
  while (!quitting_) {
    gtk_main_iteration_do(TRUE);
    TakeQuitRequest();
  }
}

void TGtkApplication::TakeQuitRequest() {
  if (!quit_pending_) return;
  quit_pending_ = false;
  quitting_ = true;
}

void TGtkApplication::RunBox(GtkWidget* box, bool closes_when_quitting) {
  bool answered = false;
  g_signal_connect(box, "response", G_CALLBACK(+[](GtkDialog*, gint, gpointer answered_flag) {
                     *static_cast<bool*>(answered_flag) = true;
                   }),
                   &answered);
  // The dialog answers a close (Esc, its close button) and would then
  // destroy itself; it stays until this loop is done with it.
  g_signal_connect(box, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) { return gboolean{TRUE}; }),
                   nullptr);

  struct Wake {
    guint source = 0;
  } wake;
  if (closes_when_quitting && (quit_pending_ || quitting_)) {
    wake.source = g_timeout_add(
        kSelfCloseWakeMs,
        +[](gpointer data) -> gboolean {
          static_cast<Wake*>(data)->source = 0;
          return G_SOURCE_REMOVE;
        },
        &wake);
  }

  // Modal: the main window gets no input while the box is open (its close
  // button included), but its drawing goes on through this loop.
  gtk_widget_show(box);
  while (!answered) {
    gtk_main_iteration_do(TRUE);
    if (closes_when_quitting) {
      TakeQuitRequest();
      if (quitting_) break;
    }
  }
  if (wake.source != 0) g_source_remove(wake.source);
  gtk_widget_destroy(box);
}

}  // namespace ui::gtk
