#include "platform/CookieStore.hpp"

#include <algorithm>
#include <cstddef>

namespace platform {

namespace {

using Seconds = std::chrono::seconds;
using TimePoint = std::chrono::system_clock::time_point;

// The clock counts nanoseconds in 64 bits, about 292 years either side of
// 1970; dates and ages beyond that are pinned a little inside the range so
// that adding and comparing never overflows.
constexpr std::int64_t kLatestSeconds = 9'000'000'000;
constexpr std::int64_t kEarliestSeconds = -9'000'000'000;

TimePoint FromSeconds(std::int64_t seconds) {
  seconds = std::clamp(seconds, kEarliestSeconds, kLatestSeconds);
  return TimePoint(std::chrono::duration_cast<TimePoint::duration>(Seconds(seconds)));
}

std::int64_t ToSeconds(TimePoint time) {
  return std::chrono::duration_cast<Seconds>(time.time_since_epoch()).count();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiLower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A date token is any run of bytes that are not delimiters; the delimiters
// are the punctuation and blanks of the cookie date grammar (':' is not one,
// so "12:30:00" is one token).
bool IsDateDelimiter(unsigned char c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
         (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Reads 1 to `max_digits` digits at `pos`; the next byte, if any, must not be
// a digit. Returns the number of digits read, 0 when the rule does not hold.
std::size_t ReadDigits(std::string_view token, std::size_t pos, std::size_t min_digits,
                       std::size_t max_digits, int& value) {
  std::size_t count = 0;
  value = 0;
  while (pos + count < token.size() && IsDigit(token[pos + count])) {
    if (++count > max_digits) return 0;
    value = value * 10 + (token[pos + count - 1] - '0');
  }
  return count >= min_digits ? count : 0;
}

bool ParseTime(std::string_view token, int& hour, int& minute, int& second) {
  std::size_t pos = 0;
  int* fields[] = {&hour, &minute, &second};
  for (int i = 0; i < 3; ++i) {
    const std::size_t digits = ReadDigits(token, pos, 1, 2, *fields[i]);
    if (digits == 0) return false;
    pos += digits;
    if (i < 2) {
      if (pos >= token.size() || token[pos] != ':') return false;
      ++pos;
    }
  }
  return true;
}

int ParseMonth(std::string_view token) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  if (token.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    if (EqualsNoCase(token.substr(0, 3), kMonths[i])) return i + 1;
  }
  return 0;
}

bool IsIpAddress(std::string_view host) {
  if (!host.empty() && host.front() == '[') return true;
  if (host.find(':') != std::string_view::npos) return true;
  return !host.empty() &&
         std::all_of(host.begin(), host.end(), [](char c) { return IsDigit(c) || c == '.'; });
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.' && !IsIpAddress(host);
}

bool PathMatches(std::string_view request_path, std::string_view cookie_path) {
  if (request_path == cookie_path) return true;
  if (request_path.substr(0, cookie_path.size()) != cookie_path) return false;
  return cookie_path.back() == '/' || request_path[cookie_path.size()] == '/';
}

std::string DefaultPath(std::string_view request_path) {
  if (request_path.empty() || request_path.front() != '/') return "/";
  const std::size_t last_slash = request_path.rfind('/');
  if (last_slash == 0) return "/";
  return std::string(request_path.substr(0, last_slash));
}

// Max-Age: an optional "-" and digits, nothing else. Huge values saturate.
std::optional<std::int64_t> ParseMaxAge(std::string_view value) {
  if (value.empty()) return std::nullopt;
  const bool negative = value.front() == '-';
  if (negative) value.remove_prefix(1);
  if (value.empty() || !std::all_of(value.begin(), value.end(), IsDigit)) return std::nullopt;
  std::int64_t seconds = 0;
  for (char c : value) seconds = std::min<std::int64_t>(seconds * 10 + (c - '0'), kLatestSeconds);
  return negative ? -seconds : seconds;
}

}  // namespace

std::optional<TimePoint> ParseCookieDate(std::string_view text) {
  bool found_time = false, found_day = false, found_month = false, found_year = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsDateDelimiter(static_cast<unsigned char>(text[pos]))) ++pos;
    std::size_t end = pos;
    while (end < text.size() && !IsDateDelimiter(static_cast<unsigned char>(text[end]))) ++end;
    const std::string_view token = text.substr(pos, end - pos);
    pos = end;
    if (token.empty()) continue;
    int value = 0;
    if (!found_time && ParseTime(token, hour, minute, second)) {
      found_time = true;
    } else if (!found_day && ReadDigits(token, 0, 1, 2, value) != 0) {
      found_day = true;
      day = value;
    } else if (!found_month && ParseMonth(token) != 0) {
      found_month = true;
      month = ParseMonth(token);
    } else if (!found_year && ReadDigits(token, 0, 2, 4, value) != 0) {
      found_year = true;
      year = value;
    }
  }
  if (!found_time || !found_day || !found_month || !found_year) return std::nullopt;
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  const std::int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
  return FromSeconds(days * 86400 + hour * 3600 + minute * 60 + second);
}

void CookieStore::SetCookie(std::string_view set_cookie, const CookieOrigin& origin,
                            TimePoint now) {
  const std::size_t pair_end = std::min(set_cookie.find(';'), set_cookie.size());
  const std::string_view pair = set_cookie.substr(0, pair_end);
  const std::size_t equals = pair.find('=');
  if (equals == std::string_view::npos) return;
  Cookie cookie;
  cookie.name = std::string(TrimBlanks(pair.substr(0, equals)));
  cookie.value = std::string(TrimBlanks(pair.substr(equals + 1)));
  if (cookie.name.empty()) return;

  std::optional<TimePoint> expires;
  std::optional<std::int64_t> max_age;
  std::string domain_attribute;
  std::string path_attribute;
  std::string_view rest = set_cookie.substr(pair_end);
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the ';'
    const std::size_t end = std::min(rest.find(';'), rest.size());
    const std::string_view attribute = rest.substr(0, end);
    rest = rest.substr(end);
    const std::size_t eq = attribute.find('=');
    const std::string_view name = TrimBlanks(attribute.substr(0, eq));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : TrimBlanks(attribute.substr(eq + 1));
    if (EqualsNoCase(name, "expires")) {
      if (auto date = ParseCookieDate(value)) expires = date;
    } else if (EqualsNoCase(name, "max-age")) {
      if (auto age = ParseMaxAge(value)) max_age = age;
    } else if (EqualsNoCase(name, "domain")) {
      if (!value.empty()) {
        std::string_view domain = value;
        if (domain.front() == '.') domain.remove_prefix(1);
        domain_attribute = AsciiLower(domain);
      }
    } else if (EqualsNoCase(name, "path")) {
      path_attribute = !value.empty() && value.front() == '/' ? std::string(value) : std::string();
    } else if (EqualsNoCase(name, "secure")) {
      cookie.secure = true;
    }
  }

  if (max_age) {
    cookie.expires =
        *max_age <= 0 ? FromSeconds(kEarliestSeconds) : FromSeconds(ToSeconds(now) + *max_age);
  } else {
    cookie.expires = expires;
  }

  const std::string host = AsciiLower(origin.host);
  if (!domain_attribute.empty() && domain_attribute != host) {
    // Without a list of public suffixes, at least refuse a bare top-level
    // name such as "com", which would reach every host beneath it.
    if (!DomainMatches(host, domain_attribute) || domain_attribute.find('.') == std::string::npos) {
      return;
    }
  }
  cookie.host_only = domain_attribute.empty();
  cookie.domain = cookie.host_only ? host : domain_attribute;
  cookie.path = path_attribute.empty() ? DefaultPath(origin.path) : path_attribute;

  const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& held) {
    return held.name == cookie.name && held.domain == cookie.domain && held.path == cookie.path;
  });
  const bool expired = cookie.expires && *cookie.expires <= now;
  if (same != cookies_.end()) {
    if (expired) {
      cookies_.erase(same);
    } else {
      cookie.created = same->created;
      *same = std::move(cookie);
    }
    return;
  }
  if (expired) return;
  cookie.created = next_created_++;
  cookies_.push_back(std::move(cookie));
}

std::string CookieStore::CookieHeader(const CookieOrigin& request, TimePoint now) {
  std::erase_if(cookies_, [&](const Cookie& c) { return c.expires && *c.expires <= now; });
  const std::string host = AsciiLower(request.host);
  std::vector<const Cookie*> matching;
  for (const Cookie& cookie : cookies_) {
    const bool domain_ok =
        cookie.host_only ? host == cookie.domain : DomainMatches(host, cookie.domain);
    if (domain_ok && PathMatches(request.path, cookie.path) && (!cookie.secure || request.secure)) {
      matching.push_back(&cookie);
    }
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
    return a->created < b->created;
  });
  std::string header;
  for (const Cookie* cookie : matching) {
    if (!header.empty()) header += "; ";
    header += cookie->name;
    header += '=';
    header += cookie->value;
  }
  return header;
}

}  // namespace platform
