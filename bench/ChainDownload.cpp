// The download phase of the update chain, in a process of its own so that
// its peak memory can be read from outside. A headless window whose program
// folder is <program folder> presses its check button against the update
// server at <base url>; the chain fetches and saves the manifest and every
// listed file as the updater does, and is stopped the moment the
// installation announces itself, so that nothing is installed.
//
//   ChainDownload <base url> <program folder>
//
// The program folder (ending with "/") gets a version file older than any
// release first. Prints "download_seconds=<s>", the time from the click to
// the announcement. Exits 0 only when the announcement was reached and
// nothing else than the news of a newer version was shown before it.
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "MainFrm.hpp"
#include "Texts.hpp"
#include "support/HeadlessApplication.hpp"

namespace {

// Thrown from the announcement's message box: it unwinds the chain before
// the first step of the installation.
struct DownloadDone {};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <base url> <program folder>\n", argv[0]);
    return 2;
  }
  const std::string base_url = argv[1];
  const std::string folder = argv[2];
  std::ofstream(folder + "version.ini") << "[update]\r\nVersion=0\r\n";

  test_support::HeadlessApplication app;
  TMainForm form(app, folder, base_url);
  using Clock = std::chrono::steady_clock;
  Clock::time_point done;
  app.OnMessage = [&done](const std::string& text) {
    if (text == texts::kDownloadDone) {
      done = Clock::now();
      throw DownloadDone{};
    }
  };

  const Clock::time_point click = Clock::now();
  bool announced = false;
  try {
    form.Button1Click();
  } catch (const DownloadDone&) {
    announced = true;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "the chain failed: %s\n", error.what());
    return 1;
  }
  const auto& seen = app.Seen();
  const bool clean =
      seen.size() == 2 && seen[0] == std::string("message: ") + texts::kNewVersionFound;
  if (!announced || !clean) {
    std::fprintf(stderr, "the download did not end in the announcement; seen:\n");
    for (const std::string& line : seen) std::fprintf(stderr, "  %s\n", line.c_str());
    return 1;
  }
  std::printf("download_seconds=%.6f\n", std::chrono::duration<double>(done - click).count());
  return 0;
}
