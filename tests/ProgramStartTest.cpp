#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ProgramStart.hpp"
#include "support/TempFolder.hpp"
#include "support/programs/StubProcess.hpp"

namespace {

using platform::StartProgram;
using test_support::StubMark;
using test_support::TempFolder;
using test_support::WaitForStubMarks;

// The processes whose parent is this one, from /proc: the children, running
// or ended and not yet collected.
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  const std::string self = std::to_string(::getpid());
  for (const auto& item : std::filesystem::directory_iterator("/proc")) {
    const std::string name = item.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(item.path() / "stat");
    std::string content;
    std::getline(stat, content);
    const std::size_t close = content.rfind(')');
    if (close == std::string::npos) continue;
    // After ")": the state, then the parent's id.
    std::istringstream fields(content.substr(close + 1));
    std::string state;
    std::string parent;
    fields >> state >> parent;
    if (parent == self) children.push_back(std::stoi(name));
  }
  return children;
}

std::string RealPath(const std::string& path) { return std::filesystem::canonical(path).string(); }

// The stand-in in a fresh folder, started from elsewhere. Under a name of its
// own: tests that stop every "Tolvier.exe" may run at the same time.
class ProgramStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(TOLVIER_STUB_PATH, program_);
    // Marks go next to the program when no file is named for them.
    ::unsetenv("TOLVIER_STUB_MARK");
    ::setenv("TOLVIER_STUB_SECONDS", "60", 1);
  }
  void TearDown() override {
    for (pid_t pid : started_) {
      ::kill(pid, SIGKILL);
      EXPECT_TRUE(test_support::WaitUntilProcessEnds(pid));
    }
    ::unsetenv("TOLVIER_STUB_SECONDS");
  }
  // Waits for `count` marks and remembers their processes for the cleanup.
  std::vector<StubMark> Marks(std::size_t count) {
    std::vector<StubMark> marks = WaitForStubMarks(folder_ / "started.mark", count);
    for (const StubMark& mark : marks) started_.push_back(std::stoi(mark.at("pid")));
    return marks;
  }

  TempFolder folder_;
  const std::string program_ = folder_ / ("Started" + std::to_string(::getpid()) + ".exe");
  std::vector<pid_t> started_;
};

TEST_F(ProgramStartTest, StartsDetachedInItsOwnFolderWithNullStreams) {
  ASSERT_TRUE(StartProgram(program_));
  // Returns once the program runs; no process of the start is left to collect.
  EXPECT_TRUE(Children().empty());

  const std::vector<StubMark> marks = Marks(1);
  ASSERT_EQ(marks.size(), 1u);
  const StubMark& mark = marks[0];
  EXPECT_EQ(mark.at("argc"), "1");
  EXPECT_EQ(mark.at("argv0"), program_);
  EXPECT_EQ(RealPath(mark.at("cwd")), RealPath(folder_.path()));
  EXPECT_NE(RealPath(mark.at("cwd")), RealPath(std::filesystem::current_path()));
  EXPECT_EQ(mark.at("sid"), mark.at("pid"));
  EXPECT_NE(mark.at("ppid"), std::to_string(::getpid()));
  EXPECT_EQ(mark.at("stdin"), "/dev/null");
  EXPECT_EQ(mark.at("stdout"), "/dev/null");
  EXPECT_EQ(mark.at("stderr"), "/dev/null");
}

// With this process as the reaper of orphans, the started program becomes its
// child once the start has left it: then it is the only child, and no ended
// helper process is left uncollected.
TEST_F(ProgramStartTest, LeavesNoEndedProcessBehind) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const bool started = StartProgram(program_);
  const std::vector<StubMark> marks = Marks(1);
  const std::vector<pid_t> children = Children();
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);

  ASSERT_TRUE(started);
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(children, std::vector<pid_t>{std::stoi(marks[0].at("pid"))});
  for (pid_t child : children) {
    ::kill(child, SIGKILL);
    EXPECT_TRUE(test_support::WaitForChild(child, std::chrono::seconds(10)));
  }
}

TEST_F(ProgramStartTest, RelativePathIsTakenFromTheCurrentFolder) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder_.path());
  const bool started = StartProgram(std::filesystem::path(program_).filename().string());
  std::filesystem::current_path(before);

  ASSERT_TRUE(started);
  const std::vector<StubMark> marks = Marks(1);
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(RealPath(marks[0].at("argv0")), RealPath(program_));
  EXPECT_EQ(RealPath(marks[0].at("cwd")), RealPath(folder_.path()));
}

TEST_F(ProgramStartTest, ReportsProgramsThatCannotStart) {
  folder_.Write("not-executable", "#!/bin/sh\n");
  folder_.Write("no-program", "neither a script nor a binary");
  ASSERT_EQ(::chmod((folder_ / "no-program").c_str(), 0755), 0);
  folder_.MakeFolder("folder");

  EXPECT_FALSE(StartProgram(folder_ / "missing.exe"));
  EXPECT_FALSE(StartProgram(folder_ / "nofolder/Tolvier.exe"));
  EXPECT_FALSE(StartProgram(folder_ / "not-executable"));
  EXPECT_FALSE(StartProgram(folder_ / "no-program"));
  EXPECT_FALSE(StartProgram(folder_ / "folder"));
  EXPECT_FALSE(StartProgram(""));
  EXPECT_TRUE(Children().empty());
  EXPECT_FALSE(folder_.Exists("started.mark"));
}

}  // namespace
