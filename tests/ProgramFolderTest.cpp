#include "platform/ProgramFolder.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

namespace {

TEST(ProgramFolder, IsTheExecutablesFolderWhateverTheWorkingFolder) {
  char executable[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", executable, sizeof executable - 1), 0);
  const std::string expected =
      std::string(executable).substr(0, std::string(executable).rfind('/') + 1);

  char previous[PATH_MAX] = {};
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir("/"), 0);
  const std::string folder = platform::ProgramFolder();
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(folder, expected);
  EXPECT_EQ(folder.back(), '/');
}

TEST(ProgramFolder, FullPathTurnsManifestSeparators) {
  EXPECT_EQ(platform::FullPath("/opt/q/", "update\\update.ini", platform::CodePage::kSingleByte),
            "/opt/q/update/update.ini");
  EXPECT_EQ(platform::FullPath("/opt/q/", "\xB1\x5C.txt", platform::CodePage::kDoubleByte936),
            "/opt/q/\xB1\x5C.txt");
}

TEST(ProgramFolder, LiesInside) {
  struct Case {
    const char* path;
    bool inside;
  };
  const Case kCases[] = {
      {"/opt/q/update", true},  {"/opt/q/update/", true},    {"/opt/q/a/b", true},
      {"/opt/q/", false},       {"/opt/q", false},           {"/opt/qq/update", false},
      {"/opt/q/../etc", false}, {"/opt/q/a/../../x", false}, {"/opt/q/./update", false},
      {"/etc/passwd", false},   {"/opt/q/..x", true},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(platform::LiesInside(c.path, "/opt/q/"), c.inside) << c.path;
  EXPECT_FALSE(platform::LiesInside("/opt/q/update", "/opt/q"));  // a folder text ends with "/"
  EXPECT_FALSE(platform::LiesInside("/update", ""));
}

}  // namespace
