#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Exceptions.hpp"
#include "platform/MemoryStream.hpp"

namespace platform {

std::string SystemErrorMessage(int error_number) {
  std::string message = std::strerror(error_number);
  while (!message.empty() &&
         (static_cast<unsigned char>(message.back()) <= ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

namespace {

[[noreturn]] void ThrowCannotCreate(const std::string& path, int error_number) {
  throw EFCreateError("Cannot create file \"" + path + "\". " + SystemErrorMessage(error_number));
}

// Closes the descriptor on every way out, the error paths included.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { ::close(fd_); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

void TMemoryStream::SaveToFile(const std::string& path) const {
  // A read-only file cannot be replaced, as on Windows, even when the
  // updater runs as root and the kernel would let it write.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
      (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    ThrowCannotCreate(path, EACCES);
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ThrowCannotCreate(path, errno);
  const FileDescriptor file(fd);

  // One write, unless the kernel caps a single write (at about 2 GiB):
  // then the rest follows as long as each write makes progress.
  std::size_t written = 0;
  while (written < bytes_.size()) {
    const ssize_t result = ::write(file.get(), bytes_.data() + written, bytes_.size() - written);
    if (result <= 0) throw EWriteError();
    written += static_cast<std::size_t>(result);
  }
}

}  // namespace platform
