/* Prints what GetPrivateProfileStringA returns and what WritePrivateProfileStringA
   leaves in a file, for the cases that the profile-file reader and writer of
   `update` must match. Build with x86_64-w64-mingw32-gcc and run under Windows or
   Wine in a scratch folder; see README.md. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#define FILE_NAME "probe.ini"

static char full_path[MAX_PATH];

static void put_escaped(const char* bytes, size_t size) {
  size_t i;
  putchar('"');
  for (i = 0; i < size; ++i) {
    unsigned char c = (unsigned char)bytes[i];
    if (c == '\r') fputs("\\r", stdout);
    else if (c == '\n') fputs("\\n", stdout);
    else if (c == '\t') fputs("\\t", stdout);
    else if (c == '"') fputs("\\\"", stdout);
    else if (c == '\\') fputs("\\\\", stdout);
    else if (c < 0x20 || c >= 0x7F) printf("\\x%02X", c);
    else putchar(c);
  }
  putchar('"');
}

static void write_file(const char* content, size_t size) {
  FILE* f = fopen(full_path, "wb");
  fwrite(content, 1, size, f);
  fclose(f);
}

static size_t read_file(char* out, size_t capacity) {
  FILE* f = fopen(full_path, "rb");
  size_t n;
  if (!f) return (size_t)-1;
  n = fread(out, 1, capacity, f);
  fclose(f);
  return n;
}

static void reset(void) {
  SetFileAttributesA(full_path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(full_path);
}

/* One read case: the file's bytes, then the section and key asked for. */
static void read_case(const char* name, const char* content, const char* section,
                      const char* key, const char* def) {
  static char buffer[2048];
  DWORD n;
  reset();
  if (content) write_file(content, strlen(content));
  memset(buffer, 0x7E, sizeof buffer);
  n = GetPrivateProfileStringA(section, key, def, buffer, sizeof buffer, full_path);
  printf("READ %-28s ", name);
  put_escaped(section, strlen(section));
  putchar(' ');
  put_escaped(key, strlen(key));
  printf(" -> ");
  if (n > 80) {
    printf("len=%lu first=%02X last=%02X", (unsigned long)n, (unsigned char)buffer[0],
           (unsigned char)buffer[n - 1]);
  } else {
    put_escaped(buffer, n);
  }
  printf("\n");
}

/* One write case: the file before (NULL: missing), the entry written, the file after. */
static void write_case(const char* name, const char* before, const char* section,
                       const char* key, const char* value, int read_only) {
  static char after[65536];
  BOOL ok;
  DWORD error;
  size_t n;
  reset();
  if (before) write_file(before, strlen(before));
  if (read_only) SetFileAttributesA(full_path, FILE_ATTRIBUTE_READONLY);
  SetLastError(0);
  ok = WritePrivateProfileStringA(section, key, value, full_path);
  error = GetLastError();
  WritePrivateProfileStringA(NULL, NULL, NULL, full_path); /* flush any cache */
  printf("WRITE %-27s ok=%d error=%lu\n", name, ok, (unsigned long)error);
  printf("  before: ");
  if (before) put_escaped(before, strlen(before)); else printf("(missing)");
  printf("\n  after:  ");
  n = read_file(after, sizeof after);
  if (n == (size_t)-1) printf("(missing)"); else put_escaped(after, n);
  printf("\n");
  reset();
}

int main(void) {
  static char long_value[4200];
  static char long_file[4300];
  static char quoted_file[4300];
  GetFullPathNameA(FILE_NAME, sizeof full_path, full_path, NULL);

  /* Matching names. */
  read_case("plain", "[update]\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("case of section and key", "[UPDATE]\r\nVERSION=1.0\r\n", "update", "Version", "");
  read_case("case mixed", "[UpDaTe]\r\nvErSiOn=1.0\r\n", "update", "Version", "");
  read_case("missing file", NULL, "update", "Version", "");
  read_case("missing section", "[other]\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("missing key", "[update]\r\nOther=1.0\r\n", "update", "Version", "");
  read_case("missing, default", "[update]\r\n", "update", "Version", "dflt");
  read_case("default trailing blanks", "[update]\r\n", "update", "Version", "  dflt  ");
  read_case("default quoted", "[update]\r\n", "update", "Version", "\"dflt\"");
  read_case("empty key name", "[update]\r\n=1.0\r\n", "update", "", "dflt");
  read_case("empty section name", "Version=top\r\n[update]\r\nVersion=1.0\r\n", "", "Version", "");
  read_case("key before any section", "Version=top\r\n[update]\r\nOther=1\r\n", "update", "Version", "");
  read_case("asked names blanks", "[update]\r\nVersion=1.0\r\n", " update ", " Version ", "");

  /* Blanks. */
  read_case("blanks around key/value", "[update]\r\n  Version  =  1.0  \r\n", "update", "Version", "");
  read_case("tabs around key/value", "[update]\r\n\tVersion\t=\t1.0\t\r\n", "update", "Version", "");
  read_case("blanks in section brackets", "[ update ]\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("blanks before [", "  [update]\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("text after ]", "[update] ; note\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("] inside section name", "[up]date]\r\nVersion=1.0\r\n", "up]date", "Version", "");
  read_case("no closing ]", "[update\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("no closing ], prev section", "[update]\r\n[other\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("blank inside value", "[update]\r\nVersion=1 0\r\n", "update", "Version", "");
  read_case("blank inside key", "[update]\r\nmy key=1\r\n", "update", "my key", "");
  read_case("blank inside key, asked 1", "[update]\r\nmy key=1\r\n", "update", "mykey", "");

  /* Comments and lines without '='. */
  read_case("comment line before", "[update]\r\n;Version=0.9\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("comment line only", "[update]\r\n;Version=0.9\r\n", "update", "Version", "");
  read_case("comment key asked", "[update]\r\n;Version=0.9\r\n", "update", ";Version", "");
  read_case("hash line", "[update]\r\n#Version=0.9\r\n", "update", "#Version", "");
  read_case("semicolon in value", "[update]\r\nVersion=1.0 ; note\r\n", "update", "Version", "");
  read_case("line without =", "[update]\r\nVersion\r\n", "update", "Version", "dflt");
  read_case("line without =, then key", "[update]\r\nVersion\r\nVersion=1.0\r\n", "update", "Version", "dflt");
  read_case("= in value", "[update]\r\nVersion=a=b\r\n", "update", "Version", "");
  read_case("empty value", "[update]\r\nVersion=\r\n", "update", "Version", "dflt");
  read_case("blank value", "[update]\r\nVersion=   \r\n", "update", "Version", "dflt");

  /* Repeats. */
  read_case("repeated key", "[update]\r\nVersion=1\r\nVersion=2\r\n", "update", "Version", "");
  read_case("repeated key other case", "[update]\r\nversion=1\r\nVERSION=2\r\n", "update", "Version", "");
  read_case("repeated section, both", "[update]\r\nVersion=1\r\n[update]\r\nVersion=2\r\n", "update", "Version", "");
  read_case("repeated section, 2nd only", "[update]\r\nOther=1\r\n[update]\r\nVersion=2\r\n", "update", "Version", "");
  read_case("repeated empty key then", "[update]\r\nVersion=\r\nVersion=2\r\n", "update", "Version", "dflt");

  /* Quotes. */
  read_case("double quotes", "[update]\r\nVersion=\"1.0\"\r\n", "update", "Version", "");
  read_case("single quotes", "[update]\r\nVersion='1.0'\r\n", "update", "Version", "");
  read_case("quotes with inner blanks", "[update]\r\nVersion=\" 1.0 \"\r\n", "update", "Version", "");
  read_case("quotes, blanks outside", "[update]\r\nVersion=  \"1.0\"  \r\n", "update", "Version", "");
  read_case("quote left only", "[update]\r\nVersion=\"1.0\r\n", "update", "Version", "");
  read_case("quote right only", "[update]\r\nVersion=1.0\"\r\n", "update", "Version", "");
  read_case("mixed quotes", "[update]\r\nVersion=\"1.0'\r\n", "update", "Version", "");
  read_case("inner quotes", "[update]\r\nVersion=a\"b\"c\r\n", "update", "Version", "");
  read_case("quotes with inner quote", "[update]\r\nVersion=\"a\"b\"\r\n", "update", "Version", "");
  read_case("empty quotes", "[update]\r\nVersion=\"\"\r\n", "update", "Version", "dflt");
  read_case("single quote char", "[update]\r\nVersion=\"\r\n", "update", "Version", "dflt");
  read_case("doubled quotes", "[update]\r\nVersion=\"\"1.0\"\"\r\n", "update", "Version", "");
  read_case("quoted key", "[update]\r\n\"Version\"=1.0\r\n", "update", "Version", "");

  /* Line ends and bytes. */
  read_case("LF only", "[update]\nVersion=1.0\nOther=2\n", "update", "Version", "");
  read_case("CR only", "[update]\rVersion=1.0\rOther=2\r", "update", "Version", "");
  read_case("CR only, second key", "[update]\rVersion=1.0\rOther=2\r", "update", "Other", "");
  read_case("no final line end", "[update]\r\nVersion=1.0", "update", "Version", "");
  read_case("blank lines", "\r\n\r\n[update]\r\n\r\nVersion=1.0\r\n\r\n", "update", "Version", "");
  read_case("UTF-8 BOM", "\xEF\xBB\xBF[update]\r\nVersion=1.0\r\n", "update", "Version", "");
  read_case("GBK value", "[update]\r\nVersion=\xB0\xE6\xB1\xBE\x31\r\n", "update", "Version", "");
  read_case("ctrl-Z after value", "[update]\r\nVersion=1.0\x1A\r\n", "update", "Version", "");
  read_case("vertical tab/formfeed", "[update]\r\nVersion=\v1.0\f\r\n", "update", "Version", "");
  read_case("up keys", "[updatelist]\r\nup1=a.exe\r\nup01=b\r\nup2=c\\d.dat\r\n", "updatelist", "up2", "");
  read_case("up01 not up1", "[updatelist]\r\nup01=b\r\n", "updatelist", "up1", "dflt");

  /* Length: 2047-byte cut. */
  memset(long_value, 'a', 3000);
  long_value[2046] = 'b'; long_value[2047] = 'c';
  long_value[3000] = 0;
  sprintf(long_file, "[update]\r\nVersion=%s\r\n", long_value);
  read_case("3000 bytes", long_file, "update", "Version", "");
  long_value[2047] = 0;
  sprintf(long_file, "[update]\r\nVersion=%s\r\n", long_value);
  read_case("2047 bytes", long_file, "update", "Version", "");
  long_value[2047] = 'c'; long_value[2048] = 0;
  sprintf(long_file, "[update]\r\nVersion=%s\r\n", long_value);
  read_case("2048 bytes", long_file, "update", "Version", "");
  memset(long_value, 'a', 3000);
  long_value[2045] = 0; /* quoted: 2045 inner bytes + closing quote = 2046 after the opening */
  sprintf(quoted_file, "[update]\r\nVersion=\"%s\"\r\n", long_value);
  read_case("quoted 2045 inner", quoted_file, "update", "Version", "");
  memset(long_value, 'a', 3000);
  long_value[2046] = 0;
  sprintf(quoted_file, "[update]\r\nVersion=\"%s\"\r\n", long_value);
  read_case("quoted 2046 inner", quoted_file, "update", "Version", "");
  memset(long_value, 'a', 3000);
  long_value[2047] = 0;
  sprintf(quoted_file, "[update]\r\nVersion=\"%s\"\r\n", long_value);
  read_case("quoted 2047 inner", quoted_file, "update", "Version", "");
  memset(long_value, 'a', 3000);
  long_value[2048] = 0;
  sprintf(quoted_file, "[update]\r\nVersion=\"%s\"\r\n", long_value);
  read_case("quoted 2048 inner", quoted_file, "update", "Version", "");
  memset(long_value, 'a', 3000);
  long_value[3000] = 0;
  sprintf(quoted_file, "[update]\r\nVersion=\"%s\"\r\n", long_value);
  read_case("quoted 3000 inner", quoted_file, "update", "Version", "");

  /* Double-byte text (meaningful when the ANSI code page is 936). */
  printf("ANSI code page %u\n", GetACP());
  {
    int i;
    for (i = 0; i < 1500; ++i) { long_value[2 * i] = '\xB0'; long_value[2 * i + 1] = '\xA1'; }
    long_value[3000] = 0;
    sprintf(long_file, "[update]\r\nVersion=%s\r\n", long_value);
    read_case("GBK 3000 bytes", long_file, "update", "Version", "");
  }
  read_case("full-width blanks", "[update]\r\nVersion=\xA1\xA1" "1.0\xA1\xA1\r\n", "update", "Version", "");
  read_case("full-width letter case", "[update]\r\n\xA3\xC1=1\r\n", "update", "\xA3\xE1", "dflt");
  read_case("trail byte case", "[update]\r\n\x81\x41=1\r\n", "update", "\x81\x61", "dflt");

  /* Writes. */
  write_case("new file", NULL, "update", "version", "2.0", 0);
  write_case("new section", "[other]\r\nA=1\r\n", "update", "version", "2.0", 0);
  write_case("new section, no final EOL", "[other]\r\nA=1", "update", "version", "2.0", 0);
  write_case("new section, LF file", "[other]\nA=1\n", "update", "version", "2.0", 0);
  write_case("new section, blank end", "[other]\r\nA=1\r\n\r\n", "update", "version", "2.0", 0);
  write_case("new key, section last", "[update]\r\nA=1\r\n", "update", "version", "2.0", 0);
  write_case("new key, section first", "[update]\r\nA=1\r\n\r\n[other]\r\nB=2\r\n", "update", "version", "2.0", 0);
  write_case("new key, comment at end", "[update]\r\nA=1\r\n;note\r\n\r\n[other]\r\nB=2\r\n", "update", "version", "2.0", 0);
  write_case("new key, empty section", "[update]\r\n[other]\r\nB=2\r\n", "update", "version", "2.0", 0);
  write_case("new key, LF file", "[update]\nA=1\n[other]\nB=2\n", "update", "version", "2.0", 0);
  write_case("replace", "[update]\r\nVersion=1.0\r\n", "update", "version", "2.0", 0);
  write_case("replace keeps others", "; top\r\n[a]\r\nx=1\r\n\r\n[UPDATE]\r\n  VERSION = 1.0 \r\nB=2\r\n\r\n[c]\r\ny=3\r\n", "update", "version", "2.0", 0);
  write_case("replace, LF file", "[update]\nVersion=1.0\nB=2\n", "update", "version", "2.0", 0);
  write_case("replace quoted", "[update]\r\nVersion=\"1.0\"\r\n", "update", "version", "2.0", 0);
  write_case("replace, repeated key", "[update]\r\nVersion=1\r\nVersion=2\r\n", "update", "version", "3", 0);
  write_case("replace, repeated section", "[update]\r\nA=1\r\n[update]\r\nVersion=2\r\n", "update", "version", "3", 0);
  write_case("replace, no =", "[update]\r\nVersion\r\n", "update", "version", "3", 0);
  write_case("same value", "[update]\r\nVersion=2.0\r\n", "update", "version", "2.0", 0);
  write_case("value with blanks", "[update]\r\n", "update", "version", "  2.0  ", 0);
  write_case("value with quotes", "[update]\r\n", "update", "version", "\"2.0\"", 0);
  write_case("empty value", "[update]\r\nVersion=1.0\r\n", "update", "version", "", 0);
  write_case("names with blanks", NULL, " update ", " version ", "2.0", 0);
  write_case("GBK value", NULL, "update", "version", "\xB0\xE6\xB1\xBE", 0);
  write_case("UTF-8 BOM file", "\xEF\xBB\xBF[update]\r\nVersion=1.0\r\n", "update", "version", "2.0", 0);
  write_case("read-only file", "[update]\r\nVersion=1.0\r\n", "update", "version", "2.0", 1);
  write_case("read-only, same value", "[update]\r\nVersion=2.0\r\n", "update", "version", "2.0", 1);
  write_case("empty file", "", "update", "version", "2.0", 0);
  {
    BOOL ok;
    SetLastError(0);
    ok = WritePrivateProfileStringA("update", "version", "2.0", "C:\\no-such-folder-xyz\\v.ini");
    printf("WRITE %-27s ok=%d error=%lu\n", "missing folder", ok, (unsigned long)GetLastError());
  }
  return 0;
}
