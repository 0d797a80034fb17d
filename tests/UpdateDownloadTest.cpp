// The download: every listed file fetched into the update folder, with the
// label, the progress bar and the failures a person would see.
#include <gtest/gtest.h>

#include "Texts.hpp"
#include "support/ChainFixture.hpp"

using test_support::Answer;
using test_support::ClosedByItself;
using test_support::Error;
using test_support::Message;

namespace {

std::string LabelText(int announced, int downloaded) {
  return std::string(texts::kLabelTotal) + std::to_string(announced) + texts::kLabelDownloaded +
         std::to_string(downloaded) + texts::kLabelUnit;
}

class UpdateDownload : public test_support::ChainTest {
 protected:
  // What the update folder holds when the download has announced its end
  // (file name -> content), taken while that message box is open.
  std::map<std::string, std::string> DownloadedFiles(const std::vector<std::string>& names) {
    std::map<std::string, std::string> files;
    app.OnMessage = [&, names](const std::string& text) {
      if (text != texts::kDownloadDone) return;
      for (const std::string& name : names) {
        if (folder.Exists("update/" + name)) files[name] = folder.Read("update/" + name);
      }
    };
    Click();
    return files;
  }
};

TEST_F(UpdateDownload, WalksUpToTheFirstGapAndCountsEveryEntry) {
  folder.MakeFolder("update");
  folder.MakeFolder("update/skin");
  folder.MakeFolder("skin");
  PublishManifest(
      "[update]\r\nVersion=2.0\r\n[updatelist]\r\n"
      "up1=a.txt\r\nup2=skin\\b.dat\r\nup4=d.txt\r\n");
  Publish("a.txt", Answer::Ok("first file"));
  Publish("skin/b.dat", Answer::Ok("second file"));
  Publish("d.txt", Answer::Ok("behind the gap"));

  const auto files = DownloadedFiles({"a.txt", "skin/b.dat", "d.txt"});
  EXPECT_EQ(files, (std::map<std::string, std::string>{{"a.txt", "first file"},
                                                       {"skin/b.dat", "second file"}}));
  EXPECT_EQ(Requests(), (std::vector<std::string>{"GET update.ini", "HEAD a.txt", "GET a.txt",
                                                  "HEAD skin/b.dat", "GET skin/b.dat"}));
  EXPECT_EQ(form.Label1.Caption(), LabelText(3, 2));
  EXPECT_EQ(form.Label1.Caption(), "本次总共需要下载文件3个，已经下载2个");
  EXPECT_EQ(app.Seen(), (std::vector<std::string>{Message(texts::kNewVersionFound),
                                                  Message(texts::kDownloadDone),
                                                  Message(texts::kUpdateSucceeded)}));
  EXPECT_EQ(folder.Read("skin/b.dat"), "second file");
  EXPECT_FALSE(folder.Exists("d.txt"));
}

TEST_F(UpdateDownload, EmptyFirstEntryGoesStraightToTheInstallation) {
  PublishManifest("[update]\r\nVersion=2.0\r\n[updatelist]\r\nup2=b.txt\r\n");
  Click();
  EXPECT_EQ(Requests(), std::vector<std::string>{"GET update.ini"});
  EXPECT_EQ(form.Label1.Caption(), "");
  EXPECT_EQ(form.ProgressBar1.Position(), 0);
  EXPECT_EQ(form.ProgressBar1.Max(), 100);
  EXPECT_EQ(app.Seen().back(), Message(texts::kUpdateSucceeded));
}

TEST_F(UpdateDownload, AllHundredEntriesAndNoMore) {
  std::vector<std::string> names;
  std::string manifest = "[update]\r\nVersion=2.0\r\n[updatelist]\r\n";
  for (int n = 1; n <= 101; ++n) {
    const std::string name = "f" + std::to_string(n) + ".dat";
    manifest += "up" + std::to_string(n) + "=" + name + "\r\n";
    Publish(name, Answer::Ok("content " + std::to_string(n)));
    if (n <= 100) names.push_back(name);
  }
  PublishManifest(manifest);
  const auto files = DownloadedFiles(names);
  EXPECT_EQ(files.size(), 100u);
  EXPECT_EQ(files.at("f100.dat"), "content 100");
  EXPECT_EQ(server.RequestCount(), 1u + 200u);
  EXPECT_EQ(form.Label1.Caption(), LabelText(100, 100));
  EXPECT_FALSE(folder.Exists("f101.dat"));
}

// A HEAD that fails ends the run at that file: no GET for it, files before
// it stay in the update folder, nothing is installed.
TEST_F(UpdateDownload, FailedHeadEndsTheRunBeforeItsGet) {
  struct Case {
    const char* what;
    Answer answer;
  };
  const Case kCases[] = {
      {"404", Answer::Status(404)},
      {"redirect", Answer::Redirect(302, "/quorvicomdata/update/tolvier/a.txt")},
      {"Location on 200", Answer::Ok("b").Header("Location: /elsewhere")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    chain.folder.Write("version.ini", "[update]\r\nVersion=1.0\r\n");
    chain.PublishManifest(
        ("[update]\r\nVersion=2.0\r\n[updatelist]\r\nup1=a.txt\r\nup2=b.txt\r\n"));
    chain.Publish("a.txt", Answer::Ok("a"));
    chain.Publish("b.txt", c.answer);
    chain.Click();

    EXPECT_EQ(chain.app.Seen(), (std::vector<std::string>{Message(texts::kNewVersionFound),
                                                          Message(texts::kDownloadNetworkError)}));
    ASSERT_EQ(chain.server.RequestCount(), 4u);
    EXPECT_EQ(chain.server.Requests()[3].method, "HEAD");
    EXPECT_EQ(chain.folder.Read("update/a.txt"), "a");
    EXPECT_FALSE(chain.folder.Exists("update/b.txt"));
    EXPECT_FALSE(chain.folder.Exists("a.txt"));
    EXPECT_EQ(chain.form.Label1.Caption(), LabelText(2, 1));
    EXPECT_FALSE(chain.form.Button1.Visible());
    EXPECT_EQ(chain.folder.Read("version.ini"), "[update]\r\nVersion=1.0\r\n");
    EXPECT_FALSE(chain.app.QuitRequested());
  }
}

TEST_F(UpdateDownload, FailedGetOfTheFirstFileLeavesTheLabelAsItWas) {
  PublishRelease("2.0", {"a.txt"});
  server.Enqueue(Answer::Ok("head only"));                // the HEAD
  server.Enqueue(Answer::Ok("0123456789").CutAfter(40));  // the GET, cut short
  Click();
  EXPECT_EQ(app.Seen().back(), Message(texts::kDownloadNetworkError));
  EXPECT_EQ(form.Label1.Caption(), "");
  EXPECT_FALSE(folder.Exists("update/a.txt"));
}

// The HEAD's length only drives the bar; the GET's own framing delivers the file.
TEST_F(UpdateDownload, GetFramingIsIndependentOfTheHeadsLength) {
  const std::string content = "byte for byte\r\n\0\xFF", size = std::to_string(content.size());
  struct Case {
    const char* what;
    Answer get;
  };
  const Case kCases[] = {
      {"chunked", Answer::Chunked({"byte for ", "byte\r\n", std::string("\0\xFF", 2)})},
      {"until close", Answer::Status(200, std::string("byte for byte\r\n\0\xFF", 17),
                                     Answer::Framing::kUntilClose)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    chain.PublishManifest(("[update]\r\nVersion=2.0\r\n[updatelist]\r\nup1=a.bin\r\n"));
    chain.server.Enqueue(Answer::File(17));  // the HEAD: Content-Length 17
    chain.server.Enqueue(c.get);
    chain.Click();
    EXPECT_EQ(chain.folder.Read("a.bin"), std::string("byte for byte\r\n\0\xFF", 17));
    EXPECT_EQ(chain.form.ProgressBar1.Max(), 3);
    EXPECT_EQ(chain.form.ProgressBar1.Position(), 3);
  }
}

// The bar ends each file's steps full; a file without steps (no length, a
// length below 5, an odd negative one) never gives the bar a maximum below 0
// and never sets it back.
TEST_F(UpdateDownload, ProgressBarFollowsTheLengthsOfTheHeadAnswers) {
  struct Case {
    const char* what;
    std::vector<std::string> head_lengths;  // "" for no Content-Length header
    int max;
    int position;
  };
  const Case kCases[] = {
      {"one file of 1000 bytes", {"1000"}, 200, 200},
      {"no length first", {""}, 0, 0},
      {"negative length first", {"-7"}, 0, 0},
      {"odd text", {"abc"}, 0, 0},
      {"steps, then none", {"12", ""}, 3, 2},
      {"steps, then 4 bytes", {"12", "4"}, 3, 2},
      {"steps, then negative", {"1000", "-5000"}, 201, 200},
      {"fewer steps after more", {"1000", "10"}, 2, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test_support::Chain chain;
    std::string manifest = "[update]\r\nVersion=2.0\r\n[updatelist]\r\n";
    for (std::size_t i = 0; i < c.head_lengths.size(); ++i) {
      const std::string name = "f" + std::to_string(i + 1);
      manifest += "up" + std::to_string(i + 1) + "=" + name + "\r\n";
      const std::string length = c.head_lengths[i];
      chain.server.Enqueue(
          Answer::Raw("HTTP/1.1 200 OK\r\n" +
                      (length.empty() ? "" : "Content-Length: " + length + "\r\n") + "\r\n"));
      chain.server.Enqueue(Answer::Ok("content"));
    }
    chain.PublishManifest(manifest);
    chain.Click();
    EXPECT_EQ(chain.app.Seen().back(), Message(texts::kUpdateSucceeded));
    EXPECT_EQ(chain.form.ProgressBar1.Max(), c.max);
    EXPECT_EQ(chain.form.ProgressBar1.Position(), c.position);
  }
}

TEST_F(UpdateDownload, NameListedTwiceIsFetchedAndSavedTwice) {
  PublishRelease("2.0", {"a.txt", "a.txt"});
  server.Enqueue(Answer::File(5));
  server.Enqueue(Answer::Ok("first"));
  server.Enqueue(Answer::File(6));
  server.Enqueue(Answer::Ok("second"));
  const auto files = DownloadedFiles({"a.txt"});
  EXPECT_EQ(files.at("a.txt"), "second");
  EXPECT_EQ(server.RequestCount(), 5u);
  EXPECT_EQ(form.Label1.Caption(), LabelText(2, 2));
}

TEST_F(UpdateDownload, MissingSubfolderEndsInTheErrorBoxAfterTheLabel) {
  PublishRelease("2.0", {"a.txt", "skin\\b.dat"});
  Publish("a.txt", Answer::Ok("a"));
  Publish("skin/b.dat", Answer::Ok("b"));
  Click();
  EXPECT_EQ(app.Seen(),
            (std::vector<std::string>{Message(texts::kNewVersionFound),
                                      Error("Cannot create file \"" + folder.path() +
                                            "update/skin/b.dat\". No such file or directory.")}));
  EXPECT_EQ(Requests().back(), "GET skin/b.dat");
  EXPECT_EQ(form.Label1.Caption(), LabelText(2, 2));
  EXPECT_EQ(folder.Read("update/a.txt"), "a");
  EXPECT_FALSE(folder.Exists("a.txt"));
  EXPECT_FALSE(form.Button1.Visible());
  EXPECT_FALSE(app.QuitRequested());
}

// A name that would leave the folders it is put under ends the run before
// anything is fetched, naming the entry; nothing is written.
TEST_F(UpdateDownload, UnsafeNameEndsTheRunBeforeAnyRequest) {
  const char* const kNames[] = {"..\\evil.dll", "C:\\Windows\\evil.dll",  "\\etc\\evil",
                                "/etc/evil",    "skin\\..\\..\\evil.dll", "skin/../../evil"};
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    test_support::Chain chain;
    chain.PublishManifest(
        (std::string("[update]\r\nVersion=2.0\r\n[updatelist]\r\nup1=a.txt\r\nup2=") + name +
         "\r\n"));
    chain.Click();
    EXPECT_EQ(chain.app.Seen(),
              (std::vector<std::string>{
                  Message(texts::kNewVersionFound),
                  Error(ui::ErrorBoxText(std::string(texts::kUnsafeListedName) + "up2=" + name))}));
    EXPECT_EQ(chain.server.RequestCount(), 1u);
    EXPECT_EQ(chain.form.Label1.Caption(), "");
    EXPECT_FALSE(chain.folder.Exists("update/a.txt"));
    EXPECT_FALSE(chain.form.Button1.Visible());
  }
}

// One client makes every HEAD, so a cookie set by one HEAD answer goes back
// with the next; each GET has a client of its own and sends none.
TEST_F(UpdateDownload, HeadRequestsShareTheWindowsCookies) {
  PublishRelease("2.0", {"a.txt", "b.txt"});
  server.Enqueue(Answer::File(1).Header("Set-Cookie: session=42; Path=/"));
  server.Enqueue(Answer::Ok("a"));
  server.Enqueue(Answer::File(1));
  server.Enqueue(Answer::Ok("b"));
  Click();
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[1].raw.find("Cookie:"), std::string::npos);
  EXPECT_EQ(requests[2].raw.find("Cookie:"), std::string::npos);
  EXPECT_NE(requests[3].raw.find("\r\nCookie: session=42\r\n"), std::string::npos);
  EXPECT_EQ(requests[4].raw.find("Cookie:"), std::string::npos);
}

}  // namespace
