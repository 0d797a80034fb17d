#include <unistd.h>

#include <climits>
#include <vector>

#include "platform/ProgramFolder.hpp"

namespace platform {

std::string ProgramFolder() {
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  const std::string executable(buffer.data(), static_cast<std::size_t>(length));
  return executable.substr(0, executable.rfind(kFolderSeparator) + 1);
}

}  // namespace platform
