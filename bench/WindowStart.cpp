// The time from start to window shown: a program is started and the time
// runs until the X server maps a top-level window captioned with the
// updater's caption (the MapNotify event, received as it happens, not
// polled for). Alternately the updater (update.exe) and a plain GTK 3 peer
// (GtkPeer) are measured; each is ended (SIGTERM) once its window is shown.
// Runs on the display named by DISPLAY (bench/run starts an Xvfb of its own).
//
//   WindowStart --ours PATH --peer PATH [--runs N]
//
// Prints one table row (see BenchProcess.hpp): the medians, ours against the peer.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>

#include "BenchProcess.hpp"
#include "Texts.hpp"

namespace {

// The window's caption: its UTF-8 _NET_WM_NAME, else its WM_NAME.
std::string Caption(Display* display, Window window) {
  const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string caption;
  if (XGetWindowProperty(display, window, net_wm_name, 0, 1024, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr) {
    caption.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
    return caption;
  }
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name != nullptr) {
    caption = name;
    XFree(name);
  }
  return caption;
}

// Starts `program` and returns the seconds until its window was mapped;
// exits the benchmark when no such window shows within 20 s.
double TimeToWindow(Display* display, const std::string& program) {
  // Whatever an earlier run left in the queue is no news of this one.
  XSync(display, True);
  char* args[] = {const_cast<char*>(program.c_str()), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args, environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", args[0]);
    std::exit(1);
  }
  const auto limit = start + std::chrono::seconds(20);
  double seconds = -1;
  while (seconds < 0 && std::chrono::steady_clock::now() < limit) {
    while (seconds < 0 && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && !event.xmap.override_redirect &&
          Caption(display, event.xmap.window) == texts::kWindowCaption) {
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      }
    }
    if (seconds < 0) {
      pollfd wait{ConnectionNumber(display), POLLIN, 0};
      ::poll(&wait, 1, 100);
    }
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (seconds < 0) {
    std::fprintf(stderr, "%s showed no window within 20 s\n", args[0]);
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string ours, peer;
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--ours") ours = argv[i + 1];
    if (option == "--peer") peer = argv[i + 1];
    if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  if (ours.empty() || peer.empty()) {
    std::fprintf(stderr, "usage: %s --ours PATH --peer PATH [--runs N]\n", argv[0]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "cannot open the display\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

  // Warm-up: both programs and their libraries in the page cache.
  TimeToWindow(display, ours);
  TimeToWindow(display, peer);
  std::vector<double> our_time, peer_time;
  for (int run = 0; run < runs; ++run) {
    for (int side = 0; side < 2; ++side) {
      const bool our_turn = (side == 0) == (run % 2 == 0);
      (our_turn ? our_time : peer_time).push_back(TimeToWindow(display, our_turn ? ours : peer));
    }
  }
  XCloseDisplay(display);
  const double ot = bench::Median(our_time) * 1000, pt = bench::Median(peer_time) * 1000;
  bench::PrintRow("start to window shown, vs GTK 3 peer", bench::Format(ot, 0, "ms"),
                  bench::Format(pt, 0, "ms"), ot / pt,
                  "median of " + std::to_string(runs) + "; exec to MapNotify under Xvfb");
  return 0;
}
