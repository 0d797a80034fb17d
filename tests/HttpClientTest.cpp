// The HTTP client against the scriptable server on real loopback sockets.
#include "platform/HttpClient.hpp"

#include <gtest/gtest.h>

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "support/TestHttpServer.hpp"

namespace {

using platform::TIdAntiFreeze;
using platform::TIdHTTP;
using platform::TMemoryStream;
using test_support::Answer;
using test_support::TestHttpServer;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// The four fixed headers, in their order, after the request line.
std::string FixedHeaders(const std::string& host) {
  return "Content-Type: text/html\r\nHost: " + host +
         "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
}

// Records when the anti-freeze lets the window be serviced.
struct ServiceLog {
  std::vector<Clock::time_point> calls;
  TIdAntiFreeze anti_freeze{[this] { calls.push_back(Clock::now()); }};

  // The longest stretch between `start`, each servicing, and `end`.
  Clock::duration LongestGap(Clock::time_point start, Clock::time_point end) const {
    Clock::duration longest{0};
    Clock::time_point previous = start;
    for (Clock::time_point call : calls) {
      longest = std::max(longest, call - previous);
      previous = call;
    }
    return std::max(longest, end - previous);
  }
};

class HttpClientTest : public ::testing::Test {
 protected:
  HttpClientTest() {
    // Short limits keep the failing cases quick; the pauses the server plays
    // are far longer, so a limit that failed to act would show as a success.
    client.DataWaitLimit = milliseconds(2000);
    client.ConnectTimeout = milliseconds(5000);
  }

  // GETs `target`; returns the body, or throws as the client does.
  std::string Get(const std::string& target) {
    TMemoryStream buffer;
    client.Get(server.Url(target), buffer);
    return std::string(buffer.View());
  }

  std::string LastRaw() const {
    const auto requests = server.Requests();
    return requests.empty() ? std::string() : requests.back().raw;
  }

  TestHttpServer server;
  TIdHTTP client{nullptr};
};

// ---------------------------------------------------------------------------
// The request on the wire

TEST_F(HttpClientTest, SendsExactlyTheRequestLineAndFourHeaders) {
  struct Case {
    std::string address_rest;  // after the base address
    std::string target;        // as it must go on the wire
  };
  const std::array<Case, 13> cases{{
      {"/quorvicomdata/update/tolvier/update.ini", "/quorvicomdata/update/tolvier/update.ini"},
      {"", "/"},
      {"/a b/c d.txt", "/a b/c d.txt"},
      {"/x/../y/./z", "/x/../y/./z"},
      {"/100%/%41%zz", "/100%/%41%zz"},
      {"/\xD6\xD0\xCE\xC4/\xCE\xC4\xBC\xFE.txt", "/\xD6\xD0\xCE\xC4/\xCE\xC4\xBC\xFE.txt"},
      {"/dir\\sub\\file.txt", "/dir/sub/file.txt"},
      {"/a/b.txt#frag", "/a/b.txt"},
      {"/a#b/c.txt", "/a#b/c.txt"},
      {"/a?x=1#f/g", "/a?x=1"},
      {"/a/b?c=d/e#f", "/a/b?c=d/e"},
      {"/q?x=a b&y=%", "/q?x=a b&y=%"},
      {"/end/#", "/end/"},
  }};
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  for (const Case& c : cases) {
    for (const char* method : {"GET", "HEAD"}) {
      SCOPED_TRACE(std::string(method) + " " + c.address_rest);
      server.Enqueue(Answer::Ok("x"));
      TMemoryStream buffer;
      if (std::string(method) == "GET") {
        client.Get(server.BaseUrl() + c.address_rest, buffer);
      } else {
        client.Head(server.BaseUrl() + c.address_rest);
      }
      EXPECT_EQ(LastRaw(), std::string(method) + " " + c.target + " HTTP/1.1\r\n" +
                               FixedHeaders(host) + "\r\n");
    }
  }
}

TEST_F(HttpClientTest, HostHeaderKeepsTheWrittenHostAndDropsPort80) {
  server.Enqueue(Answer::Ok(""));
  TMemoryStream buffer;
  // A written-out name with capitals: sent as written, with the port.
  client.Get("hTTp://LocalHost:" + std::to_string(server.Port()) + "/p", buffer);
  EXPECT_EQ(LastRaw(), "GET /p HTTP/1.1\r\n" +
                           FixedHeaders("LocalHost:" + std::to_string(server.Port())) + "\r\n");

  std::unique_ptr<TestHttpServer> port80;
  try {
    port80 = std::make_unique<TestHttpServer>(80);
  } catch (const std::exception&) {
    GTEST_SKIP() << "port 80 on 127.0.0.1 is taken or not allowed here";
  }
  port80->Enqueue(Answer::Ok(""));
  port80->Enqueue(Answer::Ok(""));
  client.Get("http://127.0.0.1/p", buffer);
  client.Get("http://127.0.0.1:0080/q", buffer);
  const auto requests = port80->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].raw, "GET /p HTTP/1.1\r\n" + FixedHeaders("127.0.0.1") + "\r\n");
  EXPECT_EQ(requests[1].raw, "GET /q HTTP/1.1\r\n" + FixedHeaders("127.0.0.1") + "\r\n");
}

TEST_F(HttpClientTest, MalformedAddressesFailBeforeAnyConnection) {
  const std::string port = std::to_string(server.Port());
  for (const std::string& address :
       {std::string("ftp://127.0.0.1:") + port + "/x", std::string("127.0.0.1:") + port + "/x",
        std::string("http:///x"), std::string("http://127.0.0.1:99999/x"),
        std::string("http://127.0.0.1:8o/x"),
        std::string("http://127.0.0.1:") + port + "/a\r\nX: y"}) {
    SCOPED_TRACE(address);
    TMemoryStream buffer;
    EXPECT_THROW(client.Get(address, buffer), platform::HttpAddressError);
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

// ---------------------------------------------------------------------------
// The outcome rule

TEST_F(HttpClientTest, OnlyTwoHundredsWithoutLocationSucceed) {
  struct Case {
    int code;
    bool location;
    bool success;
  };
  const std::array<Case, 17> cases{{
      {200, false, true},
      {201, false, true},
      {204, false, true},
      {206, false, true},
      {299, false, true},
      {100, false, false},
      {199, false, false},
      {300, false, false},
      {301, true, false},
      {302, true, false},
      {304, false, false},
      {307, true, false},
      {401, false, false},
      {404, false, false},
      {500, false, false},
      {200, true, false},
      {204, true, false},
  }};
  for (const Case& c : cases) {
    for (const bool head : {false, true}) {
      SCOPED_TRACE(std::to_string(c.code) + (c.location ? " with Location" : "") +
                   (head ? " HEAD" : " GET"));
      std::string answer = "HTTP/1.1 " + std::to_string(c.code) + " Whatever\r\n";
      if (c.location) answer += "Location: http://127.0.0.1:1/elsewhere\r\n";
      answer += "Content-Length: 4\r\n\r\nbody";
      server.Enqueue(Answer::Raw(answer));
      TMemoryStream buffer;
      try {
        if (head) {
          client.Head(server.Url("/o"));
        } else {
          client.Get(server.Url("/o"), buffer);
        }
        EXPECT_TRUE(c.success);
        EXPECT_EQ(buffer.View(), head || c.code == 204 ? "" : "body");
      } catch (const platform::HttpStatusError& error) {
        EXPECT_FALSE(c.success);
        EXPECT_EQ(error.StatusCode(), c.code);
        EXPECT_EQ(error.HasLocation(), c.location);
        EXPECT_EQ(buffer.Size(), 0u);
      }
      EXPECT_EQ(client.Response.ResponseCode, c.code);
    }
  }
  // No redirect was followed: one request per answer.
  EXPECT_EQ(server.RequestCount(), 2 * cases.size());
}

// ---------------------------------------------------------------------------
// The body

TEST_F(HttpClientTest, ReadsEachBodyFormByteForByte) {
  const std::string binary("a\0b\r\n\r\nc\xff", 10);
  struct Case {
    const char* name;
    std::string answer;
    std::string body;
  };
  const std::vector<Case> cases{
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n" + binary, binary},
      {"length with more sent", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", "abc"},
      {"chunked with extensions and trailers",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5;ext=1\r\nhello\r\n6;a;b=\"q r\"\r\n world\r\nA\r\n" +
           binary + "\r\n0\r\nX-Trailer: 1\r\nY: 2\r\n\r\n",
       "hello world" + binary},
      {"chunked, upper-case hex",
       "HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\n\r\n"
       "0000B\r\nhello world\r\n0\r\n\r\n",
       "hello world"},
      {"until close", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\n" + binary, binary},
      {"until close, HTTP/1.0", "HTTP/1.0 200 OK\r\n\r\nold", "old"},
      {"length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nignored", ""},
      {"empty until close", "HTTP/1.1 200 OK\r\n\r\n", ""},
      {"empty chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", ""},
      {"204 reads none", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nhello", ""},
      {"a length wins over chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\nhello", "hello"},
      {"odd length reads until close", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nxyz", "xyz"},
      {"negative length reads until close", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nxyz",
       "xyz"},
      {"blanks around the length", "HTTP/1.1 200 OK\r\nContent-Length:   3  \r\n\r\nabcd", "abc"},
      {"bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", "abc"},
      {"folded header line", "HTTP/1.1 200 OK\r\nX-A: 1\r\n  2\r\nContent-Length: 2\r\n\r\nok",
       "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.Enqueue(Answer::Raw(c.answer));
    EXPECT_EQ(Get("/b"), c.body);
  }
}

TEST_F(HttpClientTest, LargeFilesArriveWholeInEachFraming) {
  constexpr std::size_t kSize = 9 * 1024 * 1024 + 7;  // above Beast's default 8 MiB limit
  const std::string expected = test_support::FileBytes(kSize);
  for (const auto framing :
       {Answer::Framing::kContentLength, Answer::Framing::kChunked, Answer::Framing::kUntilClose}) {
    SCOPED_TRACE(static_cast<int>(framing));
    server.Enqueue(Answer::File(kSize, framing));
    TMemoryStream buffer;
    client.Get(server.Url("/f"), buffer);
    ASSERT_EQ(buffer.Size(), kSize);
    EXPECT_TRUE(buffer.View() == expected);
    if (framing == Answer::Framing::kContentLength) {
      // Sized once from the length, never grown by doubling.
      EXPECT_EQ(buffer.Capacity(), kSize);
    }
  }
}

TEST_F(HttpClientTest, FileAnswersGiveHeadTheHeadersOnly) {
  server.Route("/file.bin", Answer::File(12345).HoldOpen(milliseconds(5000)));
  client.Head(server.Url("/file.bin"));
  EXPECT_EQ(client.Response.ContentLength, 12345);
  EXPECT_EQ(Get("/file.bin"), test_support::FileBytes(12345));
}

// ---------------------------------------------------------------------------
// HEAD and the content length

TEST_F(HttpClientTest, HeadReportsTheContentLengthRule) {
  struct Case {
    const char* header;  // null: no Content-Length at all
    std::int32_t expected;
  };
  const std::array<Case, 14> cases{{
      {nullptr, -1},
      {"123", 123},
      {" 123 ", 123},
      {"\t7\t", 7},
      {"0", 0},
      {"abc", -1},
      {"12 3", -1},
      {"", -1},
      {"-5", -5},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", -1},
      {"-2147483649", -1},
      {"99999999999", -1},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header ? c.header : "(missing)");
    std::string answer = "HTTP/1.1 200 OK\r\n";
    if (c.header) answer += std::string("Content-Length: ") + c.header + "\r\n";
    answer += "\r\n";
    // The connection stays open: a HEAD that waited for a body would run into
    // the data-wait limit and fail.
    server.Enqueue(Answer::Raw(answer).HoldOpen(milliseconds(5000)));
    client.Response.ContentLength = 42;
    client.Head(server.Url("/h"));
    EXPECT_EQ(client.Response.ContentLength, c.expected);
  }
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(HttpClientTest, UnresolvableHostFailsAtTheLookUp) {
  TMemoryStream buffer;
  EXPECT_THROW(client.Get("http://nothing-here.invalid/update.ini", buffer),
               platform::HttpResolveError);
  EXPECT_THROW(client.Head("http://nothing-here.invalid/update.ini"), platform::HttpResolveError);
}

TEST_F(HttpClientTest, RefusedConnectionFailsAtTheConnect) {
  std::uint16_t closed_port = 0;
  {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::make_address_v4("127.0.0.1"), 0});
    closed_port = acceptor.local_endpoint().port();
  }
  TMemoryStream buffer;
  EXPECT_THROW(client.Get("http://127.0.0.1:" + std::to_string(closed_port) + "/x", buffer),
               platform::HttpConnectError);
}

TEST_F(HttpClientTest, ConnectionAttemptEndsAtItsLimitWhileServicingTheWindow) {
  test_support::UnansweredPort port;
  if (!port.Hangs()) GTEST_SKIP() << "the kernel here answers even a full listen queue";
  ServiceLog log;
  log.anti_freeze.OnlyWhenIdle = false;
  TIdHTTP patient(&log.anti_freeze);
  patient.ConnectTimeout = milliseconds(700);
  TMemoryStream buffer;
  const auto start = Clock::now();
  EXPECT_THROW(patient.Get("http://127.0.0.1:" + std::to_string(port.Port()) + "/x", buffer),
               platform::HttpConnectTimeout);
  EXPECT_LE(log.LongestGap(start, Clock::now()), milliseconds(125));
  EXPECT_GE(log.calls.size(), 5u);
}

TEST_F(HttpClientTest, AnswersCutShortFailAtTheirStage) {
  struct Case {
    const char* name;
    Answer answer;
    bool header_stage;  // else the body's
  };
  const std::vector<Case> cases{
      {"nothing at all", Answer::Raw(""), true},
      {"status line cut", Answer::Raw("HTTP/1.1 200 O"), true},
      {"header block cut", Answer::Raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), true},
      {"no HTTP answer", Answer::Raw("hello there\r\n\r\n"), true},
      {"status code of two digits", Answer::Raw("HTTP/1.1 20 OK\r\n\r\n"), true},
      {"length cut short", Answer::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this"),
       false},
      {"file cut short", Answer::File(3 * 1024 * 1024).CutAfter(1024 * 1024), false},
      {"chunk cut short",
       Answer::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nA\r\nhalf"), false},
      {"chunk size line cut",
       Answer::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1"), false},
      {"last chunk missing",
       Answer::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"), false},
      {"trailer cut",
       Answer::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nX: 1\r\n"), false},
      {"chunk size no number",
       Answer::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n"),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.Enqueue(c.answer);
    TMemoryStream buffer;
    try {
      client.Get(server.Url("/cut"), buffer);
      ADD_FAILURE() << "succeeded";
    } catch (const platform::HttpHeaderError&) {
      EXPECT_TRUE(c.header_stage);
    } catch (const platform::HttpBodyError&) {
      EXPECT_FALSE(c.header_stage);
    }
    EXPECT_EQ(buffer.Size(), 0u);
  }
}

TEST_F(HttpClientTest, SilentServerEndsTheWaitAtTheDataLimit) {
  client.DataWaitLimit = milliseconds(300);
  const std::vector<Answer> answers{
      Answer::Ok("late").DelayBefore(milliseconds(10000)),
      Answer::File(4000).StallAfter(100, milliseconds(10000)),
      Answer::File(4000, Answer::Framing::kChunked).StallAfter(2000, milliseconds(10000)),
      Answer::File(4000, Answer::Framing::kUntilClose).HoldOpen(milliseconds(10000)),
  };
  for (std::size_t i = 0; i < answers.size(); ++i) {
    SCOPED_TRACE(i);
    server.Enqueue(answers[i]);
    TMemoryStream buffer;
    EXPECT_THROW(client.Get(server.Url("/slow"), buffer), platform::HttpReadTimeout);
    EXPECT_EQ(buffer.Size(), 0u);
  }
  // A header block that stops half-way.
  server.Enqueue(Answer::Raw("HTTP/1.1 200 OK\r\n").HoldOpen(milliseconds(10000)));
  EXPECT_THROW(client.Head(server.Url("/slow")), platform::HttpReadTimeout);
}

TEST_F(HttpClientTest, AnnouncedBodiesBeyondMemoryFailAsMemoryExhausted) {
  // Beyond any address space: refused without an attempt to allocate.
  server.Enqueue(Answer::Raw("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999\r\n\r\nx"));
  EXPECT_THROW(Get("/huge"), platform::HttpOutOfMemory);
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer aborts on an allocation this size";
  // 64 TiB: the allocation itself fails.
  server.Enqueue(Answer::Raw("HTTP/1.1 200 OK\r\nContent-Length: 70368744177664\r\n\r\nx"));
  EXPECT_THROW(Get("/huge"), platform::HttpOutOfMemory);
}

// ---------------------------------------------------------------------------
// Cookies

TEST_F(HttpClientTest, CookiesGoBackOnLaterRequestsOfTheSameClientOnly) {
  server.Route("/set", Answer::Ok("")
                           .Header("Set-Cookie: session=abc; Path=/")
                           .Header("Set-Cookie: deep=1; Path=/dir")
                           .Header("Set-Cookie: secret=2; Secure"));
  server.Route("/dir/page", Answer::Ok(""));
  server.Route("/other", Answer::Ok(""));
  Get("/set");
  Get("/dir/page");
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  EXPECT_EQ(LastRaw(), "GET /dir/page HTTP/1.1\r\n" + FixedHeaders(host) +
                           "Cookie: deep=1; session=abc\r\n\r\n");
  client.Head(server.Url("/other"));
  EXPECT_EQ(LastRaw(),
            "HEAD /other HTTP/1.1\r\n" + FixedHeaders(host) + "Cookie: session=abc\r\n\r\n");

  TIdHTTP stranger(nullptr);
  TMemoryStream buffer;
  stranger.Get(server.Url("/dir/page"), buffer);
  EXPECT_EQ(LastRaw(), "GET /dir/page HTTP/1.1\r\n" + FixedHeaders(host) + "\r\n");
}

TEST_F(HttpClientTest, FailedAnswersSetCookiesTooAndExpiryDeletes) {
  server.Enqueue(Answer::Redirect(302, "/elsewhere").Header("Set-Cookie: a=1"));
  server.Enqueue(Answer::Status(404).Header("Set-Cookie: b=2"));
  server.Enqueue(Answer::Ok("").Header("Set-Cookie: a=gone; Max-Age=0"));
  server.Enqueue(Answer::Ok(""));
  EXPECT_THROW(Get("/one"), platform::HttpStatusError);
  EXPECT_THROW(Get("/two"), platform::HttpStatusError);
  Get("/three");
  EXPECT_NE(server.Requests()[2].raw.find("\r\nCookie: a=1; b=2\r\n"), std::string::npos);
  Get("/four");
  EXPECT_NE(LastRaw().find("\r\nCookie: b=2\r\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Servicing the window

TEST_F(HttpClientTest, SlowAnswerKeepsTheWindowServiced) {
  ServiceLog log;
  log.anti_freeze.OnlyWhenIdle = false;
  TIdHTTP serviced(&log.anti_freeze);
  server.Enqueue(Answer::File(1000).DelayBefore(milliseconds(600)).Trickle(200, milliseconds(200)));
  TMemoryStream buffer;
  const auto start = Clock::now();
  serviced.Get(server.Url("/slow"), buffer);
  const auto end = Clock::now();
  EXPECT_EQ(buffer.View(), test_support::FileBytes(1000));
  EXPECT_LE(log.LongestGap(start, end), milliseconds(250));

  // An inactive anti-freeze hands nothing to the window.
  log.calls.clear();
  log.anti_freeze.Active = false;
  server.Enqueue(Answer::Ok("x").DelayBefore(milliseconds(300)));
  serviced.Get(server.Url("/slow"), buffer);
  EXPECT_TRUE(log.calls.empty());
}

TEST_F(HttpClientTest, CallbackMayNotReenterButMayUseAnotherClient) {
  bool nested_refused = false;
  std::string nested_body;
  TIdHTTP* self = nullptr;
  bool once = false;
  TIdAntiFreeze anti_freeze([&] {
    if (once) return;
    once = true;
    TMemoryStream buffer;
    try {
      self->Get(server.Url("/inner"), buffer);
    } catch (const platform::HttpError&) {
      nested_refused = true;
    }
    TIdHTTP other(nullptr);
    other.Get(server.Url("/inner"), buffer);
    nested_body = std::string(buffer.View());
  });
  TIdHTTP outer(&anti_freeze);
  self = &outer;
  server.Route("/outer", Answer::Ok("outer body").DelayBefore(milliseconds(300)));
  server.Route("/inner", Answer::Ok("inner body"));
  TMemoryStream buffer;
  outer.Get(server.Url("/outer"), buffer);
  EXPECT_EQ(buffer.View(), "outer body");
  EXPECT_TRUE(nested_refused);
  EXPECT_EQ(nested_body, "inner body");
}

}  // namespace
