// Plain Asio with coroutines (no Beast): the server must play broken and odd
// answers byte for byte, which a real HTTP library would refuse to write.
#include "TestHttpServer.hpp"

#include <algorithm>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <cstdio>

namespace test_support {

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using std::chrono::milliseconds;

// Every pause is bounded, so a mistaken script cannot hang a test for long.
constexpr milliseconds kLongestPause{30000};
constexpr std::size_t kPieceSize = 1024 * 1024;
constexpr std::size_t kLongestRequest = 1024 * 1024;
constexpr std::uint64_t kFileChunk = 1024 * 1024;

// A stretch of the generated file starting anywhere is a slice of this block:
// FileByte repeats every 251 bytes.
const std::string& PatternBlock() {
  static const std::string block = FileBytes(kPieceSize + 251);
  return block;
}

std::string_view Reason(int code) {
  switch (code) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

std::string Hex(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

asio::awaitable<void> Pause(milliseconds pause) {
  if (pause.count() <= 0) co_return;
  asio::steady_timer timer(co_await asio::this_coro::executor, std::min(pause, kLongestPause));
  error_code ignored;
  co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
}

}  // namespace

std::string FileBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = FileByte(i);
  return bytes;
}

// ---------------------------------------------------------------------------
// Answer

Answer Answer::Raw(std::string bytes) {
  Answer answer;
  answer.raw_ = true;
  answer.raw_bytes_ = std::move(bytes);
  return answer;
}

Answer Answer::Status(int code, std::string body, Framing framing) {
  Answer answer;
  answer.code_ = code;
  answer.body_ = std::move(body);
  answer.framing_ = framing;
  return answer;
}

Answer Answer::Redirect(int code, std::string location) {
  return Status(code).Header("Location: " + location);
}

Answer Answer::Chunked(std::vector<std::string> chunks) {
  Answer answer = Status(200, "", Framing::kChunked);
  answer.chunks_ = std::move(chunks);
  return answer;
}

Answer Answer::File(std::uint64_t size, Framing framing) {
  Answer answer = Status(200, "", framing);
  answer.is_file_ = true;
  answer.file_size_ = size;
  return answer;
}

Answer& Answer::Header(std::string line) {
  headers_.push_back(std::move(line));
  return *this;
}
Answer& Answer::DelayBefore(milliseconds pause) {
  delay_before_ = pause;
  return *this;
}
Answer& Answer::StallAfter(std::uint64_t bytes, milliseconds pause) {
  stall_at_ = bytes;
  stall_ = pause;
  return *this;
}
Answer& Answer::Trickle(std::size_t piece, milliseconds pause) {
  trickle_piece_ = piece;
  trickle_pause_ = pause;
  return *this;
}
Answer& Answer::CutAfter(std::uint64_t bytes) {
  cut_after_ = bytes;
  return *this;
}
Answer& Answer::HoldOpen(milliseconds pause) {
  hold_open_ = pause;
  return *this;
}

std::vector<Answer::Segment> Answer::Segments(std::string_view method) const {
  if (raw_) return {Segment{raw_bytes_}};
  std::string head =
      "HTTP/1.1 " + std::to_string(code_) + " " + std::string(Reason(code_)) + "\r\n";
  const std::uint64_t body_size = is_file_ ? file_size_ : body_.size();
  if (framing_ == Framing::kContentLength) {
    head += "Content-Length: " + std::to_string(body_size) + "\r\n";
  } else if (framing_ == Framing::kChunked) {
    head += "Transfer-Encoding: chunked\r\n";
  }
  for (const std::string& line : headers_) head += line + "\r\n";
  head += "\r\n";
  std::vector<Segment> segments{Segment{std::move(head)}};
  if (method == "HEAD") return segments;

  if (framing_ != Framing::kChunked) {
    if (is_file_) {
      if (file_size_ > 0) segments.push_back(Segment{"", 0, file_size_});
    } else {
      segments.push_back(Segment{body_});
    }
    return segments;
  }
  if (is_file_) {
    for (std::uint64_t offset = 0; offset < file_size_; offset += kFileChunk) {
      const std::uint64_t bytes = std::min(kFileChunk, file_size_ - offset);
      segments.push_back(Segment{Hex(bytes) + "\r\n"});
      segments.push_back(Segment{"", offset, bytes});
      segments.push_back(Segment{"\r\n"});
    }
  } else {
    std::vector<std::string> chunks = chunks_;
    if (chunks.empty() && !body_.empty()) chunks.push_back(body_);
    for (const std::string& chunk : chunks) {
      segments.push_back(Segment{Hex(chunk.size()) + "\r\n" + chunk + "\r\n"});
    }
  }
  segments.push_back(Segment{"0\r\n\r\n"});
  return segments;
}

std::string Answer::Wire(std::string_view method) const {
  std::string wire;
  for (const Segment& segment : Segments(method)) {
    wire += segment.literal;
    for (std::uint64_t i = 0; i < segment.file_bytes; ++i) {
      wire += FileByte(segment.file_offset + i);
    }
  }
  return wire.substr(0, std::min<std::uint64_t>(cut_after_, wire.size()));
}

// ---------------------------------------------------------------------------
// TestHttpServer

struct TestHttpServer::Engine {
  asio::io_context io{1};
  tcp::acceptor acceptor{io};

  asio::awaitable<void> Listen(TestHttpServer* server) {
    for (;;) {
      error_code ec;
      tcp::socket socket =
          co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
      if (ec) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) co_return;
        continue;
      }
      asio::co_spawn(io, Serve(server, std::move(socket)), asio::detached);
    }
  }

  static asio::awaitable<void> Serve(TestHttpServer* server, tcp::socket socket) {
    error_code ec;
    std::string raw;
    char buffer[4096];
    while (raw.find("\r\n\r\n") == std::string::npos && raw.size() < kLongestRequest) {
      const std::size_t got = co_await socket.async_read_some(
          asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
      if (ec) co_return;  // the client gave up before its request was complete
      raw.append(buffer, got);
    }
    RecordedRequest request;
    request.raw = raw;
    const std::string_view line = std::string_view(raw).substr(0, raw.find("\r\n"));
    const std::size_t first_blank = line.find(' ');
    const std::size_t last_blank = line.rfind(' ');
    request.method = std::string(line.substr(0, first_blank));
    if (first_blank != std::string_view::npos && last_blank > first_blank) {
      request.target = std::string(line.substr(first_blank + 1, last_blank - first_blank - 1));
    }
    const Answer answer = server->Pick(request.target);
    const std::string method = request.method;
    server->Record(std::move(request));

    co_await Pause(answer.delay_before_);
    std::uint64_t sent = 0;
    bool stalled = answer.stall_at_ == 0 && answer.stall_.count() == 0;
    for (const Answer::Segment& segment : answer.Segments(method)) {
      const std::uint64_t length =
          segment.file_bytes > 0 ? segment.file_bytes : segment.literal.size();
      std::uint64_t done = 0;
      while (done < length && sent < answer.cut_after_) {
        std::uint64_t piece = std::min<std::uint64_t>(length - done, kPieceSize);
        if (answer.trickle_piece_ > 0)
          piece = std::min<std::uint64_t>(piece, answer.trickle_piece_);
        if (!stalled && answer.stall_at_ > sent) piece = std::min(piece, answer.stall_at_ - sent);
        piece = std::min(piece, answer.cut_after_ - sent);
        const char* data = segment.file_bytes > 0
                               ? PatternBlock().data() + (segment.file_offset + done) % 251
                               : segment.literal.data() + done;
        co_await asio::async_write(socket, asio::buffer(data, piece),
                                   asio::redirect_error(asio::use_awaitable, ec));
        if (ec) co_return;  // the client has gone
        done += piece;
        sent += piece;
        if (!stalled && sent >= answer.stall_at_) {
          stalled = true;
          co_await Pause(answer.stall_);
        }
        if (answer.trickle_piece_ > 0) co_await Pause(answer.trickle_pause_);
      }
    }
    co_await Pause(answer.hold_open_);
    socket.shutdown(tcp::socket::shutdown_both, ec);
    socket.close(ec);
  }
};

TestHttpServer::TestHttpServer(std::uint16_t port) : engine_(std::make_unique<Engine>()) {
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  engine_->acceptor.open(endpoint.protocol());
  engine_->acceptor.set_option(tcp::acceptor::reuse_address(true));
  engine_->acceptor.bind(endpoint);
  engine_->acceptor.listen();
  port_ = engine_->acceptor.local_endpoint().port();
  asio::co_spawn(engine_->io, engine_->Listen(this), asio::detached);
  thread_ = std::thread([this] { engine_->io.run(); });
}

TestHttpServer::~TestHttpServer() {
  engine_->io.stop();
  thread_.join();
}

std::string TestHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void TestHttpServer::Route(std::string target, Answer answer) {
  std::lock_guard lock(mutex_);
  routes_.insert_or_assign(std::move(target), std::move(answer));
}

void TestHttpServer::Enqueue(Answer answer) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(answer));
}

Answer TestHttpServer::Pick(const std::string& target) {
  std::lock_guard lock(mutex_);
  if (const auto route = routes_.find(target); route != routes_.end()) return route->second;
  if (!queue_.empty()) {
    Answer answer = std::move(queue_.front());
    queue_.pop_front();
    return answer;
  }
  return Answer::Status(404);
}

void TestHttpServer::Record(RecordedRequest request) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }
  arrived_.notify_all();
}

std::vector<RecordedRequest> TestHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t TestHttpServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

bool TestHttpServer::WaitForRequests(std::size_t count, milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

// ---------------------------------------------------------------------------
// UnansweredPort

struct UnansweredPort::Sockets {
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  std::vector<tcp::socket> fillers;
};

UnansweredPort::UnansweredPort() : sockets_(std::make_unique<Sockets>()) {
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), 0);
  sockets_->acceptor.open(endpoint.protocol());
  sockets_->acceptor.bind(endpoint);
  sockets_->acceptor.listen(0);
  port_ = sockets_->acceptor.local_endpoint().port();
  const tcp::endpoint target(endpoint.address(), port_);
  // Connections started without waiting: the first ones fill the queue of
  // pending connections, the later ones are left hanging in the handshake.
  // (An asynchronous connect issues its system call at once; the handlers
  // never need to run.)
  for (int i = 0; i < 8; ++i) {
    sockets_->fillers.emplace_back(sockets_->io).async_connect(target, [](const error_code&) {});
  }
  // A probe tells whether a new attempt really hangs here.
  tcp::socket probe(sockets_->io);
  bool connected = false;
  probe.async_connect(target, [&](const error_code& ec) { connected = !ec; });
  sockets_->io.run_for(milliseconds(300));
  hangs_ = !connected;
  error_code ignored;
  probe.close(ignored);
  sockets_->io.restart();
  sockets_->io.run_for(milliseconds(10));
}

UnansweredPort::~UnansweredPort() = default;

}  // namespace test_support
