// The watcher behind --watch, on each backend's own notifications: which writes count, in the
// watched tree (subfolders made later included) and for single files elsewhere, through links,
// after the folder went and came back, and not for the files a scene writes itself.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

// Calls Changed() until the folder's news say it went (or, with `back`, that it is back), within
// `milliseconds`.
bool FolderNewsWithin(TFileWatcher& watcher, bool back, int milliseconds, std::string* what) {
  for (int waited = 0; waited <= milliseconds; waited += 20) {
    watcher.Changed(what);
    const TFileWatcher::FolderNews news = watcher.TakeFolderNews();
    if (back ? news.back : news.gone) return true;
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

TEST_F(FileWatcherTest, AFolderRemovedOrMovedAwayAndMadeAgainIsWatchedAgain) {
  ASSERT_TRUE(testfs::MakeFolder(root_ + "scene"));
  Write(root_ + "scene/Test.lua");
  std::optional<TFileWatcher> watcher(std::in_place);
  std::string reason;
  ASSERT_TRUE(watcher->WatchFolder(root_ + "scene", &reason)) << reason;

  for (const bool removed : {true, false}) {
    SCOPED_TRACE(removed ? "removed" : "moved away");
    std::error_code error;
    if (removed)
      std::filesystem::remove_all(root_ + "scene", error);
    else
      std::filesystem::rename(root_ + "scene", root_ + "old", error);
    ASSERT_FALSE(error) << error.message();
    // Wine keeps a removed folder for as long as a handle holds it.
    if (removed && std::filesystem::exists(root_ + "scene", error)) continue;
    // Windows looks at the folder's path only every few seconds.
    ASSERT_TRUE(FolderNewsWithin(*watcher, false, 10000, &what_)) << "its going unnoticed";
    ASSERT_TRUE(testfs::MakeFolder(root_ + "scene"));
    ASSERT_TRUE(FolderNewsWithin(*watcher, true, 10000, &what_)) << "its return unnoticed";
    ChangedWithin(*watcher, 300, &what_);
    Write(root_ + "scene/Test.lua");
    ASSERT_TRUE(ChangedWithin(*watcher, 3000, &what_));
    EXPECT_NE(what_.find("Test.lua"), std::string::npos) << what_;
  }
  watcher.reset();
}

TEST_F(FileWatcherTest, ALinkedFileCountsWhenItsTargetIsWrittenByEitherPath) {
  ASSERT_TRUE(testfs::MakeFolder(root_ + "scene"));
  ASSERT_TRUE(testfs::MakeFolder(root_ + "elsewhere"));
  ASSERT_TRUE(testfs::MakeFolder(root_ + "shared"));
  Write(root_ + "elsewhere/real.lua");
  Write(root_ + "elsewhere/real.bmp");
  std::error_code error;
  std::filesystem::create_symlink(root_ + "elsewhere/real.lua", root_ + "scene/Test.lua", error);
  if (!error)
    std::filesystem::create_symlink(root_ + "elsewhere/real.bmp", root_ + "shared/sky.bmp", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  std::optional<TFileWatcher> watcher(std::in_place);
  std::string reason;
  ASSERT_TRUE(watcher->WatchFolder(root_ + "scene", &reason)) << reason;
  watcher->WatchFile(root_ + "shared/sky.bmp");

  // {what is written, what must count}; a start of the scene again forgets single files, but
  // the links of the tree still count.
  const char* const writes[][2] = {{"elsewhere/real.lua", "real.lua"},
                                   {"scene/Test.lua", "real.lua"},
                                   {"elsewhere/real.bmp", "real.bmp"},
                                   {"shared/sky.bmp", "real.bmp"},
                                   {nullptr, nullptr},
                                   {"elsewhere/real.lua", "real.lua"}};
  for (const auto& [written, counted] : writes) {
    if (written == nullptr) {
      watcher->ForgetFiles();
      continue;
    }
    SCOPED_TRACE(written);
    ChangedWithin(*watcher, 100, &what_);
    Write(root_ + written);
    ASSERT_TRUE(ChangedWithin(*watcher, 3000, &what_));
    EXPECT_NE(what_.find(counted), std::string::npos) << what_;
  }
  watcher.reset();
}

TEST_F(FileWatcherTest, PassedOverFilesDoNotCountUntilForgotten) {
  ASSERT_TRUE(testfs::MakeFolder(root_ + "scene"));
  std::optional<TFileWatcher> watcher(std::in_place);
  std::string reason;
  ASSERT_TRUE(watcher->WatchFolder(root_ + "scene", &reason)) << reason;
  // The scene names its files relative to its folder, the working folder.
  watcher->PassOver("scene/./log.txt");
  watcher->PassOver(root_ + "scene/score.txt");
  Write(root_ + "scene/log.txt");
  Write(root_ + "scene/score.txt");
  EXPECT_FALSE(ChangedWithin(*watcher, 300, &what_)) << what_;
  Write(root_ + "scene/Test.lua");
  ASSERT_TRUE(ChangedWithin(*watcher, 3000, &what_));
  EXPECT_NE(what_.find("Test.lua"), std::string::npos) << what_;

  watcher->ForgetPassedOver();
  ChangedWithin(*watcher, 300, &what_);  // the rest of that save
  Write(root_ + "scene/log.txt");
  ASSERT_TRUE(ChangedWithin(*watcher, 3000, &what_));
  EXPECT_NE(what_.find("log.txt"), std::string::npos) << what_;
  watcher.reset();
}

}  // namespace
