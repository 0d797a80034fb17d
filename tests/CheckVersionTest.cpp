// The version check: every outcome, with what a person sees and what is on disk.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "Texts.hpp"
#include "support/ChainFixture.hpp"

using test_support::Answer;
using test_support::ClosedByItself;
using test_support::Error;
using test_support::Message;

namespace {

class CheckVersion : public test_support::ChainTest {};

TEST_F(CheckVersion, AnswersThatAreNoManifestEndTheCheck) {
  struct Case {
    const char* what;
    Answer answer;
  };
  const Case kCases[] = {
      {"404", Answer::Status(404, "not here")},
      {"500", Answer::Status(500)},
      {"301", Answer::Redirect(301, "/elsewhere/update.ini")},
      {"302", Answer::Redirect(302, "/elsewhere/update.ini")},
      {"307", Answer::Redirect(307, "/elsewhere/update.ini")},
      {"200 with Location",
       Answer::Ok("[update]\r\nVersion=9\r\n").Header("Location: /elsewhere/update.ini")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    chain.Publish("update.ini", c.answer);
    chain.Click();

    EXPECT_EQ(chain.app.Seen(), std::vector<std::string>{Message(texts::kCheckNetworkError)});
    EXPECT_EQ(chain.Requests(), std::vector<std::string>{"GET update.ini"});  // nothing followed
    EXPECT_FALSE(chain.form.Button1.Visible());
    EXPECT_FALSE(chain.folder.Exists("update"));
    EXPECT_EQ(chain.form.Label1.Caption(), "");
    EXPECT_EQ(chain.form.ProgressBar1.Position(), 0);
    EXPECT_FALSE(chain.app.QuitRequested());
  }
}

TEST_F(CheckVersion, UnreachableServerEndsTheCheck) {
  // A port that was just free and has nobody listening refuses the connection.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  const std::string closed_port = std::to_string(ntohs(address.sin_port));

  for (const std::string& base :
       {"http://127.0.0.1:" + closed_port + "/q/", std::string("http://update.invalid/q/")}) {
    SCOPED_TRACE(base);
    test_support::HeadlessApplication app;
    TMainForm form(app, folder.path(), base);
    ui::RunHandler(app, form.Button1.OnClick);
    EXPECT_EQ(app.Seen(), std::vector<std::string>{Message(texts::kCheckNetworkError)});
    EXPECT_FALSE(form.Button1.Visible());
    EXPECT_FALSE(folder.Exists("update"));
  }
}

TEST_F(CheckVersion, ManifestThatCannotBeSavedEndsInTheErrorBox) {
  folder.Write("update", "a file where the update folder belongs");
  PublishManifest("[update]\r\nVersion=2.0\r\n");
  Click();
  EXPECT_EQ(app.Seen(), std::vector<std::string>{Error("Cannot create file \"" + folder.path() +
                                                       "update/update.ini\". Not a directory.")});
  EXPECT_FALSE(form.Button1.Visible());
  EXPECT_EQ(folder.Read("update"), "a file where the update folder belongs");
}

TEST_F(CheckVersion, NoNewerVersionRemovesTheUpdateFolderAndShowsTheButtonAgain) {
  struct Case {
    const char* what;
    const char* installed;  // version.ini, or nullptr for none
    std::string manifest;
  };
  const Case kCases[] = {
      {"same version", "[update]\r\nVersion=2.0\r\n", "[update]\r\nVersion=2.0\r\n"},
      {"older offer", "[UPDATE]\r\nVERSION=1.9\r\n", "[update]\r\nVersion=1.10\r\n"},
      {"an HTML page", "[update]\r\nVersion=1.0\r\n", "<html><body>Welcome</body></html>"},
      {"an empty answer", nullptr, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    if (c.installed != nullptr) {
      chain.folder.Write("version.ini", c.installed);
    } else {
      std::remove((chain.folder / "version.ini").c_str());
    }
    chain.folder.MakeFolder("update");
    chain.folder.Write("update/left.over", "from an earlier failed run");
    chain.PublishManifest(c.manifest);
    bool saved_as_sent = false;
    chain.app.OnMessage = [&](const std::string&) {
      saved_as_sent = chain.folder.Read("update/update.ini") == c.manifest;
    };
    chain.Click();

    EXPECT_EQ(chain.app.Seen(), std::vector<std::string>{Message(texts::kAlreadyNewest)});
    EXPECT_TRUE(saved_as_sent);
    EXPECT_FALSE(chain.folder.Exists("update"));
    EXPECT_TRUE(chain.form.Button1.Visible());
    if (c.installed != nullptr) {
      EXPECT_EQ(chain.folder.Read("version.ini"), c.installed);
    } else {
      EXPECT_FALSE(chain.folder.Exists("version.ini"));
    }
  }
}

TEST_F(CheckVersion, SecondPressFetchesTheManifestAgain) {
  folder.Write("version.ini", "[update]\r\nVersion=2.0\r\n");
  PublishManifest("[update]\r\nVersion=2.0\r\n");
  Click();
  ASSERT_TRUE(form.Button1.Visible());
  Click();
  EXPECT_EQ(Requests(), (std::vector<std::string>{"GET update.ini", "GET update.ini"}));
  EXPECT_EQ(app.Seen(), (std::vector<std::string>{Message(texts::kAlreadyNewest),
                                                  Message(texts::kAlreadyNewest)}));
}

TEST_F(CheckVersion, ManifestBodyFormsAreSavedByteForByte) {
  const std::string manifest = "[update]\r\nVersion=3.1\r\n[updatelist]\r\n";
  struct Case {
    const char* what;
    Answer answer;
  };
  const Case kCases[] = {
      {"chunked", Answer::Chunked({"[update]\r\nVer", "sion=3.1\r\n[updatelist]\r\n"})},
      {"until close", Answer::Status(200, manifest, Answer::Framing::kUntilClose)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    chain.Publish("update.ini", c.answer);
    std::string saved;
    chain.app.OnMessage = [&](const std::string&) {
      if (saved.empty()) saved = chain.folder.Read("update/update.ini");
    };
    chain.Click();
    EXPECT_EQ(saved, manifest);
  }
}

// Without version.ini any offer is newer; an empty file list still installs
// and records the version.
TEST_F(CheckVersion, NewerVersionStartsTheUpdate) {
  PublishManifest("[update]\r\nVersion=1.0\r\n");
  Click();
  EXPECT_EQ(app.Seen(), (std::vector<std::string>{Message(texts::kNewVersionFound),
                                                  Message(texts::kDownloadDone),
                                                  Message(texts::kUpdateSucceeded)}));
  EXPECT_EQ(folder.Read("version.ini"), "[update]\r\nversion=1.0\r\n");
  EXPECT_FALSE(folder.Exists("update"));
  EXPECT_FALSE(form.Button1.Visible());
  EXPECT_TRUE(app.QuitRequested());
}

// Closing the window while the manifest is on its way: the check goes on,
// every later message box closes by itself, and the program ends after it.
TEST_F(CheckVersion, CloseDuringTheManifestsWaitRunsTheRestUnattended) {
  struct Case {
    const char* what;
    const char* installed;
    std::vector<std::string> seen;
  };
  const Case kCases[] = {
      {"no newer version", "[update]\r\nVersion=1.0\r\n", {ClosedByItself(texts::kAlreadyNewest)}},
      {"newer version",
       "[update]\r\nVersion=0.9\r\n",
       {ClosedByItself(texts::kNewVersionFound), ClosedByItself(texts::kDownloadDone),
        ClosedByItself(texts::kUpdateSucceeded)}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    chain.folder.Write("version.ini", c.installed);
    chain.Publish(
        "update.ini",
        Answer::Ok("[update]\r\nVersion=1.0\r\n").DelayBefore(std::chrono::milliseconds(300)));
    chain.app.OnProcessMessages = [&] { chain.app.Terminate(); };
    chain.Click();

    EXPECT_EQ(chain.app.Seen(), c.seen);
    EXPECT_TRUE(chain.app.Terminated());
    EXPECT_FALSE(chain.folder.Exists("update"));
    EXPECT_EQ(chain.folder.Read("version.ini"), "[update]\r\nVersion=1.0\r\n");
  }
}

TEST_F(CheckVersion, RequestCarriesExactlyTheFourHeaders) {
  PublishManifest("");
  Click();
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].raw,
            "GET /quorvicomdata/update/tolvier/update.ini HTTP/1.1\r\n"
            "Content-Type: text/html\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                "\r\n");
}

// The removal that ends a check never reaches outside the program folder.
TEST_F(CheckVersion, DeletedirRemovesOnlyInsideTheProgramFolder) {
  test_support::TempFolder outside;
  outside.Write("keep.txt", "keep");
  const std::string escape =
      "..\\" + outside.path().substr(outside.path().rfind('/', outside.path().size() - 2) + 1);
  for (const std::string& name : {escape, std::string(".."), std::string(""), std::string(".")}) {
    form.Deletedir(name);
  }
  EXPECT_EQ(outside.Read("keep.txt"), "keep");
  EXPECT_TRUE(folder.Exists(""));

  folder.MakeFolder("update");
  folder.Write("update/x", "x");
  form.Deletedir("update");
  EXPECT_FALSE(folder.Exists("update"));
  form.Deletedir("update");  // gone already: nothing to say
}

}  // namespace
