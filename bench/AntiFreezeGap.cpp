// The anti-freeze under slow answers: the longest time the window goes
// unserviced while the update chain waits on the network. The chain runs on
// a headless window against the loopback test server, and every call of the
// application's ProcessMessages is timed; the gap is the time between two
// calls, from the click on. A message box services the window with its own
// loop, so the clock starts again when a box closes. Three cases:
//   delayed   every answer (manifest, HEAD, GET) starts only after a pause;
//   trickled  the file's answer arrives in small pieces with long pauses;
//   flowing   a file of 64 MiB arrives at full speed into fresh memory;
//   connect   the server never accepts the connection (a full listen queue),
//             and the wait is cut short from the window's side.
// Each case runs `--runs` times (3 unless told); the worst gap counts.
//
//   AntiFreezeGap [--runs N]
//
// Prints one table row (see BenchProcess.hpp): the longest gap against the
// 250 ms within which the window must be serviced.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchProcess.hpp"
#include "MainFrm.hpp"
#include "Texts.hpp"
#include "support/HeadlessApplication.hpp"
#include "support/TempFolder.hpp"
#include "support/TestHttpServer.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kFolder[] = "/quorvicomdata/update/tolvier/";
constexpr double kRequiredMs = 250;

// Thrown to leave the chain: from the announcement's box when the download
// is over, or from the window's servicing to give up a hanging connection.
struct Stop {};

// The chain against `base_url`, timing the servicing of the window; returns
// the longest gap in milliseconds. With `give_up_after` above zero the
// servicing throws once that much time has passed since the click.
double LongestGap(const std::string& base_url, milliseconds give_up_after,
                  bool expect_announcement) {
  test_support::TempFolder folder;
  folder.Write("version.ini", "[update]\r\nVersion=0\r\n");
  test_support::HeadlessApplication app;
  TMainForm form(app, folder.path(), base_url);

  Clock::time_point last = Clock::now();
  const Clock::time_point click = last;
  double longest = 0;
  auto note = [&] {
    const Clock::time_point now = Clock::now();
    longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
  };
  app.OnProcessMessages = [&] {
    note();
    if (give_up_after.count() > 0 && Clock::now() - click >= give_up_after) throw Stop{};
  };
  bool announced = false;
  app.OnMessage = [&](const std::string& text) {
    note();
    if (text == texts::kDownloadDone) {
      announced = true;
      throw Stop{};
    }
    last = Clock::now();
  };
  try {
    form.Button1Click();
  } catch (const Stop&) {
  }
  if (announced != expect_announcement) {
    std::fprintf(stderr, "the chain ended otherwise than expected; seen:\n");
    for (const std::string& line : app.Seen()) std::fprintf(stderr, "  %s\n", line.c_str());
    std::exit(1);
  }
  return longest;
}

// A release of one file of `size` bytes on a server of its own, each answer
// shaped by `shape`.
template <class Shape>
double ReleaseGap(std::uint64_t size, Shape shape) {
  test_support::TestHttpServer server;
  server.Route(std::string(kFolder) + "update.ini",
               shape(test_support::Answer::Ok("[update]\r\nVersion=2\r\n[updatelist]\r\n"
                                              "up1=slow.bin\r\n")));
  server.Route(std::string(kFolder) + "slow.bin", shape(test_support::Answer::File(size)));
  return LongestGap(server.Url(kFolder), milliseconds(0), true);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  double delayed = 0, trickled = 0, flowing = 0, connecting = -1;
  for (int run = 0; run < runs; ++run) {
    delayed = std::max(delayed, ReleaseGap(256 * 1024, [](test_support::Answer answer) {
                         return answer.DelayBefore(milliseconds(700));
                       }));
    // Pieces of 32 KiB every 300 ms: each pause longer than the 250 ms slice.
    trickled = std::max(trickled, ReleaseGap(256 * 1024, [](test_support::Answer answer) {
                          return answer.Trickle(32 * 1024, milliseconds(300));
                        }));
    flowing =
        std::max(flowing, ReleaseGap(64 << 20, [](test_support::Answer answer) { return answer; }));
    test_support::UnansweredPort port;
    if (port.Hangs()) {
      const std::string url = "http://127.0.0.1:" + std::to_string(port.Port()) + kFolder;
      connecting = std::max(connecting, LongestGap(url, milliseconds(1500), false));
    }
  }
  const double worst = std::max({delayed, trickled, flowing, connecting});
  const std::string connect_text =
      connecting < 0 ? std::string("connect n/a") : "connect " + bench::Format(connecting, 0, "ms");
  bench::PrintRow("anti-freeze: longest unserviced gap, vs 250 ms", bench::Format(worst, 0, "ms"),
                  bench::Format(kRequiredMs, 0, "ms"), worst / kRequiredMs,
                  "worst of " + std::to_string(runs) + ": delayed " +
                      bench::Format(delayed, 0, "ms") + ", trickled " +
                      bench::Format(trickled, 0, "ms") + ", flowing " +
                      bench::Format(flowing, 0, "ms") + ", " + connect_text);
  return 0;
}
