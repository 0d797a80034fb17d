// Whole-process comparison of one HTTP GET: our client (HttpGetOnce, which
// keeps the body in memory as the updater does) against curl writing the same
// body to /dev/null, both fetching a file from a loopback server in this
// process. Prints the median wall time and peak resident memory of each, and
// their ratios.
//
//   HttpBench [--size-mib N] [--runs N] [--framing length|chunked|close]
//             [--curl PATH] [--serve SECONDS]
//
// A third row, "fill buffer only", is the same process filling a buffer of
// the body's size without any network: what holding the body in fresh memory
// costs by itself (page faults), which curl writing to /dev/null never pays.
//
// With --serve it only serves the file for that long and prints its address,
// for profiling a client by hand.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/TestHttpServer.hpp"

extern char** environ;

namespace {

struct Sample {
  double seconds = 0;
  double peak_mib = 0;
};

// Runs `argv` with its output to /dev/null; returns its wall time and peak
// resident memory, or exits the benchmark when it fails.
Sample Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawn_error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(spawn_error));
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", args[0]);
    std::exit(1);
  }
  Sample sample;
  sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sample.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
  return sample;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t size_mib = 256;
  int runs = 5;
  std::string curl = "curl";
  int serve_seconds = 0;
  auto framing = test_support::Answer::Framing::kContentLength;
  std::string framing_name = "length";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--size-mib") {
      size_mib = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (option == "--runs") {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else if (option == "--curl") {
      curl = argv[i + 1];
    } else if (option == "--framing") {
      framing_name = argv[i + 1];
      if (framing_name == "chunked") framing = test_support::Answer::Framing::kChunked;
      if (framing_name == "close") framing = test_support::Answer::Framing::kUntilClose;
    } else if (option == "--serve") {
      serve_seconds = std::atoi(argv[i + 1]);
    }
  }
  const std::uint64_t size = size_mib * 1024 * 1024;
  std::string self = argv[0];
  const std::string folder =
      self.find('/') == std::string::npos ? std::string(".") : self.substr(0, self.rfind('/'));
  const std::string get_once = folder + "/HttpGetOnce";

  test_support::TestHttpServer server;
  server.Route("/file.bin", test_support::Answer::File(size, framing));
  const std::string url = server.Url("/file.bin");
  if (serve_seconds > 0) {
    std::printf("%s %llu\n", url.c_str(), static_cast<unsigned long long>(size));
    std::fflush(stdout);
    sleep(static_cast<unsigned>(std::min(serve_seconds, 3600)));
    return 0;
  }
  const std::vector<std::string> ours{get_once, url, std::to_string(size)};
  const std::vector<std::string> theirs{curl, "-s", "-S", "--noproxy", "*", "-o", "/dev/null", url};
  const std::vector<std::string> fill{get_once, "--fill-only", std::to_string(size)};

  Run(ours);  // warm-up: page cache, the server's pattern block
  std::vector<double> our_time, our_peak, curl_time, curl_peak, fill_time, fill_peak;
  for (int run = 0; run < runs; ++run) {
    // Alternate the order, so that neither side always runs second.
    for (int side = 0; side < 2; ++side) {
      const bool our_turn = (side == 0) == (run % 2 == 0);
      const Sample sample = Run(our_turn ? ours : theirs);
      (our_turn ? our_time : curl_time).push_back(sample.seconds);
      (our_turn ? our_peak : curl_peak).push_back(sample.peak_mib);
    }
    const Sample sample = Run(fill);
    fill_time.push_back(sample.seconds);
    fill_peak.push_back(sample.peak_mib);
  }

  const double ot = Median(our_time), ct = Median(curl_time);
  const double op = Median(our_peak), cp = Median(curl_peak);
  const double body_mib = static_cast<double>(size) / (1024.0 * 1024.0);
  std::printf("HTTP GET of %.0f MiB (%s) from 127.0.0.1, median of %d runs (whole process)\n",
              body_mib, framing_name.c_str(), runs);
  std::printf("%-22s %12s %12s %16s\n", "", "time (ms)", "MiB/s", "peak RSS (MiB)");
  std::printf("%-22s %12.0f %12.0f %16.1f\n", "curl -o /dev/null", ct * 1000, body_mib / ct, cp);
  std::printf("%-22s %12.0f %12.0f %16.1f\n", "TIdHTTP into memory", ot * 1000, body_mib / ot, op);
  const double ft = Median(fill_time), fp = Median(fill_peak);
  std::printf("%-22s %12.0f %12s %16.1f\n", "fill buffer only", ft * 1000, "", fp);
  std::printf("%-22s %12.2f %12s %16.2f\n", "ratio TIdHTTP / curl", ot / ct, "", op / cp);
  std::printf("%-22s %12s %12s %16.3f\n", "TIdHTTP peak / body", "", "", op / body_mib);
  return 0;
}
