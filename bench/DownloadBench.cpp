// The download phase against curl. A release folder on the update server's
// disk (served by the nginx that bench/run starts) gets a manifest listing
// the given files; then, alternately, our chain (ChainDownload: the click to
// the installation's announcement) and one curl process fetch the manifest
// and, for each listed file in order, make a HEAD request and a GET, writing
// the same files into a folder of their own. Both make one connection per
// request: the server ends every connection after its answer.
//
//   DownloadBench --base-url URL --release DIR --names a,b,... --work DIR
//                 [--runs N] [--label TEXT] [--curl PATH]
//
// Prints two table rows (see BenchProcess.hpp): the medians of the time and
// of the peak resident memory, ours against curl and against the largest file.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "BenchProcess.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// Compares piece by piece: the peak memory of a child started by this
// process counts this process's own peak too (the kernel carries it over at
// exec), so this process must stay small.
bool SameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
  std::vector<char> one(1 << 20), two(1 << 20);
  while (first && second) {
    first.read(one.data(), static_cast<std::streamsize>(one.size()));
    second.read(two.data(), static_cast<std::streamsize>(two.size()));
    if (first.gcount() != second.gcount() ||
        !std::equal(one.begin(), one.begin() + first.gcount(), two.begin())) {
      return false;
    }
  }
  return first.eof() && second.eof();
}

// Every listed file and the manifest arrived whole; with `compare`, byte for
// byte equal to the server's copy (slow for large files, so only once).
void Check(const fs::path& release, const fs::path& downloaded,
           const std::vector<std::string>& names, bool compare) {
  std::vector<std::string> all = names;
  all.push_back("update.ini");
  for (const std::string& name : all) {
    std::error_code error;
    const auto got = fs::file_size(downloaded / name, error);
    const bool same_size = !error && got == fs::file_size(release / name);
    if (!same_size || (compare && !SameBytes(downloaded / name, release / name))) {
      std::fprintf(stderr, "%s differs from the served file\n", (downloaded / name).c_str());
      std::exit(1);
    }
  }
}

// Each run writes new files, as the first run of an update does, and finds
// no dirty pages of the run before still waiting to be written back.
void Reset(const fs::path& ours, const fs::path& theirs) {
  fs::remove_all(ours / "update");
  fs::remove_all(theirs);
  fs::create_directories(theirs);
  ::sync();
}

}  // namespace

int main(int argc, char** argv) {
  std::string base_url, release, names_text, work, label = "release", curl = "curl";
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--base-url") base_url = value;
    if (option == "--release") release = value;
    if (option == "--names") names_text = value;
    if (option == "--work") work = value;
    if (option == "--runs") runs = std::max(1, std::atoi(value.c_str()));
    if (option == "--label") label = value;
    if (option == "--curl") curl = value;
  }
  const std::vector<std::string> names = Split(names_text, ',');
  if (base_url.empty() || release.empty() || names.empty() || work.empty()) {
    std::fprintf(stderr,
                 "usage: %s --base-url URL --release DIR --names a,b --work DIR [--runs N]\n",
                 argv[0]);
    return 2;
  }

  std::string manifest = "[update]\r\nVersion=2\r\n[updatelist]\r\n";
  std::uintmax_t largest = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    manifest += "up" + std::to_string(i + 1) + "=" + names[i] + "\r\n";
    largest = std::max(largest, fs::file_size(fs::path(release) / names[i]));
  }
  std::ofstream(fs::path(release) / "update.ini", std::ios::binary) << manifest;

  const fs::path ours_folder = fs::path(work) / "ours";
  const fs::path curl_folder = fs::path(work) / "curl";
  fs::create_directories(ours_folder);
  const std::vector<std::string> ours{bench::Sibling(argv[0], "ChainDownload"), base_url,
                                      ours_folder.string() + "/"};
  // One process, one transfer after the other in list order, as the chain
  // makes them; --next starts each transfer with fresh options.
  std::vector<std::string> theirs{curl};
  auto transfer = [&](const std::string& name, bool head, const std::string& output) {
    if (theirs.size() > 1) theirs.push_back("--next");
    for (const char* option : {"-s", "-S", "-f", "--noproxy", "*"}) theirs.push_back(option);
    if (head) theirs.push_back("-I");
    theirs.insert(theirs.end(), {"-o", output, base_url + name});
  };
  transfer("update.ini", false, (curl_folder / "update.ini").string());
  for (const std::string& name : names) {
    transfer(name, true, "/dev/null");
    transfer(name, false, (curl_folder / name).string());
  }

  // Warm-up: the server's files in the page cache; both results checked
  // byte for byte once.
  Reset(ours_folder, curl_folder);
  bench::Run(ours, true);
  bench::Run(theirs);
  Check(release, ours_folder / "update", names, true);
  Check(release, curl_folder, names, true);

  std::vector<double> our_time, our_process, our_peak, curl_time, curl_peak;
  for (int run = 0; run < runs; ++run) {
    // Alternate the order, so that neither side always runs second.
    for (int side = 0; side < 2; ++side) {
      const bool our_turn = (side == 0) == (run % 2 == 0);
      Reset(ours_folder, curl_folder);
      if (our_turn) {
        const bench::Sample sample = bench::Run(ours, true);
        our_time.push_back(bench::OutputValue(sample, "download_seconds"));
        our_process.push_back(sample.seconds);
        our_peak.push_back(sample.peak_mib);
        Check(release, ours_folder / "update", names, false);
      } else {
        const bench::Sample sample = bench::Run(theirs);
        curl_time.push_back(sample.seconds);
        curl_peak.push_back(sample.peak_mib);
        Check(release, curl_folder, names, false);
      }
    }
  }
  Reset(ours_folder, curl_folder);

  // A child's figure can be no smaller than this process's own peak (see
  // SameBytes); say so when that bound is reached.
  rusage self{};
  ::getrusage(RUSAGE_SELF, &self);
  const double driver_mib = static_cast<double>(self.ru_maxrss) / 1024.0;
  if (driver_mib >= bench::Median(curl_peak)) {
    std::fprintf(stderr, "note: curl's peak is bounded below by this process's own %.1f MiB\n",
                 driver_mib);
  }

  const double ot = bench::Median(our_time) * 1000, ct = bench::Median(curl_time) * 1000;
  const double op = bench::Median(our_peak), cp = bench::Median(curl_peak);
  const double largest_mib = static_cast<double>(largest) / (1024.0 * 1024.0);
  const std::string runs_text = "median of " + std::to_string(runs);
  bench::PrintRow("download phase, " + label + ", vs curl", bench::Format(ot, 0, "ms"),
                  bench::Format(ct, 0, "ms"), ot / ct,
                  runs_text + "; ours whole process " +
                      bench::Format(bench::Median(our_process) * 1000, 0, "ms"));
  bench::PrintRow("peak memory, " + label + ", vs largest file", bench::Format(op, 1, "MiB"),
                  bench::Format(largest_mib, 1, "MiB"), op / largest_mib,
                  runs_text + "; curl peak " + bench::Format(cp, 1, "MiB") + ", " +
                      bench::Format(cp / largest_mib, 2, "of the file"));
  return 0;
}
