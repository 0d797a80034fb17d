// The HTTP client's cookie store: the cookies that answers set, kept for the
// lifetime of one client and returned on its later requests that they match.
// Hand-written after the usual cookie rules (host-only and Domain cookies,
// default path and Path prefix match, Max-Age and Expires, Secure).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Where a request goes, as far as cookies care.
struct CookieOrigin {
  /// The host as written in the address, without port; compared without
  /// regard to ASCII case.
  std::string host;
  /// The request target's path: from its first "/" up to, not including, a "?".
  std::string path = "/";
  /// True for a secure (https) request. Secure cookies go only to such requests.
  bool secure = false;
};

/// One stored cookie.
struct Cookie {
  std::string name;
  std::string value;
  /// Lower case, without a leading ".".
  std::string domain;
  std::string path;
  /// True when the answer gave no Domain: then only `domain` itself matches.
  bool host_only = true;
  bool secure = false;
  /// Unset for a cookie that lives as long as the store.
  std::optional<std::chrono::system_clock::time_point> expires;
  /// Order of first creation; keeps the order of the Cookie header stable.
  std::uint64_t created = 0;
};

/// Parses a cookie date (the forgiving date grammar of cookies: tokens in any
/// order, the time as h:m:s, the day, the month's first three letters, the
/// year with two or four digits). Returns nothing when the text holds no valid
/// date, or a date before the year 1601.
std::optional<std::chrono::system_clock::time_point> ParseCookieDate(std::string_view text);

/// The cookies of one HTTP client. Not shared between clients and not
/// thread-safe; it lives in memory only.
class CookieStore {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  /// Takes one "Set-Cookie" header value that an answer from `origin` carried
  /// at time `now`. A cookie that the rules refuse (no "=", an empty name, a
  /// Domain that does not cover the host) is dropped without a word; one that
  /// has already expired removes the stored cookie of the same name, domain and
  /// path. Never fails, apart from std::bad_alloc.
  void SetCookie(std::string_view set_cookie, const CookieOrigin& origin, TimePoint now);

  /// The value of the "Cookie" header for a request to `request` at `now`
  /// ("a=1; b=2"), longer paths first, then older cookies first; empty when no
  /// cookie matches. Drops the cookies that have expired by `now`.
  std::string CookieHeader(const CookieOrigin& request, TimePoint now);

  /// Every cookie held, expired ones included until the next CookieHeader.
  const std::vector<Cookie>& Cookies() const { return cookies_; }

 private:
  std::vector<Cookie> cookies_;
  std::uint64_t next_created_ = 0;
};

}  // namespace platform
