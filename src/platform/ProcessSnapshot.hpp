// The running processes, and stopping one of them.
// (Declarations to be completed by the implementation.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// One running process as the snapshot saw it.
struct ProcessEntry {
  std::uint32_t id = 0;
  /// The process's executable as text (see SnapshotProcesses).
  std::string executable;
};

/// Every process running at the moment of the call. Empty when none can be listed.
std::vector<ProcessEntry> SnapshotProcesses();

/// Requests the immediate end of process `id` without waiting for it.
/// Returns true when the system accepted the request.
bool TerminateProcessById(std::uint32_t id);

}  // namespace platform
