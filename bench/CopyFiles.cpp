// The installation's copies in a process of their own: each listed file of
// <source folder> copied onto the same name in <target folder> with
// platform::CopyFileReplacing, one after the other, as the updater installs.
//
//   CopyFiles <source folder> <target folder> <name>...
//
// Exits 0 when every copy succeeded, 1 at the first failure.
#include <cstdio>
#include <string>

#include "platform/FileCopy.hpp"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <source folder> <target folder> <name>...\n", argv[0]);
    return 2;
  }
  const std::string source = std::string(argv[1]) + "/";
  const std::string target = std::string(argv[2]) + "/";
  for (int i = 3; i < argc; ++i) {
    if (!platform::CopyFileReplacing(source + argv[i], target + argv[i])) {
      std::fprintf(stderr, "copying %s failed\n", argv[i]);
      return 1;
    }
  }
  return 0;
}
