// Removing a folder the way a person would on this desktop: to the trash.
#pragma once

#include <string>

namespace platform {

/// Moves `path` (a full path to a folder or file), with everything in it,
/// to the desktop's trash; where its volume has no trash, deletes it
/// outright. Asks nothing and reports nothing: a missing path, or one that
/// can be removed only in part, is passed over in silence.
void MoveToTrash(const std::string& path);

}  // namespace platform
