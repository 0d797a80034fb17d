#include "platform/ProfileFile.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/CodePage.hpp"
#include "platform/Exceptions.hpp"
#include "support/GbkLocale.hpp"
#include "support/TempFolder.hpp"

using platform::TIniFile;
using std::string_literals::operator""s;
using test_support::TempFolder;

namespace {

std::set<std::string> NamesIn(const TempFolder& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::string WriteErrorOf(const TIniFile& file, std::string_view section, std::string_view key,
                         std::string_view value) {
  try {
    file.WriteString(section, key, value);
  } catch (const platform::EIniFileException& error) {
    return error.what();
  }
  return "no error";
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

// What GetPrivateProfileStringA was seen to return for each file (see
// tools/probes/profile), asked with an empty default unless noted.
struct ReadCase {
  const char* what;
  std::string content;
  const char* section;
  const char* key;
  std::string expected;
};

const ReadCase kReadCases[] = {
    {"plain", "[update]\r\nVersion=1.0\r\n", "update", "Version", "1.0"},
    {"names in capitals", "[UPDATE]\r\nVERSION=1.0\r\n", "update", "Version", "1.0"},
    {"names in mixed case", "[UpDaTe]\r\nvErSiOn=1.0\r\n", "update", "Version", "1.0"},
    {"missing section", "[other]\r\nVersion=1.0\r\n", "update", "Version", ""},
    {"missing key", "[update]\r\nOther=1.0\r\n", "update", "Version", ""},
    {"empty file", "", "update", "Version", ""},
    {"not a profile file", "<html><body>404</body></html>", "update", "Version", ""},
    {"lines before any section form the section \"\"", "Version=top\r\n[update]\r\nVersion=1\r\n",
     "", "Version", "top"},
    {"a key before any section is in no named one", "Version=top\r\n[update]\r\nA=1\r\n", "update",
     "Version", ""},
    {"asked names are trimmed", "[update]\r\nVersion=1.0\r\n", " update\t", " Version ", "1.0"},
    {"an empty key matches a line starting with =", "[update]\r\n=1.0\r\n", "update", "", "1.0"},
    // Blanks.
    {"blanks around key and value", "[update]\r\n  Version  =  1.0  \r\n", "update", "Version",
     "1.0"},
    {"tabs around key and value", "[update]\r\n\tVersion\t=\t1.0\t\r\n", "update", "Version",
     "1.0"},
    {"VT, FF and ctrl-Z are blanks", "[update]\r\nVersion=\v1.0\f\x1A\r\n", "update", "Version",
     "1.0"},
    {"blanks inside the brackets", "[ update ]\r\nVersion=1.0\r\n", "update", "Version", "1.0"},
    {"blanks before [", "  [update]\r\nVersion=1.0\r\n", "update", "Version", "1.0"},
    {"text after ] is ignored", "[update] ; note\r\nVersion=1.0\r\n", "update", "Version", "1.0"},
    {"the name ends at the last ]", "[up]date]\r\nVersion=1.0\r\n", "up]date", "Version", "1.0"},
    {"[ without ] is an entry line", "[update]\r\n[other\r\nVersion=1.0\r\n", "update", "Version",
     "1.0"},
    {"[ without ] starts no section", "[update\r\nVersion=1.0\r\n", "update", "Version", ""},
    {"inner blanks stay", "[update]\r\nVersion=1 0\r\nmy key=2\r\n", "update", "Version", "1 0"},
    {"a key with an inner blank", "[update]\r\nmy key=2\r\n", "update", "my key", "2"},
    {"inner blanks of a key count", "[update]\r\nmy key=2\r\n", "update", "mykey", ""},
    {"a full-width space is no blank", "[update]\r\nVersion=\xA1\xA1\x31.0\xA1\xA1\r\n", "update",
     "Version", "\xA1\xA1\x31.0\xA1\xA1"},
    // Comments and lines without '='.
    {"a ; line is skipped over", "[update]\r\n;Version=0.9\r\nVersion=1.0\r\n", "update", "Version",
     "1.0"},
    {"a ; line is not the key", "[update]\r\n;Version=0.9\r\n", "update", "Version", ""},
    {"a ; line is a key of its own", "[update]\r\n;Version=0.9\r\n", "update", ";Version", "0.9"},
    {"# starts no comment", "[update]\r\n#Version=0.9\r\n", "update", "#Version", "0.9"},
    {"; inside a value stays", "[update]\r\nVersion=1.0 ; note\r\n", "update", "Version",
     "1.0 ; note"},
    {"= inside a value stays", "[update]\r\nVersion=a=b\r\n", "update", "Version", "a=b"},
    {"empty value", "[update]\r\nVersion=\r\n", "update", "Version", ""},
    {"blank value", "[update]\r\nVersion=   \r\n", "update", "Version", ""},
    // Repeats: the first section of a name and its first matching key.
    {"repeated key", "[update]\r\nVersion=1\r\nVersion=2\r\n", "update", "Version", "1"},
    {"repeated key in other case", "[update]\r\nversion=1\r\nVERSION=2\r\n", "update", "Version",
     "1"},
    {"repeated empty key first", "[update]\r\nVersion=\r\nVersion=2\r\n", "update", "Version", ""},
    {"repeated section", "[update]\r\nVersion=1\r\n[update]\r\nVersion=2\r\n", "update", "Version",
     "1"},
    {"only the first section is read", "[update]\r\nA=1\r\n[UPDATE]\r\nVersion=2\r\n", "update",
     "Version", ""},
    // Quotes.
    {"double quotes", "[update]\r\nVersion=\"1.0\"\r\n", "update", "Version", "1.0"},
    {"single quotes", "[update]\r\nVersion='1.0'\r\n", "update", "Version", "1.0"},
    {"blanks inside quotes stay", "[update]\r\nVersion=\" 1.0 \"\r\n", "update", "Version",
     " 1.0 "},
    {"blanks outside quotes go", "[update]\r\nVersion=  \"1.0\"  \r\n", "update", "Version", "1.0"},
    {"quote on the left only", "[update]\r\nVersion=\"1.0\r\n", "update", "Version", "\"1.0"},
    {"quote on the right only", "[update]\r\nVersion=1.0\"\r\n", "update", "Version", "1.0\""},
    {"different quotes", "[update]\r\nVersion=\"1.0'\r\n", "update", "Version", "\"1.0'"},
    {"inner quotes stay", "[update]\r\nVersion=a\"b\"c\r\n", "update", "Version", "a\"b\"c"},
    {"outer quotes around an inner one", "[update]\r\nVersion=\"a\"b\"\r\n", "update", "Version",
     "a\"b"},
    {"empty quotes", "[update]\r\nVersion=\"\"\r\n", "update", "Version", ""},
    {"a lone quote", "[update]\r\nVersion=\"\r\n", "update", "Version", "\""},
    {"doubled quotes lose one pair", "[update]\r\nVersion=\"\"1.0\"\"\r\n", "update", "Version",
     "\"1.0\""},
    {"quotes around a key count", "[update]\r\n\"Version\"=1.0\r\n", "update", "Version", ""},
    // Line ends and bytes.
    {"LF line ends", "[update]\nVersion=1.0\nOther=2\n", "update", "Other", "2"},
    {"CR line ends", "[update]\rVersion=1.0\rOther=2\r", "update", "Other", "2"},
    {"mixed line ends", "[a]\nx=1\r[update]\r\nVersion=1.0\n", "update", "Version", "1.0"},
    {"no line end at the end", "[update]\r\nVersion=1.0", "update", "Version", "1.0"},
    {"blank lines everywhere", "\r\n\r\n[update]\r\n\r\nVersion=1.0\r\n\r\n", "update", "Version",
     "1.0"},
    {"UTF-8 byte-order mark", "\xEF\xBB\xBF[update]\r\nVersion=1.0\r\n", "update", "Version",
     "1.0"},
    {"UTF-8 text passes", "[update]\r\nVersion=\xE7\x89\x88\xE6\x9C\xAC\r\n", "update", "Version",
     "\xE7\x89\x88\xE6\x9C\xAC"},
    {"GBK text passes", "[update]\r\nVersion=\xB0\xE6\xB1\xBE\x31\r\n", "update", "Version",
     "\xB0\xE6\xB1\xBE\x31"},
    {"GBK section and key names", "[\xC9\xFD\xBC\xB6]\r\n\xB0\xE6=\xB1\xBE\r\n", "\xC9\xFD\xBC\xB6",
     "\xB0\xE6", "\xB1\xBE"},
    {"a NUL byte is text", "[update]\r\nVersion=1\0002\r\n"s, "update", "Version", "1\0002"s},
    // The names the update chain asks for.
    {"up2 among others", "[updatelist]\r\nup1=a.exe\r\nup01=b\r\nup2=c\\d.dat\r\n", "updatelist",
     "up2", "c\\d.dat"},
    {"up01 is not up1", "[updatelist]\r\nup01=b\r\n", "updatelist", "up1", ""},
    {"up10 is not up1", "[updatelist]\r\nup10=b\r\n", "updatelist", "up1", ""},
};

TEST(ProfileFile, ReadsFollowTheWindowsProfileRules) {
  TempFolder folder;
  const TIniFile file(folder / "probe.ini");
  for (const ReadCase& c : kReadCases) {
    folder.Write("probe.ini", c.content);
    EXPECT_EQ(file.ReadString(c.section, c.key, ""), c.expected) << c.what;
  }
}

TEST(ProfileFile, DefaultIsGivenForWhatIsMissing) {
  TempFolder folder;
  const TIniFile missing(folder / "missing.ini");
  EXPECT_EQ(missing.ReadString("update", "Version", ""), "");
  EXPECT_EQ(missing.ReadString("update", "Version", "dflt"), "dflt");
  EXPECT_FALSE(folder.Exists("missing.ini")) << "reading never creates the file";
  EXPECT_EQ(TIniFile(folder / "no-folder/version.ini").ReadString("update", "Version", ""), "");
  folder.MakeFolder("a-folder.ini");
  EXPECT_EQ(TIniFile(folder / "a-folder.ini").ReadString("update", "Version", "d"), "d");

  folder.Write("v.ini", "[update]\r\nVersion\r\nOther=1\r\n");
  const TIniFile file(folder / "v.ini");
  EXPECT_EQ(file.ReadString("update", "Version", "dflt"), "dflt") << "a key line without '='";
  EXPECT_EQ(file.ReadString("update", "Missing", "dflt  "), "dflt") << "trailing spaces go";
  EXPECT_EQ(file.ReadString("update", "Missing", "  dflt"), "  dflt") << "leading ones stay";
  EXPECT_EQ(file.ReadString("update", "Missing", "\"dflt\""), "dflt") << "quotes go";
  EXPECT_EQ(file.ReadString("other", "Version", "dflt"), "dflt");
}

TEST(ProfileFile, ValuesAreCutAfter2047Bytes) {
  TempFolder folder;
  const TIniFile file(folder / "v.ini");
  auto value_of_length = [](std::size_t length) {
    std::string value;
    for (std::size_t i = 0; i < length; ++i) value.push_back(static_cast<char>('a' + i % 26));
    return value;
  };
  for (const std::size_t length : {2046u, 2047u, 2048u, 3000u, 70000u}) {
    const std::string value = value_of_length(length);
    folder.Write("v.ini", "[update]\r\nVersion=" + value + "\r\n");
    EXPECT_EQ(file.ReadString("update", "Version", ""), value.substr(0, 2047)) << length;
    // The quotes go before the cut: 2047 quoted bytes are all kept.
    folder.Write("v.ini", "[update]\r\nVersion=\"" + value + "\"\r\n");
    EXPECT_EQ(file.ReadString("update", "Version", ""), value.substr(0, 2047)) << length;
  }
  EXPECT_EQ(file.ReadString("update", "Missing", value_of_length(3000)), value_of_length(2047));

  // Bytes are counted, not characters: a GBK character may be cut in half.
  std::string gbk;
  for (int i = 0; i < 1500; ++i) gbk += "\xB0\xA1";
  folder.Write("v.ini", "[update]\r\nVersion=" + gbk + "\r\n");
  EXPECT_EQ(file.ReadString("update", "Version", ""), gbk.substr(0, 2047));
}

TEST(ProfileFile, SecondByteOfAGbkCharacterIsNotFoldedUnderCodePage936) {
  const test_support::GbkLocale gbk;
  if (!gbk.active()) GTEST_SKIP() << "no GBK locale";
  TempFolder folder;
  folder.Write("v.ini", "[update]\r\n\x81\x41=1\r\nVersion=2\r\n");
  const TIniFile file(folder / "v.ini");
  EXPECT_EQ(file.ReadString("update", "\x81\x61", "d"), "d");
  EXPECT_EQ(file.ReadString("update", "\x81\x41", "d"), "1");
  EXPECT_EQ(file.ReadString("UPDATE", "VERSION", "d"), "2");
}

// What a write leaves in the file: as WritePrivateProfileStringA for the
// entry's own line, every other byte kept.
struct WriteCase {
  const char* what;
  std::optional<std::string> before;  // no value: no file
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

const WriteCase kWriteCases[] = {
    {"new file", std::nullopt, "update", "version", "2.0", "[update]\r\nversion=2.0\r\n"},
    {"empty file", "", "update", "version", "2.0", "[update]\r\nversion=2.0\r\n"},
    {"new section at the end", "[other]\r\nA=1\r\n", "update", "version", "2.0",
     "[other]\r\nA=1\r\n[update]\r\nversion=2.0\r\n"},
    {"new section after blank lines", "[other]\r\nA=1\r\n\r\n", "update", "version", "2.0",
     "[other]\r\nA=1\r\n\r\n[update]\r\nversion=2.0\r\n"},
    {"new section, last line without line end", "[other]\r\nA=1", "update", "version", "2.0",
     "[other]\r\nA=1\r\n[update]\r\nversion=2.0\r\n"},
    {"new section in an LF file", "[other]\nA=1\n", "update", "version", "2.0",
     "[other]\nA=1\n[update]\r\nversion=2.0\r\n"},
    {"new key after the section's last line", "[update]\r\nA=1\r\n", "update", "version", "2.0",
     "[update]\r\nA=1\r\nversion=2.0\r\n"},
    {"new key before the blank lines ending the section",
     "[update]\r\nA=1\r\n\r\n[other]\r\nB=2\r\n", "update", "version", "2.0",
     "[update]\r\nA=1\r\nversion=2.0\r\n\r\n[other]\r\nB=2\r\n"},
    {"new key after a trailing comment line", "[update]\r\nA=1\r\n;note\r\n\r\n[other]\r\n",
     "update", "version", "2.0", "[update]\r\nA=1\r\n;note\r\nversion=2.0\r\n\r\n[other]\r\n"},
    {"new key in an empty section", "[update]\r\n[other]\r\nB=2\r\n", "update", "version", "2.0",
     "[update]\r\nversion=2.0\r\n[other]\r\nB=2\r\n"},
    {"new key, last line without line end", "[update]\r\nA=1", "update", "version", "2.0",
     "[update]\r\nA=1\r\nversion=2.0\r\n"},
    {"new key in an LF file", "[update]\nA=1\n[other]\nB=2\n", "update", "version", "2.0",
     "[update]\nA=1\nversion=2.0\r\n[other]\nB=2\n"},
    {"new key goes to the first of repeated sections", "[update]\r\nA=1\r\n[update]\r\nB=2\r\n",
     "update", "version", "3", "[update]\r\nA=1\r\nversion=3\r\n[update]\r\nB=2\r\n"},
    {"new key in the section \"\"", "x=1\r\n\r\n[a]\r\n", "", "version", "3",
     "x=1\r\nversion=3\r\n\r\n[a]\r\n"},
    {"new key in an absent section \"\"", "\xEF\xBB\xBF[a]\r\n", "", "version", "3",
     "\xEF\xBB\xBFversion=3\r\n[a]\r\n"},
    {"replaced in place", "[update]\r\nVersion=1.0\r\n", "update", "version", "2.0",
     "[update]\r\nVersion=2.0\r\n"},
    {"replaced, the file's spelling and every other byte kept",
     "; top\r\n[a]\r\nx=1\r\n\r\n[UPDATE]\r\n  VERSION = 1.0 \r\nB=2\r\n\r\n[c]\r\ny=3", "update",
     "version", "2.0",
     "; top\r\n[a]\r\nx=1\r\n\r\n[UPDATE]\r\nVERSION=2.0\r\nB=2\r\n\r\n[c]\r\ny=3"},
    {"replaced, the line's own line end kept", "[update]\nVersion=1.0\rB=2\n", "update", "version",
     "2.0", "[update]\nVersion=2.0\rB=2\n"},
    {"replaced, last line without line end", "[update]\r\nVersion=1.0", "update", "version", "2.0",
     "[update]\r\nVersion=2.0"},
    {"replaced, quotes go", "[update]\r\nVersion=\"1.0\"\r\n", "update", "version", "2.0",
     "[update]\r\nVersion=2.0\r\n"},
    {"only the first of repeated keys", "[update]\r\nVersion=1\r\nversion=2\r\n", "update",
     "version", "3", "[update]\r\nVersion=3\r\nversion=2\r\n"},
    {"a key line without =", "[update]\r\nVersion\r\n", "update", "version", "3",
     "[update]\r\nVersion=3\r\n"},
    {"an empty value", "[update]\r\nVersion=1.0\r\n", "update", "version", "",
     "[update]\r\nVersion=\r\n"},
    {"leading blanks of the value go", "[update]\r\n", "update", "version", "  2.0  ",
     "[update]\r\nversion=2.0  \r\n"},
    {"quotes in the value are written", "[update]\r\n", "update", "version", "\"2.0\"",
     "[update]\r\nversion=\"2.0\"\r\n"},
    {"blanks around the names go", std::nullopt, " update ", "\tversion ", "2.0",
     "[update]\r\nversion=2.0\r\n"},
    {"GBK bytes pass", "[\xC9\xFD\xBC\xB6]\r\n", "\xC9\xFD\xBC\xB6", "\xB0\xE6", "\xB1\xBE",
     "[\xC9\xFD\xBC\xB6]\r\n\xB0\xE6=\xB1\xBE\r\n"},
    {"the byte-order mark stays", "\xEF\xBB\xBF[update]\r\nVersion=1.0\r\n", "update", "version",
     "2.0", "\xEF\xBB\xBF[update]\r\nVersion=2.0\r\n"},
};

TEST(ProfileFile, WritesChangeOnlyTheEntrysOwnLine) {
  TempFolder folder;
  const TIniFile file(folder / "version.ini");
  for (const WriteCase& c : kWriteCases) {
    std::filesystem::remove(folder / "version.ini");
    if (c.before) folder.Write("version.ini", *c.before);
    file.WriteString(c.section, c.key, c.value);
    EXPECT_EQ(folder.Read("version.ini"), c.after) << c.what;
    EXPECT_EQ(NamesIn(folder), std::set<std::string>{"version.ini"}) << c.what;
  }
}

TEST(ProfileFile, EveryWrittenValueReadsBack) {
  TempFolder folder;
  const TIniFile file(folder / "version.ini");
  for (const WriteCase& c : kWriteCases) {
    std::filesystem::remove(folder / "version.ini");
    if (c.before) folder.Write("version.ini", *c.before);
    file.WriteString(c.section, c.key, c.value);
    std::string_view value = c.value;
    while (value.starts_with(' ')) value.remove_prefix(1);
    while (value.ends_with(' ')) value.remove_suffix(1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    EXPECT_EQ(file.ReadString(c.section, c.key, ""), value) << c.what;
  }
}

TEST(ProfileFile, TheChainsVersionFileAndManifest) {
  TempFolder folder;
  // No version.ini: the installed version is empty, and the installation's
  // write creates the file.
  const TIniFile version_file(folder / "version.ini");
  EXPECT_EQ(version_file.ReadString("update", "Version", ""), "");
  version_file.WriteString("update", "version", "2.4.1");
  EXPECT_EQ(version_file.ReadString("update", "Version", ""), "2.4.1");
  EXPECT_EQ(folder.Read("version.ini"), "[update]\r\nversion=2.4.1\r\n");

  // Spelled in capitals, among other entries: still one entry after the write.
  folder.Write("version.ini", "[OTHER]\r\nVERSION=9\r\n[UPDATE]\r\nVERSION=2.4.0\r\nX=1\r\n");
  EXPECT_EQ(version_file.ReadString("update", "Version", ""), "2.4.0");
  version_file.WriteString("update", "version", "2.4.1");
  EXPECT_EQ(folder.Read("version.ini"),
            "[OTHER]\r\nVERSION=9\r\n[UPDATE]\r\nVERSION=2.4.1\r\nX=1\r\n");

  // The manifest: the offered version and all 100 list entries, GBK names
  // and subfolders passing through.
  std::string manifest = "[update]\r\nVersion=2.4.1\r\n[updatelist]\r\n";
  for (int n = 100; n >= 1; --n) {
    manifest += "up" + std::to_string(n) + "=file" + std::to_string(n) + "\xCE\xC4.dat\r\n";
  }
  manifest += "up101=never\r\nup0=never\r\n";
  folder.MakeFolder("update");
  folder.Write("update/update.ini", manifest);
  const TIniFile saved_manifest(folder / "update/update.ini");
  EXPECT_EQ(saved_manifest.ReadString("update", "Version", ""), "2.4.1");
  for (int n = 1; n <= 100; ++n) {
    EXPECT_EQ(saved_manifest.ReadString("updatelist", "up" + std::to_string(n), ""),
              "file" + std::to_string(n) + "\xCE\xC4.dat");
  }
}

TEST(ProfileFile, AnUnchangedValueIsNotWritten) {
  TempFolder folder;
  const std::string before = "[update]\r\n  Version = 2.0 \r\n";
  folder.Write("version.ini", before);
  struct stat old_status {};
  ASSERT_EQ(::stat((folder / "version.ini").c_str(), &old_status), 0);
  ::chmod((folder / "version.ini").c_str(), 0444);

  // Even a read-only file takes the value it already holds.
  TIniFile(folder / "version.ini").WriteString("UPDATE", "version", "2.0");
  struct stat new_status {};
  ASSERT_EQ(::stat((folder / "version.ini").c_str(), &new_status), 0);
  EXPECT_EQ(new_status.st_ino, old_status.st_ino);
  EXPECT_EQ(folder.Read("version.ini"), before);
}

TEST(ProfileFile, WriteFailuresNameTheFullPathAndChangeNothing) {
  TempFolder folder;
  folder.Write("readonly.ini", "[update]\r\nVersion=1.0\r\n");
  ::chmod((folder / "readonly.ini").c_str(), 0444);
  folder.Write("nobits.ini", "[update]\r\nVersion=1.0\r\n");
  ::chmod((folder / "nobits.ini").c_str(), 0);
  folder.MakeFolder("a-folder.ini");
  folder.Write("a-file", "");

  for (const char* name : {"missing/version.ini", "readonly.ini", "nobits.ini", "a-folder.ini",
                           "a-file/version.ini"}) {
    const std::string path = folder / name;
    EXPECT_EQ(WriteErrorOf(TIniFile(path), "update", "version", "2.0"),
              "Unable to write to " + path)
        << name;
  }
  ::chmod((folder / "nobits.ini").c_str(), 0644);
  EXPECT_EQ(folder.Read("readonly.ini"), "[update]\r\nVersion=1.0\r\n");
  EXPECT_EQ(folder.Read("nobits.ini"), "[update]\r\nVersion=1.0\r\n");
  EXPECT_EQ(ModeOf(folder / "readonly.ini"), 0444u);
  EXPECT_FALSE(folder.Exists("missing"));
  EXPECT_EQ(NamesIn(folder),
            (std::set<std::string>{"readonly.ini", "nobits.ini", "a-folder.ini", "a-file"}));
}

TEST(ProfileFile, WriteFailsInAFolderWithoutRights) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
  TempFolder folder;
  folder.MakeFolder("locked");
  folder.Write("locked/version.ini", "[update]\r\nVersion=1.0\r\n");
  ::chmod((folder / "locked").c_str(), 0555);
  const std::string path = folder / "locked/version.ini";
  EXPECT_EQ(WriteErrorOf(TIniFile(path), "update", "version", "2.0"), "Unable to write to " + path);
  EXPECT_EQ(folder.Read("locked/version.ini"), "[update]\r\nVersion=1.0\r\n");
  ::chmod((folder / "locked").c_str(), 0755);
  EXPECT_EQ(NamesIn(folder), std::set<std::string>{"locked"});
}

TEST(ProfileFile, AWriteReplacesTheFileWholeAndKeepsItsPermissions) {
  TempFolder folder;
  const std::string before = "[update]\r\nVersion=1.0\r\n" + std::string(100000, ';') + "\r\n";
  folder.Write("version.ini", before);
  ::chmod((folder / "version.ini").c_str(), 0640);

  // A reader that opened the file before the write still sees all of the old
  // content: the file is never emptied and refilled in place.
  const int old_fd = ::open((folder / "version.ini").c_str(), O_RDONLY);
  ASSERT_GE(old_fd, 0);
  TIniFile(folder / "version.ini").WriteString("update", "version", "2.0");
  std::string seen(before.size() + 10, '\0');
  const ssize_t got = ::pread(old_fd, seen.data(), seen.size(), 0);
  ::close(old_fd);
  EXPECT_EQ(seen.substr(0, got > 0 ? static_cast<std::size_t>(got) : 0), before);

  EXPECT_EQ(folder.Read("version.ini"),
            "[update]\r\nVersion=2.0\r\n" + std::string(100000, ';') + "\r\n");
  EXPECT_EQ(ModeOf(folder / "version.ini"), 0640u);
  EXPECT_EQ(NamesIn(folder), std::set<std::string>{"version.ini"});

  // Root writing a user's file hands the new one back to that user.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((folder / "version.ini").c_str(), 65534, 65534), 0);
    TIniFile(folder / "version.ini").WriteString("update", "version", "3.0");
    struct stat status {};
    ASSERT_EQ(::stat((folder / "version.ini").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
    EXPECT_EQ(ModeOf(folder / "version.ini"), 0640u);
  }

  // A new file gets what creating it would give.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  TIniFile(folder / "new.ini").WriteString("update", "version", "2.0");
  EXPECT_EQ(ModeOf(folder / "new.ini"), 0666u & ~mask);
}

TEST(ProfileFile, AWriteGoesThroughASymbolicLink) {
  TempFolder folder;
  folder.MakeFolder("real");
  folder.Write("real/version.ini", "[update]\r\nVersion=1.0\r\n");
  std::filesystem::create_symlink(folder / "real/version.ini", folder / "version.ini");
  TIniFile(folder / "version.ini").WriteString("update", "version", "2.0");
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "version.ini"));
  EXPECT_EQ(folder.Read("real/version.ini"), "[update]\r\nVersion=2.0\r\n");
  EXPECT_EQ(NamesIn(folder), (std::set<std::string>{"real", "version.ini"}));
}

}  // namespace
