// The running processes, and stopping one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// One running process as the snapshot saw it.
struct ProcessEntry {
  /// The process identifier.
  std::uint32_t id = 0;
  /// The process's executable as text (see SnapshotProcesses for where it comes from).
  std::string executable;
  /// When the process started, in the system's own units; together with `id`
  /// it names this one process, so that a process that ends and whose
  /// identifier is given to a new one is never mistaken for it. 0 when unknown.
  std::uint64_t start_time = 0;
};

/// Every process running at the moment of the call, in increasing order of
/// identifier, except the calling process itself (so that no caller can stop
/// itself by accident: it would end before its work is done).
///
/// On Linux the list is read from the numeric entries of /proc, and the
/// executable text of a process is:
/// - the full path of its executable, read from the link /proc/<id>/exe. When
///   the executable file was removed or replaced after the start (the
///   installation replaces files of running programs), the system appends
///   " (deleted)" to the link's text; that suffix is taken off, so the process
///   still shows as the program it was started from. A file whose name really
///   ends with " (deleted)" keeps it, since it was not removed.
/// - failing that (another user's process while not running as root, which
///   the system refuses to show the link of), the first argument of its
///   command line (argv[0], up to its first NUL byte, as /proc/<id>/cmdline
///   holds it): usually the name or path that the program was started by.
/// - failing both (kernel threads, processes that ended meanwhile, zombies),
///   the process is left out: there is nothing to match and nothing to stop.
/// The text is kept whole, however long; it is never cut to a fixed size.
///
/// A process that ends during the walk may be missing or listed. Returns an
/// empty list when /proc cannot be read; never throws beyond std::bad_alloc.
std::vector<ProcessEntry> SnapshotProcesses();

/// Requests the immediate end of the process `entry` (on Linux: SIGKILL, which
/// the process can neither catch nor ignore) without waiting for it to end.
/// The request is only sent when the process with `entry.id` is still the one
/// the snapshot saw (same start time), so a reused identifier is never hit.
/// Returns true when the system accepted the request; false when the process
/// has ended or its identifier now belongs to another process, or the system
/// refused (for instance a process of another user while not running as root).
bool KillProcess(const ProcessEntry& entry);

}  // namespace platform
