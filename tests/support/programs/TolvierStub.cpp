// A stand-in for the main program, built only for the tests and the demo as
// `Tolvier.exe` (with copies named `OldTolvier.exe` and `Tolvier.exe.bak`,
// same program, names that must not count as the main program).
//
// When started it:
// 1. appends one line, its mark, to a mark file: the file named by the
//    environment variable TOLVIER_STUB_MARK when that is set and not empty,
//    otherwise `started.mark` in the folder of its own executable. The line is
//    written with one append, so instances started together never mix their
//    lines. Fields are separated by a tab, each `key=value`, in this order:
//      pid=<process id>
//      ppid=<parent's process id when the mark was written>
//      sid=<session id>          (equal to pid when it runs in a session of its own)
//      argc=<number of arguments, argv[0] included>
//      argv0=<argv[0]>
//      exe=<full path of its executable, from /proc/self/exe>
//      cwd=<working folder>
//      stdin=<what fd 0 refers to, from /proc/self/fd/0, or "closed">
//      stdout=<the same for fd 1>
//      stderr=<the same for fd 2>
//    and a final "\n". A value never holds a tab or a line break (such bytes
//    are written as '?').
// 2. then sleeps, doing nothing, until it is stopped or TOLVIER_STUB_SECONDS
//    (a whole number from 0 to 3600; default 60) have passed, and exits with
//    status 0. Its mark can be waited for to know that it runs (the process
//    has replaced the starter's image by then).
//
// Exit status 2 (at once, without sleeping) when the mark cannot be written.
// It reads no input, writes nothing to its standard streams, and handles no
// signal, so SIGKILL and SIGTERM end it at once.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

std::string Sanitized(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = '?';
  }
  return text;
}

std::string LinkText(const char* link, const char* otherwise) {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink(link, buffer, sizeof buffer);
  return length < 0 ? std::string(otherwise)
                    : std::string(buffer, static_cast<std::size_t>(length));
}

std::string CurrentFolder() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string("?");
}

std::string MarkPath(const std::string& executable) {
  const char* named = std::getenv("TOLVIER_STUB_MARK");
  if (named != nullptr && *named != '\0') return named;
  return executable.substr(0, executable.rfind('/') + 1) + "started.mark";
}

long SecondsToSleep() {
  const char* text = std::getenv("TOLVIER_STUB_SECONDS");
  if (text == nullptr || *text == '\0') return 60;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  return *end == '\0' && seconds >= 0 && seconds <= 3600 ? seconds : 60;
}

}  // namespace

int main(int argc, char** argv) {
  // Read first: the standard streams must be seen before this program opens anything.
  const std::string stdin_text = LinkText("/proc/self/fd/0", "closed");
  const std::string stdout_text = LinkText("/proc/self/fd/1", "closed");
  const std::string stderr_text = LinkText("/proc/self/fd/2", "closed");
  const std::string executable = LinkText("/proc/self/exe", "?");

  const std::string line =
      "pid=" + std::to_string(::getpid()) + "\tppid=" + std::to_string(::getppid()) +
      "\tsid=" + std::to_string(::getsid(0)) + "\targc=" + std::to_string(argc) +
      "\targv0=" + Sanitized(argc > 0 ? argv[0] : "") + "\texe=" + Sanitized(executable) +
      "\tcwd=" + Sanitized(CurrentFolder()) + "\tstdin=" + Sanitized(stdin_text) +
      "\tstdout=" + Sanitized(stdout_text) + "\tstderr=" + Sanitized(stderr_text) + "\n";

  const int mark =
      ::open(MarkPath(executable).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (mark < 0) return 2;
  const bool written = ::write(mark, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (::close(mark) != 0 || !written) return 2;

  timespec remaining{SecondsToSleep(), 0};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
  return 0;
}
