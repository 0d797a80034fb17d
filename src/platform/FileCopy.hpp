// Copying a downloaded file into place.
#pragma once

#include <string>

namespace platform {

/// Copies the file `source` onto `target` (full paths), replacing an
/// existing target and creating no folder. Returns true once the copy is
/// complete and in place; false on any failure, and then the target is
/// exactly as it was and nothing else is left behind.
///
/// The copy is first written to a hidden file beside the target (in the
/// target's folder, named "." + the target's name + ".update-<process>-<n>"),
/// flushed to the disk and then renamed over the target in one step: the
/// target is at every moment either the old file or the complete new one, even
/// if the copying process is killed midway (only the hidden file may then be
/// left).
///
/// Permissions: a replaced target keeps its permission bits (an executable
/// stays executable) and, as far as the caller may set them, its owner and
/// group; a new target takes the source's permission bits (the process's
/// umask does not apply).
///
/// A symbolic link as target: the link itself is replaced by the new file, as
/// a rename does, and the file it pointed to is left alone; its permission
/// bits, owner and read-only state are taken from the file it points to (from
/// the source when it points nowhere).
///
/// Fails when: the source is missing, unreadable or not a regular file; the
/// target's folder is missing or not writable; the target is read-only (no
/// write permission bit set for anyone; checked from the bits, so it holds even
/// for a caller with root rights) or is a folder; or any read or write fails
/// (a full disk, for instance).
bool CopyFileReplacing(const std::string& source, const std::string& target);

}  // namespace platform
