#include <sys/stat.h>

#include "platform/Folders.hpp"

namespace platform {

bool CreateFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

}  // namespace platform
