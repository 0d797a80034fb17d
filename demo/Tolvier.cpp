// The demo's stand-in for the main program Tolvier.exe: a real program that
// says which version it is, so that a person (or the demo script) can see the
// updater stop the old one and start the new one.
//
// Every start and end is written as a line to tolvier.log in the program's own
// folder, whatever the display: that log is how the demo script learns which
// version runs now. With a display the program shows a small window saying its
// version; without one it just stays running. Either way it ends by itself
// after a bounded time (TOLVIER_SECONDS, default 600 s with a window and 120 s
// without), so a forgotten stand-in never outlives the demo for long.
#include <gtk/gtk.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

#ifndef TOLVIER_VERSION
#error "TOLVIER_VERSION must name the version this stand-in is built as"
#endif

namespace {

std::string OwnFolder() {
  char path[PATH_MAX + 1];
  const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
  if (length <= 0) return "./";
  std::string executable(path, static_cast<std::size_t>(length));
  return executable.substr(0, executable.rfind('/') + 1);
}

// Appends one line; the file is opened for each line so that lines of an old
// and a new instance never mix within one write.
void Log(const std::string& line) {
  std::ofstream log(OwnFolder() + "tolvier.log", std::ios::app);
  log << line << '\n';
}

unsigned Lifetime(unsigned fallback) {
  const char* text = std::getenv("TOLVIER_SECONDS");
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const unsigned long seconds = std::strtoul(text, &end, 10);
  return (*end == '\0' && seconds > 0 && seconds <= 3600) ? static_cast<unsigned>(seconds)
                                                          : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string version = TOLVIER_VERSION;
  const std::string pid = std::to_string(getpid());
  if (!gtk_init_check(&argc, &argv)) {
    Log("Tolvier " + version + " started without a display, pid " + pid);
    sleep(Lifetime(120));
    Log("Tolvier " + version + " ended, pid " + pid);
    return 0;
  }
  Log("Tolvier " + version + " started with a window, pid " + pid);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  const std::string title = "Tolvier " + version;
  gtk_window_set_title(GTK_WINDOW(window), title.c_str());
  gtk_window_set_default_size(GTK_WINDOW(window), 320, 120);
  const std::string text = "主程序 Tolvier.exe\n\nVersion " + version;
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
  gtk_container_add(GTK_CONTAINER(window), label);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_timeout_add_seconds(
      Lifetime(600),
      [](gpointer) -> gboolean {
        gtk_main_quit();
        return G_SOURCE_REMOVE;
      },
      nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  Log("Tolvier " + version + " ended, pid " + pid);
  return 0;
}
