#include "platform/MemoryStream.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Exceptions.hpp"
#include "support/TempFolder.hpp"

using platform::TMemoryStream;
using test_support::TempFolder;

namespace {

TMemoryStream StreamOf(std::string_view bytes) {
  TMemoryStream stream;
  stream.Write(bytes.data(), bytes.size());
  return stream;
}

std::string CreateErrorOf(const TMemoryStream& stream, const std::string& path) {
  try {
    stream.SaveToFile(path);
  } catch (const platform::EFCreateError& error) {
    return error.what();
  }
  return "no error";
}

TEST(MemoryStream, SavesEveryByteAndReplacesAnEarlierFile) {
  TempFolder folder;
  folder.Write("a.bin", std::string(1000, 'x'));
  const std::string bytes("\0\r\n\xFF[update]", 12);
  StreamOf(bytes).SaveToFile(folder / "a.bin");
  EXPECT_EQ(folder.Read("a.bin"), bytes);

  TMemoryStream().SaveToFile(folder / "empty.bin");
  EXPECT_EQ(folder.Read("empty.bin"), "");
}

TEST(MemoryStream, CannotCreateNamesTheFullPathAndTheSystemsReason) {
  TempFolder folder;
  folder.Write("update", "a file where the update folder should be");
  folder.Write("readonly.txt", "old");
  chmod((folder / "readonly.txt").c_str(), 0444);
  folder.MakeFolder("sub");
  const TMemoryStream stream = StreamOf("new");

  struct Case {
    std::string name;
    const char* reason;
  };
  const Case kCases[] = {
      {"missing/file.txt", "No such file or directory"},
      {"update/update.ini", "Not a directory"},
      {"readonly.txt", "Permission denied"},
      {"sub", "Is a directory"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(CreateErrorOf(stream, folder / c.name),
              "Cannot create file \"" + (folder / c.name) + "\". " + c.reason);
  }
  EXPECT_EQ(folder.Read("readonly.txt"), "old");
  EXPECT_FALSE(folder.Exists("missing"));  // no folder is created
}

TEST(MemoryStream, ShortWriteIsAStreamWriteError) {
  try {
    StreamOf("bytes for a full disk").SaveToFile("/dev/full");
    FAIL() << "no error";
  } catch (const platform::EWriteError& error) {
    EXPECT_STREQ(error.what(), "Stream write error");
  }
}

TEST(MemoryStream, ReserveKeepsOneAllocationForAKnownLength) {
  TMemoryStream stream;
  stream.Reserve(1 << 20);
  const char* const start = stream.Data();
  const std::string piece(4096, 'p');
  for (int i = 0; i < 256; ++i) stream.Write(piece.data(), piece.size());
  EXPECT_EQ(stream.Size(), std::size_t{1} << 20);
  EXPECT_EQ(stream.Data(), start);
}

// Bodies of unknown length grow the buffer past the size where it comes from
// the system in large blocks; every byte must survive each move.
TEST(MemoryStream, GrowsAcrossLargeBlocksAndClearGivesTheMemoryBack) {
  TMemoryStream stream;
  std::string expected;
  for (int i = 0; i < 700; ++i) {
    const std::string piece(4093, static_cast<char>('a' + i % 26));
    stream.Write(piece.data(), piece.size());
    expected += piece;
  }
  EXPECT_GT(stream.Capacity(), std::size_t{1} << 20);
  EXPECT_EQ(stream.View(), expected);

  TMemoryStream moved(std::move(stream));
  EXPECT_EQ(moved.View(), expected);
  EXPECT_EQ(stream.Size(), 0u);
  moved.Clear();
  EXPECT_EQ(moved.Size(), 0u);
  EXPECT_EQ(moved.Capacity(), 0u);
  moved.Write("x", 1);
  EXPECT_EQ(moved.View(), "x");
}

TEST(Exceptions, SystemMessagesLoseTrailingBlanksAndPeriods) {
  EXPECT_EQ(platform::SystemErrorMessage(ENOENT), "No such file or directory");
  EXPECT_EQ(platform::EIniFileException("/p/version.ini").what(),
            std::string("Unable to write to /p/version.ini"));
}

}  // namespace
