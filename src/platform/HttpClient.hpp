// The HTTP client: one HTTP/1.1 request at a time, on the calling thread,
// over a connection of its own that is closed when the request ends, with the
// window serviced through the anti-freeze while it waits.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/AntiFreeze.hpp"
#include "platform/CookieStore.hpp"
#include "platform/MemoryStream.hpp"

namespace platform {

/// Every failure of a request; the subclasses name the stage that failed.
/// The message is English and names the stage and the address's host.
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The address is not "http://host[:port][/rest]" (another scheme, no or an
/// empty host, a port that is no number from 1 to 65535, or a CR, LF or NUL
/// byte anywhere, which could not be sent as one request line).
class HttpAddressError : public HttpError {
 public:
  using HttpError::HttpError;
};

/// The host name could not be resolved.
class HttpResolveError : public HttpError {
 public:
  using HttpError::HttpError;
};

/// The connection was refused or the host could not be reached.
class HttpConnectError : public HttpError {
 public:
  using HttpError::HttpError;
};

/// No connection stood within the connection limit (120000 ms unless changed).
class HttpConnectTimeout : public HttpError {
 public:
  using HttpError::HttpError;
};

/// The request could not be sent (the connection failed while writing).
class HttpSendError : public HttpError {
 public:
  using HttpError::HttpError;
};

/// The server closed or broke the connection before a complete status line
/// and header block, or sent something that is no HTTP answer, or a header
/// block above 1 MiB.
class HttpHeaderError : public HttpError {
 public:
  using HttpError::HttpError;
};

/// The body was cut short: the connection ended before the announced
/// "Content-Length", or inside the chunked coding, or the chunked coding was
/// malformed.
class HttpBodyError : public HttpError {
 public:
  using HttpError::HttpError;
};

/// No byte arrived (or could be sent) within the data-wait limit (60 s unless
/// changed) while the request waited on the server.
class HttpReadTimeout : public HttpError {
 public:
  using HttpError::HttpError;
};

/// Memory ran out while the body was stored (std::bad_alloc, or an announced
/// length that no buffer can hold).
class HttpOutOfMemory : public HttpError {
 public:
  using HttpError::HttpError;
};

/// The answer arrived but is no success: a status outside 200 to 299, or a
/// "Location" header with any status. Its body was not read.
class HttpStatusError : public HttpError {
 public:
  HttpStatusError(const std::string& message, int status_code, bool has_location)
      : HttpError(message), status_code_(status_code), has_location_(has_location) {}
  /// The answer's status code.
  int StatusCode() const { return status_code_; }
  /// True when the answer carried a "Location" header.
  bool HasLocation() const { return has_location_; }

 private:
  int status_code_;
  bool has_location_;
};

/// An HTTP/1.1 client in the manner of the updater's component: fixed request
/// headers, no redirects, no proxy, a cookie store of its own for its whole
/// lifetime. Each request resolves the host (blocking, without servicing),
/// connects (servicing the window in slices), sends the request in one piece
/// and reads the answer on a new connection, closed when the request ends.
/// Requests run on the calling thread; the anti-freeze is called between
/// slices of at most 50 ms (and never longer than its own slice settings)
/// and after each piece of data sent or received.
class TIdHTTP {
 public:
  /// The longest a connection attempt may take in all.
  static constexpr std::chrono::milliseconds kConnectTimeout{120000};
  /// The longest wait for the next byte from (or to) the server.
  static constexpr std::chrono::milliseconds kDataWaitLimit{60000};
  /// The longest header block accepted.
  static constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;

  /// `anti_freeze` may be null: then nothing is serviced while waiting. It is
  /// not used before the first request, so it may be constructed after the
  /// client, and it must outlive every request.
  explicit TIdHTTP(const TIdAntiFreeze* anti_freeze);
  ~TIdHTTP();
  TIdHTTP(const TIdHTTP&) = delete;
  TIdHTTP& operator=(const TIdHTTP&) = delete;

  /// GET of `url` into `buffer` (empty when called). Returns only on
  /// success (status 200 to 299 without "Location"), the body in `buffer`:
  /// delimited by a "Content-Length" above 0, else by the chunked coding,
  /// else by the server's close; empty for 204 and for a "Content-Length" of 0.
  /// Throws a subclass of HttpError on every failure (the buffer is then left
  /// empty), or whatever the anti-freeze's callback throws. A request started
  /// on this client while one runs (from the callback) throws HttpError.
  void Get(const std::string& url, TMemoryStream& buffer);

  /// HEAD of `url`; success and failures as for Get, no body ever read.
  /// Afterwards Response tells the answer's status and "Content-Length".
  void Head(const std::string& url);

  /// What the last request learnt of its answer. Reset when a request starts.
  struct ResponseInfo {
    /// The status code of the last answer; 0 when none arrived.
    int ResponseCode = 0;
    /// The "Content-Length" of the last answer: the header's value with
    /// surrounding blanks removed, as a signed 32-bit number; -1 when missing or
    /// no such number (2147483648 and above included). A negative value stays.
    std::int32_t ContentLength = -1;
  };
  ResponseInfo Response;

  /// The connection limit; kConnectTimeout unless a test shortens it.
  std::chrono::milliseconds ConnectTimeout = kConnectTimeout;
  /// The data-wait limit; kDataWaitLimit unless a test shortens it.
  std::chrono::milliseconds DataWaitLimit = kDataWaitLimit;

  /// The cookies that answers to this client have set.
  const CookieStore& Cookies() const { return cookies_; }

 private:
  void Request(const char* method, const std::string& url, TMemoryStream* buffer);

  const TIdAntiFreeze* anti_freeze_;
  CookieStore cookies_;
  bool busy_ = false;
};

/// Reads a "Content-Length" value as the client reports it: blanks (and other
/// control bytes) around it removed, an optional sign, decimal digits, within
/// the signed 32-bit range; -1 otherwise. Never fails.
std::int32_t ContentLengthValue(const std::string& value);

}  // namespace platform
