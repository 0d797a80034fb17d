#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/Exceptions.hpp"
#include "platform/FileReplacement_posix.hpp"
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

// The size of a large page of the processor (x86-64 and arm64 with 4 KiB
// pages); a block is mapped in whole large pages and starts on one.
constexpr std::size_t kLargePage = std::size_t{2} << 20;

// The length of the mapping that holds a block of `size` bytes; for sizes
// that Allocate accepted (every other one overflows).
std::size_t MappedLength(std::size_t size) { return (size + kLargePage - 1) & ~(kLargePage - 1); }

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

namespace large_block {

void* Allocate(std::size_t size) {
  // Beyond any address space; the sums below would overflow.
  if (size > SIZE_MAX / 2) throw std::bad_alloc();
  const std::size_t length = MappedLength(size);
  // One large page more than needed, so that a block starting on a large
  // page can be cut out of it; the rest goes back at once.
  void* raw = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kLargePage - 1) & ~std::uintptr_t{kLargePage - 1};
  const std::size_t head = aligned - start;
  if (head > 0) ::munmap(raw, head);
  if (head < kLargePage) ::munmap(reinterpret_cast<char*>(aligned) + length, kLargePage - head);
  auto* block = reinterpret_cast<void*>(aligned);
  // Each fault then fills a whole large page where the system has them to
  // give (transparent huge pages): a 256 MiB body costs 128 faults instead
  // of 65536, which made it several times faster to receive. Where the
  // system has none, this fails harmlessly and small pages serve. The pages
  // are not populated up front: faulting them in as the body arrives keeps
  // the window serviced between pieces, however large the body.
  ::madvise(block, length, MADV_HUGEPAGE);
  return block;
}

void Free(void* block, std::size_t size) noexcept { ::munmap(block, MappedLength(size)); }

}  // namespace large_block

void TMemoryStream::SaveToFile(const std::string& path) const {
  // A read-only file cannot be replaced, as on Windows, even when the
  // updater runs as root and the kernel would let it write.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
      posix::IsReadOnly(status.st_mode)) {
    ThrowCannotCreate(path, EACCES);
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ThrowCannotCreate(path, errno);
  const FileDescriptor file(fd);

  // One write, unless the kernel caps a single write (at about 2 GiB):
  // then the rest follows as long as each write makes progress.
  std::size_t written = 0;
  while (written < size_) {
    const ssize_t result = ::write(file.get(), data_ + written, size_ - written);
    if (result <= 0) throw EWriteError();
    written += static_cast<std::size_t>(result);
  }
}

}  // namespace platform
