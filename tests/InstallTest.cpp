// The installation: the main program stopped, the files copied into place,
// the version recorded, the update folder removed, the main program started.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "Texts.hpp"
#include "support/ChainFixture.hpp"
#include "support/programs/StubProcess.hpp"

using test_support::Answer;
using test_support::ClosedByItself;
using test_support::Error;
using test_support::Message;

namespace {

std::string FileContent(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class Install : public test_support::ChainTest {
 protected:
  Install() {
    // The main program started by the chain leaves its mark here and ends by itself.
    setenv("TOLVIER_STUB_MARK", (folder / "started.mark").c_str(), 1);
    setenv("TOLVIER_STUB_SECONDS", "5", 1);
    std::filesystem::copy_file(TOLVIER_STUB_PATH, folder / "Tolvier.exe");
    folder.Write("version.ini",
                 "; installed\r\n[update]\r\nVersion=1.0\r\n[other]\r\nkey=kept\r\n");
  }
  ~Install() override {
    for (const auto& mark : test_support::ReadStubMarks(folder / "started.mark")) {
      kill(std::stoi(mark.at("pid")), SIGKILL);
    }
  }

  // Publishes release 2.0 with `names`, each file's content "new <name>".
  void PublishNewRelease(const std::vector<std::string>& names) {
    PublishRelease("2.0", names);
    for (const std::string& name : names) {
      std::string path = name;
      std::replace(path.begin(), path.end(), '\\', '/');
      Publish(path, Answer::Ok("new " + name));
    }
  }

  std::vector<test_support::StubMark> StartedMainPrograms() {
    return test_support::ReadStubMarks(folder / "started.mark");
  }
};

TEST_F(Install, WholeChainFromTheButtonToTheRestart) {
  folder.Write("readme.txt", "old readme");
  chmod((folder / "Tolvier.exe").c_str(), 0751);
  const std::string stub = FileContent(TOLVIER_STUB_PATH);
  PublishRelease("2.0", {"Tolvier.exe", "readme.txt", "new.dat"});
  Publish("Tolvier.exe", Answer::Ok(stub));
  Publish("readme.txt", Answer::Ok("new readme"));
  Publish("new.dat", Answer::Ok("added"));

  test_support::RunningStub running(folder / "Tolvier.exe", folder / "old.mark");
  ASSERT_EQ(test_support::WaitForStubMarks(folder / "old.mark", 1).size(), 1u);
  Click();

  EXPECT_EQ(app.Seen(), (std::vector<std::string>{Message(texts::kNewVersionFound),
                                                  Message(texts::kDownloadDone),
                                                  Message(texts::kUpdateSucceeded)}));
  EXPECT_TRUE(test_support::KilledBySigkill(running.WaitForEnd(std::chrono::seconds(5))));
  EXPECT_EQ(folder.Read("readme.txt"), "new readme");
  EXPECT_EQ(folder.Read("new.dat"), "added");
  EXPECT_EQ(folder.Read("Tolvier.exe"), stub);
  struct stat status {};
  ASSERT_EQ(stat((folder / "Tolvier.exe").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0751u);  // a replaced file keeps its permissions
  EXPECT_EQ(folder.Read("version.ini"),
            "; installed\r\n[update]\r\nVersion=2.0\r\n[other]\r\nkey=kept\r\n");
  EXPECT_FALSE(folder.Exists("update"));
  EXPECT_TRUE(app.QuitRequested());

  const auto started = test_support::WaitForStubMarks(folder / "started.mark", 1);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].at("exe"), folder / "Tolvier.exe");
  EXPECT_EQ(started[0].at("cwd") + "/", folder.path());
  EXPECT_EQ(started[0].at("stdout"), "/dev/null");
}

// The first empty entry leaves nothing to copy; the rest runs all the same.
TEST_F(Install, EmptyFileListStillRecordsTheVersionAndRestarts) {
  PublishNewRelease({});
  Click();
  EXPECT_EQ(app.Seen().back(), Message(texts::kUpdateSucceeded));
  EXPECT_EQ(folder.Read("version.ini"),
            "; installed\r\n[update]\r\nVersion=2.0\r\n[other]\r\nkey=kept\r\n");
  EXPECT_EQ(test_support::WaitForStubMarks(folder / "started.mark", 1).size(), 1u);
  EXPECT_FALSE(folder.Exists("update"));
}

// A failed copy ends the installation there: files before it are replaced,
// it and the ones after are as they were, the version stays, the update
// folder keeps everything, the main program is not started again.
TEST_F(Install, FailedCopyLeavesTheFailureStateFileByFile) {
  struct Case {
    const char* what;
    std::function<void(const test_support::TempFolder&)> prepare;
  };
  const Case kCases[] = {
      {"read-only third target",
       [](const test_support::TempFolder& folder) {
         folder.Write("c.txt", "old c");
         chmod((folder / "c.txt").c_str(), 0444);
       }},
      {"third target's folder missing",
       [](const test_support::TempFolder& folder) {
         std::filesystem::remove_all(folder / "skin");
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    setenv("TOLVIER_STUB_MARK", (chain.folder / "started.mark").c_str(), 1);
    const std::string third =
        std::string(c.what).find("folder") != std::string::npos ? "skin\\c.txt" : "c.txt";
    const std::vector<std::string> names = {"a.txt", "b.txt", third, "d.txt", "e.txt"};
    chain.folder.Write("version.ini", "[update]\r\nVersion=1.0\r\n");
    chain.folder.MakeFolder("update");
    chain.folder.MakeFolder("update/skin");
    chain.folder.MakeFolder("skin");
    for (const char* name : {"a.txt", "b.txt", "d.txt"}) chain.folder.Write(name, "old");
    c.prepare(chain.folder);
    chain.PublishRelease("2.0", names);
    for (const std::string& name : names) {
      std::string path = name;
      std::replace(path.begin(), path.end(), '\\', '/');
      chain.Publish(path, Answer::Ok("new"));
    }
    chain.Click();

    EXPECT_EQ(chain.app.Seen(), (std::vector<std::string>{Message(texts::kNewVersionFound),
                                                          Message(texts::kDownloadDone),
                                                          Message(texts::kInstallFailed)}));
    EXPECT_EQ(chain.folder.Read("a.txt"), "new");
    EXPECT_EQ(chain.folder.Read("b.txt"), "new");
    EXPECT_EQ(chain.folder.Read("d.txt"), "old");
    EXPECT_FALSE(chain.folder.Exists("e.txt"));
    EXPECT_EQ(chain.folder.Read("version.ini"), "[update]\r\nVersion=1.0\r\n");
    for (const char* name :
         {"update/update.ini", "update/a.txt", "update/b.txt", "update/d.txt", "update/e.txt"}) {
      EXPECT_TRUE(chain.folder.Exists(name)) << name;
    }
    EXPECT_TRUE(
        chain.folder.Exists(std::string("update/") + (third == "c.txt" ? "c.txt" : "skin/c.txt")));
    EXPECT_FALSE(chain.form.Button1.Visible());
    EXPECT_FALSE(chain.app.QuitRequested());
    EXPECT_TRUE(test_support::ReadStubMarks(chain.folder / "started.mark").empty());
    // No half-written file is left beside the targets.
    for (const auto& entry : std::filesystem::directory_iterator(chain.folder.path())) {
      EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
  }
}

TEST_F(Install, VersionFileThatCannotBeWrittenEndsInTheErrorBox) {
  chmod((folder / "version.ini").c_str(), 0444);
  PublishNewRelease({"a.txt"});
  Click();
  EXPECT_EQ(app.Seen(), (std::vector<std::string>{
                            Message(texts::kNewVersionFound), Message(texts::kDownloadDone),
                            Error("Unable to write to " + (folder / "version.ini") + ".")}));
  EXPECT_EQ(folder.Read("a.txt"), "new a.txt");
  EXPECT_TRUE(folder.Exists("update/update.ini"));
  EXPECT_TRUE(StartedMainPrograms().empty());
  EXPECT_FALSE(app.QuitRequested());
}

// Closing the window during the download: everything after runs unattended
// and the program ends once the chain is over, after a failed copy too.
TEST_F(Install, CloseDuringTheDownloadRunsTheInstallationUnattended) {
  for (const bool copy_fails : {false, true}) {
    SCOPED_TRACE(copy_fails ? "copy fails" : "copy succeeds");
    test_support::Chain chain;
    setenv("TOLVIER_STUB_MARK", (chain.folder / "started.mark").c_str(), 1);
    chain.folder.Write("version.ini", "[update]\r\nVersion=1.0\r\n");
    if (copy_fails) {
      chain.folder.Write("a.txt", "read-only");
      chmod((chain.folder / "a.txt").c_str(), 0444);
    }
    chain.PublishRelease("2.0", {"a.txt"});
    chain.Publish("a.txt", Answer::Ok("new").DelayBefore(std::chrono::milliseconds(300)));
    chain.app.OnMessage = [&](const std::string& text) {
      if (text == texts::kNewVersionFound)
        chain.app.OnProcessMessages = [&] { chain.app.Terminate(); };
    };
    chain.Click();

    const std::vector<std::string> expected =
        copy_fails ? std::vector<std::string>{Message(texts::kNewVersionFound),
                                              ClosedByItself(texts::kDownloadDone),
                                              ClosedByItself(texts::kInstallFailed)}
                   : std::vector<std::string>{Message(texts::kNewVersionFound),
                                              ClosedByItself(texts::kDownloadDone),
                                              ClosedByItself(texts::kUpdateSucceeded)};
    EXPECT_EQ(chain.app.Seen(), expected);
    EXPECT_TRUE(chain.app.Terminated());
    EXPECT_EQ(chain.folder.Read("version.ini"),
              copy_fails ? "[update]\r\nVersion=1.0\r\n" : "[update]\r\nVersion=2.0\r\n");
    EXPECT_EQ(chain.folder.Exists("update"), copy_fails);
  }
}

}  // namespace
