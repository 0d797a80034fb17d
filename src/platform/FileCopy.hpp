// Copying a downloaded file into place.
// (Declarations to be completed by the implementation.)
#pragma once

#include <string>

namespace platform {

/// Copies the file `source` onto `target` (full paths), replacing an
/// existing target and creating no folder. Returns false on any failure.
bool CopyFileReplacing(const std::string& source, const std::string& target);

}  // namespace platform
