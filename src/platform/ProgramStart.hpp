// Starting another program.
#pragma once

#include <string>

namespace platform {

/// Starts the program `path` (a full path; a relative one is taken from the
/// current folder) without arguments and without waiting for it to end.
/// Returns true once the program runs, false when it could not be started:
/// the file is missing, is not executable, is no program the system can run,
/// or its folder cannot be entered.
///
/// The program is started as a process of its own, independent of the
/// caller, so that it goes on running when the caller quits: it gets the first
/// argument `path` and no other, the caller's environment, its own session
/// (no controlling terminal), no signal blocked or ignored, no open file
/// besides its standard input, output and error, which read from and write
/// to /dev/null, and its own folder (the folder part of `path`) as its working
/// folder. It is not a child of the caller, and no process of the start is
/// left for the caller to collect.
bool StartProgram(const std::string& path);

}  // namespace platform
