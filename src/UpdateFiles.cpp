#include "UpdateFiles.hpp"

#include <algorithm>

#include "platform/CodePage.hpp"

namespace update_files {

bool IsNewerVersion(std::string_view offered, std::string_view installed) {
  // std::string_view compares through char_traits<char>, whose order is that
  // of unsigned char: exactly the byte order the versions are ranked by.
  return offered.compare(installed) > 0;
}

FileList FileList::Read(const platform::TIniFile& manifest) {
  FileList list;
  for (int n = 1; n <= kEntries; ++n) {
    list.entries[n - 1] = manifest.ReadString("updatelist", "up" + std::to_string(n), "");
  }
  return list;
}

std::vector<std::string> FileList::Walk() const {
  const auto first_empty =
      std::find_if(entries.begin(), entries.end(), [](const std::string& e) { return e.empty(); });
  return {entries.begin(), first_empty};
}

int FileList::AnnouncedCount() const {
  return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                        [](const std::string& e) { return !e.empty(); }));
}

std::optional<std::string> FileList::FirstUnsafeEntry() const {
  const std::vector<std::string> walk = Walk();
  for (std::size_t i = 0; i < walk.size(); ++i) {
    if (!IsSafeListedName(walk[i])) return "up" + std::to_string(i + 1) + "=" + walk[i];
  }
  return std::nullopt;
}

bool IsSafeListedName(std::string_view name) {
  // Every separator of either system counts: the name is sent to the server
  // and used below both folders.
  const std::string path = platform::BackslashesToSlashes(name, platform::SystemCodePage());
  if (path.empty() || path.front() == '/' || path.find(':') != std::string::npos) return false;
  std::string_view rest = path;
  while (true) {
    const std::size_t end = rest.find('/');
    if (rest.substr(0, end) == "..") return false;
    if (end == std::string_view::npos) return true;
    rest.remove_prefix(end + 1);
  }
}

}  // namespace update_files
