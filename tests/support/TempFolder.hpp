// A program folder of its own for each test: a fresh temporary folder,
// removed with everything in it when the test ends.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

class TempFolder {
 public:
  /// A new folder below `base`, or below $TMPDIR (else /tmp) when empty.
  explicit TempFolder(const std::string& base = "");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  /// The folder, ending with "/".
  const std::string& path() const { return path_; }
  /// The full path of `name` (written with "/") inside the folder.
  std::string operator/(std::string_view name) const { return path_ + std::string(name); }

  /// Writes `content` as the file `name`, creating no folder.
  void Write(std::string_view name, std::string_view content) const;
  /// The content of the file `name`; throws std::runtime_error when it is missing.
  std::string Read(std::string_view name) const;
  bool Exists(std::string_view name) const;
  void MakeFolder(std::string_view name) const;

 private:
  std::string path_;
};

}  // namespace test_support
