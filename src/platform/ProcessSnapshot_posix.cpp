#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <string_view>

#include "platform/ProcessSnapshot.hpp"

namespace platform {

namespace {

constexpr std::string_view kDeletedSuffix = " (deleted)";
// The kernel never writes a link text longer than a page; the cap only bounds the loop.
constexpr std::size_t kMaxLinkText = 64 * 1024;
constexpr std::size_t kMaxFileRead = 64 * 1024;

// Called directly: the C library's own declarations of these two lack C
// linkage in some versions, so C++ code cannot link against them.
int OpenProcessDescriptor(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
}

bool SendSignal(int pidfd, int signal_number) {
  return ::syscall(SYS_pidfd_send_signal, pidfd, signal_number, nullptr, 0u) == 0;
}

std::string ProcPath(std::uint32_t id, std::string_view leaf) {
  return "/proc/" + std::to_string(id) + "/" + std::string(leaf);
}

std::optional<std::string> ReadLinkText(const std::string& link) {
  for (std::size_t size = 256; size <= kMaxLinkText; size *= 2) {
    std::string text(size, '\0');
    const ssize_t length = ::readlink(link.c_str(), text.data(), text.size());
    if (length < 0) return std::nullopt;
    // A full buffer may mean a cut text: try again with more room.
    if (static_cast<std::size_t>(length) < text.size()) {
      text.resize(static_cast<std::size_t>(length));
      return text;
    }
  }
  return std::nullopt;
}

// /proc files report a size of 0, so they are read until the end, up to a bound.
std::optional<std::string> ReadSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[4096];
  while (content.size() < kMaxFileRead) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

std::optional<std::string> ExecutablePath(std::uint32_t id) {
  const std::string link = ProcPath(id, "exe");
  std::optional<std::string> text = ReadLinkText(link);
  if (!text || text->empty()) return std::nullopt;
  // The suffix only says the file is gone when the file really has no name
  // left; a program whose own name ends with the same words keeps it.
  if (text->ends_with(kDeletedSuffix)) {
    struct stat status {};
    if (::stat(link.c_str(), &status) == 0 && status.st_nlink == 0) {
      text->resize(text->size() - kDeletedSuffix.size());
    }
  }
  return text;
}

std::optional<std::string> FirstArgument(std::uint32_t id) {
  std::optional<std::string> command_line = ReadSmallFile(ProcPath(id, "cmdline"));
  if (!command_line) return std::nullopt;
  const std::size_t end = command_line->find('\0');
  if (end != std::string::npos) command_line->resize(end);
  if (command_line->empty()) return std::nullopt;
  return command_line;
}

// Field 22 of /proc/<id>/stat; the second field, the command name in
// parentheses, may itself hold blanks and parentheses, so fields are counted
// from the last ")".
std::uint64_t StartTime(std::uint32_t id) {
  const std::optional<std::string> stat = ReadSmallFile(ProcPath(id, "stat"));
  if (!stat) return 0;
  const std::size_t close = stat->rfind(')');
  if (close == std::string::npos) return 0;
  std::string_view rest = std::string_view(*stat).substr(close + 1);
  // After ")" come fields 3 (the state) onwards, each preceded by a blank.
  for (int field = 3; field < 22; ++field) {
    const std::size_t blank = rest.find(' ', 1);
    if (blank == std::string_view::npos) return 0;
    rest.remove_prefix(blank);
  }
  rest.remove_prefix(1);
  std::uint64_t value = 0;
  std::from_chars(rest.data(), rest.data() + rest.size(), value);
  return value;
}

std::optional<std::uint32_t> ProcessIdOf(const char* name) {
  std::string_view text(name);
  if (text.empty() ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return id;
}

}  // namespace

std::vector<ProcessEntry> SnapshotProcesses() {
  std::vector<ProcessEntry> entries;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return entries;
  const auto self = static_cast<std::uint32_t>(::getpid());
  while (const dirent* item = ::readdir(proc)) {
    const std::optional<std::uint32_t> id = ProcessIdOf(item->d_name);
    if (!id || *id == self) continue;
    std::optional<std::string> executable = ExecutablePath(*id);
    if (!executable) executable = FirstArgument(*id);
    if (!executable) continue;
    entries.push_back({*id, std::move(*executable), StartTime(*id)});
  }
  ::closedir(proc);
  std::sort(entries.begin(), entries.end(),
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.id < b.id; });
  return entries;
}

bool KillProcess(const ProcessEntry& entry) {
  if (entry.id == 0) return false;
  const auto pid = static_cast<pid_t>(entry.id);
  // A process descriptor pins the process it was opened for: once the start
  // time read after opening it matches, the signal can only reach that one.
  // Without process descriptors (old kernels, some sandboxes) the start-time
  // check alone has to do.
  const int pidfd = OpenProcessDescriptor(pid);
  if (pidfd < 0 && errno != ENOSYS && errno != EPERM) return false;
  if (entry.start_time != 0 && StartTime(entry.id) != entry.start_time) {
    if (pidfd >= 0) ::close(pidfd);
    return false;
  }
  if (pidfd < 0) return ::kill(pid, SIGKILL) == 0;
  const bool accepted = SendSignal(pidfd, SIGKILL);
  ::close(pidfd);
  return accepted;
}

}  // namespace platform
