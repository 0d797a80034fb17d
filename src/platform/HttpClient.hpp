// The HTTP client: one HTTP/1.1 request at a time, on the calling thread,
// with the window serviced through the anti-freeze while it waits.
// (Declarations to be completed by the implementation.)
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/AntiFreeze.hpp"
#include "platform/MemoryStream.hpp"

namespace platform {

/// Every failure of a request; the subclasses name the stage that failed.
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIdHTTP {
 public:
  /// `anti_freeze` may be null: then nothing is serviced while waiting.
  explicit TIdHTTP(const TIdAntiFreeze* anti_freeze);
  ~TIdHTTP();
  TIdHTTP(const TIdHTTP&) = delete;
  TIdHTTP& operator=(const TIdHTTP&) = delete;

  /// GET of `url` into `buffer` (empty when called). Returns only on
  /// success (status 200 to 299 without "Location"), the body in `buffer`;
  /// throws an HttpError on every failure, the buffer then holding nothing
  /// of a failed answer's body.
  void Get(const std::string& url, TMemoryStream& buffer);

  /// HEAD of `url`; success as for Get. Afterwards Response.ContentLength
  /// tells the answer's "Content-Length".
  void Head(const std::string& url);

  struct ResponseInfo {
    /// The "Content-Length" of the last answer: the header's value with
    /// blanks removed, as a signed 32-bit number; -1 when missing or no
    /// such number (2147483648 and above included).
    std::int32_t ContentLength = -1;
  };
  ResponseInfo Response;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
