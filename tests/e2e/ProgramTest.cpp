// The whole program, started as a user starts it, driven with a real pointer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Harness.h"

using e2e::Program;
using e2e::Rgb;
using e2e::XServer;

namespace {

// Every event the root receives is appended to a log shown in the caption. Rectangles exist
// only once a frame has been drawn, so the script says "drawn" from the first frame's read of
// a probe node, and the tests wait for that before they click.
const char* kEventLog = R"(
-- The root reaches far past the window, so releases outside it still land on a node.
root.setAttr{ left = -4000, top = -4000, width = 8800, height = 8600 }
local probe = root.createNode()
local seen = false
setmetatable(probe, { __index = function(t, k)
  if not seen then seen = true; print('drawn') end
end })
local log = {}
local function record(tag)
  return function(self, x, y)
    log[#log + 1] = tag .. " " .. x .. "," .. y
    print(table.concat(log, ";"))
  end
end
root.onLeftPress = record("LP")
root.onLeftRelease = record("LR")
root.onRightPress = record("RP")
root.onRightRelease = record("RR")
root.onMiddlePress = record("MP")
root.onMiddleRelease = record("MR")
root.onPress = record("P")
root.onRelease = record("R")
)";

std::string Logged(const std::string& events) {
  return "print 1 args (STR " + events + ")";
}

// Starts the program and waits for its window and its first frame.
void StartAndWaitForFrame(Program& program) {
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR drawn)"), "print 1 args (STR drawn)");
}

// A TGA the loaders refuse: run-length encoded.
std::string PackedTga() {
  std::string tga(18, '\0');
  tga[2] = 10;
  tga[12] = 4;
  tga[14] = 4;
  tga[16] = 24;
  return tga + std::string(64, '\x7f');
}

// Clicks the left button in the middle of the window, whose handler loads a refused TGA, and
// waits for the loader's box: its window, or empty when none came.
std::string ClickForTgaBox(Program& program) {
  program.MoveTo(400, 300);
  program.Xdo("click 1");
  return program.WaitForBox("TGA File Error");
}

class ProgramTest : public ::testing::Test {
 protected:
  XServer server_;
};

TEST_F(ProgramTest, WithoutAScriptTheCaptionSaysSoAndFramesAreDrawn) {
  Program program(server_, nullptr);
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  EXPECT_EQ(program.WaitForCaption("test.lua: file not found"), "test.lua: file not found");
  // The frames clear the client area to black, over the window's grey background.
  Rgb c{};
  for (int i = 0; i < 50 && !(c.r == 0 && c.g == 0 && c.b == 0); ++i) c = program.Pixel(400, 300);
  EXPECT_EQ(c.r + c.g + c.b, 0);
}

TEST_F(ProgramTest, ScriptsSetTheCaptionOnlyThroughPrint) {
  {
    Program quiet(server_, "local x = 1 + 1\n");
    quiet.Start();
    ASSERT_TRUE(quiet.WaitForWindow()) << quiet.Stderr();
    // Frames, which clear the window to black, begin once the script has run.
    Rgb c{};
    for (int i = 0; i < 100 && !(c.r == 0 && c.g == 0 && c.b == 0); ++i) c = quiet.Pixel(400, 300);
    ASSERT_EQ(c.r + c.g + c.b, 0) << "no frame was drawn";
    EXPECT_EQ(quiet.Caption(), "Main");
  }
  Program talking(server_, "print('hi', 2, true, nil)\n");
  talking.Start();
  ASSERT_TRUE(talking.WaitForWindow()) << talking.Stderr();
  EXPECT_EQ(talking.WaitForCaption("print 4 args (STR hi) (NUM 2) (BOOL -1) (NIL)"),
            "print 4 args (STR hi) (NUM 2) (BOOL -1) (NIL)");
}

TEST_F(ProgramTest, ASyntaxErrorIsShownWithTheLowerCasedScriptPath) {
  Program program(server_, "x = = 1\n");
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  std::string caption = program.WaitForCaptionChange("Main");
  EXPECT_EQ(caption.rfind("test.lua:1:", 0), 0u) << caption;
}

TEST_F(ProgramTest, NodesMadeBeforeARuntimeErrorAreStillDrawn) {
  Program program(server_,
                  "local t = createTexture('red.bmp')\n"
                  "local n = root.createNode{ left = 100, top = 100, width = 200, height = 100 }\n"
                  "n.createPicture('p', t)\n"
                  "n.setPicture('p')\n"
                  "error('boom')\n");
  program.WriteFile("red.bmp", e2e::SolidBmp(8, 8, {255, 0, 0}));
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  EXPECT_EQ(program.WaitForCaptionChange("Main"), "test.lua:5: boom");
  Rgb inside{};
  for (int i = 0; i < 50 && inside.r != 255; ++i) inside = program.Pixel(200, 150);
  EXPECT_EQ(inside.r, 255);
  EXPECT_EQ(inside.g, 0);
  Rgb outside = program.Pixel(50, 50);
  EXPECT_EQ(outside.r, 0);
}

TEST_F(ProgramTest, PressesAndReleasesArriveWithClientCoordinates) {
  Program program(server_, kEventLog);
  StartAndWaitForFrame(program);
  program.MoveTo(10, 20);
  program.Xdo("click 1");
  EXPECT_EQ(program.WaitForCaption(Logged("LP 10,20;LR 10,20")), Logged("LP 10,20;LR 10,20"));
  program.Xdo("click 3");
  std::string both = "LP 10,20;LR 10,20;RP 10,20;RR 10,20";
  EXPECT_EQ(program.WaitForCaption(Logged(both)), Logged(both));
  // Modifier keys change neither the name nor the position.
  program.MoveTo(799, 599);
  program.Xdo("keydown shift click 2 keyup shift");
  std::string middle = both + ";MP 799,599;MR 799,599";
  EXPECT_EQ(program.WaitForCaption(Logged(middle)), Logged(middle));
  // Any other button has no word of its own: its events are plain "Press" and "Release".
  program.Xdo("click 8");
  std::string other = middle + ";P 799,599;R 799,599";
  EXPECT_EQ(program.WaitForCaption(Logged(other)), Logged(other));
}

TEST_F(ProgramTest, ADoubleClickIsTwoPressesAndTwoReleases) {
  Program program(server_, kEventLog);
  StartAndWaitForFrame(program);
  program.MoveTo(300, 200);
  program.Xdo("click --repeat 2 --delay 80 1");
  std::string events = "LP 300,200;LR 300,200;LP 300,200;LR 300,200";
  EXPECT_EQ(program.WaitForCaption(Logged(events)), Logged(events));
}

TEST_F(ProgramTest, OnlyTheLeftReleaseIsFollowedOutsideTheWindow) {
  Program program(server_, kEventLog);
  StartAndWaitForFrame(program);
  int ox = 0, oy = 0;
  program.Origin(&ox, &oy);
  ASSERT_GT(ox, 10);
  ASSERT_GT(oy, 10);

  // A right press inside, released outside: no release arrives. Nor does anything of a left
  // click outside meanwhile: the right button holds the pointer, but only a left press inside
  // captures it for the left release.
  program.MoveTo(5, 5);
  program.Xdo("mousedown 3");
  program.Xdo("mousemove 2 2");
  program.Xdo("click 1");
  program.Xdo("mouseup 3");
  EXPECT_EQ(program.WaitForCaption(Logged("RP 5,5")), Logged("RP 5,5"));

  // A left press inside, released outside: the release arrives with outside coordinates.
  program.MoveTo(5, 5);
  program.Xdo("mousedown 1");
  // The window takes the capture when it handles the press; a release sent before that is the
  // desktop's, on any system.
  program.WaitForCaption(Logged("RP 5,5;LP 5,5"));
  program.Xdo("mousemove 2 2");
  program.Xdo("mouseup 1");
  std::string events = "RP 5,5;LP 5,5;LR " + std::to_string(2 - ox) + "," + std::to_string(2 - oy);
  EXPECT_EQ(program.WaitForCaption(Logged(events)), Logged(events));
}

TEST_F(ProgramTest, ALoadersMessageBoxLeavesTheWindowTicking) {
  // A TGA the loaders refuse, loaded from a click handler. While its message box is open, the
  // frames go on (they read `left` through the metatable) and clicks are still delivered.
  Program program(server_, R"(
root.setAttr{ width = 800, height = 600 }
local reads = 0
local probe = root.createNode()
setmetatable(probe, { __index = function(t, k)
  if k == 'left' then
    reads = reads + 1
    if reads == 1 then print('drawn') end
  end
end })
function root:onLeftPress() createTexture('packed.tga') end
function root:onRightPress() print('reads', reads) end
)");
  program.WriteFile("packed.tga", PackedTga());
  StartAndWaitForFrame(program);
  std::string box = ClickForTgaBox(program);
  ASSERT_FALSE(box.empty()) << "no message box";

  // The box sits over the middle of the screen; click in a corner of the window, away from it.
  program.MoveTo(20, 20);
  program.Xdo("click 3");
  std::string first = program.WaitForCaptionChange("print 1 args (STR drawn)");
  int a = 0, b = 0;
  ASSERT_EQ(std::sscanf(first.c_str(), "print 2 args (STR reads) (NUM %d)", &a), 1) << first;
  std::string second = program.ClickUntil("3", [a](const std::string& caption) {
    int reads = 0;
    return std::sscanf(caption.c_str(), "print 2 args (STR reads) (NUM %d)", &reads) == 1 &&
           reads > a;
  });
  ASSERT_EQ(std::sscanf(second.c_str(), "print 2 args (STR reads) (NUM %d)", &b), 1) << second;
  EXPECT_GT(b, a) << "no frame was drawn while the message box was open";

  EXPECT_TRUE(program.CloseBox(box)) << "the box did not close on Enter";
  EXPECT_TRUE(program.Running());
}

TEST_F(ProgramTest, FromAFolderNamedInCyrillicAnArgumentErrorAndUnicodeTextArriveWhole) {
  // The program unpacked into a folder whose name the legacy code page cannot spell, with a
  // texture named in UTF-8. A Lua argument error raised inside one of the program's functions
  // unwinds through it back to the interpreter and lands in the caption; the program runs on.
  Program program(server_, R"(
local t = createTexture("Ärger.bmp")
local n = root.createNode{ left = 100, top = 100, width = 200, height = 100 }
n.createPicture("p", t)
n.setPicture("p")
root.setAttr{ width = 800, height = 600 }
function root:onLeftPress() print("Привет, 世界") end
root.createNode(5)
)",
                  "Дмитрий сцена");
  program.WriteFile("Ärger.bmp", e2e::SolidBmp(8, 8, {255, 0, 0}));
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  const std::string error = ":8: bad argument #1 to 'createNode' (should be a table)";
  std::string caption = program.WaitForCaptionChange("Main", 20000);
  ASSERT_GE(caption.size(), error.size()) << caption;
  EXPECT_EQ(caption.substr(caption.size() - error.size()), error) << caption;
  EXPECT_NE(caption.find("test.lua"), std::string::npos) << caption;
  Rgb inside{};
  for (int i = 0; i < 50 && inside.r != 255; ++i) inside = program.Pixel(200, 150);
  EXPECT_EQ(inside.r, 255) << "the texture named in UTF-8 was not loaded";
  EXPECT_EQ(inside.g, 0);

  program.MoveTo(400, 300);
  program.Xdo("click 1");
  EXPECT_EQ(program.WaitForCaption("print 1 args (STR Привет, 世界)", 20000),
            "print 1 args (STR Привет, 世界)");
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

TEST_F(ProgramTest, AProgramDeepInFoldersFindsTheScriptBesideIt) {
  // Over a thousand bytes of path, as long paths allow on Windows: the program's own folder is
  // taken whole. Started from the top folder, the script is found beside the program or not at
  // all. Without a scene the Windows program looks for Lua51.dll only in the folder it is started
  // from, so under Wine it is named its own folder as the scene: Lua51.dll is then found beside
  // the program, and Lua's package library asks for the program's path as well.
  const std::string part(200, 'd');
  const std::string deep = part + "/" + part + "/" + part + "/" + part + "/" + part + "/" + part;
  Program program(server_, "print('found')\n", deep);
  program.Start(
      e2e::UnderWine() ? std::vector<std::string>{program.Folder()} : std::vector<std::string>{},
      "../../../../../..");
  // Wine leaves the window's class empty at this length: it is found by its caption there.
  ASSERT_TRUE(e2e::UnderWine() ? program.WaitForWindowNamed("^print 1 args \\(STR found\\)$")
                               : program.WaitForWindow())
      << program.Stderr();
  EXPECT_EQ(program.WaitForCaption("print 1 args (STR found)", 20000), "print 1 args (STR found)")
      << program.Stderr();
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

TEST_F(ProgramTest, ClosingTheWindowWhileABoxIsOpenClosesItAndEnds) {
  // The handler goes on once the box is gone; a second refused file shows no box any more (its
  // text goes to standard error) and the program ends as closing it always does.
  Program program(server_, (std::string(kEventLog) + R"(
function root:onLeftPress()
  createTexture('packed.tga')
  createTexture('packed.tga')
end
)")
                               .c_str());
  program.WriteFile("packed.tga", PackedTga());
  StartAndWaitForFrame(program);
  ASSERT_FALSE(ClickForTgaBox(program).empty()) << "no message box";
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
  const std::string err = program.Stderr();
  const std::string text = "TGA File Error: Couldn't load";
  ASSERT_NE(err.find(text), std::string::npos) << err;
  EXPECT_EQ(err.find(text, err.find(text) + 1), std::string::npos) << "one box was shown" << err;
}

TEST_F(ProgramTest, ClosingTheWindowEndsTheProgramWithExitCodeZero) {
  Program program(server_, "print('bye')\n");
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  program.Close();
  EXPECT_EQ(program.WaitForExit(), 0) << program.Stderr();
}

// Every frame prints `perFrame` numbered lines, each a number, a tab and `width` x's; the
// caption then shows the last number.
std::string NumberedLinesPerFrame(int perFrame, int width) {
  return "local n = 0\n"
         "local pad = string.rep('x', " +
         std::to_string(width) +
         ")\n"
         "setmetatable(root.createNode(), { __index = function(t, k)\n"
         "  if k == 'left' then for i = 1, " +
         std::to_string(perFrame) +
         " do n = n + 1; print(n, pad) end end\n"
         "end })\n";
}

// The number the caption shows, or -1 while it shows none.
int CaptionNumber(const Program& program) {
  int number = -1;
  std::sscanf(program.Caption().c_str(), "print 2 args (NUM %d)", &number);
  return number;
}

// Waits until the caption's number reaches `number`; false when the frames stopped short of it.
bool WaitForCaptionNumber(const Program& program, int number, int milliseconds) {
  for (int waited = 0; waited <= milliseconds; waited += 100) {
    if (CaptionNumber(program) >= number) return true;
    e2e::Capture("sleep 0.1");
  }
  return false;
}

TEST_F(ProgramTest, WithItsStandardDescriptorsClosedItTicksPrintsAndCloses) {
  // A closed descriptor would go to the next file opened, the display's connection among them,
  // and the first print would write into it.
  Program program(server_, NumberedLinesPerFrame(1, 10).c_str());
  program.StandardStreams = Program::Streams::kClosed;
  program.Start();
  ASSERT_TRUE(program.WaitForWindow());
  EXPECT_TRUE(WaitForCaptionNumber(program, 40, 20000)) << program.Caption();
  program.Close();
  EXPECT_EQ(program.WaitForExit(), 0);
}

TEST_F(ProgramTest, AReaderThatStallsCostsLinesNeverFrames) {
  // 80 KiB of output a frame, into a pipe the test leaves unread: a write that waited for the
  // reader would stop the frames within one. A pipe that its holder made non-blocking takes
  // part of a line when it is nearly full, and the rest must follow rather than be lost.
  for (auto streams : {Program::Streams::kOutputPipe, Program::Streams::kNonBlockingOutputPipe}) {
    SCOPED_TRACE(streams == Program::Streams::kOutputPipe ? "blocking" : "non-blocking");
    const int width = 4000;
    Program program(server_, NumberedLinesPerFrame(20, width).c_str());
    program.StandardStreams = streams;
    program.Start();
    ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
    // Far more than the queue holds: some lines must have been dropped by now.
    ASSERT_TRUE(WaitForCaptionNumber(program, 1000, 30000)) << program.Caption().substr(0, 40);

    // Read now: whole lines in order, and where lines went missing one line says how many.
    std::string text;
    const std::string notice = "dropped here";
    for (int i = 0; i < 300; ++i) {
      text += program.ReadOutputPipe();
      const size_t at = text.find(notice);
      if (at != std::string::npos && text.find('\n', text.find('\n', at) + 1) != std::string::npos)
        break;
    }
    const std::string pad(width, 'x');
    int expected = 1;
    int notices = 0;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const std::string line = text.substr(start, end - start);
      int count = 0;
      if (std::sscanf(line.c_str(), "kestrune: %d lines dropped here", &count) == 1) {
        ++notices;
        expected += count;
        continue;
      }
      ASSERT_TRUE(line == std::to_string(expected) + "\t" + pad)
          << "line " << expected << " reads " << line.substr(0, 40) << "... of " << line.size()
          << " bytes";
      ++expected;
    }
    EXPECT_GE(notices, 1);

    // The reader stalls again, and the program still ends when closed.
    program.Close();
    EXPECT_EQ(program.WaitForExit(), 0) << program.Stderr();
  }
}

TEST(ProgramWithoutGL, TheWindowStillOpensDrawsNothingIgnoresClicksAndClosesCleanly) {
  // Without the server's GL extension the screen cannot be made, and the host after it is not.
  XServer server(false);
  Program program(server, "print('ran')\n");
  program.Start();
  const std::string box = program.WaitForBox("Kestrune");
  ASSERT_FALSE(box.empty()) << "the failure was not shown";
  ASSERT_TRUE(program.CloseBox(box)) << "the box did not close";

  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  Rgb c = program.Pixel(400, 300);
  for (int i = 0; i < 50 && c.r < 0; ++i) c = program.Pixel(400, 300);
  // No frame ever covers the window's own grey, and the script never ran.
  e2e::Capture("sleep 0.3");
  c = program.Pixel(400, 300);
  EXPECT_EQ(c.r, 240);
  EXPECT_EQ(c.g, 240);
  EXPECT_EQ(program.Caption(), "Main");

  program.MoveTo(400, 300);
  program.Xdo("click 1");
  program.Xdo("click 3");
  e2e::Capture("sleep 0.3");
  EXPECT_TRUE(program.Running()) << program.Stderr();
  program.Close();
  EXPECT_EQ(program.WaitForExit(), 0) << program.Stderr();
}

TEST(ProgramWithoutDisplay, SaysSoAndFails) {
  int status = 0;
  std::string err = e2e::Capture(
      "env -u DISPLAY " + std::string(KESTRUNE_BINARY_DIR) + "/kestrune 2>&1 >/dev/null", &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(err.find("display"), std::string::npos) << err;
}

}  // namespace
