// Text rules of the system code page. Names, versions and profile files are
// bytes in the system's code page; they are never converted, only walked
// with the rules below, so that a byte that belongs to a double-byte
// character is never taken for a separator.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// The code pages whose rules differ for the updater.
enum class CodePage {
  /// Single-byte sets and UTF-8: every byte below 0x80 is a character of its own
  /// (a UTF-8 sequence never holds a byte below 0x80), so no byte is skipped.
  kSingleByte,
  /// Code page 936 (GBK and GB18030): a byte from 0x81 to 0xFE starts a
  /// double-byte character whose second byte may be 0x40 to 0xFE, the
  /// backslash 0x5C included.
  kDoubleByte936,
};

/// The code page for a character-set name such as `nl_langinfo(CODESET)`
/// reports it: "GBK", "GB18030", "CP936" (any case, "GB2312" and "EUC-CN"
/// too) give kDoubleByte936; every other name gives kSingleByte. Never fails.
CodePage CodePageFromCharset(std::string_view charset);

/// The system's code page: the character set of the process's current
/// locale (LC_CTYPE). Never fails; an unknown set counts as single-byte.
CodePage SystemCodePage();

/// True when `byte` starts a double-byte character in `code_page`.
bool IsLeadByte(CodePage code_page, unsigned char byte);

/// `text` with every backslash turned into '/', except a backslash that is
/// the second byte of a double-byte character. Other bytes are kept as they are.
std::string BackslashesToSlashes(std::string_view text, CodePage code_page);

/// The part of `text` after its last separator; `separators` lists the
/// separator bytes (all below 0x80). A separator byte that is the second
/// byte of a double-byte character does not count. Text without a separator
/// is its own file-name part.
std::string_view FileNamePart(std::string_view text, std::string_view separators,
                              CodePage code_page);

/// `text` with each byte from 'a' to 'z' turned into its capital, wherever
/// it stands (also as the second byte of a double-byte character); every
/// other byte kept. No locale rules apply.
std::string AsciiUpperCase(std::string_view text);

}  // namespace platform
