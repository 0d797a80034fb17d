// A scriptable HTTP server on 127.0.0.1 for the tests: it runs on a thread of
// its own inside the test process, records every request's raw bytes and
// plays scripted answers byte for byte, one connection per request.
//
//   test_support::TestHttpServer server;
//   server.Route("/quorvicomdata/update/tolvier/update.ini",
//                test_support::Answer::Ok("[update]\r\nVersion=2\r\n"));
//   server.Route("/big.bin", test_support::Answer::File(10 << 20));
//   server.Enqueue(test_support::Answer::Status(404));  // next unrouted request
//   ... client.Get(server.Url("/big.bin"), buffer) ...
//   server.Requests()[0].raw  // the bytes the client sent
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace test_support {

/// The byte at position `index` of a file served by Answer::File: index % 251,
/// so that any shifted or lost stretch shows.
inline char FileByte(std::uint64_t index) { return static_cast<char>(index % 251); }

/// The first `size` bytes of a served file, for comparisons.
std::string FileBytes(std::size_t size);

/// One scripted answer. An answer made by Raw is sent as it is, whatever the
/// request; the others build an answer with a status line, header lines in
/// the order added, and a body, and send no body to a HEAD request. After the
/// answer the server closes the connection (unless HoldOpen says otherwise).
class Answer {
 public:
  /// How a body is delimited.
  enum class Framing { kContentLength, kChunked, kUntilClose };

  /// These bytes exactly, for GET and HEAD alike.
  static Answer Raw(std::string bytes);
  /// Status `code` with `body` in the given framing ("Content-Length" unless
  /// said otherwise; an empty body then gets "Content-Length: 0").
  static Answer Status(int code, std::string body = "", Framing framing = Framing::kContentLength);
  /// 200 with `body` and "Content-Length".
  static Answer Ok(std::string body) { return Status(200, std::move(body)); }
  /// Status `code` (301, 302, 307...) with "Location: `location`" and no body.
  static Answer Redirect(int code, std::string location);
  /// 200 with the body sent in these chunks, then the last chunk "0" and an
  /// empty trailer. Each chunk is sent as "<hex size>\r\n<data>\r\n".
  static Answer Chunked(std::vector<std::string> chunks);
  /// A file of `size` bytes (FileByte), generated while sent, so that large
  /// sizes cost no memory. HEAD gets the same headers and no body.
  static Answer File(std::uint64_t size, Framing framing = Framing::kContentLength);

  /// Adds the header line `line` ("Set-Cookie: a=1", without CR LF) after the
  /// framing headers. No effect on Raw answers.
  Answer& Header(std::string line);
  /// Waits this long after reading the request, before sending anything.
  Answer& DelayBefore(std::chrono::milliseconds pause);
  /// Sends the first `bytes` bytes of the answer, waits `pause`, sends the rest.
  Answer& StallAfter(std::uint64_t bytes, std::chrono::milliseconds pause);
  /// Sends the answer in pieces of `piece` bytes with `pause` after each one.
  Answer& Trickle(std::size_t piece, std::chrono::milliseconds pause);
  /// Sends only the first `bytes` bytes of the answer, then closes.
  Answer& CutAfter(std::uint64_t bytes);
  /// Keeps the connection open this long after the answer before closing.
  Answer& HoldOpen(std::chrono::milliseconds pause);

  /// The whole answer as it would be sent to `method` (for small answers;
  /// File answers are generated in full here).
  std::string Wire(std::string_view method) const;

 private:
  friend class TestHttpServer;
  struct Segment {
    std::string literal;
    std::uint64_t file_offset = 0;
    std::uint64_t file_bytes = 0;  // a stretch of the generated file when > 0
  };
  std::vector<Segment> Segments(std::string_view method) const;

  bool raw_ = false;
  std::string raw_bytes_;
  int code_ = 200;
  std::vector<std::string> headers_;
  std::vector<std::string> chunks_;
  std::string body_;
  std::uint64_t file_size_ = 0;
  bool is_file_ = false;
  Framing framing_ = Framing::kContentLength;
  std::chrono::milliseconds delay_before_{0};
  std::uint64_t stall_at_ = 0;
  std::chrono::milliseconds stall_{0};
  std::size_t trickle_piece_ = 0;
  std::chrono::milliseconds trickle_pause_{0};
  std::uint64_t cut_after_ = UINT64_MAX;
  std::chrono::milliseconds hold_open_{0};
};

/// A request as it arrived.
struct RecordedRequest {
  /// Every byte read from the connection before the answer began.
  std::string raw;
  /// The request line's method and target, for convenience.
  std::string method;
  std::string target;
};

/// The server. Starts listening on 127.0.0.1 when made, at `port` or, when
/// it is 0, at a free port; stops (cutting every pause and connection short)
/// when destroyed. Throws boost::system::system_error (a std::runtime_error)
/// when the port cannot be had. Thread-safe.
class TestHttpServer {
 public:
  explicit TestHttpServer(std::uint16_t port = 0);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  std::uint16_t Port() const { return port_; }
  /// "http://127.0.0.1:<port>", without a trailing slash.
  std::string BaseUrl() const;
  /// BaseUrl() followed by `target` (which should start with "/").
  std::string Url(std::string_view target) const { return BaseUrl() + std::string(target); }

  /// Answers every request whose target is exactly `target` with `answer`.
  void Route(std::string target, Answer answer);
  /// Answers the next request that no route takes; queued answers are used in
  /// order, once each. Requests beyond them get 404 with an empty body.
  void Enqueue(Answer answer);

  /// Every request so far, in order of arrival.
  std::vector<RecordedRequest> Requests() const;
  /// How many requests have arrived.
  std::size_t RequestCount() const;
  /// Waits until `count` requests have arrived or `limit` has passed; true when they have.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const;

 private:
  struct Engine;
  Answer Pick(const std::string& target);
  void Record(RecordedRequest request);

  std::unique_ptr<Engine> engine_;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::map<std::string, Answer> routes_;
  std::deque<Answer> queue_;
  std::vector<RecordedRequest> requests_;
  std::thread thread_;
};

/// A port on 127.0.0.1 that listens but never accepts, its queue of pending
/// connections filled, so that a further connection attempt hangs (the kernel
/// drops its handshake). Exists() tells whether the queue could be filled.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;

  std::uint16_t Port() const { return port_; }
  /// True when a probe connection did hang, so the port serves its purpose.
  bool Hangs() const { return hangs_; }

 private:
  struct Sockets;
  std::unique_ptr<Sockets> sockets_;
  std::uint16_t port_ = 0;
  bool hangs_ = false;
};

}  // namespace test_support
