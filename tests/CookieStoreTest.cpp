// The cookie rules of the HTTP client's store, at a fixed clock.
#include "platform/CookieStore.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>

namespace {

using platform::CookieOrigin;
using platform::CookieStore;
using std::chrono::seconds;

// 2024-03-01 12:00:00 UTC.
const CookieStore::TimePoint kNow{seconds(1709294400)};

CookieOrigin At(const std::string& host, const std::string& path, bool secure = false) {
  return CookieOrigin{host, path, secure};
}

TEST(CookieStoreTest, DomainDecidesWhichHostsGetACookie) {
  CookieStore store;
  const CookieOrigin from = At("www.example.com", "/");
  store.SetCookie("host=1", from, kNow);
  store.SetCookie("wide=2; Domain=.Example.COM", from, kNow);
  store.SetCookie("foreign=3; Domain=other.com", from, kNow);
  store.SetCookie("tld=4; Domain=com", from, kNow);
  store.SetCookie("deeper=5; Domain=sub.www.example.com", from, kNow);
  store.SetCookie("self=6; Domain=www.example.com", from, kNow);

  EXPECT_EQ(store.CookieHeader(At("www.example.com", "/"), kNow), "host=1; wide=2; self=6");
  EXPECT_EQ(store.CookieHeader(At("WWW.Example.com", "/"), kNow), "host=1; wide=2; self=6");
  EXPECT_EQ(store.CookieHeader(At("a.example.com", "/"), kNow), "wide=2");
  EXPECT_EQ(store.CookieHeader(At("example.com", "/"), kNow), "wide=2");
  EXPECT_EQ(store.CookieHeader(At("a.www.example.com", "/"), kNow), "wide=2; self=6");
  EXPECT_EQ(store.CookieHeader(At("badexample.com", "/"), kNow), "");
  EXPECT_EQ(store.CookieHeader(At("other.com", "/"), kNow), "");
}

TEST(CookieStoreTest, AddressesMatchOnlyThemselves) {
  CookieStore store;
  store.SetCookie("a=1", At("127.0.0.1", "/"), kNow);
  store.SetCookie("b=2; Domain=0.0.1", At("127.0.0.1", "/"), kNow);
  EXPECT_EQ(store.CookieHeader(At("127.0.0.1", "/"), kNow), "a=1");
  EXPECT_EQ(store.CookieHeader(At("127.0.0.2", "/"), kNow), "");
}

TEST(CookieStoreTest, PathsDefaultToTheFolderAndMatchByPrefix) {
  CookieStore store;
  store.SetCookie("dflt=1", At("h", "/docs/page.html"), kNow);
  store.SetCookie("root=2", At("h", "/page"), kNow);
  store.SetCookie("slash=3; Path=/a/", At("h", "/"), kNow);
  store.SetCookie("bad=4; Path=relative", At("h", "/x/y"), kNow);

  struct Case {
    const char* path;
    const char* header;
  };
  const std::array<Case, 8> cases{{
      {"/docs", "dflt=1; root=2"},
      {"/docs/", "dflt=1; root=2"},
      {"/docs/x/y", "dflt=1; root=2"},
      {"/docsx", "root=2"},
      {"/", "root=2"},
      {"/a/b", "slash=3; root=2"},
      {"/a", "root=2"},
      {"/x/z", "bad=4; root=2"},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(store.CookieHeader(At("h", c.path), kNow), c.header);
  }
}

TEST(CookieStoreTest, ExpiryByMaxAgeAndExpires) {
  CookieStore store;
  const CookieOrigin from = At("h", "/");
  store.SetCookie("short=1; Max-Age=60", from, kNow);
  store.SetCookie("dated=2; Expires=Fri, 01 Mar 2024 12:30:00 GMT", from, kNow);
  // Max-Age wins over Expires, whatever their order.
  store.SetCookie("both=3; Expires=Fri, 01 Mar 2024 11:00:00 GMT; Max-Age=3600", from, kNow);
  store.SetCookie("old=4; Expires=Thu, 01 Jan 1970 00:00:00 GMT", from, kNow);
  store.SetCookie("session=5; Expires=not a date", from, kNow);
  EXPECT_EQ(store.CookieHeader(from, kNow), "short=1; dated=2; both=3; session=5");
  EXPECT_EQ(store.CookieHeader(from, kNow + seconds(61)), "dated=2; both=3; session=5");
  EXPECT_EQ(store.CookieHeader(from, kNow + seconds(1801)), "both=3; session=5");
  EXPECT_EQ(store.CookieHeader(from, kNow + seconds(3601)), "session=5");
  EXPECT_EQ(store.Cookies().size(), 1u);
}

TEST(CookieStoreTest, PastExpiryDeletesAndReplacementKeepsThePlace) {
  CookieStore store;
  const CookieOrigin from = At("h", "/");
  store.SetCookie("a=1", from, kNow);
  store.SetCookie("b=2", from, kNow);
  store.SetCookie("c=3", from, kNow);
  store.SetCookie("a=new", from, kNow);
  EXPECT_EQ(store.CookieHeader(from, kNow), "a=new; b=2; c=3");
  store.SetCookie("b=; Max-Age=0", from, kNow);
  store.SetCookie("c=x; Max-Age=-1", from, kNow);
  EXPECT_EQ(store.CookieHeader(from, kNow), "a=new");
  // Same name on another path is another cookie.
  store.SetCookie("a=deep; Path=/p", from, kNow);
  store.SetCookie("a=gone; Path=/q; Expires=Wed, 21 Oct 2015 07:28:00 GMT", from, kNow);
  EXPECT_EQ(store.CookieHeader(At("h", "/p/x"), kNow), "a=deep; a=new");
}

TEST(CookieStoreTest, SecureCookiesGoOnlyToSecureRequests) {
  CookieStore store;
  store.SetCookie("s=1; Secure", At("h", "/", true), kNow);
  store.SetCookie("p=2", At("h", "/"), kNow);
  EXPECT_EQ(store.CookieHeader(At("h", "/"), kNow), "p=2");
  EXPECT_EQ(store.CookieHeader(At("h", "/", true), kNow), "s=1; p=2");
}

TEST(CookieStoreTest, NameValueParsing) {
  CookieStore store;
  const CookieOrigin from = At("h", "/");
  store.SetCookie("noequals", from, kNow);
  store.SetCookie("=nameless", from, kNow);
  store.SetCookie("  spaced  =  v a l  ; HttpOnly", from, kNow);
  store.SetCookie("eq=a=b=c", from, kNow);
  store.SetCookie("empty=", from, kNow);
  store.SetCookie("attrs=1;path=/;DOMAIN=h;max-age=100;secure", from, kNow);
  EXPECT_EQ(store.CookieHeader(At("h", "/"), kNow), "spaced=v a l; eq=a=b=c; empty=");
  EXPECT_EQ(store.CookieHeader(At("h", "/", true), kNow),
            "spaced=v a l; eq=a=b=c; empty=; attrs=1");
}

TEST(CookieStoreTest, CookieDatesInTheirUsualForms) {
  struct Case {
    const char* text;
    std::optional<long long> seconds;  // since 1970, UTC
  };
  const std::array<Case, 11> cases{{
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
      {"Sun Nov  6 08:49:37 1994", 784111777},
      {"06 november 1994 8:49:37", 784111777},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Wed, 01 Jan 2069 00:00:00 GMT", 3124224000},
      {"01 Jan 69 00:00:00", 3124224000},
      {"31 Feb 2024 00:00:00", std::nullopt},
      {"01 Jan 1600 00:00:00", std::nullopt},
      {"01 Jan 2024 24:00:00", std::nullopt},
      {"tomorrow", std::nullopt},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto date = platform::ParseCookieDate(c.text);
    ASSERT_EQ(date.has_value(), c.seconds.has_value());
    if (date) {
      EXPECT_EQ(std::chrono::duration_cast<seconds>(date->time_since_epoch()).count(), *c.seconds);
    }
  }
}

TEST(CookieStoreTest, FarFutureDatesDoNotOverflow) {
  CookieStore store;
  const CookieOrigin from = At("h", "/");
  store.SetCookie("far=1; Expires=Fri, 31 Dec 9999 23:59:59 GMT", from, kNow);
  store.SetCookie("age=2; Max-Age=99999999999999999999", from, kNow);
  EXPECT_EQ(store.CookieHeader(from, kNow + seconds(3'000'000'000LL)), "far=1; age=2");
}

}  // namespace
