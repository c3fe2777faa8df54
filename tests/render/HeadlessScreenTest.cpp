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

const float Sky[4] = {51 / 255.f, 115 / 255.f, 179 / 255.f, 1};

std::string TestData(const std::string& name) {
  return std::string(KESTRUNE_TESTDATA_DIR) + "/" + name;
}

// One frame through every way the screen draws: a fill, pictures stretched to fractional
// rectangles (the JPEG is no power of two, so GLU rescales it), an alpha picture blended at an
// opacity, a cut-out of a picture, and a translucent fill cut by a clip.
void DrawTheFrame(CGLScreen& screen) {
  if (screen.TextureTable.empty()) {
    screen.AddTexture(TestData("jpeg/flower.jpg"), 0, 0);
    screen.AddTexture(TestData("pngsuite/basn6a08.png"), 0, 0);
    screen.AddTexture(TestData("tga/200x32_rgb_bl_raw.tga"), 0, 0);
  }
  const TFloatRect whole = {0, 0, 1, 1};
  screen.BeginFrame();
  screen.DrawFill({0, 0, 800, 600}, Sky, 1);
  screen.DrawPicture(*screen.GetTexture(0), {20.5f, 30.25f, 377.3f, 251.7f}, whole);
  screen.DrawPicture(*screen.GetTexture(1), {300, 180, 320, 320}, whole, 0.7f);
  screen.DrawPicture(*screen.GetTexture(2), {40, 420, 600, 96}, whole);
  screen.DrawPicture(*screen.GetTexture(0), {560, 380, 200, 180}, {0.25f, 0.1f, 0.5f, 0.6f});
  const TFloatRect clip = {100, 100, 500, 300};
  screen.SetClip(&clip);
  const float veil[4] = {1, 0.8f, 0.1f, 0.5f};
  screen.DrawFill({0, 250, 800, 100}, veil, 0.8f);
  screen.SetClip(nullptr);
  screen.EndFrame();
}

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
  DrawTheFrame(screen);
  ASSERT_TRUE(ReadFramePixels(form, &pixels));
  ASSERT_EQ(pixels.size(), 800u * 600 * 3);
  // Not a blank frame: the fill shows exactly in the top left corner.
  EXPECT_EQ(std::vector<unsigned char>(pixels.begin(), pixels.begin() + 3),
            (std::vector<unsigned char>{51, 115, 179}));
  EXPECT_FALSE(form.Visible());
  std::ofstream(frameFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));

  // The buffer follows the client area.
  form.ClientWidth = 320;
  form.ClientHeight = 200;
  screen.UpdateClientSize();
  EXPECT_FALSE(ReadFramePixels(form, &pixels)) << "no frame of that size yet";
  DrawTheFrame(screen);
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
  DrawTheFrame(*window.Screen);
  EXPECT_FALSE(ReadFramePixels(*window.Form, &windowed)) << "frames are kept from now on";
  DrawTheFrame(*window.Screen);
  ASSERT_TRUE(ReadFramePixels(*window.Form, &windowed));
  ASSERT_TRUE(boxes.Boxes.empty()) << boxes.Boxes.front().first;
  ASSERT_EQ(windowed.size(), headless.size());
  size_t differing = 0, first = 0;
  for (size_t i = windowed.size(); i-- > 0;)
    if (windowed[i] != headless[i]) {
      ++differing;
      first = i;
    }
  EXPECT_EQ(differing, 0u) << "first at pixel (" << first / 3 % 800 << ", " << first / 3 / 800
                           << "): window " << int(windowed[first]) << ", headless "
                           << int(headless[first]);
}

}  // namespace
