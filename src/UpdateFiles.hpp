// The update files: the names in the program folder, the file list of the
// manifest, and the order of versions.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProfileFile.hpp"

namespace update_files {

/// Names relative to the program folder, written as in the manifest.
inline constexpr char kVersionFile[] = "version.ini";
inline constexpr char kUpdateFolder[] = "update";
inline constexpr char kSavedManifest[] = "update\\update.ini";
inline constexpr char kMainProgram[] = "Tolvier.exe";
/// The manifest's name below the update base address.
inline constexpr char kManifestName[] = "update.ini";
/// What a downloaded file's name is put under, below the program folder.
inline constexpr char kUpdateFolderPrefix[] = "update\\";

/// True when `offered` sorts above `installed`: byte by byte as unsigned
/// values, a text that is the beginning of the other being the smaller.
/// Empty text is smaller than any other, so an empty offer is never newer.
bool IsNewerVersion(std::string_view offered, std::string_view installed);

/// The manifest's file list: the entries up1 to up100 of section updatelist.
class FileList {
 public:
  static constexpr int kEntries = 100;

  /// Reads all 100 entries, once each, in ascending order.
  static FileList Read(const platform::TIniFile& manifest);

  /// The entries every walk visits: from entry 1 up to the first empty one,
  /// entry 100 at most.
  std::vector<std::string> Walk() const;

  /// The number of non-empty entries among all 100, those behind a gap included.
  int AnnouncedCount() const;

  /// The first entry of the walk whose name would leave the folder it is put
  /// under (an absolute path, a drive letter, a ".." part), as "upN=name".
  std::optional<std::string> FirstUnsafeEntry() const;

  std::array<std::string, kEntries> entries;
};

/// True when a listed name stays below whatever folder it is put under:
/// it is not empty, does not start with a folder separator ("\" or "/") or a
/// drive ("C:"), holds no ":" at all, and none of its parts is "..".
/// Separators are found by the rules of the system code page.
bool IsSafeListedName(std::string_view name);

}  // namespace update_files
