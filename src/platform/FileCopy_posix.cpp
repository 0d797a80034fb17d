#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/FileCopy.hpp"

namespace platform {

namespace {

// Large enough that a big file takes few system calls, small enough that one
// call never runs for long.
constexpr std::size_t kRangeChunk = std::size_t{1} << 30;
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// Keeps the hidden name within the 255 bytes a file name may have.
constexpr std::size_t kMaxNameInTemporary = 200;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  /// Closes now and tells whether the close succeeded: on some file systems
  /// a write error only shows here.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

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

bool CopyByReadWrite(int from, int to) {
  std::vector<char> buffer(kBufferSize);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(got))) return false;
  }
}

// copy_file_range lets the kernel move the data (or share the blocks, on file
// systems that can), without a round trip through this process. Where it
// cannot serve (across file systems on older kernels, unsupported file
// systems), the plain loop carries on from the same file offsets.
bool CopyContent(int from, int to) {
  for (;;) {
    const ssize_t moved = ::copy_file_range(from, nullptr, to, nullptr, kRangeChunk, 0);
    if (moved > 0) continue;
    if (moved == 0) {
      // Some file systems (those of the kernel's own files) report nothing
      // to copy instead of an error; one read tells whether the end was
      // really reached.
      return CopyByReadWrite(from, to);
    }
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
        errno == EPERM) {
      return CopyByReadWrite(from, to);
    }
    return false;
  }
}

}  // namespace

bool CopyFileReplacing(const std::string& source, const std::string& target) {
  const FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return false;
  struct stat source_status {};
  if (::fstat(in.get(), &source_status) != 0 || !S_ISREG(source_status.st_mode)) return false;

  // The target's properties are those of the file it names, through a link.
  struct stat target_status {};
  bool replacing = false;
  if (::stat(target.c_str(), &target_status) == 0) {
    if (!S_ISREG(target_status.st_mode)) return false;
    // Running as root would let any file be written; the bits tell what its
    // owner meant, as the read-only attribute does elsewhere.
    if ((target_status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    replacing = true;
  } else if (errno != ENOENT) {
    return false;
  }

  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) return false;
  std::string temporary = folder + "." + name.substr(0, kMaxNameInTemporary) + ".update-XXXXXX";
  // Made only in an existing folder, never creating one.
  FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!out.valid()) return false;

  bool ok = CopyContent(in.get(), out.get());
  if (ok && replacing) {
    // Only possible with the rights to; a file the caller could not give away
    // stays the caller's, as any file it writes would. Before the mode, since
    // a change of owner clears the set-id bits.
    [[maybe_unused]] const bool owner_kept =
        ::fchown(out.get(), target_status.st_uid, target_status.st_gid) == 0 ||
        ::fchown(out.get(), static_cast<uid_t>(-1), target_status.st_gid) == 0;
  }
  const mode_t mode = (replacing ? target_status.st_mode : source_status.st_mode) & 07777;
  ok = ok && ::fchmod(out.get(), mode) == 0;
  // On the disk before it takes the target's name, so that a crash cannot
  // leave the target named but empty.
  ok = ok && ::fsync(out.get()) == 0;
  ok = out.Close() && ok;
  ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Makes the new name itself lasting; the copy is complete either way.
  const FileDescriptor folder_fd(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder_fd.valid()) ::fsync(folder_fd.get());
  return true;
}

}  // namespace platform
