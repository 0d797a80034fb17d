// The receive buffer: the bytes of one answer's body, held whole in memory
// until they are saved as a file.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

/// Large blocks of memory, from the operating system directly. A body of
/// hundreds of MiB written into fresh memory costs one page fault per small
/// page; where the system offers large pages for such a block, it asks for
/// them, which cuts that cost several times over.
namespace large_block {

/// Blocks of at least this many bytes are large blocks; smaller ones come
/// from the ordinary heap.
inline constexpr std::size_t kThreshold = std::size_t{1} << 20;

/// A new block of at least `size` bytes (above 0), its content unspecified.
/// Throws std::bad_alloc when the memory (or the address space) cannot be had.
void* Allocate(std::size_t size);

/// Gives back a block that Allocate made for the same `size`. Never fails.
void Free(void* block, std::size_t size) noexcept;

}  // namespace large_block

class TMemoryStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() { Release(); }
  // A body may be hundreds of MiB: it is handed on, never copied.
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;
  /// Takes the bytes over; `other` is left empty.
  TMemoryStream(TMemoryStream&& other) noexcept { Swap(other); }
  TMemoryStream& operator=(TMemoryStream&& other) noexcept {
    if (this != &other) {
      Release();
      Swap(other);
    }
    return *this;
  }

  /// Makes room for `size` bytes in all, so that a body of known length is
  /// stored without the buffer growing again. Throws std::bad_alloc when the
  /// memory cannot be had; the bytes held before then stay.
  void Reserve(std::size_t size) {
    if (size > capacity_) Reallocate(size);
  }

  /// Appends `size` bytes, growing the buffer (at least twofold) when they
  /// do not fit. Throws std::bad_alloc when memory is exhausted; the bytes
  /// held before stay.
  void Write(const void* data, std::size_t size) {
    if (size == 0) return;
    if (size > capacity_ - size_) {
      if (size > static_cast<std::size_t>(-1) - size_) throw std::bad_alloc();
      const std::size_t needed = size_ + size;
      const std::size_t doubled =
          capacity_ > static_cast<std::size_t>(-1) / 2 ? needed : capacity_ * 2;
      Reallocate(needed > doubled ? needed : doubled);
    }
    std::memcpy(data_ + size_, data, size);
    size_ += size;
  }

  /// Drops every byte held and gives their memory back.
  void Clear() { Release(); }

  const char* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  /// How many bytes fit before the buffer must grow.
  std::size_t Capacity() const { return capacity_; }
  std::string_view View() const { return {data_, size_}; }

  /// Saves every byte held as the file `path` (a full path), created or
  /// replaced; no folder is created. An empty buffer gives an empty file.
  /// Throws EFCreateError when the file cannot be opened for writing, a file
  /// without any write permission bit counting as read-only even for root,
  /// and EWriteError when fewer bytes reach the file than the buffer holds
  /// (the file then keeps what was written). The file is closed in every case.
  void SaveToFile(const std::string& path) const;

 private:
  static char* AllocateBlock(std::size_t capacity) {
    if (capacity >= large_block::kThreshold) {
      return static_cast<char*>(large_block::Allocate(capacity));
    }
    return static_cast<char*>(::operator new(capacity));
  }
  static void FreeBlock(char* block, std::size_t capacity) noexcept {
    if (block == nullptr) return;
    if (capacity >= large_block::kThreshold) {
      large_block::Free(block, capacity);
    } else {
      ::operator delete(block);
    }
  }

  // Moves the bytes held into a new block of `capacity` bytes; on failure
  // nothing changes.
  void Reallocate(std::size_t capacity) {
    char* block = AllocateBlock(capacity);
    if (size_ > 0) std::memcpy(block, data_, size_);
    FreeBlock(data_, capacity_);
    data_ = block;
    capacity_ = capacity;
  }
  void Release() noexcept {
    FreeBlock(data_, capacity_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
  }
  void Swap(TMemoryStream& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace platform
