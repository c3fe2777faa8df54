// Data files are looked for next to the program first, then under the name itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "ScratchFolder.h"
#include "app/Util_un.h"

namespace {

void Touch(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

class DataPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProgramFolder();
    scratch_.emplace("kestrune-datapath-");
    ASSERT_TRUE(scratch_->Entered());
    workDir_ = scratch_->Path();
    // A name unique to this run, so files next to the test program never collide.
    name_ = "datapath-" + std::to_string(getpid()) + ".txt";
  }
  void TearDown() override {
    std::remove((ProgramFolder + name_).c_str());
    std::remove((workDir_ + "/" + name_).c_str());
    scratch_.reset();
    DoneProgramFolder();
  }
  std::optional<testfs::ScratchWorkingFolder> scratch_;
  std::string workDir_, name_;
};

TEST_F(DataPathTest, ProgramFolderIsTheProgramsOwnFolderWithItsSeparator) {
  EXPECT_EQ(ProgramFolder, std::string(KESTRUNE_BINARY_DIR) + "/");
  DoneProgramFolder();
  EXPECT_EQ(ProgramFolder, "");
}

TEST_F(DataPathTest, TheCopyNextToTheProgramWinsOverTheWorkingFolder) {
  Touch(ProgramFolder + name_, "beside");
  Touch(name_, "here");
  EXPECT_EQ(ResolveDataPath(name_), ProgramFolder + name_);
}

TEST_F(DataPathTest, ANameOnlyInTheWorkingFolderResolvesToItselfStillRelative) {
  Touch(name_, "here");
  EXPECT_EQ(ResolveDataPath(name_), name_);
}

TEST_F(DataPathTest, MissingNamesFoldersAndAbsoluteNames) {
  EXPECT_EQ(ResolveDataPath(name_), "");
  EXPECT_EQ(ResolveDataPath(""), "");  // the program folder itself is a folder, not a file
  ASSERT_TRUE(testfs::MakeFolder(name_));
  EXPECT_EQ(ResolveDataPath(name_), "");
  ASSERT_TRUE(testfs::RemoveFolder(name_));

  // An absolute name is joined to the program folder first; that candidate does not exist,
  // so the name resolves to itself.
  std::string absolute = workDir_ + "/" + name_;
  Touch(absolute, "abs");
  EXPECT_EQ(ResolveDataPath(absolute), absolute);
}

TEST_F(DataPathTest, ALeadingSeparatorIsJoinedUnchanged) {
  Touch(ProgramFolder + name_, "beside");
  // The doubled separator still names the same file on this file system.
  EXPECT_EQ(ResolveDataPath("/" + name_), ProgramFolder + "/" + name_);
}

}  // namespace
