#include "platform/CodePage.hpp"

#include <algorithm>
#include <array>

namespace platform {

namespace {

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

// Calls `visit(index)` for every byte that begins a character, so that the
// trail byte of a double-byte character is never seen as a character itself.
template <typename Visit>
void ForEachCharacterStart(std::string_view text, CodePage code_page, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    visit(i);
    if (IsLeadByte(code_page, static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ++i;
  }
}

}  // namespace

CodePage CodePageFromCharset(std::string_view charset) {
  std::string name(charset);
  std::transform(name.begin(), name.end(), name.begin(), AsciiUpper);
  static constexpr std::array<std::string_view, 6> kDoubleByte936Names = {
      "GBK", "GB18030", "CP936", "GB2312", "EUC-CN", "WINDOWS-936"};
  return std::find(kDoubleByte936Names.begin(), kDoubleByte936Names.end(), name) !=
                 kDoubleByte936Names.end()
             ? CodePage::kDoubleByte936
             : CodePage::kSingleByte;
}

bool IsLeadByte(CodePage code_page, unsigned char byte) {
  return code_page == CodePage::kDoubleByte936 && byte >= 0x81 && byte <= 0xFE;
}

std::string BackslashesToSlashes(std::string_view text, CodePage code_page) {
  std::string result(text);
  ForEachCharacterStart(text, code_page, [&](std::size_t i) {
    if (result[i] == '\\') result[i] = '/';
  });
  return result;
}

std::string_view FileNamePart(std::string_view text, std::string_view separators,
                              CodePage code_page) {
  std::size_t start = 0;
  ForEachCharacterStart(text, code_page, [&](std::size_t i) {
    if (separators.find(text[i]) != std::string_view::npos) start = i + 1;
  });
  return text.substr(start);
}

std::string AsciiUpperCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), AsciiUpper);
  return result;
}

}  // namespace platform
