#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/ProgramStart.hpp"

namespace platform {

namespace {

std::string CurrentFolder() {
  std::vector<char> buffer(PATH_MAX);
  return ::getcwd(buffer.data(), buffer.size()) != nullptr ? std::string(buffer.data()) : "";
}

// Tells the waiting caller why the start failed, then ends the helper
// process. Only async-signal-safe calls from here on: the caller may have
// other threads, whose locks a forked child can never take.
[[noreturn]] void Fail(int report_fd) {
  const int error = errno;
  ssize_t ignored = ::write(report_fd, &error, sizeof error);
  static_cast<void>(ignored);
  ::_exit(127);
}

[[noreturn]] void BecomeProgram(const char* path, const char* folder, char* const argv[],
                                int report_fd) {
  if (::setsid() < 0) Fail(report_fd);
  // Blocked and ignored signals would pass into the program; it must start
  // as any program started afresh does.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    ::signal(signal_number, SIG_DFL);
  }
  if (::chdir(folder) != 0) Fail(report_fd);
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd < 0) Fail(report_fd);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::dup2(null_fd, fd) < 0) Fail(report_fd);
  }
  if (null_fd > 2) ::close(null_fd);
  // Whatever the caller had open stays with the caller; the report pipe is
  // close-on-exec already, so its end tells the caller the program runs.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  ::execve(path, argv, environ);
  Fail(report_fd);
}

}  // namespace

bool StartProgram(const std::string& path) {
  if (path.empty()) return false;
  const std::string full_path = path.front() == '/' ? path : CurrentFolder() + "/" + path;
  const std::size_t slash = full_path.rfind('/');
  const std::string folder = slash == 0 ? "/" : full_path.substr(0, slash);
  std::string first_argument = full_path;
  char* const argv[] = {first_argument.data(), nullptr};

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  // Two forks: the middle process ends at once and is collected here, so
  // the program's parent becomes the system's reaper and the caller is left
  // with no child, neither running nor ended.
  const pid_t middle = ::fork();
  if (middle < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (middle == 0) {
    ::close(report[0]);
    const pid_t program = ::fork();
    if (program < 0) Fail(report[1]);
    if (program == 0) BecomeProgram(full_path.c_str(), folder.c_str(), argv, report[1]);
    ::_exit(0);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe ends only when its last writer is gone: at the program's exec,
  // or when a helper process ends after reporting an error.
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  return got == 0;
}

}  // namespace platform
