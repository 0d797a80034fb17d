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
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchProcess.hpp"
#include "support/TestHttpServer.hpp"

using bench::Median;
using bench::Run;
using bench::Sample;

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
