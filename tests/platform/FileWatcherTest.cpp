// The watcher behind --watch, on each backend's own notifications: which writes count, in the
// watched tree (subfolders made later included) and for single files elsewhere.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "ScratchFolder.h"
#include "platform/Platform.h"

namespace {

void Write(const std::string& path) {
  std::ofstream(path, std::ios::binary) << "saved";
}

// Whether a change is reported within `milliseconds`, and the file it names.
bool ChangedWithin(TFileWatcher& watcher, int milliseconds, std::string* what) {
  for (int waited = 0; waited <= milliseconds; waited += 20) {
    if (watcher.Changed(what)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class FileWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace("kestrune-watch-");
    ASSERT_TRUE(scratch_->Entered());
    root_ = scratch_->Path() + "/";
  }
  std::optional<testfs::ScratchWorkingFolder> scratch_;
  std::string root_;
  std::string what_;
};

TEST_F(FileWatcherTest, TheTreeCountsItsFilesAndNewFoldersButNotEditorsOwnFiles) {
  ASSERT_TRUE(testfs::MakeFolder(root_ + "scene"));
  std::optional<TFileWatcher> watcher(std::in_place);
  std::string reason;
  ASSERT_TRUE(watcher->WatchFolder(root_ + "scene", &reason)) << reason;
  EXPECT_FALSE(watcher->Changed(&what_));

  // Swap, lock and backup files, and what is inside hidden folders, are rewritten while the
  // user types: they never start the scene again.
  ASSERT_TRUE(testfs::MakeFolder(root_ + "scene/.git"));
  ChangedWithin(*watcher, 300, &what_);  // a new folder may count on its own
  for (const char* name : {".Test.lua.swp", "#Test.lua#", "Test.lua~", ".git/index"})
    Write(root_ + "scene/" + name);
  EXPECT_FALSE(ChangedWithin(*watcher, 300, &what_)) << what_;

  // A folder made after watching began is watched as well.
  ASSERT_TRUE(testfs::MakeFolder(root_ + "scene/images"));
  ChangedWithin(*watcher, 300, &what_);
  Write(root_ + "scene/images/ball.bmp");
  ASSERT_TRUE(ChangedWithin(*watcher, 3000, &what_));
  EXPECT_NE(what_.find("ball.bmp"), std::string::npos) << what_;
  watcher.reset();  // before the folder goes
}

TEST_F(FileWatcherTest, ASingleFileCountsForItsOwnNameUntilForgotten) {
  ASSERT_TRUE(testfs::MakeFolder(root_ + "scene"));
  ASSERT_TRUE(testfs::MakeFolder(root_ + "shared"));
  Write(root_ + "shared/sky.bmp");
  std::optional<TFileWatcher> watcher(std::in_place);
  std::string reason;
  ASSERT_TRUE(watcher->WatchFolder(root_ + "scene", &reason)) << reason;
  watcher->WatchFile(root_ + "shared/sky.bmp");

  Write(root_ + "shared/other.bmp");
  EXPECT_FALSE(ChangedWithin(*watcher, 300, &what_)) << what_;
  Write(root_ + "shared/sky.bmp");
  ASSERT_TRUE(ChangedWithin(*watcher, 3000, &what_));
  EXPECT_NE(what_.find("sky.bmp"), std::string::npos) << what_;

  watcher->ForgetFiles();
  Write(root_ + "shared/sky.bmp");
  EXPECT_FALSE(ChangedWithin(*watcher, 300, &what_)) << what_;
  watcher.reset();
}

}  // namespace
