#include "platform/ProgramFolder.hpp"

namespace platform {

std::string FullPath(std::string_view folder, std::string_view name, CodePage code_page) {
  std::string path(folder);
  path += BackslashesToSlashes(name, code_page);
  return path;
}

bool LiesInside(std::string_view path, std::string_view folder) {
  if (folder.empty() || folder.back() != kFolderSeparator || !path.starts_with(folder)) {
    return false;
  }
  std::string_view rest = path.substr(folder.size());
  if (rest.empty()) return false;
  while (!rest.empty()) {
    const std::size_t end = rest.find(kFolderSeparator);
    const std::string_view part = rest.substr(0, end);
    if (part == "." || part == "..") return false;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace platform
