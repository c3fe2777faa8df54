// A run that shows no window: forms are hidden windows whose frames equal a shown window's, and
// whose timers wait for the caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WindowScreen.h"
#include "platform/Platform.h"

namespace {

TEST(HiddenWindowTest, DrawsTheShownWindowsFrameAndLeavesTheTicksToTheCaller) {
  // A box would wait for a click that never comes.
  std::vector<std::string> boxes;
  SetMessageBoxHook([&boxes](const std::string& text, const std::string&) {
    boxes.push_back(text);
    return IDOK;
  });
  std::vector<unsigned char> shown, hidden;
  {
    TWindowScreen window;
    ASSERT_TRUE(window.OpenScreen(800, 600));
    window.ShowWindow();
    DrawSampleFrame(*window.Screen);
    EXPECT_FALSE(ReadFramePixels(*window.Form, &shown)) << "kept from now on";
    DrawSampleFrame(*window.Screen);
    ASSERT_TRUE(ReadFramePixels(*window.Form, &shown));
  }

  ASSERT_TRUE(Application->InitializeHeadless());
  TWindowScreen screen;
  ASSERT_TRUE(screen.OpenScreen(800, 600));
  screen.ShowWindow();
  EXPECT_FALSE(screen.Form->Visible());
  int ticks = 0;
  TTimer timer(screen.Form.get());
  timer.Interval = 1;
  timer.OnTimer = [&ticks] { ++ticks; };
  timer.SetEnabled(true);
  Application->ProcessMessagesFor(30);
  EXPECT_EQ(ticks, 0);
  DrawSampleFrame(*screen.Screen);
  ASSERT_TRUE(ReadFramePixels(*screen.Form, &hidden)) << "kept from the first frame on";
  EXPECT_EQ(FrameDifference(hidden, shown, 800, 0), "");
  SetMessageBoxHook(MessageBoxHook());
  EXPECT_TRUE(boxes.empty()) << boxes.front();
}

}  // namespace
