#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/Exceptions.hpp"
#include "platform/ProfileFile.hpp"

namespace platform::profile_file_os {

namespace {

// Closes the descriptor and, unless released, removes the temporary file, so
// that no failure path leaves one behind.
class TemporaryFile {
 public:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Release() { path_.clear(); }

 private:
  int fd_;
  std::string path_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

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

// Creates the temporary file beside `target` with O_EXCL, so that it never
// takes over another file; a name already in use is skipped.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temporary) {
  const std::size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                std::to_string(attempt) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void SyncFolderOf(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The rename is done; a failed flush of the folder only weakens durability.
  ::fsync(fd);
  ::close(fd);
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
  if (exists && (old_status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    throw EIniFileException(path);
  }
  if (exists && !S_ISREG(old_status.st_mode)) throw EIniFileException(path);

  std::string temporary_path;
  // A new file gets what creating it directly would give: 0666 less the umask.
  const int fd = CreateTemporary(target, 0666, temporary_path);
  if (fd < 0) throw EIniFileException(path);
  TemporaryFile temporary(fd, temporary_path);

  if (exists) {
    // Root replacing a user's file must hand it back to that user; anyone
    // else cannot give a file away and keeps it, which is all they can do.
    if (::fchown(temporary.fd(), old_status.st_uid, old_status.st_gid) != 0) {
      // Not fatal: see above.
    }
    if (::fchmod(temporary.fd(), old_status.st_mode & 07777) != 0) throw EIniFileException(path);
  }
  if (!WriteAll(temporary.fd(), content) || ::fsync(temporary.fd()) != 0 || !temporary.Close()) {
    throw EIniFileException(path);
  }
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) throw EIniFileException(path);
  temporary.Release();
  SyncFolderOf(target);
}

}  // namespace platform::profile_file_os
