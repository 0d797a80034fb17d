// The program folder: the folder of the running updater. Every file and
// folder the updater touches is addressed by a full path built from it, so
// the working folder never matters.
#pragma once

#include <string>
#include <string_view>

#include "platform/CodePage.hpp"

namespace platform {

/// The folder separator of this system, which every folder text ends with.
inline constexpr char kFolderSeparator = '/';

/// The folder that holds the running executable, ending with kFolderSeparator.
/// Taken from the full path of the process's own executable (on Linux the
/// link /proc/self/exe), cut after its last separator. Returns empty text
/// when the system does not tell the executable's path.
std::string ProgramFolder();

/// The full path of a name written as in the update manifest: `folder`
/// (ending with a separator) followed by `name`, whose backslashes become
/// this system's separator by the rule of BackslashesToSlashes. The name's
/// bytes are otherwise kept.
std::string FullPath(std::string_view folder, std::string_view name,
                     CodePage code_page = SystemCodePage());

/// True when `path` lies strictly inside `folder` (a folder text ending
/// with a separator): it starts with `folder`, has something after it, and
/// none of its parts after `folder` is "." or "..".
bool LiesInside(std::string_view path, std::string_view folder);

}  // namespace platform
