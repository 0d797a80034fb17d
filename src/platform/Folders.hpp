// Creating a folder.
#pragma once

#include <string>

namespace platform {

/// Creates the one folder `path` (a full path), not its parents. Returns
/// false when it could not be made, an existing folder or file included;
/// callers may ignore this, a later save into it then fails with its own error.
bool CreateFolder(const std::string& path);

}  // namespace platform
