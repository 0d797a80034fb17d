#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/Exceptions.hpp"
#include "platform/FileReplacement_posix.hpp"
#include "platform/ProfileFile.hpp"

namespace platform::profile_file_os {

namespace {

// A link is written through, so that a version file kept elsewhere and linked
// into the program folder stays where it is. A dangling link is replaced.
std::string WriteTarget(const std::string& path) {
  struct stat link_status {};
  if (::lstat(path.c_str(), &link_status) != 0 || !S_ISLNK(link_status.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

}  // namespace

ReadResult ReadProfileBytes(const std::string& path, std::string& content) {
  content.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT || errno == ENOTDIR ? ReadResult::kMissing : ReadResult::kUnreadable;
  }
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      content.clear();
      return ReadResult::kUnreadable;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return ReadResult::kRead;
}

void ReplaceProfileBytes(const std::string& path, std::string_view content) {
  const std::string target = WriteTarget(path);
  struct stat old_status {};
  const bool exists = ::stat(target.c_str(), &old_status) == 0;
  // Judged from the bits, not from access(): the updater may run as root,
  // who could write a file that the user has made read-only.
  if (exists && posix::IsReadOnly(old_status.st_mode)) {
    throw EIniFileException(path);
  }
  if (exists && !S_ISREG(old_status.st_mode)) throw EIniFileException(path);

  // A new file gets what creating it directly would give: 0666 less the umask.
  posix::FileReplacement replacement(target, exists ? &old_status : nullptr, 0666);
  if (!replacement.ok() || !posix::WriteAll(replacement.fd(), content.data(), content.size()) ||
      !replacement.Commit(std::nullopt)) {
    throw EIniFileException(path);
  }
}

}  // namespace platform::profile_file_os
