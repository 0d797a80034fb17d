#include "platform/CodePage.hpp"

#include <gtest/gtest.h>

#include <array>

#include "platform/ProgramFolder.hpp"
#include "support/GbkLocale.hpp"

using platform::CodePage;

namespace {

TEST(CodePage, FromCharsetName) {
  struct Case {
    const char* charset;
    CodePage expected;
  };
  constexpr std::array<Case, 7> kCases = {{
      {"GBK", CodePage::kDoubleByte936},
      {"gb18030", CodePage::kDoubleByte936},
      {"CP936", CodePage::kDoubleByte936},
      {"UTF-8", CodePage::kSingleByte},
      {"ANSI_X3.4-1968", CodePage::kSingleByte},
      {"ISO-8859-1", CodePage::kSingleByte},
      {"", CodePage::kSingleByte},
  }};
  for (const Case& c : kCases)
    EXPECT_EQ(platform::CodePageFromCharset(c.charset), c.expected) << c.charset;
}

// "\xB1\x5C" is one GBK character whose second byte is a backslash.
TEST(CodePage, BackslashInsideDoubleByteCharacterStaysInGbk) {
  const std::string name = "dir\\\xB1\x5C\\file\\";
  EXPECT_EQ(platform::BackslashesToSlashes(name, CodePage::kDoubleByte936), "dir/\xB1\x5C/file/");
  EXPECT_EQ(platform::BackslashesToSlashes(name, CodePage::kSingleByte), "dir/\xB1//file/");
}

TEST(CodePage, Utf8NamesKeepEveryByte) {
  const std::string name = "数据\\皮肤.dat";  // UTF-8 never holds 0x5C inside a character
  EXPECT_EQ(platform::BackslashesToSlashes(name, CodePage::kSingleByte), "数据/皮肤.dat");
}

TEST(CodePage, FileNamePart) {
  EXPECT_EQ(platform::FileNamePart("C:\\Apps\\Q\\Tolvier.exe", "\\:", CodePage::kSingleByte),
            "Tolvier.exe");
  EXPECT_EQ(platform::FileNamePart("C:Tolvier.exe", "\\:", CodePage::kSingleByte), "Tolvier.exe");
  EXPECT_EQ(platform::FileNamePart("Tolvier.exe", "\\:", CodePage::kSingleByte), "Tolvier.exe");
  EXPECT_EQ(platform::FileNamePart("dir\\", "\\", CodePage::kSingleByte), "");
  EXPECT_EQ(platform::FileNamePart("a\\\xB1\x5C", "\\", CodePage::kDoubleByte936), "\xB1\x5C");
  EXPECT_EQ(platform::FileNamePart("a\\\xB1\x5C", "\\", CodePage::kSingleByte), "");
  // A lead byte at the very end has no second byte to swallow.
  EXPECT_EQ(platform::FileNamePart("a\\\xB1", "\\", CodePage::kDoubleByte936), "\xB1");
}

TEST(CodePage, AsciiUpperCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(platform::AsciiUpperCase("tolvier.EXE"), "TOLVIER.EXE");
  EXPECT_EQ(platform::AsciiUpperCase("é\xB1\x61"), "é\xB1\x41");  // also a trail byte
  EXPECT_EQ(platform::AsciiUpperCase("ｔｏｌ"), "ｔｏｌ");        // full-width stays
}

// Under a GBK locale the system's rules are those of code page 936: a name's
// backslash inside a double-byte character is no separator anywhere.
TEST(CodePage, SystemCodePageFollowsTheLocale) {
  EXPECT_EQ(platform::SystemCodePage(), CodePage::kSingleByte);
  const test_support::GbkLocale gbk;
  if (!gbk.active()) GTEST_SKIP() << "no GBK locale";
  EXPECT_EQ(platform::SystemCodePage(), CodePage::kDoubleByte936);
  EXPECT_EQ(platform::FullPath("/q/", "skin\\\xB1\x5C.dat"), "/q/skin/\xB1\x5C.dat");
}

}  // namespace
