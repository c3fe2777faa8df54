// Start scripts the file system refuses to hand over, or hands over without end: a Linux file
// mode, tested as a user without the right to read it, and links into /proc and /dev.
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "ScriptFixture.h"

namespace {

using ScriptHostTest = ScriptTest;

// Root reads files whatever their mode: while this lives, a process running as root makes its
// file accesses as the unprivileged user "nobody" instead. Other users keep their own rights.
class TFileAccessAsNobody {
 public:
  TFileAccessAsNobody() {
    if (geteuid() == 0) previous_ = setfsuid(65534);
  }
  ~TFileAccessAsNobody() {
    if (previous_ >= 0) setfsuid(static_cast<uid_t>(previous_));
  }
  TFileAccessAsNobody(const TFileAccessAsNobody&) = delete;
  TFileAccessAsNobody& operator=(const TFileAccessAsNobody&) = delete;

 private:
  int previous_ = -1;
};

TEST_F(ScriptHostTest, AnUnreadableScriptIsReportedAndNotCached) {
  WriteFile("locked.lua", "x = 1");
  ASSERT_EQ(chmod("locked.lua", 0), 0);
  // The folder stays open to everyone: the file is found, only reading it is refused.
  ASSERT_EQ(chmod(Folder.c_str(), 0755), 0);
  TFileAccessAsNobody nobody;
  std::FILE* readable = std::fopen("locked.lua", "rb");
  if (readable != nullptr) std::fclose(readable);
  ASSERT_EQ(readable, nullptr) << "the file can still be read";
  EXPECT_FALSE(Host->LoadScript("locked.lua"));
  EXPECT_EQ(Host->LastError().rfind("cannot open locked.lua", 0), 0u) << Host->LastError();
  EXPECT_TRUE(Host->Files.empty());
}

// /proc/self/pagemap says it is an empty regular file, and reads gigabytes; /dev/zero is no
// regular file and reads for ever.
TEST_F(ScriptHostTest, AScriptThatReadsWithoutEndStopsAtTheCapAndADeviceIsNoFile) {
  ASSERT_EQ(symlink("/proc/self/pagemap", "endless.lua"), 0);
  EXPECT_FALSE(Host->LoadScript("endless.lua"));
  EXPECT_EQ(Host->LastError(),
            "cannot read endless.lua: a start script may be at most 16 MiB, and this file is "
            "larger");
  EXPECT_TRUE(Host->Files.empty());

  ASSERT_EQ(symlink("/dev/zero", "Test.lua"), 0);
  EXPECT_FALSE(Host->LoadScript("Test.lua"));
  EXPECT_EQ(Host->LastError(), "test.lua: not a regular file");
}

}  // namespace
