// Stopping every running instance of a program by its executable's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/CodePage.hpp"

/// True when a process whose executable text is `executable` counts as an
/// instance of the program `name`. Two tests, the second made only when the
/// first fails:
/// 1. the file-name part of `executable` (what follows its last "\", ":" or
///    this system's folder separator; a "\" that is the second byte of a
///    double-byte character of `code_page` is no separator) equals `name`;
/// 2. the whole of `executable` equals `name`.
/// Both compare after upper-casing ASCII letters only (platform::AsciiUpperCase):
/// other letters, accented or full-width, must match byte for byte. `name` is
/// never split, so a name with a folder part matches only a whole equal text.
/// Never fails.
bool ExecutableMatches(std::string_view executable, std::string_view name,
                       platform::CodePage code_page);

/// Stops every running process whose executable matches `name`
/// (ExecutableMatches with the system's code page), in the order of the
/// process snapshot (platform::SnapshotProcesses, which leaves out the
/// calling process, so the caller never stops itself), by an immediate
/// termination request (platform::KillProcess). Returns as soon as the walk is
/// over, without waiting for the stopped processes to end.
///
/// Returns the result of the last termination request: 1 when the system
/// accepted it, 0 when it refused it or the process had gone; 0 when no
/// process matched, `name` is empty (an empty name stops nothing) or no
/// process list could be taken. Refusals are not
/// reported otherwise, and the walk goes on past them. Never throws beyond
/// std::bad_alloc.
std::int32_t StopProcessByName(const std::string& name);
