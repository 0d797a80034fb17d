// Stopping every running instance of a program by its executable's name.
#pragma once

#include <cstdint>
#include <string>

/// Stops every running process whose executable matches `name`: its file-name
/// part, or failing that the whole executable text, equals `name` with ASCII
/// letters compared without regard to case. Returns the result of the last
/// termination request (non-zero when accepted), 0 when none matched.
/// (To be completed by the implementation.)
std::int32_t StopProcessByName(const std::string& name);
