#include "Tlhelp323.hpp"

#include "platform/ProcessSnapshot.hpp"
#include "platform/ProgramFolder.hpp"

namespace {

// Executable texts come as Windows paths, bare names or, here, paths with
// this system's own separator.
constexpr char kSeparators[] = {'\\', ':', platform::kFolderSeparator, '\0'};

}  // namespace

bool ExecutableMatches(std::string_view executable, std::string_view name,
                       platform::CodePage code_page) {
  const std::string wanted = platform::AsciiUpperCase(name);
  return platform::AsciiUpperCase(platform::FileNamePart(executable, kSeparators, code_page)) ==
             wanted ||
         platform::AsciiUpperCase(executable) == wanted;
}

std::int32_t StopProcessByName(const std::string& name) {
  std::int32_t result = 0;
  // An empty name would match every process whose text ends with a
  // separator; no program is called that.
  if (name.empty()) return result;
  const platform::CodePage code_page = platform::SystemCodePage();
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses()) {
    if (ExecutableMatches(entry.executable, name, code_page)) {
      result = platform::KillProcess(entry) ? 1 : 0;
    }
  }
  return result;
}
