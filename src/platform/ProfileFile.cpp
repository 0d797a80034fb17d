#include "platform/ProfileFile.hpp"

#include <optional>

#include "platform/CodePage.hpp"
#include "platform/Exceptions.hpp"

namespace platform {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// New lines are written as the Windows profile functions write them, whatever
// the file's other lines end with.
constexpr std::string_view kNewLine = "\r\n";

// The DOS end-of-file byte counts as a blank: files copied from old media
// carry it after the last line.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

std::string_view TrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return text.substr(start);
}

std::string_view TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

// Folds ASCII letters only, and never the second byte of a double-byte
// character: in GBK that byte may be a letter, and folding it would make two
// different characters one.
bool SameName(std::string_view a, std::string_view b, CodePage code_page) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (IsLeadByte(code_page, static_cast<unsigned char>(a[i]))) {
      if (a[i] != b[i]) return false;
      if (i + 1 < a.size() && a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, TIniFile::kMaxValueBytes));
}

// One line of the file, as offsets into the whole content.
struct Line {
  std::size_t begin = 0;  // first byte of the line
  std::size_t end = 0;    // one past its last byte, before the line end
  std::size_t next = 0;   // first byte of the next line
  bool has_line_end = false;
};

enum class LineKind { kEmpty, kSection, kEntry };

struct ParsedLine {
  LineKind kind = LineKind::kEmpty;
  std::string_view name;  // the section's or the key's name
  std::optional<std::string_view> value;
};

Line NextLine(std::string_view content, std::size_t begin) {
  Line line;
  line.begin = begin;
  std::size_t end = begin;
  while (end < content.size() && content[end] != '\n' && content[end] != '\r') ++end;
  line.end = end;
  line.next = end;
  if (end < content.size()) {
    line.has_line_end = true;
    line.next = end + 1;
    if (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ++line.next;
  }
  return line;
}

ParsedLine Parse(std::string_view text) {
  ParsedLine parsed;
  text = Trim(text);
  if (text.empty()) return parsed;
  if (text.front() == '[') {
    const std::size_t close = text.rfind(']');
    if (close != std::string_view::npos) {
      parsed.kind = LineKind::kSection;
      parsed.name = Trim(text.substr(1, close - 1));
      return parsed;
    }
  }
  parsed.kind = LineKind::kEntry;
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    parsed.name = text;
  } else {
    parsed.name = TrimRight(text.substr(0, equals));
    parsed.value = TrimLeft(text.substr(equals + 1));
  }
  return parsed;
}

// Where an entry stands in a file, as far as one lookup or one write needs it.
struct Location {
  bool section_found = false;
  // The matching key's line and what it says.
  std::optional<Line> key_line;
  ParsedLine key;
  // The last non-empty line of the section (its section line when it has no
  // entry line); unset for the unnamed section when nothing precedes the
  // first section line.
  std::optional<Line> last_line;
};

// Walks the file once, stopping at the first matching key of the first
// matching section: nothing behind it ever counts.
Location Find(std::string_view content, std::size_t body_start, std::string_view section,
              std::string_view key) {
  const CodePage code_page = SystemCodePage();
  Location location;
  // The part before the first section line is the unnamed section "".
  bool in_section = section.empty();
  location.section_found = in_section;
  for (std::size_t at = body_start; at < content.size();) {
    const Line line = NextLine(content, at);
    at = line.next;
    const ParsedLine parsed = Parse(content.substr(line.begin, line.end - line.begin));
    if (parsed.kind == LineKind::kEmpty) continue;
    if (parsed.kind == LineKind::kSection) {
      if (in_section) break;
      if (!location.section_found && SameName(parsed.name, section, code_page)) {
        in_section = true;
        location.section_found = true;
        location.last_line = line;
      }
      continue;
    }
    if (!in_section) continue;
    location.last_line = line;
    if (SameName(parsed.name, key, code_page)) {
      location.key_line = line;
      location.key = parsed;
      break;
    }
  }
  return location;
}

std::size_t BodyStart(std::string_view content) {
  return content.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
}

// The file's new content, or nothing when the entry already holds `value`.
std::optional<std::string> WithEntry(std::string_view content, std::string_view section,
                                     std::string_view key, std::string_view value) {
  const std::size_t body_start = BodyStart(content);
  const Location location = Find(content, body_start, section, key);
  std::string result;
  if (location.key_line) {
    if (location.key.value == value) return std::nullopt;
    const Line& line = *location.key_line;
    result.append(content.substr(0, line.begin));
    result.append(location.key.name).append("=").append(value);
    result.append(content.substr(line.end));
    return result;
  }
  std::string added;
  std::size_t insert_at = content.size();
  if (location.section_found) {
    insert_at = location.last_line ? location.last_line->next : body_start;
  } else {
    added.append("[").append(section).append("]").append(kNewLine);
  }
  added.append(key).append("=").append(value).append(kNewLine);
  result.append(content.substr(0, insert_at));
  // Only the very last line of the file can lack its line end.
  if (insert_at > body_start && content[insert_at - 1] != '\n' && content[insert_at - 1] != '\r') {
    result.append(kNewLine);
  }
  result.append(added);
  result.append(content.substr(insert_at));
  return result;
}

}  // namespace

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view default_value) const {
  std::string_view fallback = default_value;
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);

  std::string content;
  if (profile_file_os::ReadProfileBytes(path_, content) != profile_file_os::ReadResult::kRead) {
    return Unquoted(fallback);
  }
  const Location location = Find(content, BodyStart(content), Trim(section), Trim(key));
  if (!location.key_line || !location.key.value) return Unquoted(fallback);
  return Unquoted(*location.key.value);
}

void TIniFile::WriteString(std::string_view section, std::string_view key,
                           std::string_view value) const {
  std::string content;
  switch (profile_file_os::ReadProfileBytes(path_, content)) {
    case profile_file_os::ReadResult::kRead:
      break;
    case profile_file_os::ReadResult::kMissing:
      content.clear();
      break;
    case profile_file_os::ReadResult::kUnreadable:
      // Writing without the old content would lose every other entry.
      throw EIniFileException(path_);
  }
  const std::optional<std::string> updated =
      WithEntry(content, Trim(section), Trim(key), TrimLeft(value));
  if (!updated) return;
  profile_file_os::ReplaceProfileBytes(path_, *updated);
}

}  // namespace platform
