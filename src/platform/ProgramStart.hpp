// Starting another program.
// (Declarations to be completed by the implementation.)
#pragma once

#include <string>

namespace platform {

/// Starts the program `path` (a full path) without arguments and without
/// waiting for it. Returns false when it could not be started.
bool StartProgram(const std::string& path);

}  // namespace platform
