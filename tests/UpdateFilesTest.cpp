#include "UpdateFiles.hpp"

#include <gtest/gtest.h>

using namespace update_files;

namespace {

TEST(UpdateFiles, VersionOrder) {
  struct Case {
    const char* offered;
    const char* installed;
    bool newer;
  };
  constexpr Case kCases[] = {
      {"1.10", "1.9", false},
      {"1.9", "1.10", true},
      {"2.0", "10.0", true},
      {"1.0.1", "1.0", true},
      {"1.0", "1.0", false},
      {"Beta2", "beta1", false},
      {"", "1.0", false},
      {"", "", false},
      {"1.0", "", true},
      // Bytes above 0x7F rank as unsigned values, above every ASCII byte.
      {"\xB0\xE6", "z", true},
      {"z", "\xB0\xE6", false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(IsNewerVersion(c.offered, c.installed), c.newer)
        << '"' << c.offered << "\" against \"" << c.installed << '"';
  }
}

FileList ListOf(std::initializer_list<std::pair<int, const char*>> entries) {
  FileList list;
  for (const auto& [n, name] : entries) list.entries[n - 1] = name;
  return list;
}

TEST(UpdateFiles, WalkStopsAtTheFirstGapWhileTheCountSeesAll) {
  const FileList list = ListOf({{1, "a"}, {2, "b"}, {4, "d"}});
  EXPECT_EQ(list.Walk(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(list.AnnouncedCount(), 3);

  const FileList empty_first = ListOf({{2, "b"}});
  EXPECT_TRUE(empty_first.Walk().empty());
  EXPECT_EQ(empty_first.AnnouncedCount(), 1);

  FileList full;
  for (int n = 1; n <= 100; ++n) full.entries[n - 1] = "f" + std::to_string(n);
  EXPECT_EQ(full.Walk().size(), 100u);
  EXPECT_EQ(full.Walk().back(), "f100");
  EXPECT_EQ(full.AnnouncedCount(), 100);
}

TEST(UpdateFiles, UnsafeNames) {
  struct Case {
    const char* name;
    bool safe;
  };
  constexpr Case kCases[] = {
      {"Tolvier.exe", true}, {"skin\\main.dat", true},    {"a/b.txt", true},
      {"..dat", true},       {"a..b\\c", true},           {".\\x", true},
      {"..\\x.dll", false},  {"a\\..\\..\\x", false},     {"a/../x", false},
      {"..", false},         {"\\Windows\\x.dll", false}, {"/etc/passwd", false},
      {"C:\\x.dll", false},  {"c:x.dll", false},          {"x.txt:stream", false},
      {"skin\\..", false},
  };
  for (const Case& c : kCases) EXPECT_EQ(IsSafeListedName(c.name), c.safe) << c.name;
}

TEST(UpdateFiles, FirstUnsafeEntryLooksOnlyAtTheWalk) {
  EXPECT_EQ(ListOf({{1, "a"}, {2, "..\\b"}}).FirstUnsafeEntry(), "up2=..\\b");
  EXPECT_EQ(ListOf({{1, "a"}, {3, "..\\b"}}).FirstUnsafeEntry(), std::nullopt);
}

}  // namespace
