// What the whole-process benchmarks share: starting a program, waiting for
// it and reading its wall time and peak memory from outside (wait4), the
// median of a series, and the one line format in which each benchmark hands
// its table rows to bench/run.
#pragma once

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

extern char** environ;

namespace bench {

/// One finished run of a program.
struct Sample {
  /// From just before the program was started to the moment it had ended.
  double seconds = 0;
  /// Its peak resident memory (ru_maxrss), in MiB.
  double peak_mib = 0;
  /// What it wrote on its standard output (when captured).
  std::string output;
};

/// Runs `argv` (looked up in PATH when it has no "/") and waits for it. Its
/// standard output goes to /dev/null, or is captured into Sample::output
/// when `capture` is set; its standard error stays the benchmark's. Exits
/// the whole benchmark with a message when the program cannot be started or
/// does not end with status 0: a figure of a failed run means nothing.
inline Sample Run(const std::vector<std::string>& argv, bool capture = false) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int pipe_fds[2] = {-1, -1};
  if (capture && ::pipe(pipe_fds) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (capture) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawn_error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(spawn_error));
    std::exit(1);
  }
  Sample sample;
  if (capture) {
    ::close(pipe_fds[1]);
    char piece[4096];
    ssize_t got = 0;
    while ((got = ::read(pipe_fds[0], piece, sizeof piece)) > 0) sample.output.append(piece, got);
    ::close(pipe_fds[0]);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", args[0]);
    std::exit(1);
  }
  sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sample.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
  return sample;
}

/// The value of "name=<number>" in a program's output; exits the benchmark
/// when it is missing.
inline double OutputValue(const Sample& sample, const std::string& name) {
  const std::size_t at = sample.output.find(name + "=");
  if (at == std::string::npos) {
    std::fprintf(stderr, "no %s in the output: %s\n", name.c_str(), sample.output.c_str());
    std::exit(1);
  }
  return std::strtod(sample.output.c_str() + at + name.size() + 1, nullptr);
}

/// The median; 0 for an empty series.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/// Hands one row of the table to bench/run: "row", then the row's name, our
/// figure, the peer's figure, the ratio and a note, separated by tabs.
inline void PrintRow(const std::string& name, const std::string& ours, const std::string& peer,
                     double ratio, const std::string& note) {
  std::printf("row\t%s\t%s\t%s\t%.2f\t%s\n", name.c_str(), ours.c_str(), peer.c_str(), ratio,
              note.c_str());
  std::fflush(stdout);
}

/// A number with `decimals` decimals followed by a unit: Format(12.34, 1, "ms").
inline std::string Format(double value, int decimals, const char* unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit);
  return text;
}

/// The sibling program `name` of the running benchmark (same folder).
inline std::string Sibling(const char* argv0, const std::string& name) {
  const std::string self = argv0;
  const std::size_t slash = self.rfind('/');
  return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" + name;
}

}  // namespace bench
