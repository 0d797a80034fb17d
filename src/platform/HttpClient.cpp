// The only translation unit that includes Asio and Beast in the core: each
// one that does costs seconds of compile time.
#include "platform/HttpClient.hpp"

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <limits>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CodePage.hpp"

namespace platform {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The window is serviced at least this often while a request waits, however
// long the anti-freeze's own slices are.
constexpr milliseconds kLongestSlice{50};
// One read from the socket; also the step by which a body of unknown length
// grows the buffer's reading area.
constexpr std::size_t kReadSize = 256 * 1024;

// More than any process can address (user space spans 2^47 bytes): a body
// announced above this is refused as memory exhausted without trying.
constexpr std::uint64_t kLargestBody = std::uint64_t{1} << 47;

constexpr std::string_view kContentType = "text/html";
constexpr std::string_view kAccept = "text/html, */*";
constexpr std::string_view kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// Blanks as the header rules take them: every byte up to and including the space.
std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// An optional sign and decimal digits, saturating far beyond any range the
// callers test; nothing when the text is no such number.
std::optional<std::int64_t> ParseInteger(std::string_view text) {
  text = TrimControls(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::int64_t kCeiling = std::numeric_limits<std::int64_t>::max() / 10 - 10;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min(value * 10 + (c - '0'), kCeiling);
  }
  return negative ? -value : value;
}

// ---------------------------------------------------------------------------
// The address.

struct Address {
  std::string host;          // as written, brackets of an IPv6 literal included
  std::string resolve_host;  // what the resolver is given
  std::uint16_t port = 80;
  std::string target;  // sent byte for byte
};

[[noreturn]] void ThrowAddress(const std::string& url, std::string_view why) {
  throw HttpAddressError("HTTP: the address \"" + url + "\" " + std::string(why));
}

Address ParseAddress(const std::string& url) {
  // A CR or LF would end the request line early and a NUL cannot travel in
  // one; such an address cannot be sent as written.
  if (url.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    ThrowAddress(url, "holds a line break or NUL byte");
  }
  const std::string_view text = url;
  const std::size_t scheme_end = text.find("://");
  if (scheme_end == std::string_view::npos || !EqualsNoCase(text.substr(0, scheme_end), "http")) {
    ThrowAddress(url, "is no http:// address");
  }
  const std::string_view rest = text.substr(scheme_end + 3);
  const std::size_t authority_end = std::min(rest.find_first_of("/?#"), rest.size());
  const std::string_view authority = rest.substr(0, authority_end);
  std::string_view path = rest.substr(authority_end);

  Address address;
  std::string_view port_text;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) ThrowAddress(url, "has an unclosed IPv6 literal");
    address.host = std::string(authority.substr(0, close + 1));
    address.resolve_host = std::string(authority.substr(1, close - 1));
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') ThrowAddress(url, "has text after its IPv6 literal");
      port_text = after.substr(1);
    }
  } else {
    const std::size_t colon = authority.rfind(':');
    address.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) port_text = authority.substr(colon + 1);
    address.resolve_host = address.host;
  }
  if (address.resolve_host.empty()) ThrowAddress(url, "names no host");
  if (!port_text.empty()) {
    if (!std::all_of(port_text.begin(), port_text.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      ThrowAddress(url, "has a port that is no number");
    }
    const auto port = ParseInteger(port_text);
    if (!port || *port < 1 || *port > 65535) ThrowAddress(url, "has a port outside 1 to 65535");
    address.port = static_cast<std::uint16_t>(*port);
  }

  // A '#' begins the fragment only after the last slash or after a '?';
  // one inside an earlier path segment is part of the path.
  const std::size_t last_slash = path.rfind('/');
  const std::size_t query = path.find('?');
  for (std::size_t hash = path.find('#'); hash != std::string_view::npos;
       hash = path.find('#', hash + 1)) {
    if ((last_slash == std::string_view::npos || hash > last_slash) ||
        (query != std::string_view::npos && hash > query)) {
      path = path.substr(0, hash);
      break;
    }
  }
  address.target =
      (path.empty() || path.front() != '/') ? "/" + std::string(path) : std::string(path);
  return address;
}

// ---------------------------------------------------------------------------
// The answer's header block.

struct AnswerHeader {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> fields;

  const std::string* Find(std::string_view name) const {
    for (const auto& field : fields) {
      if (EqualsNoCase(field.first, name)) return &field.second;
    }
    return nullptr;
  }
};

// The end of the header block (just past its empty line) in `data`, searching
// from `from`; npos while incomplete. Bare LF line ends are taken as well.
std::size_t FindHeaderEnd(std::string_view data, std::size_t from) {
  for (std::size_t i = data.find('\n', from); i != std::string_view::npos;
       i = data.find('\n', i + 1)) {
    if (i + 1 < data.size() && data[i + 1] == '\n') return i + 2;
    if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
  }
  return std::string_view::npos;
}

// Returns false when the block is no HTTP answer.
bool ParseHeaderBlock(std::string_view block, AnswerHeader& header) {
  std::vector<std::string_view> lines;
  while (!block.empty()) {
    const std::size_t end = std::min(block.find('\n'), block.size());
    std::string_view line = block.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    block.remove_prefix(std::min(end + 1, block.size()));
  }
  if (lines.empty()) return false;

  // "HTTP/" digit "." digit, blanks, three digits, then a blank and the reason
  // or nothing.
  std::string_view status_line = lines.front();
  if (status_line.size() < 12 || status_line.substr(0, 5) != "HTTP/") return false;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(status_line[5]) || status_line[6] != '.' || !digit(status_line[7])) return false;
  status_line.remove_prefix(8);
  if (status_line.empty() || status_line.front() != ' ') return false;
  while (!status_line.empty() && status_line.front() == ' ') status_line.remove_prefix(1);
  if (status_line.size() < 3 || !digit(status_line[0]) || !digit(status_line[1]) ||
      !digit(status_line[2]) || (status_line.size() > 3 && status_line[3] != ' ')) {
    return false;
  }
  header.status =
      (status_line[0] - '0') * 100 + (status_line[1] - '0') * 10 + (status_line[2] - '0');

  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) break;
    if ((line.front() == ' ' || line.front() == '\t') && !header.fields.empty()) {
      // An obsolete folded line continues the previous value.
      header.fields.back().second += ' ';
      header.fields.back().second += TrimControls(line);
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;  // not a field; ignored as lenient readers do
    header.fields.emplace_back(std::string(TrimControls(line.substr(0, colon))),
                               std::string(TrimControls(line.substr(colon + 1))));
  }
  return true;
}

bool NamesChunked(const AnswerHeader& header) {
  for (const auto& [name, value] : header.fields) {
    if (!EqualsNoCase(name, "Transfer-Encoding")) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const std::size_t comma = std::min(rest.find(','), rest.size());
      if (EqualsNoCase(TrimControls(rest.substr(0, comma)), "chunked")) return true;
      rest.remove_prefix(std::min(comma + 1, rest.size()));
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// The body, stored through Beast's parser straight into the caller's buffer.

const error_code kOutOfMemory =
    boost::system::errc::make_error_code(boost::system::errc::not_enough_memory);

struct StreamBody {
  struct value_type {
    TMemoryStream* stream = nullptr;
  };

  class reader {
   public:
    template <bool isRequest, class Fields>
    // The parser makes its reader when it is made itself, before the stream is
    // named, so the reader looks the stream up only when bytes come.
    reader(http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

    // A known length sizes the buffer once, so a large body never grows it
    // step by step (and never needs twice its size while growing).
    void init(const boost::optional<std::uint64_t>& length, error_code& ec) {
      ec = {};
      if (!length) return;
      if (*length > kLargestBody) {
        ec = kOutOfMemory;
        return;
      }
      try {
        body_.stream->Reserve(static_cast<std::size_t>(*length));
      } catch (const std::bad_alloc&) {
        ec = kOutOfMemory;
      } catch (const std::length_error&) {
        ec = kOutOfMemory;
      }
    }

    template <class ConstBufferSequence>
    std::size_t put(const ConstBufferSequence& buffers, error_code& ec) {
      ec = {};
      std::size_t stored = 0;
      for (const auto piece : beast::buffers_range_ref(buffers)) {
        try {
          body_.stream->Write(piece.data(), piece.size());
        } catch (const std::bad_alloc&) {
          ec = kOutOfMemory;
          return stored;
        } catch (const std::length_error&) {
          ec = kOutOfMemory;
          return stored;
        }
        stored += piece.size();
      }
      return stored;
    }

    void finish(error_code& ec) { ec = {}; }

   private:
    value_type& body_;
  };
};

// ---------------------------------------------------------------------------
// One exchange on one connection, driven on the calling thread in slices.

class Exchange {
 public:
  Exchange(const TIdAntiFreeze* anti_freeze, milliseconds connect_limit, milliseconds data_limit,
           std::string where)
      : anti_freeze_(anti_freeze),
        connect_limit_(connect_limit),
        data_limit_(data_limit),
        where_(std::move(where)) {}

  const std::string& Where() const { return where_; }

  tcp::resolver::results_type Resolve(const Address& address) {
    // Blocking: a name look-up services nothing, which the window can bear.
    tcp::resolver resolver(io_);
    error_code ec;
    auto results = resolver.resolve(address.resolve_host, std::to_string(address.port),
                                    tcp::resolver::numeric_service, ec);
    if (ec || results.empty()) {
      throw HttpResolveError(where_ + ": the host name could not be resolved (" +
                             (ec ? ec.message() : std::string("no address")) + ")");
    }
    return results;
  }

  void Connect(const tcp::resolver::results_type& endpoints) {
    const Outcome outcome = Await(
        [&](auto on_done) {
          asio::async_connect(
              socket_, endpoints,
              [on_done](const error_code& ec, const tcp::endpoint&) mutable { on_done(ec, 0); });
        },
        connect_limit_, ConnectSlice());
    if (outcome.timed_out) {
      throw HttpConnectTimeout(where_ + ": no connection within " +
                               std::to_string(connect_limit_.count()) + " ms");
    }
    if (outcome.ec) {
      throw HttpConnectError(where_ + ": the connection failed (" + outcome.ec.message() + ")");
    }
  }

  void Send(const std::string& request) {
    const Outcome outcome =
        Await([&](auto on_done) { asio::async_write(socket_, asio::buffer(request), on_done); },
              data_limit_, DataSlice());
    if (outcome.timed_out) {
      throw HttpReadTimeout(where_ + ": the request could not be sent within " +
                            std::to_string(data_limit_.count()) + " ms");
    }
    if (outcome.ec) {
      throw HttpSendError(where_ + ": the request could not be sent (" + outcome.ec.message() +
                          ")");
    }
    Service(true);
  }

  // Reads what has arrived, up to `room`, waiting for at least one byte.
  // Returns 0 at the server's orderly close; throws `Error` for a broken
  // connection, with `stage` in its message.
  template <class Error>
  std::size_t ReadSome(asio::mutable_buffer room, std::string_view stage) {
    const Outcome outcome = Await([&](auto on_done) { socket_.async_read_some(room, on_done); },
                                  data_limit_, DataSlice());
    if (outcome.timed_out) {
      throw HttpReadTimeout(where_ + ": no data from the server for " +
                            std::to_string(data_limit_.count()) + " ms while reading the " +
                            std::string(stage));
    }
    if (outcome.ec == asio::error::eof) return 0;
    if (outcome.ec) {
      throw Error(where_ + ": the connection broke while reading the " + std::string(stage) + " (" +
                  outcome.ec.message() + ")");
    }
    Service(true);
    return outcome.bytes;
  }

 private:
  struct Outcome {
    error_code ec;
    std::size_t bytes = 0;
    bool timed_out = false;
  };

  milliseconds DataSlice() const {
    return anti_freeze_
               ? std::clamp(milliseconds(anti_freeze_->IdleTimeOut), milliseconds(1), kLongestSlice)
               : kLongestSlice;
  }

  milliseconds ConnectSlice() const {
    return anti_freeze_ ? std::clamp(anti_freeze_->ConnectSlice(), milliseconds(1), kLongestSlice)
                        : kLongestSlice;
  }

  void Service(bool data_moved) const {
    if (anti_freeze_) anti_freeze_->DoProcess(data_moved);
  }

  // Runs ready handlers first, so that data that arrived while the window was
  // being serviced counts even when the slice is already over.
  void RunUntil(const bool& done, Clock::time_point until) {
    if (io_.stopped()) io_.restart();
    io_.poll();
    while (!done && Clock::now() < until) {
      if (io_.stopped()) io_.restart();
      io_.run_one_until(until);
    }
  }

  // Starts one operation and waits for it in slices, servicing the window
  // after each slice without a result. The handlers run only inside this
  // function, never inside the anti-freeze's callback, so whatever the
  // callback does cannot meet a half-finished handler.
  template <class Start>
  Outcome Await(Start&& start, milliseconds limit, milliseconds slice) {
    Outcome outcome;
    bool done = false;
    start([&outcome, &done](const error_code& ec, std::size_t bytes) {
      outcome.ec = ec;
      outcome.bytes = bytes;
      done = true;
    });
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
      RunUntil(done, std::min(Clock::now() + slice, deadline));
      if (done) return outcome;
      if (Clock::now() >= deadline) {
        error_code ignored;
        socket_.close(ignored);
        while (!done) {
          if (io_.stopped()) io_.restart();
          io_.run_one();
        }
        outcome.timed_out = true;
        return outcome;
      }
      Service(false);
    }
  }

  const TIdAntiFreeze* anti_freeze_;
  milliseconds connect_limit_;
  milliseconds data_limit_;
  std::string where_;
  asio::io_context io_{1};
  tcp::socket socket_{io_};
};

std::string ComposeRequest(std::string_view method, const Address& address,
                           const std::string& cookies) {
  std::string request;
  request.reserve(256 + address.target.size() + address.host.size() + cookies.size());
  request.append(method).append(" ").append(address.target).append(" HTTP/1.1\r\n");
  request.append("Content-Type: ").append(kContentType).append("\r\n");
  request.append("Host: ").append(address.host);
  if (address.port != 80) request.append(":").append(std::to_string(address.port));
  request.append("\r\n");
  request.append("Accept: ").append(kAccept).append("\r\n");
  request.append("User-Agent: ").append(kUserAgent).append("\r\n");
  if (!cookies.empty()) request.append("Cookie: ").append(cookies).append("\r\n");
  request.append("\r\n");
  return request;
}

std::string CookiePath(const std::string& target) { return target.substr(0, target.find('?')); }

// Reads the body of a successful answer into `buffer`. Beast's parser takes
// the framing; it is given a header of our own making that states only the
// framing chosen by our rules, so that its stricter checks of the real header
// block (odd lengths, both a length and chunked) cannot overrule them.
void ReadBody(Exchange& exchange, beast::flat_buffer& received, const AnswerHeader& header,
              TMemoryStream& buffer) {
  const std::string* length_field = header.Find("Content-Length");
  // -1 stands for a missing or odd length: neither a length nor empty.
  const std::int64_t length =
      length_field ? ParseInteger(*length_field).value_or(-1) : std::int64_t{-1};
  std::string framing = "HTTP/1.1 200 OK\r\n";
  if (length > 0) {
    framing += "Content-Length: " + std::to_string(length) + "\r\n";
  } else if (NamesChunked(header)) {
    framing += "Transfer-Encoding: chunked\r\n";
  } else if (length == 0) {
    return;
  }
  framing += "\r\n";

  http::response_parser<StreamBody> parser;
  parser.body_limit(boost::none);
  parser.eager(true);
  parser.get().body().stream = &buffer;
  error_code ec;
  parser.put(asio::buffer(framing), ec);
  if (ec || !parser.is_header_done()) {
    throw HttpError(exchange.Where() + ": internal framing failed (" + ec.message() + ")");
  }
  if (parser.is_done()) return;

  auto fail = [&](const error_code& error) {
    if (error == kOutOfMemory) {
      throw HttpOutOfMemory(exchange.Where() + ": memory ran out while storing the body");
    }
    if (error == http::error::partial_message) {
      throw HttpBodyError(exchange.Where() + ": the server closed the connection before the " +
                          "body was complete");
    }
    throw HttpBodyError(exchange.Where() + ": the body's coding is malformed (" + error.message() +
                        ")");
  };

  for (;;) {
    while (received.size() > 0 && !parser.is_done()) {
      const std::size_t used = parser.put(received.data(), ec);
      received.consume(used);
      if (ec == http::error::need_more) break;
      if (ec) fail(ec);
      if (used == 0) break;
    }
    if (parser.is_done()) return;
    const std::size_t got =
        exchange.ReadSome<HttpBodyError>(received.prepare(kReadSize), "answer's body");
    if (got == 0) {
      parser.put_eof(ec);
      if (ec) fail(ec);
      return;
    }
    received.commit(got);
  }
}

}  // namespace

TIdHTTP::TIdHTTP(const TIdAntiFreeze* anti_freeze) : anti_freeze_(anti_freeze) {}

TIdHTTP::~TIdHTTP() = default;

void TIdHTTP::Get(const std::string& url, TMemoryStream& buffer) { Request("GET", url, &buffer); }

void TIdHTTP::Head(const std::string& url) { Request("HEAD", url, nullptr); }

void TIdHTTP::Request(const char* method, const std::string& url, TMemoryStream* buffer) {
  if (busy_) throw HttpError("HTTP: a request is already running on this client");
  busy_ = true;
  struct Idle {
    bool& busy;
    ~Idle() { busy = false; }
  } idle{busy_};
  Response = ResponseInfo{};
  if (buffer) buffer->Clear();

  try {
    const Address address = ParseAddress(BackslashesToSlashes(url, SystemCodePage()));
    const std::string where = std::string("HTTP ") + method + " " + address.host + ":" +
                              std::to_string(address.port) + address.target;
    const CookieOrigin origin{address.host, CookiePath(address.target), false};
    const std::string request = ComposeRequest(
        method, address, cookies_.CookieHeader(origin, std::chrono::system_clock::now()));

    Exchange exchange(anti_freeze_, ConnectTimeout, DataWaitLimit, where);
    exchange.Connect(exchange.Resolve(address));
    exchange.Send(request);

    beast::flat_buffer received;
    std::size_t scanned = 0;
    std::size_t header_end = std::string_view::npos;
    for (;;) {
      const std::string_view data(static_cast<const char*>(received.data().data()),
                                  received.size());
      header_end = FindHeaderEnd(data, scanned);
      if (header_end != std::string_view::npos) break;
      if (data.size() > kMaxHeaderBytes) {
        throw HttpHeaderError(where + ": the answer's header block exceeds 1 MiB");
      }
      scanned = data.size() < 3 ? 0 : data.size() - 3;
      const std::size_t got =
          exchange.ReadSome<HttpHeaderError>(received.prepare(kReadSize), "answer's header");
      if (got == 0) {
        throw HttpHeaderError(where + ": the server closed the connection before the status " +
                              "line and header block were complete");
      }
      received.commit(got);
    }
    AnswerHeader header;
    if (!ParseHeaderBlock(
            std::string_view(static_cast<const char*>(received.data().data()), header_end),
            header)) {
      throw HttpHeaderError(where + ": the answer is no HTTP answer");
    }
    received.consume(header_end);

    // Cookies count whatever the outcome, as with any browser.
    const auto now = std::chrono::system_clock::now();
    for (const auto& [name, value] : header.fields) {
      if (EqualsNoCase(name, "Set-Cookie")) cookies_.SetCookie(value, origin, now);
    }
    Response.ResponseCode = header.status;
    const std::string* length = header.Find("Content-Length");
    Response.ContentLength = length ? ContentLengthValue(*length) : -1;

    const bool has_location = header.Find("Location") != nullptr;
    if (header.status < 200 || header.status > 299 || has_location) {
      throw HttpStatusError(where + ": the server answered " + std::to_string(header.status) +
                                (has_location ? " with a \"Location\" header" : ""),
                            header.status, has_location);
    }
    if (buffer && header.status != 204) ReadBody(exchange, received, header, *buffer);
  } catch (...) {
    if (buffer) *buffer = TMemoryStream();
    throw;
  }
}

std::int32_t ContentLengthValue(const std::string& value) {
  const auto number = ParseInteger(value);
  if (!number || *number < std::numeric_limits<std::int32_t>::min() ||
      *number > std::numeric_limits<std::int32_t>::max()) {
    return -1;
  }
  return static_cast<std::int32_t>(*number);
}

}  // namespace platform
