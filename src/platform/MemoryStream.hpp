// The receive buffer: the bytes of one answer's body, held whole in memory
// until they are saved as a file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class TMemoryStream {
 public:
  /// Makes room for `size` bytes in all, so that a body of known length is
  /// stored without the buffer growing again. Throws std::bad_alloc when the
  /// memory cannot be had.
  void Reserve(std::size_t size) { bytes_.reserve(size); }

  /// Appends `size` bytes. Throws std::bad_alloc when memory is exhausted;
  /// the bytes held before stay.
  void Write(const void* data, std::size_t size) {
    const auto* first = static_cast<const char*>(data);
    bytes_.insert(bytes_.end(), first, first + size);
  }

  /// Drops every byte held.
  void Clear() { bytes_.clear(); }

  const char* Data() const { return bytes_.data(); }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Capacity() const { return bytes_.capacity(); }
  std::string_view View() const { return {bytes_.data(), bytes_.size()}; }

  /// Saves every byte held as the file `path` (a full path), created or
  /// replaced; no folder is created. An empty buffer gives an empty file.
  /// Throws EFCreateError when the file cannot be opened for writing, a file
  /// without any write permission bit counting as read-only even for root,
  /// and EWriteError when fewer bytes reach the file than the buffer holds
  /// (the file then keeps what was written). The file is closed in every case.
  void SaveToFile(const std::string& path) const;

 private:
  std::vector<char> bytes_;
};

}  // namespace platform
