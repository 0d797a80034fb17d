// Running the main-program stand-in (Tolvier.exe, see TolvierStub.cpp) from
// a test, and reading the marks it leaves.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

/// One mark line of the stand-in, as its fields (pid, ppid, sid, argc, argv0,
/// exe, cwd, stdin, stdout, stderr).
using StubMark = std::map<std::string, std::string>;

/// Every mark line in the file `path`, in the order written; empty when the
/// file is missing.
inline std::vector<StubMark> ReadStubMarks(const std::string& path) {
  std::vector<StubMark> marks;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    StubMark mark;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) {
      const std::size_t equals = field.find('=');
      if (equals != std::string::npos) mark[field.substr(0, equals)] = field.substr(equals + 1);
    }
    marks.push_back(std::move(mark));
  }
  return marks;
}

/// Waits up to `limit` for the file `path` to hold at least `count` complete
/// mark lines; returns them (fewer when the time ran out).
inline std::vector<StubMark> WaitForStubMarks(
    const std::string& path, std::size_t count,
    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::vector<StubMark> marks = ReadStubMarks(path);
  while (marks.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    marks = ReadStubMarks(path);
  }
  return marks;
}

/// Waits up to `limit` for the process `pid` to be gone or a zombie (a
/// process that is not the caller's child cannot be collected by it).
/// Returns true when it is.
inline bool WaitUntilProcessEnds(pid_t pid,
                                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content;
    std::getline(stat, content);
    const std::size_t close = content.rfind(')');
    if (!stat || close == std::string::npos || content.substr(close + 2, 1) == "Z") return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

/// Waits up to `limit` for the child `pid` to end and collects it; its wait
/// status, or nothing when it still runs (or is no child of the caller).
inline std::optional<int> WaitForChild(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) return status;
    if (ended < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

/// A child process running the program `path` with the single argument
/// `argv0`, its marks going to `mark`; killed and collected when destroyed.
class RunningStub {
 public:
  RunningStub(const std::string& path, const std::string& mark, std::string argv0 = "")
      : argv0_(argv0.empty() ? path : std::move(argv0)) {
    // Built before the fork: the child only calls exec.
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
      const std::string text(*variable);
      if (!text.starts_with("TOLVIER_STUB_")) environment.push_back(text);
    }
    environment.push_back("TOLVIER_STUB_MARK=" + mark);
    environment.push_back("TOLVIER_STUB_SECONDS=60");
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    char* const argv[] = {argv0_.data(), nullptr};
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::execve(path.c_str(), argv, envp.data());
      ::_exit(127);
    }
  }
  ~RunningStub() {
    if (!status_) {
      ::kill(pid_, SIGKILL);
      WaitForEnd(std::chrono::seconds(10));
    }
  }
  RunningStub(const RunningStub&) = delete;
  RunningStub& operator=(const RunningStub&) = delete;

  pid_t pid() const { return pid_; }

  /// Waits up to `limit` for the child to end; its wait status, or nothing
  /// while it still runs.
  std::optional<int> WaitForEnd(std::chrono::milliseconds limit) {
    if (!status_) status_ = WaitForChild(pid_, limit);
    return status_;
  }

  /// True when the child has not ended (and so was not collected).
  bool Running() { return !WaitForEnd(std::chrono::milliseconds(0)); }

 private:
  std::string argv0_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

/// True when the wait status says the process was ended by SIGKILL.
inline bool KilledBySigkill(const std::optional<int>& status) {
  return status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL;
}

}  // namespace test_support
