#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Tlhelp323.hpp"
#include "platform/CodePage.hpp"
#include "platform/FileCopy.hpp"
#include "platform/ProcessSnapshot.hpp"
#include "support/TempFolder.hpp"
#include "support/programs/StubProcess.hpp"

namespace {

using platform::CodePage;
using test_support::KilledBySigkill;
using test_support::RunningStub;
using test_support::TempFolder;
using test_support::WaitForStubMarks;

constexpr auto kSettle = std::chrono::seconds(10);

struct MatchCase {
  std::string executable;
  std::string name;
  CodePage code_page;
  bool matches;
};

std::string Bytes260() { return "C:\\" + std::string(245, 'D') + "\\Tolvier.exe"; }

TEST(ExecutableMatches, FollowsBothTestsByteForByte) {
  constexpr CodePage kSingle = CodePage::kSingleByte;
  constexpr CodePage kGbk = CodePage::kDoubleByte936;
  const std::string long_text = Bytes260();
  ASSERT_EQ(long_text.size(), 260u);
  const std::vector<MatchCase> cases = {
      {"Tolvier.exe", "Tolvier.exe", kSingle, true},
      {"TOLVIER.EXE", "Tolvier.exe", kSingle, true},
      {"tolvier.EXE", "Tolvier.exe", kSingle, true},
      {"C:\\Apps\\Q\\Tolvier.exe", "Tolvier.exe", kSingle, true},
      {"/opt/q/Tolvier.exe", "Tolvier.exe", kSingle, true},
      {"C:Tolvier.exe", "Tolvier.exe", kSingle, true},
      {"OldTolvier.exe", "Tolvier.exe", kSingle, false},
      {"Tolvier.exe.bak", "Tolvier.exe", kSingle, false},
      {"Tolvier.exe ", "Tolvier.exe", kSingle, false},
      {" Tolvier.exe", "Tolvier.exe", kSingle, false},
      {"/opt/q/Tolvier.exe/", "Tolvier.exe", kSingle, false},
      {"", "Tolvier.exe", kSingle, false},
      // Letters outside ASCII: UTF-8 e-acute against E-acute, full-width t
      // against T, GBK full-width a against A.
      {"\xC3\xA9.exe", "\xC3\x89.exe", kSingle, false},
      {"\xC3\xA9.exe", "\xC3\xA9.EXE", kSingle, true},
      {"\xEF\xBD\x94olvier.exe", "\xEF\xBC\xB4olvier.exe", kSingle, false},
      {"\xA3\xE1.exe", "\xA3\xC1.exe", kGbk, false},
      // ASCII upper-casing reaches every byte, a trail byte in a to z too.
      {"\x81\x61.exe", "\x81\x41.exe", kGbk, true},
      // A given name with a folder part matches only the whole text.
      {"C:\\Apps\\Q\\Tolvier.exe", "C:\\Apps\\Q\\Tolvier.exe", kSingle, true},
      {"c:\\apps\\q\\TOLVIER.EXE", "C:\\Apps\\Q\\Tolvier.exe", kSingle, true},
      {"Tolvier.exe", "C:\\Apps\\Q\\Tolvier.exe", kSingle, false},
      {"D:\\Apps\\Q\\Tolvier.exe", "C:\\Apps\\Q\\Tolvier.exe", kSingle, false},
      {"/opt/q/Tolvier.exe", "/OPT/Q/tolvier.exe", kSingle, true},
      {"/opt/q/Tolvier.exe", "q/Tolvier.exe", kSingle, false},
      // All 260 bytes count.
      {long_text, long_text, kSingle, true},
      {long_text, long_text.substr(0, 259), kSingle, false},
      {long_text, long_text.substr(0, 259) + "X", kSingle, false},
      {long_text, "Tolvier.exe", kSingle, true},
      // 0x95 0x5C is one GBK character whose second byte is the backslash.
      {"C:\\Q\\\x95\\Tolvier.exe", "Tolvier.exe", kGbk, false},
      {"C:\\Q\\\x95\\Tolvier.exe", "\x95\\Tolvier.exe", kGbk, true},
      {"C:\\Q\\\x95\\Tolvier.exe", "Tolvier.exe", kSingle, true},
      {"C:\\Q\\\x95\\Tolvier.exe", "\x95\\Tolvier.exe", kSingle, false},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(ExecutableMatches(c.executable, c.name, c.code_page), c.matches)
        << "executable \"" << c.executable << "\", name \"" << c.name << "\"";
  }
}

// The stand-in copied under the given names into a fresh folder.
class StopProcessByNameTest : public ::testing::Test {
 protected:
  std::string Install(const std::string& name) {
    const std::string path = folder_ / name;
    std::filesystem::copy_file(TOLVIER_STUB_PATH, path);
    return path;
  }
  std::string Mark() const { return folder_ / "started.mark"; }
  // A name no other test run on this machine uses.
  static std::string UniqueName(const std::string& stem) {
    return stem + std::to_string(::getpid()) + ".exe";
  }
  std::optional<platform::ProcessEntry> Listed(pid_t pid) {
    for (const platform::ProcessEntry& entry : platform::SnapshotProcesses()) {
      if (entry.id == static_cast<std::uint32_t>(pid)) return entry;
    }
    return std::nullopt;
  }

  TempFolder folder_;
};

TEST_F(StopProcessByNameTest, StopsEveryInstanceAndNoLookalike) {
  const std::string main_program = Install("Tolvier.exe");
  const std::string old_program = Install("OldTolvier.exe");
  const std::string backup = Install("Tolvier.exe.bak");
  RunningStub first(main_program, Mark());
  RunningStub old_one(old_program, Mark());
  RunningStub second(main_program, Mark());
  RunningStub backup_one(backup, Mark());
  ASSERT_EQ(WaitForStubMarks(Mark(), 4).size(), 4u);

  EXPECT_EQ(StopProcessByName("Tolvier.exe"), 1);

  EXPECT_TRUE(KilledBySigkill(first.WaitForEnd(kSettle)));
  EXPECT_TRUE(KilledBySigkill(second.WaitForEnd(kSettle)));
  // A SIGKILL sent to them would have landed by now, as it did for the others.
  EXPECT_TRUE(old_one.Running());
  EXPECT_TRUE(backup_one.Running());
  EXPECT_TRUE(Listed(old_one.pid()));
  EXPECT_TRUE(Listed(backup_one.pid()));
}

TEST_F(StopProcessByNameTest, NameWithFolderPartMatchesOnlyTheWholePath) {
  const std::string path = Install(UniqueName("Tlv"));
  RunningStub program(path, Mark());
  ASSERT_EQ(WaitForStubMarks(Mark(), 1).size(), 1u);

  EXPECT_EQ(StopProcessByName("/elsewhere/" + UniqueName("Tlv")), 0);
  EXPECT_EQ(StopProcessByName(UniqueName("Tlv") + " "), 0);
  EXPECT_TRUE(program.Running());

  EXPECT_EQ(StopProcessByName(platform::AsciiUpperCase(path)), 1);
  EXPECT_TRUE(KilledBySigkill(program.WaitForEnd(kSettle)));
  // Nothing left that matches.
  EXPECT_EQ(StopProcessByName(path), 0);
}

TEST_F(StopProcessByNameTest, SnapshotShowsExecutablePathsButNotTheCaller) {
  const std::string path = Install(UniqueName("Tlv"));
  RunningStub program(path, Mark(), "some-other-argv0");
  ASSERT_EQ(WaitForStubMarks(Mark(), 1).size(), 1u);

  const std::vector<platform::ProcessEntry> entries = platform::SnapshotProcesses();
  EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(),
                             [](const auto& a, const auto& b) { return a.id < b.id; }));
  EXPECT_FALSE(std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
    return entry.id == static_cast<std::uint32_t>(::getpid());
  }));
  const std::optional<platform::ProcessEntry> entry = Listed(program.pid());
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->executable, path);
  EXPECT_NE(entry->start_time, 0u);
}

// The installation replaces the files of programs that may still run; such a
// process still counts as the program it was started from.
TEST_F(StopProcessByNameTest, ReplacedExecutableStillMatchesByItsPath) {
  const std::string replaced = Install(UniqueName("Tlv"));
  const std::string removed = Install(UniqueName("Gone"));
  // A name that merely ends like the system's mark of a removed file keeps it.
  const std::string odd = Install("Odd" + std::to_string(::getpid()) + ".exe (deleted)");
  RunningStub replaced_program(replaced, Mark());
  RunningStub removed_program(removed, Mark());
  RunningStub odd_program(odd, Mark());
  ASSERT_EQ(WaitForStubMarks(Mark(), 3).size(), 3u);
  folder_.Write("new.exe", "new content");
  ASSERT_TRUE(platform::CopyFileReplacing(folder_ / "new.exe", replaced));
  ASSERT_TRUE(std::filesystem::remove(removed));

  ASSERT_TRUE(Listed(replaced_program.pid()));
  EXPECT_EQ(Listed(replaced_program.pid())->executable, replaced);
  ASSERT_TRUE(Listed(removed_program.pid()));
  EXPECT_EQ(Listed(removed_program.pid())->executable, removed);
  ASSERT_TRUE(Listed(odd_program.pid()));
  EXPECT_EQ(Listed(odd_program.pid())->executable, odd);

  EXPECT_EQ(StopProcessByName(UniqueName("Tlv")), 1);
  EXPECT_TRUE(KilledBySigkill(replaced_program.WaitForEnd(kSettle)));
  EXPECT_EQ(StopProcessByName(UniqueName("gone")), 1);
  EXPECT_TRUE(KilledBySigkill(removed_program.WaitForEnd(kSettle)));
  EXPECT_TRUE(odd_program.Running());
}

TEST_F(StopProcessByNameTest, KillRefusesAnIdentifierThatNowNamesAnotherProcess) {
  const std::string path = Install(UniqueName("Tlv"));
  RunningStub program(path, Mark());
  ASSERT_EQ(WaitForStubMarks(Mark(), 1).size(), 1u);
  std::optional<platform::ProcessEntry> entry = Listed(program.pid());
  ASSERT_TRUE(entry);

  platform::ProcessEntry earlier = *entry;
  earlier.start_time += 1;
  EXPECT_FALSE(platform::KillProcess(earlier));
  EXPECT_TRUE(program.Running());

  EXPECT_TRUE(platform::KillProcess(*entry));
  EXPECT_TRUE(KilledBySigkill(program.WaitForEnd(kSettle)));
  // Ended and collected: nothing left to stop.
  EXPECT_FALSE(platform::KillProcess(*entry));
}

// Without root rights another user's process shows no executable link and
// refuses to be stopped: it is listed by its first argument, stopping it
// gives 0, and it keeps running.
TEST_F(StopProcessByNameTest, AnotherUsersProcessIsListedByArgv0AndRefusesTheStop) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a part as another user";
  const std::string path = Install(UniqueName("Tlv"));
  const std::string argv0 = "C:\\Apps\\Q\\" + UniqueName("Tlv");
  RunningStub program(path, Mark(), argv0);
  ASSERT_EQ(WaitForStubMarks(Mark(), 1).size(), 1u);

  const pid_t unprivileged = ::fork();
  ASSERT_GE(unprivileged, 0);
  if (unprivileged == 0) {
    constexpr id_t kNobody = 65534;
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(10);
    int failures = 0;
    const std::optional<platform::ProcessEntry> entry = Listed(program.pid());
    if (!entry) failures |= 1;
    if (entry && entry->executable != argv0) failures |= 2;
    if (StopProcessByName(UniqueName("tlv")) != 0) failures |= 4;
    ::_exit(failures);
  }
  const std::optional<int> status = test_support::WaitForChild(unprivileged, kSettle);
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0) << "1: not listed, 2: wrong text, 4: not refused";
  EXPECT_TRUE(program.Running());
}

TEST_F(StopProcessByNameTest, NothingMatchingGivesZero) {
  EXPECT_EQ(StopProcessByName(UniqueName("NoSuchProgram")), 0);
  EXPECT_EQ(StopProcessByName(""), 0);
}

}  // namespace
