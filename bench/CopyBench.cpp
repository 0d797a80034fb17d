// The installation's copies against cp. The same files are copied from a
// release folder into a target folder that already holds them (an
// installation replaces files) by CopyFiles (platform::CopyFileReplacing:
// a hidden temporary file, flushed to the disk, renamed over the target),
// by one cp process, and by cp followed by sync of the copied files, which
// flushes them to the disk as ours does. Each run starts with nothing left
// to write back, the sources in the page cache.
//
//   CopyBench --source DIR --names a,b,... --work DIR [--runs N] [--label TEXT]
//
// Prints two table rows (see BenchProcess.hpp): the median times, ours
// against cp and against cp + sync.
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "BenchProcess.hpp"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::string source, names_text, work, label = "release";
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--source") source = value;
    if (option == "--names") names_text = value;
    if (option == "--work") work = value;
    if (option == "--runs") runs = std::max(1, std::atoi(value.c_str()));
    if (option == "--label") label = value;
  }
  std::vector<std::string> names;
  std::stringstream stream(names_text);
  for (std::string name; std::getline(stream, name, ',');) {
    if (!name.empty()) names.push_back(name);
  }
  if (source.empty() || names.empty() || work.empty()) {
    std::fprintf(stderr, "usage: %s --source DIR --names a,b --work DIR [--runs N]\n", argv[0]);
    return 2;
  }
  const fs::path target = fs::path(work) / "install";
  fs::create_directories(target);

  std::vector<std::string> ours{bench::Sibling(argv[0], "CopyFiles"), source, target.string()};
  std::vector<std::string> cp{"cp"};
  std::vector<std::string> sync{"sync"};
  for (const std::string& name : names) {
    ours.push_back(name);
    cp.push_back((fs::path(source) / name).string());
    sync.push_back((target / name).string());
  }
  cp.push_back(target.string() + "/");

  // Warm-up: the targets exist and the sources are in the page cache.
  bench::Run(ours);
  bench::Run(cp);

  std::vector<double> our_time, cp_time, cp_sync_time;
  for (int run = 0; run < runs; ++run) {
    // Rotate the order, so that no variant always follows the same one.
    for (int turn = 0; turn < 3; ++turn) {
      ::sync();
      switch ((run + turn) % 3) {
        case 0:
          our_time.push_back(bench::Run(ours).seconds);
          break;
        case 1:
          cp_time.push_back(bench::Run(cp).seconds);
          break;
        default:
          cp_sync_time.push_back(bench::Run(cp).seconds + bench::Run(sync).seconds);
          break;
      }
    }
  }
  fs::remove_all(target);

  const double ot = bench::Median(our_time) * 1000;
  const double ct = bench::Median(cp_time) * 1000;
  const double cst = bench::Median(cp_sync_time) * 1000;
  const std::string note = "median of " + std::to_string(runs) + "; whole processes";
  bench::PrintRow("copies, " + label + ", vs cp", bench::Format(ot, 0, "ms"),
                  bench::Format(ct, 0, "ms"), ot / ct, note);
  bench::PrintRow("copies, " + label + ", vs cp + sync", bench::Format(ot, 0, "ms"),
                  bench::Format(cst, 0, "ms"), ot / cst, note + "; sync of the copied files");
  return 0;
}
