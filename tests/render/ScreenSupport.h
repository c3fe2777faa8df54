// What the tests that need a window and a rendering context share: the window with its screen,
// a recorder in place of the message box, and a folder for the image files they write.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ScratchFolder.h"
#include "WindowScreen.h"
#include "platform/Platform.h"
#include "render/Graph_un.h"

// Records every message box instead of showing it; `OnBox` may act while a box "is open".
class TBoxRecorder {
 public:
  TBoxRecorder();
  ~TBoxRecorder();
  std::vector<std::pair<std::string, std::string>> Boxes;  // text, caption
  std::function<void()> OnBox;
};

// A window of the given client size with a screen on it; skipped when there is no display.
class ScreenTest : public ::testing::Test, protected TWindowScreen {
 protected:
  void SetUp() override {
    if (!OpenScreen(800, 600)) GTEST_SKIP() << "no X display";
  }
  void TearDown() override { CloseScreen(); }

  TBoxRecorder Recorder;
  testfs::ScratchFolder Folder{"kestrune-render-"};
};
