// The program at a scale other than 1 on a large screen: the window's size, where node edges
// land, pictures' edges, and pointer positions in the scene's units; the scale taken from the X
// server's Xft.dpi and from GDK_SCALE; full screen, with and without a window manager, and the
// hidden pointer. The Windows program under Wine at 1.5 too, and in full screen there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Harness.h"
#include "TestImages.h"

// After the test framework, whose names Xlib's macros (None, Bool) would replace.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

using e2e::Program;
using e2e::Rgb;
using e2e::XServer;

namespace {

// The client area's size as the X server has it.
void WindowSize(const XServer& server, const Program& program, int* width, int* height) {
  const std::string info = e2e::Capture(server.Env() + "xwininfo -id " + program.Window());
  *width = *height = -1;
  const size_t w = info.find("Width:"), h = info.find("Height:");
  if (w != std::string::npos) std::sscanf(info.c_str() + w, "Width: %d", width);
  if (h != std::string::npos) std::sscanf(info.c_str() + h, "Height: %d", height);
}

// Waits until the program's window is on the screen (it is found as soon as it is made, and a
// busy machine may take a while to show it); false when it was not within ten seconds.
bool WaitUntilShown(const XServer& server, const Program& program) {
  return e2e::WaitUntil([&] {
    return e2e::Capture(server.Env() + "xwininfo -id " + program.Window()).find("IsViewable") !=
           std::string::npos;
  });
}

// The pixel once the first frame is there (the window's background is no black).
Rgb FramePixel(const Program& program, int x, int y) {
  Rgb pixel = program.Pixel(x, y);
  for (int i = 0; i < 50 && pixel.r == 0xF0 && pixel.g == 0xF0; ++i) pixel = program.Pixel(x, y);
  return pixel;
}

std::string Text(const Rgb& c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

// A texture whose left column is red and right column blue: a picture of all of it, scaled,
// bleeds purple at its edges where the texture wraps.
std::string Halves() {
  const std::vector<uint8_t> bytes = MakeBmp(2, 2, PaintedBmp(), [](uint32_t x, uint32_t) {
    return x == 0 ? TRgb{255, 0, 0} : TRgb{0, 0, 255};
  });
  return std::string(bytes.begin(), bytes.end());
}

const char* const kScene = R"(
root.setAttr{ width = 800, height = 600 }
local t = createTexture("halves.bmp")
local n = root.createNode{ left = 100, top = 100, width = 200, height = 100 }
n.createPicture("p", t)
n.setPicture("p")
-- Its left edge falls on half a device pixel at 2: rounded, the edge is at 101.
local f = root.createNode{ left = 50.25, top = 300, width = 20, height = 20 }
f.createPicture("p", t)
f.setPicture("p")
-- Only a press at 200.5 or beyond reaches it.
local c = root.createNode{ left = 200.5, top = 150.5, width = 10, height = 10 }
function c:onLeftPress(x, y) print(string.format("%.3f %.3f", x, y)) end
function root:onLeftPress(x, y) print(string.format("root %.3f %.3f", x, y)) end
)";

// Under Wine the screen is the one the suite shares, 1280 by 1024: large enough for 1.5.
class ScaleTest : public ::testing::Test {
 protected:
  XServer server_{true, "2048x1536"};
};

TEST_F(ScaleTest, AtTwoTheSceneIsDrawnAtTwiceItsSizeAndTheClickFindsHalfUnits) {
  if (e2e::UnderWine()) GTEST_SKIP() << "the shared screen is too small for scale 2";
  Program program(server_, kScene);
  program.WriteFile("halves.bmp", Halves());
  program.Start({"--scale", "2"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_TRUE(WaitUntilShown(server_, program));
  int width = 0, height = 0;
  WindowSize(server_, program, &width, &height);
  EXPECT_EQ(width, 1600);
  EXPECT_EQ(height, 1200);

  // The picture covers device pixels 200 to 599 across and 200 to 399 down, red to its first
  // column and blue to its last: nothing of the other edge wraps in.
  EXPECT_EQ(Text(FramePixel(program, 200, 250)), "255,0,0");
  EXPECT_EQ(Text(FramePixel(program, 599, 250)), "0,0,255");
  EXPECT_EQ(Text(FramePixel(program, 400, 200)), Text(FramePixel(program, 400, 399)));
  EXPECT_EQ(Text(FramePixel(program, 199, 250)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, 600, 250)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, 400, 199)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, 400, 400)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, 100, 610)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, 101, 610)), "255,0,0");

  // Device (400, 300) is (200, 150): the root's; one pixel further, the node's corner.
  program.MoveTo(400, 300);
  EXPECT_EQ(program.ClickUntil("1",
                               [](const std::string& caption) {
                                 return caption.find("root") != std::string::npos;
                               }),
            "print 1 args (STR root 200.000 150.000)");
  program.MoveTo(401, 301);
  program.Xdo("click 1");
  EXPECT_EQ(program.WaitForCaption("print 1 args (STR 200.500 150.500)", 10000),
            "print 1 args (STR 200.500 150.500)");
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

TEST_F(ScaleTest, AtOneAndAHalfAPixelIsTwoThirdsOfAUnit) {
  Program program(server_, kScene);
  program.WriteFile("halves.bmp", Halves());
  program.Start({"--scale", "1.5"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_TRUE(WaitUntilShown(server_, program));
  int width = 0, height = 0;
  WindowSize(server_, program, &width, &height);
  EXPECT_EQ(width, 1200);
  EXPECT_EQ(height, 900);
  program.MoveTo(301, 227);
  EXPECT_EQ(program.ClickUntil("1",
                               [](const std::string& caption) {
                                 return caption.find("print") != std::string::npos;
                               }),
            "print 1 args (STR 200.667 151.333)");
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

TEST_F(ScaleTest, TheDesktopsScaleIsGdkScaleElseXftDpi) {
  if (e2e::UnderWine()) GTEST_SKIP() << "the X server's scale is the Linux program's";
  ASSERT_EQ(std::system((server_.Env() + "xprop -root -f RESOURCE_MANAGER 8s -set " +
                         "RESOURCE_MANAGER \"$(printf 'Xft.color: 1\\nXft.dpi:\\t144\\n')\"")
                            .c_str()),
            0);
  // {GDK_SCALE or null, the window's width}
  const std::vector<std::pair<const char*, int>> cases = {
      {nullptr, 1200},  // 144 DPI
      {"2", 1600},      // GDK_SCALE first
      {"big", 1200},    // no number: as if unset
      // 3 would make 2400 by 1800, past the screen: the largest eighth that fits, 2.5.
      {"3", 2000},
  };
  for (const auto& [gdkScale, expected] : cases) {
    SCOPED_TRACE(gdkScale ? gdkScale : "unset");
    Program program(server_, "");
    if (gdkScale) program.GdkScale = gdkScale;
    program.Start();
    ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
    ASSERT_TRUE(WaitUntilShown(server_, program));
    int width = 0, height = 0;
    WindowSize(server_, program, &width, &height);
    EXPECT_EQ(width, expected);
    EXPECT_EQ(height, expected * 3 / 4);
    program.Close();
    EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
  }
}

// A window manager on the test's server for as long as the object lives.
class WindowManager {
 public:
  explicit WindowManager(const XServer& server) : server_(server) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", server.Display().c_str(), 1);
      execlp("openbox", "openbox", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~WindowManager() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  // Whether it has announced itself on the root window within ten seconds.
  bool WaitUntilRunning() const {
    return e2e::WaitUntil([this] {
      return e2e::Capture(server_.Env() + "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null")
                 .find("window id") != std::string::npos;
    });
  }

 private:
  const XServer& server_;
  pid_t pid_ = -1;
};

// Polls until the client area has that size; false when it did not within ten seconds.
bool WaitForSize(const XServer& server, const Program& program, int width, int height) {
  int w = 0, h = 0;
  if (e2e::WaitUntil([&] {
        WindowSize(server, program, &w, &h);
        return w == width && h == height;
      }))
    return true;
  ADD_FAILURE() << "the window is " << w << " by " << h << ", not " << width << " by " << height;
  return false;
}

// Polls a pixel until it has the colour (frames after a resize take a tick); the last one seen.
std::string WaitForPixel(const Program& program, int x, int y, const std::string& expected) {
  std::string seen;
  for (int i = 0; i < 100 && seen != expected; ++i) seen = Text(program.Pixel(x, y));
  return seen;
}

const char* const kFullScreenScene = R"(
-- The root reaches past the scene, so that a release on a bar still lands on it.
root.setAttr{ left = -4000, top = -4000, width = 8800, height = 8600 }
kestrune.setFill(root, {1, 0, 0})
log = {}
function add(s) log[#log + 1] = s; print(table.concat(log, ";")) end
local function at(x, y) return string.format("%.1f,%.1f", x, y) end
function root:onMouseMove(x, y) add("M " .. at(x, y)) end
function root:onMouseLeave() add("L") end
function root:onLeftPress(x, y) add("P " .. at(x, y)) end
function root:onLeftRelease(x, y) add("R " .. at(x, y)) end
function root:onKeyPress(key)
  if key == "w" then kestrune.setFullscreen(false) end
  if key == "f" then kestrune.setFullscreen(true) end
  add(key .. " " .. tostring(kestrune.isFullscreen()))
end
)";

std::string Logged(const std::string& events) {
  return "print 1 args (STR " + events + ")";
}

// With openbox (true) or with no window manager.
class FullScreenTest : public ScaleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FullScreenTest, LetterboxesTheSceneAtTheLargestFitAndGoesBackToTheWindow) {
  if (e2e::UnderWine()) GTEST_SKIP() << "the Windows program's full screen has a case of its own";
  std::unique_ptr<WindowManager> manager;
  if (GetParam()) {
    manager = std::make_unique<WindowManager>(server_);
    ASSERT_TRUE(manager->WaitUntilRunning());
  }
  Program program(server_, kFullScreenScene);
  // On the bar above the scene, where the window will open: the scene hears nothing of it.
  program.Xdo("mousemove 1000 5");
  program.Start({"--fullscreen"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_TRUE(WaitUntilShown(server_, program));
  // 2.5 is the largest eighth that fits 2048 by 1536: 2000 by 1500 at (24, 18).
  ASSERT_TRUE(WaitForSize(server_, program, 2048, 1536));
  const std::string info = e2e::Capture(server_.Env() + "xwininfo -id " + program.Window());
  EXPECT_NE(info.find("Absolute upper-left X:  0\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Absolute upper-left Y:  0\n"), std::string::npos) << info;
  EXPECT_EQ(WaitForPixel(program, 24, 18, "255,0,0"), "255,0,0");
  EXPECT_EQ(WaitForPixel(program, 2023, 1517, "255,0,0"), "255,0,0");
  for (const auto& [barX, barY] : {std::pair{23, 700}, {2024, 700}, {1000, 17}, {1000, 1518}}) {
    SCOPED_TRACE(std::to_string(barX) + "," + std::to_string(barY));
    EXPECT_EQ(Text(FramePixel(program, barX, barY)), "0,0,0");
  }

  // Onto a bar: the scene is left, and hears no move there.
  program.MoveTo(1000, 700);
  std::string log = "M 390.4,272.8";
  ASSERT_EQ(program.WaitForCaption(Logged(log), 10000), Logged(log));
  program.MoveTo(10, 700);
  log += ";L";
  ASSERT_EQ(program.WaitForCaption(Logged(log), 10000), Logged(log));
  // A drag from the scene onto the bar is followed there and released there.
  program.MoveTo(1000, 700);
  program.Xdo("mousedown 1");
  log += ";M 390.4,272.8;P 390.4,272.8";
  ASSERT_EQ(program.WaitForCaption(Logged(log), 10000), Logged(log));
  program.MoveTo(4, 10);
  program.Xdo("mouseup 1");
  log += ";M -8.0,-3.2;R -8.0,-3.2;L";
  ASSERT_EQ(program.WaitForCaption(Logged(log), 10000), Logged(log));

  // The script gives back the window and takes the monitor again.
  program.Focus();
  program.Xdo("key w");
  log += ";w false";
  ASSERT_EQ(program.WaitForCaption(Logged(log), 10000), Logged(log));
  ASSERT_TRUE(WaitForSize(server_, program, 800, 600));
  program.MoveTo(400, 300);
  log += ";M 400.0,300.0";
  ASSERT_EQ(program.WaitForCaption(Logged(log), 10000), Logged(log));
  EXPECT_EQ(WaitForPixel(program, 0, 0, "255,0,0"), "255,0,0");
  EXPECT_EQ(WaitForPixel(program, 799, 599, "255,0,0"), "255,0,0");
  program.Focus();
  program.Xdo("key f");
  log += ";f true";
  ASSERT_EQ(program.WaitForCaption(Logged(log), 10000), Logged(log));
  ASSERT_TRUE(WaitForSize(server_, program, 2048, 1536));
  // The far corner is drawn only by a frame of the new size; the near one was in the window's.
  EXPECT_EQ(WaitForPixel(program, 2023, 1517, "255,0,0"), "255,0,0");
  EXPECT_EQ(WaitForPixel(program, 23, 18, "0,0,0"), "0,0,0");
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, FullScreenTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Openbox" : "NoWindowManager";
                         });

// The scene on the whole screen: the root reaches far past it, so that a release on the bars
// still lands on a node; the scene's own 800 by 600 is one colour.
const char* const kWineFullScreenScene = R"(
root.setAttr{ left = -4000, top = -4000, width = 8800, height = 8600 }
local scene = root.createNode{ left = 4000, top = 4000, width = 800, height = 600 }
scene.createPicture("p", createTexture("green.bmp"))
scene.setPicture("p")
local probe = root.createNode()
local seen = false
setmetatable(probe, { __index = function(t, k)
  if not seen then seen = true; print('drawn') end
end })
local log = {}
local function record(tag)
  return function(self, x, y)
    log[#log + 1] = string.format("%s %.3f,%.3f", tag, x, y)
    print(table.concat(log, ";"))
  end
end
root.onLeftPress = record("LP")
root.onLeftRelease = record("LR")
root.onRightPress = record("RP")
function root:onKeyPress(key)
  if key == "w" then kestrune.setFullscreen(false) end
  if key == "f" then kestrune.setFullscreen(true) end
end
)";

// The Linux program's full screen is tested with and without a window manager on a screen of its
// own; the Windows program's here, on the suite's shared screen under Wine's window manager.
TEST_F(ScaleTest, FullScreenUnderWineLetterboxesTheSceneAtTheLargestEighthThatFits) {
  if (!e2e::UnderWine()) GTEST_SKIP() << "the Windows program's full screen";
  int screenWidth = 0, screenHeight = 0;
  const std::string root = e2e::Capture(server_.Env() + "xwininfo -root");
  std::sscanf(root.c_str() + root.find("Width:"), "Width: %d", &screenWidth);
  std::sscanf(root.c_str() + root.find("Height:"), "Height: %d", &screenHeight);
  ASSERT_GT(screenWidth, 0);
  // 1280 by 1024: 1.5, a scene of 1200 by 900 at (40, 62).
  const double scale = std::floor(std::min(screenWidth * 8.0 / 800, screenHeight * 8.0 / 600)) / 8;
  const int left = (screenWidth - int(800 * scale)) / 2;
  const int top = (screenHeight - int(600 * scale)) / 2;
  ASSERT_GT(left, 10);
  ASSERT_GT(top, 10);
  const auto logical = [&](const char* tag, int x, int y) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %.3f,%.3f", tag, (x - left) / scale, (y - top) / scale);
    return std::string(text);
  };

  Program program(server_, kWineFullScreenScene);
  program.WriteFile("green.bmp", e2e::SolidBmp(8, 8, {0, 255, 0}));
  program.Xdo("mousemove 0 0");
  program.Start({"--fullscreen"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR drawn)", 20000), "print 1 args (STR drawn)");
  int width = 0, height = 0;
  WindowSize(server_, program, &width, &height);
  EXPECT_EQ(width, screenWidth);
  EXPECT_EQ(height, screenHeight);

  // Black bars around the scene, which ends on its device pixels.
  const int right = left + int(800 * scale), bottom = top + int(600 * scale);
  EXPECT_EQ(Text(FramePixel(program, left, top)), "0,255,0");
  EXPECT_EQ(Text(FramePixel(program, right - 1, bottom - 1)), "0,255,0");
  EXPECT_EQ(Text(FramePixel(program, left - 1, screenHeight / 2)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, right, screenHeight / 2)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, screenWidth / 2, top - 1)), "0,0,0");
  EXPECT_EQ(Text(FramePixel(program, screenWidth / 2, bottom)), "0,0,0");

  // A press on a bar is outside the scene: only the press inside that follows is heard.
  program.MoveTo(left / 2, screenHeight / 2);
  program.Xdo("click 3");
  program.MoveTo(left + 301, top + 227);
  std::string events = logical("RP", left + 301, top + 227);
  EXPECT_EQ(
      program.ClickUntil(
          "3", [](const std::string& caption) { return caption.find("RP") != std::string::npos; }),
      Logged(events));
  // A left drag from the scene onto a bar still releases, beyond the scene's units.
  program.Xdo("mousedown 1");
  events += ";" + logical("LP", left + 301, top + 227);
  ASSERT_EQ(program.WaitForCaption(Logged(events), 10000), Logged(events));
  program.MoveTo(5, screenHeight / 2);
  program.Xdo("mouseup 1");
  events += ";" + logical("LR", 5, screenHeight / 2);
  EXPECT_EQ(program.WaitForCaption(Logged(events), 10000), Logged(events));

  // The script gives back the framed window at its own size, and takes the monitor again.
  program.Focus();
  program.Xdo("key w");
  EXPECT_TRUE(WaitForSize(server_, program, 800, 600));
  EXPECT_EQ(WaitForPixel(program, 0, 0, "0,255,0"), "0,255,0");
  EXPECT_EQ(WaitForPixel(program, 799, 599, "0,255,0"), "0,255,0");
  program.Focus();
  program.Xdo("key f");
  EXPECT_TRUE(WaitForSize(server_, program, screenWidth, screenHeight));
  // The scene's corner is green in the framed window's last frame too: the bar beside it turning
  // black is what tells that a frame of the new size was drawn.
  EXPECT_EQ(WaitForPixel(program, left - 1, top, "0,0,0"), "0,0,0");
  EXPECT_EQ(WaitForPixel(program, left, top, "0,255,0"), "0,255,0");

  // Alt+F4 still closes it.
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

// Whether the pointer on the server shows nothing, once that holds or ten seconds went by.
bool WaitForCursorHidden(Display* display, bool hidden) {
  return e2e::WaitUntil([&] {
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    bool empty = true;
    for (int i = 0; image != nullptr && i < image->width * image->height; ++i)
      empty = empty && (image->pixels[i] >> 24) == 0;
    if (image != nullptr) XFree(image);
    return empty == hidden;
  });
}

TEST_F(ScaleTest, TheHiddenPointerAndTheScriptShowingItAgain) {
  Program program(server_, R"(
function root:onKeyPress(key) kestrune.setCursorVisible(key == "s") print(key) end
)");
  program.Start({"--hide-cursor"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_TRUE(WaitUntilShown(server_, program));
  Display* display = XOpenDisplay(server_.Display().c_str());
  ASSERT_NE(display, nullptr);
  program.MoveTo(400, 300);
  EXPECT_TRUE(WaitForCursorHidden(display, true));
  program.Focus();
  program.Xdo("key s");
  EXPECT_TRUE(WaitForCursorHidden(display, false));
  program.Xdo("key h");
  EXPECT_TRUE(WaitForCursorHidden(display, true));
  // Off the window it is the screen's own pointer.
  program.Xdo("mousemove 5 5");
  EXPECT_TRUE(WaitForCursorHidden(display, false));
  XCloseDisplay(display);
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

}  // namespace
