// Profile (INI) files with the Windows profile rules.
//
// A profile file is read line by line. A line ends at LF, CR LF or a lone CR.
// "Blanks" below are the ASCII blanks space, tab, LF, VT, FF, CR and the DOS
// end-of-file byte 0x1A; no other byte is a blank (a GBK full-width space is
// text). A UTF-8 byte-order mark at the very start of the file is skipped and
// kept; nothing else is decoded: every other byte is text, passed on as it is.
//
// Lines:
// - A line that holds only blanks is empty: it belongs to nothing.
// - A line whose first non-blank byte is '[' and that holds a ']' starts a
//   section. The name is what stands between the '[' and the LAST ']' of the
//   line, without blanks on either side; whatever follows that ']' is ignored.
//   A '[' line without any ']' is an entry line like any other.
// - Every other line is an entry of the current section (the unnamed section
//   "" before the first section line). Its key is the text before the first
//   '=', without blanks on either side; its value is the text after that '=',
//   without blanks on either side. A line without '=' is a key with no value.
//   Quotes around a key are part of it: "\"Version\"=1" is no key Version.
//   ';' and '#' start no comment: ";Version=1" is the key ";Version", which no
//   lookup of "Version" ever finds.
//
// Names: section and key names are matched without regard to case, for the
// ASCII letters only, and without blanks on either side of the asked name.
// The section "" is the part of the file before its first section line.
// Under the system's code page (SystemCodePage(); 936 is double-byte) the
// second byte of a double-byte character is compared exactly, so that two
// different characters whose second bytes differ only in ASCII case never
// match; other bytes from 0x80 up are compared exactly as well.
//
// Which entry counts:
// - Only the FIRST section of a name is looked at: a later section of the same
//   name is never read, and a write never goes into it.
// - Within it, the FIRST line whose key matches counts, even when that line has
//   no '=' (a lookup then gives the default).
//
// These are the rules that GetPrivateProfileStringA and
// WritePrivateProfileStringA were seen to follow, with a probe program run
// under Wine (tools/probes/profile tells how, and where Wine and Windows part
// ways: Wine rewrites the whole file on a write, Windows changes only the
// entry's line, and so does WriteString).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

/// A profile file, known by its full path. Making one touches no file; only
/// ReadString and WriteString reach the disk, each opening the file anew and
/// holding it open only for that one call.
class TIniFile {
 public:
  /// The longest value ReadString gives, in bytes (a buffer of 2048 bytes
  /// with its terminating NUL).
  static constexpr std::size_t kMaxValueBytes = 2047;

  explicit TIniFile(std::string path) : path_(std::move(path)) {}

  /// The full path the object was made with.
  const std::string& FileName() const { return path_; }

  /// The value of `key` in `section` under the rules above: with enclosing
  /// quotes removed when the value starts and ends with the same quote, single
  /// or double, and is at least two bytes long ("\"a\"b\"" gives `a"b`; a
  /// quote on one side only stays), then cut after its 2047th byte (a double-
  /// byte character may be cut in half). An entry with an empty value gives
  /// empty text. `default_value` is given, with trailing spaces removed, then
  /// enclosing quotes removed and cut the same way, when the file (missing or
  /// unreadable), the section or the key is missing, or when the first
  /// matching key line has no '='. Never fails.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;

  /// Sets `key` in `section` to `value` (without its leading blanks; the
  /// bytes are written as given, a quote or a line end in them included),
  /// changing only that entry's own line or adding lines:
  /// - an existing entry (the first matching key of the first matching
  ///   section) has its line replaced by "<key as spelled in the file>=<value>",
  ///   ending as the line ended; when its value already equals `value`
  ///   byte for byte, the file is not written at all;
  /// - a missing key is added as "<key>=<value>" CR LF right after the last
  ///   non-empty line of the section (the section line when it has none);
  /// - a missing section is added at the end as "[<section>]" CR LF
  ///   "<key>=<value>" CR LF; a missing file is created with just that.
  /// `section` and `key` are written without blanks on either side. A last
  /// line without a line end gets a CR LF before anything is added below it.
  /// Every other byte of the file stays as it was. The new content is
  /// written to a temporary file in the same folder and then renamed over
  /// the file, so the file is never seen cut short; the file keeps its
  /// permission bits (and, where allowed, its owner). A symbolic link is
  /// written through: its target is replaced, the link stays.
  /// Throws EIniFileException ("Unable to write to <path>") when the file
  /// cannot be written: its folder is missing or may not be written to, the
  /// file has no write permission bit set (whoever runs the updater, root
  /// included), it exists but cannot be read, or writing, flushing or
  /// renaming fails. On failure the file is unchanged and no temporary file
  /// is left.
  void WriteString(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  std::string path_;
};

/// The operating system's part of TIniFile (ProfileFile_posix.cpp).
namespace profile_file_os {

/// What ReadProfileBytes found.
enum class ReadResult {
  kRead,        ///< The file was read whole.
  kMissing,     ///< There is no file at the path (or a folder on the way is missing).
  kUnreadable,  ///< Something is there but could not be read (no rights, a folder).
};

/// Reads the whole file at `path` into `content` (emptied first). Never throws
/// for a file-system error: the result says what happened.
ReadResult ReadProfileBytes(const std::string& path, std::string& content);

/// Replaces the file at `path` (following a symbolic link) with `content`,
/// through a temporary file in the same folder renamed over it, keeping the
/// old file's permission bits and owner where allowed; a new file gets the
/// bits 0666 less the umask. Throws EIniFileException(path) when the file has
/// no write permission bit, or when the temporary file cannot be created,
/// written, flushed or renamed; the temporary file is then removed.
void ReplaceProfileBytes(const std::string& path, std::string_view content);

}  // namespace profile_file_os

}  // namespace platform
