// Frames drawn without a display: the same pixels as a window's under the same Mesa, in a buffer
// that follows the client area, with no tick of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PrivateXServer.h"
#include "ScratchFolder.h"
#include "ScreenSupport.h"
#include "WindowScreen.h"
#include "platform/Platform.h"
#include "render/Graph_un.h"

namespace {

// Set in the environment of the child that draws the frame without a display: where it writes
// the pixels.
const char* const FrameFileVariable = "KESTRUNE_HEADLESS_FRAME_FILE";

std::string OwnProgram() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// The child's part: the frame without a display, written where the parent reads it. Run on its
// own (by CTest) it has nothing to do.
TEST(HeadlessScreen, DrawsTheFrameForTheComparison) {
  const char* frameFile = std::getenv(FrameFileVariable);
  if (!frameFile) GTEST_SKIP() << "the comparison with the window runs this in a child";
  ASSERT_EQ(std::getenv("DISPLAY"), nullptr);
  ASSERT_TRUE(Application->InitializeHeadless());
  TBoxRecorder boxes;
  TForm form;
  CGLScreen screen(form.Handle());
  GLScreen = &screen;
  std::vector<unsigned char> pixels;
  EXPECT_FALSE(ReadFramePixels(form, &pixels)) << "before any frame";
  DrawSampleFrame(screen);
  ASSERT_TRUE(ReadFramePixels(form, &pixels));
  ASSERT_EQ(pixels.size(), 800u * 600 * 3);
  // Not a blank frame: the fill shows exactly in the top left corner.
  EXPECT_EQ(std::vector<unsigned char>(pixels.begin(), pixels.begin() + 3),
            (std::vector<unsigned char>{SampleFrameFill.R, SampleFrameFill.G, SampleFrameFill.B}));
  EXPECT_FALSE(form.Visible());
  std::ofstream(frameFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));

  // The buffer follows the client area.
  form.ClientWidth = 320;
  form.ClientHeight = 200;
  screen.UpdateClientSize();
  EXPECT_FALSE(ReadFramePixels(form, &pixels)) << "no frame of that size yet";
  DrawSampleFrame(screen);
  ASSERT_TRUE(ReadFramePixels(form, &pixels));
  EXPECT_EQ(pixels.size(), 320u * 200 * 3);

  // Ticks come only from the caller.
  TTimer timer(&form);
  int ticks = 0;
  timer.Interval = 1;
  timer.OnTimer = [&ticks] { ++ticks; };
  timer.SetEnabled(true);
  Application->ProcessMessagesFor(30);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 0);
  GLScreen = nullptr;
  EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Boxes.front().first;
}

TEST(HeadlessScreen, DrawsTheWindowsFrameByteForByteWithoutADisplay) {
  testfs::ScratchFolder folder("kestrune-headless-");
  const std::string frameFile = folder.File("frame.rgb");
  int status = -1;
  const std::string output =
      testx::Run("env -u DISPLAY " + std::string(FrameFileVariable) + "=" + frameFile + " " +
                     OwnProgram() + " --gtest_filter=HeadlessScreen.DrawsTheFrameForTheComparison",
                 &status);
  ASSERT_EQ(status, 0) << output;
  std::ifstream file(frameFile, std::ios::binary);
  const std::vector<unsigned char> headless{std::istreambuf_iterator<char>(file),
                                            std::istreambuf_iterator<char>()};
  ASSERT_EQ(headless.size(), 800u * 600 * 3) << output;

  testx::StartPrivateServer();
  TBoxRecorder boxes;
  TWindowScreen window;
  if (!window.OpenScreen(800, 600)) GTEST_SKIP() << "no X display";
  window.ShowWindow();
  ASSERT_TRUE(testx::PumpUntil([&] { return window.Form->Visible(); }));
  std::vector<unsigned char> windowed;
  DrawSampleFrame(*window.Screen);
  EXPECT_FALSE(ReadFramePixels(*window.Form, &windowed)) << "frames are kept from now on";
  DrawSampleFrame(*window.Screen);
  ASSERT_TRUE(ReadFramePixels(*window.Form, &windowed));
  ASSERT_TRUE(boxes.Boxes.empty()) << boxes.Boxes.front().first;
  ASSERT_EQ(windowed.size(), headless.size());
  EXPECT_EQ(FrameDifference(windowed, headless, 800, 0), "");
}

}  // namespace
