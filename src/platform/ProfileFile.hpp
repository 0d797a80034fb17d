// Profile (INI) files with the Windows profile rules.
// (Declarations to be completed by the implementation, with the rules.)
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// A profile file, known by its full path. Making one touches no file; only
/// ReadString and WriteString reach the disk, each opening the file anew.
class TIniFile {
 public:
  explicit TIniFile(std::string path) : path_(std::move(path)) {}
  const std::string& FileName() const { return path_; }

  /// The value of `key` in `section`, at most 2047 bytes; `default_value`
  /// when the file, the section or the key is missing. Never fails.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;

  /// Sets `key` in `section` to `value`, creating the file, the section or
  /// the key where missing. Throws EIniFileException when the file cannot
  /// be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  std::string path_;
};

}  // namespace platform
