// Putting new content in the place of a file in one step, for the parts of
// this system that write into the program folder (file copies, profile
// files). Included by *_posix.cpp files only.
//
// The content goes to a hidden file beside the target, named "." + the
// target's name + ".update-<process>-<n>", which is flushed to the disk and
// then renamed over the target: the target is at every moment either the
// old file or the complete new one, even if the process is killed midway
// (only the hidden file may then be left).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace platform::posix {

/// True when `mode` lets nobody write the file. Such a file counts as
/// read-only for every caller, root included, as the read-only attribute
/// does on Windows: the bits tell what its owner meant.
inline bool IsReadOnly(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

/// Writes all `size` bytes, going on after interrupted or partial writes.
/// Returns false when a write fails or makes no progress.
bool WriteAll(int fd, const char* data, std::size_t size);

class FileReplacement {
 public:
  /// Makes the hidden file beside `target` (a full path) with the permission
  /// bits `create_mode` less the umask; no folder is ever created. A link as
  /// `target` is replaced itself, as a rename does (resolve it first to write
  /// through it). `replaced` is the status of the file the target names when
  /// it exists, else nullptr. ok() tells whether the hidden file was made.
  FileReplacement(const std::string& target, const struct stat* replaced, mode_t create_mode);
  /// Closes the hidden file and, unless committed, removes it.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  bool ok() const { return fd_ >= 0; }
  /// The hidden file, open for writing.
  int fd() const { return fd_; }

  /// Gives the hidden file the replaced file's owner and group (as far as the
  /// caller may: a file it cannot give away stays its own) and permission
  /// bits, or `new_mode` for a new target (none: as made), flushes it to the
  /// disk, renames it over the target and flushes the folder. Returns false
  /// on any failure; the target is then as it was and the hidden file gone.
  bool Commit(std::optional<mode_t> new_mode);

 private:
  std::string target_;
  std::string hidden_;
  std::optional<struct stat> replaced_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace platform::posix
