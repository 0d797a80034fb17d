#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileCopy.hpp"
#include "support/TempFolder.hpp"
#include "support/programs/StubProcess.hpp"

namespace {

using platform::CopyFileReplacing;
using test_support::TempFolder;

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    names.insert(item.path().filename().string());
  }
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return 0;
  return status.st_mode;
}

void SetMode(const std::string& path, mode_t mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0); }

std::string Pseudorandom(std::size_t size) {
  std::mt19937_64 generator(20240607);
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; i += 8) {
    const std::uint64_t value = generator();
    for (std::size_t j = 0; j < 8 && i + j < size; ++j) {
      content[i + j] = static_cast<char>(value >> (8 * j));
    }
  }
  return content;
}

TEST(FileCopy, ReplacedTargetKeepsItsModeAndOwnerNewTargetTakesTheSources) {
  TempFolder folder;
  folder.Write("source", "new content");
  SetMode(folder / "source", 0640);
  folder.Write("replaced", "older and longer content");
  SetMode(folder / "replaced", 0755);
  const bool root = ::geteuid() == 0;
  constexpr uid_t kNobody = 65534;
  if (root) {
    ASSERT_EQ(::chown((folder / "replaced").c_str(), kNobody, kNobody), 0);
  }
  // The umask must not cut the mode the new file takes.
  const mode_t old_umask = ::umask(077);

  const bool replaced = CopyFileReplacing(folder / "source", folder / "replaced");
  const bool created = CopyFileReplacing(folder / "source", folder / "created");
  ::umask(old_umask);

  ASSERT_TRUE(replaced);
  ASSERT_TRUE(created);
  EXPECT_EQ(folder.Read("replaced"), "new content");
  EXPECT_EQ(ModeOf(folder / "replaced"), S_IFREG | 0755);
  EXPECT_EQ(folder.Read("created"), "new content");
  EXPECT_EQ(ModeOf(folder / "created"), S_IFREG | 0640);
  if (root) {
    struct stat status {};
    ASSERT_EQ(::stat((folder / "replaced").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, kNobody);
    EXPECT_EQ(status.st_gid, kNobody);
  }
  EXPECT_EQ(Listing(folder.path()), (std::set<std::string>{"source", "replaced", "created"}));
  EXPECT_EQ(folder.Read("source"), "new content");
}

// Each failure leaves the target as it was and no file of the copy behind.
TEST(FileCopy, FailuresLeaveTheTargetAndTheFolderUntouched) {
  struct Case {
    const char* what;
    const char* source;
    const char* target;
  };
  const Case cases[] = {
      {"missing source", "missing", "target"},
      {"missing target folder", "source", "nofolder/target"},
      {"read-only target", "source", "readonly"},
      {"target is a folder", "source", "folder"},
      {"source is a folder", "folder", "target"},
      {"target through a link to a folder", "source", "link-to-folder"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Write("source", "new");
    folder.Write("target", "old");
    folder.Write("readonly", "old");
    SetMode(folder / "readonly", 0444);
    folder.MakeFolder("folder");
    std::filesystem::create_symlink("folder", folder / "link-to-folder");
    const std::set<std::string> before = Listing(folder.path());

    EXPECT_FALSE(CopyFileReplacing(folder / c.source, folder / c.target)) << c.what;

    EXPECT_EQ(Listing(folder.path()), before) << c.what;
    EXPECT_EQ(folder.Read("target"), "old") << c.what;
    EXPECT_EQ(folder.Read("readonly"), "old") << c.what;
    EXPECT_EQ(ModeOf(folder / "readonly"), S_IFREG | 0444) << c.what;
    EXPECT_TRUE(Listing(folder / "folder").empty()) << c.what;
  }
}

// A link is replaced by the file itself, as a rename would; what it pointed
// to stays as it was, and lends the new file its mode.
TEST(FileCopy, LinkedTargetIsReplacedByTheFile) {
  TempFolder folder;
  folder.Write("source", "new");
  SetMode(folder / "source", 0600);
  folder.Write("real", "old");
  SetMode(folder / "real", 0750);
  std::filesystem::create_symlink("real", folder / "link");
  std::filesystem::create_symlink("nowhere", folder / "dangling");

  ASSERT_TRUE(CopyFileReplacing(folder / "source", folder / "link"));
  ASSERT_TRUE(CopyFileReplacing(folder / "source", folder / "dangling"));

  EXPECT_EQ(ModeOf(folder / "link"), S_IFREG | 0750);
  EXPECT_EQ(folder.Read("link"), "new");
  EXPECT_EQ(folder.Read("real"), "old");
  EXPECT_EQ(ModeOf(folder / "dangling"), S_IFREG | 0600);
  EXPECT_EQ(folder.Read("dangling"), "new");
}

TEST(FileCopy, ContentArrivesByteForByte) {
  TempFolder folder;
  // Larger than any one read of the plain copy loop, and not a multiple of it.
  const std::string big = Pseudorandom((48u << 20) + 12345);
  folder.Write("big", big);
  folder.Write("empty", "");
  folder.Write("target", "something to be replaced");

  ASSERT_TRUE(CopyFileReplacing(folder / "big", folder / "copy"));
  EXPECT_TRUE(folder.Read("copy") == big);
  ASSERT_TRUE(CopyFileReplacing(folder / "empty", folder / "target"));
  EXPECT_EQ(folder.Read("target"), "");
}

// Sources the kernel cannot copy within itself: from another file system,
// and a kernel file that claims to be empty but is not.
TEST(FileCopy, CopiesFromOtherFileSystems) {
  TempFolder folder;
  const std::string shared_memory = "/dev/shm/update-test-" + std::to_string(::getpid());
  {
    std::ofstream file(shared_memory, std::ios::binary);
    file << Pseudorandom(3u << 20);
  }
  const bool from_tmpfs = CopyFileReplacing(shared_memory, folder / "from-tmpfs");
  std::filesystem::remove(shared_memory);
  ASSERT_TRUE(from_tmpfs);
  EXPECT_TRUE(folder.Read("from-tmpfs") == Pseudorandom(3u << 20));

  std::ifstream version("/proc/version", std::ios::binary);
  std::ostringstream expected;
  expected << version.rdbuf();
  ASSERT_TRUE(CopyFileReplacing("/proc/version", folder / "from-proc"));
  EXPECT_EQ(folder.Read("from-proc"), expected.str());
  EXPECT_FALSE(expected.str().empty());
}

// A write that fails midway (here: the file size limit, standing in for a full
// disk) fails the copy, keeps the old target and removes the partial copy.
TEST(FileCopy, WriteErrorKeepsTheOldTarget) {
  TempFolder folder;
  folder.Write("source", Pseudorandom(3u << 20));
  folder.Write("target", "old");
  const std::set<std::string> before = Listing(folder.path());

  // In a child, so the limit cannot touch the rest of the tests.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1u << 20, 1u << 20};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    ::_exit(CopyFileReplacing(folder / "source", folder / "target") ? 1 : 0);
  }
  const std::optional<int> status = test_support::WaitForChild(child, std::chrono::seconds(30));
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0) << "1: the copy succeeded, 2: no limit";
  EXPECT_EQ(folder.Read("target"), "old");
  EXPECT_EQ(Listing(folder.path()), before);
}

}  // namespace
