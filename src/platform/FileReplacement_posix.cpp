#include "platform/FileReplacement_posix.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

namespace {

// Keeps the hidden name within the 255 bytes a file name may have.
constexpr std::size_t kMaxNameInHidden = 200;
// Names already taken (left by a killed run, say) are stepped over.
constexpr int kAttempts = 100;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

FileReplacement::FileReplacement(const std::string& target, const struct stat* replaced,
                                 mode_t create_mode)
    : target_(target) {
  if (replaced != nullptr) replaced_ = *replaced;
  const std::string folder = FolderOf(target);
  const std::string name = target.substr(folder.size());
  if (name.empty()) return;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    hidden_ = folder + "." + name.substr(0, kMaxNameInHidden) + ".update-" +
              std::to_string(::getpid()) + "-" + std::to_string(counter++);
    // O_EXCL: the hidden file never takes over a file that is there already.
    fd_ = ::open(hidden_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, create_mode);
    if (fd_ >= 0 || errno != EEXIST) break;
  }
  if (fd_ < 0) hidden_.clear();
}

FileReplacement::~FileReplacement() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !hidden_.empty()) ::unlink(hidden_.c_str());
}

bool FileReplacement::Commit(std::optional<mode_t> new_mode) {
  if (fd_ < 0) return false;
  if (replaced_) {
    // Before the mode, since a change of owner clears the set-id bits.
    [[maybe_unused]] const bool owner_kept =
        ::fchown(fd_, replaced_->st_uid, replaced_->st_gid) == 0 ||
        ::fchown(fd_, static_cast<uid_t>(-1), replaced_->st_gid) == 0;
    new_mode = replaced_->st_mode & 07777;
  }
  if (new_mode && ::fchmod(fd_, *new_mode) != 0) return false;
  // On the disk before it takes the target's name, so that a crash cannot
  // leave the target named but empty.
  if (::fsync(fd_) != 0) return false;
  const int fd = fd_;
  fd_ = -1;
  // Some file systems report a write error only when the file is closed.
  if (::close(fd) != 0) return false;
  if (::rename(hidden_.c_str(), target_.c_str()) != 0) return false;
  committed_ = true;

  // Makes the new name itself lasting; the replacement is complete either way.
  const std::string folder = FolderOf(target_);
  const int folder_fd =
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
  return true;
}

}  // namespace platform::posix
