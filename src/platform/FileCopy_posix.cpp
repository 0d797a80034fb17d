#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/FileCopy.hpp"
#include "platform/FileReplacement_posix.hpp"

namespace platform {

namespace {

// Large enough that a big file takes few system calls, small enough that one
// call never runs for long.
constexpr std::size_t kRangeChunk = std::size_t{1} << 30;
constexpr std::size_t kBufferSize = std::size_t{1} << 20;

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

 private:
  int fd_;
};

bool CopyByReadWrite(int from, int to) {
  std::vector<char> buffer(kBufferSize);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!posix::WriteAll(to, buffer.data(), static_cast<std::size_t>(got))) return false;
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
    if (posix::IsReadOnly(target_status.st_mode)) return false;
    replacing = true;
  } else if (errno != ENOENT) {
    return false;
  }

  // Made only in an existing folder, never creating one; readable by nobody
  // else until it has its final permission bits.
  posix::FileReplacement out(target, replacing ? &target_status : nullptr, 0600);
  return out.ok() && CopyContent(in.get(), out.fd()) && out.Commit(source_status.st_mode & 07777);
}

}  // namespace platform
