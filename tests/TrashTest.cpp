#include "platform/Trash.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "support/OwnTrash.hpp"
#include "support/TempFolder.hpp"

using test_support::TempFolder;

namespace {

class Trash : public ::testing::Test {
 protected:
  const std::string& data_home_ = test_support::UseOwnTrash();
  TempFolder folder_;
};

TEST_F(Trash, MovesAFolderWithEverythingInIt) {
  folder_.MakeFolder("update");
  folder_.MakeFolder("update/skin");
  folder_.Write("update/update.ini", "[update]\n");
  folder_.Write("update/skin/a.dat", "a");
  platform::MoveToTrash(folder_ / "update");
  EXPECT_FALSE(folder_.Exists("update"));
  EXPECT_TRUE(std::filesystem::exists(data_home_ + "Trash/files/update/skin/a.dat"));
}

TEST_F(Trash, MissingFolderIsPassedOverInSilence) {
  platform::MoveToTrash(folder_ / "update");
  EXPECT_FALSE(folder_.Exists("update"));
}

// A volume without a trash (here a system-internal memory volume, where the
// desktop refuses to keep one) gets the folder deleted outright.
TEST(TrashlessVolume, DeletesOutrightWithoutFollowingLinks) {
  if (access("/dev/shm", W_OK) != 0) GTEST_SKIP() << "no writable /dev/shm";
  TempFolder outside;
  outside.Write("keep.txt", "must survive");
  TempFolder folder("/dev/shm");
  folder.MakeFolder("update");
  folder.MakeFolder("update/skin");
  folder.Write("update/skin/a.dat", "a");
  std::filesystem::create_directory_symlink(outside.path(), folder / "update/link");
  platform::MoveToTrash(folder / "update");
  EXPECT_FALSE(folder.Exists("update"));
  EXPECT_EQ(outside.Read("keep.txt"), "must survive");
}

}  // namespace
