// The real message box on an X server: found by its title, its text drawn in lines, closed by
// Enter, Escape or its button, with the rest of the program running meanwhile.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "PrivateXServer.h"
#include "platform/Platform.h"

namespace {

int Field(const std::string& report, const std::string& label) {
  size_t at = report.find(label + ":");
  if (at == std::string::npos) return -1;
  return std::stoi(report.substr(at + label.size() + 1));
}

class MessageBoxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testx::StartPrivateServer(); }
  void SetUp() override {
    if (!testx::HaveDisplay()) GTEST_SKIP() << "no X server";
    ASSERT_TRUE(Application->Initialize());
    SetMessageBoxHook(nullptr);
  }
  void TearDown() override { Application->DestroyForms(); }

  // Shows a box while `user` acts on it from another thread, as a person would.
  int ShowWhile(const char* text, const char* caption,
                const std::function<void(const std::string& id)>& user) {
    std::thread person([&] {
      std::string id = testx::Run(std::string("timeout 5 xdotool search --sync --name '^") +
                                  caption + "$' | head -n 1");
      // Keys go to the box once it has taken the focus.
      for (int i = 0; i < 100 && testx::Run("xdotool getwindowfocus") != id; ++i) usleep(10000);
      user(id);
    });
    int result = MessageBoxA(nullptr, text, caption, MB_OK);
    person.join();
    return result;
  }
};

TEST_F(MessageBoxTest, AppearsWithCaptionAndTextAndClosesOnEnterWhileTicksRun) {
  TForm form;
  TTimer timer(&form);
  timer.Interval = 10;
  std::atomic<int> ticks{0};
  timer.OnTimer = [&] { ++ticks; };
  timer.SetEnabled(true);
  std::string title, geometry, darkness;
  int ticksWhileOpen = 0;
  int result = ShowWhile(
      "First line of the message\nsecond line", "Kestrune box test", [&](const std::string& id) {
        title = testx::Run("xdotool getwindowname " + id);
        geometry = testx::Run("xwininfo -id " + id);
        // Dark pixels in the first text line: the text is drawn (the
        // box may still be waiting for its first expose: look again).
        for (int i = 0; i < 20; ++i) {
          darkness = testx::Run("import -window " + id +
                                " png:- | convert png:- -crop 150x13+16+16 +repage -colorspace "
                                "gray -threshold 50% -format '%[fx:mean]' info:");
          if (!darkness.empty() && std::stod(darkness) < 0.95) break;
          usleep(50 * 1000);
        }
        int before = ticks;
        usleep(150 * 1000);
        ticksWhileOpen = ticks - before;
        testx::Run("xdotool key Return");
      });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(title, "Kestrune box test");
  EXPECT_GT(ticksWhileOpen, 0);
  ASSERT_FALSE(darkness.empty());
  EXPECT_LT(std::stod(darkness), 0.95);
  // Two lines of text make the box two text lines taller than its button row.
  int height = Field(geometry, "Height");
  EXPECT_GT(height, 2 * 13 + 26);
  EXPECT_GE(Field(geometry, "Width"), 150);
  // It is gone afterwards.
  EXPECT_EQ(testx::Run("xdotool search --name '^Kestrune box test$'"), "");
}

TEST_F(MessageBoxTest, ClosesOnEscapeAndOnItsButton) {
  int result = ShowWhile("Escape closes me", "Kestrune escape test",
                         [](const std::string&) { testx::Run("xdotool key Escape"); });
  EXPECT_EQ(result, IDOK);
  result = ShowWhile("The button closes me", "Kestrune button test", [](const std::string& id) {
    std::string info = testx::Run("xwininfo -id " + id);
    int left = Field(info, "Absolute upper-left X"), top = Field(info, "Absolute upper-left Y");
    int width = Field(info, "Width"), height = Field(info, "Height");
    // The button sits centred in the bottom row.
    testx::Run("xdotool mousemove " + std::to_string(left + width / 2) + " " +
               std::to_string(top + height - 16 - 13) + " click 1");
  });
  EXPECT_EQ(result, IDOK);
}

TEST_F(MessageBoxTest, OtherWindowsGetMouseEventsWhileItIsOpen) {
  TForm form;
  int presses = 0;
  form.OnMouseDown = [&](TMouseButton, int, int) { ++presses; };
  form.SetCaption("Kestrune behind the box");
  form.Show();
  testx::RunWhilePumping("timeout 5 xdotool search --sync --name '^Kestrune behind the box$'");
  std::atomic<bool> seen{false};
  int result = ShowWhile("Still modal", "Kestrune modal test", [&](const std::string&) {
    // Top left corner of the main window's client area, away from the centred box.
    testx::Run("xdotool mousemove 250 222 click 1");
    for (int i = 0; i < 100 && !presses; ++i) usleep(10 * 1000);
    seen = presses > 0;
    testx::Run("xdotool key Return");
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_TRUE(seen);
}

TEST_F(MessageBoxTest, HookRecordsInsteadOfShowing) {
  std::string seen;
  SetMessageBoxHook([&](const std::string& text, const std::string& caption) {
    seen = caption + "|" + text;
    return 7;
  });
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 7);
  EXPECT_EQ(seen, "caption|text");
  Application->ShowException(std::runtime_error("shown"));
  EXPECT_NE(seen.find("|shown"), std::string::npos);
  SetMessageBoxHook(nullptr);
}

}  // namespace
