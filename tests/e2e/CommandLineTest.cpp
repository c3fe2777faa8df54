// The program as a scene writer runs it: a scene named on the command line from another folder,
// --watch, and what standard output and error say.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"

using e2e::Program;
using e2e::Rgb;
using e2e::XServer;

namespace {

void Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A scene whose start script runs a helper with dofile and shows an image of its folder.
std::string HelpedScene(const std::string& tag) {
  return "dofile('helper.lua')\n"
         "local t = createTexture('red.bmp')\n"
         "local n = root.createNode{ left = 100, top = 100, width = 200, height = 100 }\n"
         "n.createPicture('p', t)\n"
         "n.setPicture('p')\n"
         "print('" +
         tag + "', colour())\n";
}

TEST(SceneOnTheCommandLine, AFolderAndAScriptFileFromAnotherFolder) {
  XServer server;
  // {argument, tag}: the scene folder, whose Test.lua runs, and a script file in its place.
  const std::vector<std::pair<std::string, std::string>> scenes = {{"../scene", "folder"},
                                                                   {"../scene/menu.lua", "file"}};
  for (const auto& [argument, tag] : scenes) {
    SCOPED_TRACE(argument);
    // The program in a folder of its own with a Test.lua beside it, as the Windows archive holds
    // the demo: the scene's own script runs instead. Under Wine neither the scene's folder nor
    // the working folder holds Lua51.dll; the one beside the program is found.
    Program program(server, "print('the script beside the program')\n", "app");
    program.WriteFile("../scene/Test.lua", HelpedScene("folder"));
    program.WriteFile("../scene/menu.lua", HelpedScene("file"));
    program.WriteFile("../scene/helper.lua", "function colour() return 'red' end\n");
    program.WriteFile("../scene/red.bmp", e2e::SolidBmp(8, 8, {255, 0, 0}));
    program.Start({argument}, "../elsewhere");
    ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
    const std::string caption = "print 2 args (STR " + tag + ") (STR red)";
    EXPECT_EQ(program.WaitForCaption(caption, 20000), caption) << program.Stderr();
    EXPECT_TRUE(program.WaitForStdout(tag + "\tred\n")) << program.Stdout();
    Rgb inside{};
    for (int i = 0; i < 50 && inside.r != 255; ++i) inside = program.Pixel(200, 150);
    EXPECT_EQ(inside.r, 255) << "the scene's image was not shown";
    EXPECT_EQ(inside.g, 0);
    program.Close();
    EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
  }
}

TEST(RefusedCommandLine, StatusTwoAndOneLineBeforeAnyWindow) {
  const testfs::ScratchFolder folder("kestrune-e2e-empty-");
  const std::string& empty = folder.Path();
  // {arguments, what the line says}
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/no/such/scene", "kestrune: /no/such/scene: there is no such file or folder"},
      {"/dev/zero", "kestrune: /dev/zero: not a regular file"},
      {"'" + empty + "'", "kestrune: " + empty + ": this folder holds no Test.lua"},
      {"--frobnicate", "kestrune: unknown option --frobnicate\nUsage: kestrune"},
      {"--test --watch scene", "kestrune: --watch cannot be used with --test\nUsage: kestrune"},
  };
  for (const auto& [arguments, line] : cases) {
    SCOPED_TRACE(arguments);
    // Without a display: a program that went on to open its window would end with status 1.
    int status = 0;
    const std::string err = e2e::Capture("env -u DISPLAY " + std::string(KESTRUNE_BINARY_DIR) +
                                             "/kestrune " + arguments + " 2>&1 >/dev/null",
                                         &status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err.rfind(line, 0), 0u) << err;
    if (arguments[0] != '-') {
      EXPECT_EQ(err.find('\n'), std::string::npos) << err;
    }
  }
}

// Each version of the watched scene prints its tag and the index its one texture got.
std::string Tagged(const std::string& tag, const std::string& more = "") {
  return "print('" + tag + "', createTexture('red.bmp'))\n" + more;
}

std::string Printed(const std::string& tag) {
  return "print 2 args (STR " + tag + ") (NUM 0)";
}

TEST(WatchedScene, StartsAgainOnEachSaveButNeverInsideAScriptCall) {
  XServer server;
  Program program(server, nullptr);
  program.WriteFile("scene/red.bmp", e2e::SolidBmp(8, 8, {255, 0, 0}));
  std::string tga(18, '\0');
  tga[2] = 10;  // run-length encoded: the loader refuses it with a box
  tga[12] = 4;
  tga[14] = 4;
  tga[16] = 24;
  program.WriteFile("scene/packed.tga", tga + std::string(64, '\x7f'));
  program.WriteFile("scene/Test.lua", Tagged("one"));
  const std::string scene = program.Folder() + "/scene/";
  program.Start({"--watch", "scene"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_EQ(program.WaitForCaption(Printed("one")), Printed("one"));

  // Saved in place, in three writes a moment apart: one start, on the whole file. The writes span
  // more than a tick, so a start on every tick that saw a change would run the first part alone.
  {
    std::ofstream file(scene + "Test.lua", std::ios::trunc);
    for (const char* part :
         {"print('two', createTexture('red.bmp'))\n", "print('two, ", "end')\n"}) {
      file << part << std::flush;
      Pause(30);
    }
  }
  EXPECT_EQ(program.WaitForCaption("print 1 args (STR two, end)"), "print 1 args (STR two, end)");
  Pause(500);
  EXPECT_EQ(Count(program.Stdout(), "two\t0\n"), 1u) << program.Stdout();

  // Saved as editors do, a new file under a hidden name renamed over the old one.
  program.WriteFile("scene/.Test.lua.new", Tagged("three"));
  ASSERT_EQ(rename((scene + ".Test.lua.new").c_str(), (scene + "Test.lua").c_str()), 0);
  EXPECT_EQ(program.WaitForCaption(Printed("three")), Printed("three"));

  // A save that breaks the script shows the error and keeps the window; the next one recovers.
  program.WriteFile("scene/Test.lua", "x = = 1\n");
  const std::string broken = program.WaitForCaptionChange(Printed("three"));
  EXPECT_NE(broken.find("test.lua:1:"), std::string::npos) << broken;
  program.WriteFile("scene/Test.lua", Tagged("four", R"(
root.setAttr{ width = 800, height = 600 }
-- Clicked again while its box is open (presses still arrive then), it opens no second one.
local loading = false
function root:onLeftPress()
  if loading then return end
  loading = true
  createTexture('packed.tga')
  loading = false
end
)"));
  ASSERT_EQ(program.WaitForCaption(Printed("four")), Printed("four"));

  // While a loader's box is open inside a handler, ticks go on but the scene does not start
  // again under the running handler: only once the box is closed. The root has its rectangle
  // from the first frame on; a click before that hits nothing, and is made again.
  program.MoveTo(400, 300);
  std::string box;
  for (int i = 0; i < 20 && box.empty(); ++i) {
    program.Xdo("click 1");
    box = program.WaitForBox("TGA File Error", 1000);
  }
  ASSERT_FALSE(box.empty()) << "no message box";
  program.WriteFile("scene/Test.lua", Tagged("five"));
  Pause(1500);
  EXPECT_EQ(program.Caption(), Printed("four"));
  ASSERT_TRUE(program.CloseBox(box)) << "the box did not close";
  EXPECT_EQ(program.WaitForCaption(Printed("five")), Printed("five"));

  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

TEST(WatchedScene, ANodeUnderAStillPointerIsEnteredAtTheFirstFrameOfEachStart) {
  XServer server;
  Program program(server, nullptr);
  const auto scene = [](const std::string& tag) {
    return "root.createNode{ width = 800, height = 600, onMouseEnter = function()\n"
           "  print('entered " +
           tag + "')\nend }\nprint('" + tag + "')\n";
  };
  program.WriteFile("scene/Test.lua", scene("one"));
  program.Start({"--watch", "scene"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  program.MoveTo(400, 300);
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR entered one)", 20000),
            "print 1 args (STR entered one)");
  // The pointer stays where it is from here on.
  program.WriteFile("scene/Test.lua", scene("two"));
  EXPECT_EQ(program.WaitForCaption("print 1 args (STR entered two)", 20000),
            "print 1 args (STR entered two)");
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

// Polls the pixel until `wanted` holds for it (about ten seconds at most); returns the last seen.
Rgb WaitForPixel(const Program& program, int x, int y, bool (*wanted)(const Rgb&)) {
  Rgb seen = program.Pixel(x, y);
  for (int i = 0; i < 100 && !wanted(seen); ++i) {
    Pause(100);
    seen = program.Pixel(x, y);
  }
  return seen;
}

bool Green(const Rgb& c) {
  return c.r < 30 && c.g > 200 && c.b < 30;
}

// The dark red band over the green root.
bool Band(const Rgb& c) {
  return c.r > 60 && c.g < 80 && c.b < 40;
}

TEST(WatchedScene, AStartErrorShowsInABandAtTheBottomUntilTheNextStart) {
  const std::string scene =
      "kestrune.setFill(root, {0, 1, 0})\n"
      "root.setAttr{width = 800, height = 600}\n";
  XServer server;
  // Not watched: the window shows the scene as it is, and the error only in the caption. The
  // frame that turned the top green drew the bottom as well.
  {
    Program program(server, (scene + "error('broken on purpose')\n").c_str());
    program.Start();
    ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
    EXPECT_NE(program.WaitForCaptionChange("Main").find("broken on purpose"), std::string::npos);
    ASSERT_TRUE(Green(WaitForPixel(program, 790, 10, Green)));
    EXPECT_TRUE(Green(program.Pixel(790, 596)));
    program.Close();
    EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
  }
  Program program(server, nullptr);
  program.WriteFile("scene/Test.lua", scene + "error('broken on purpose')\n");
  program.Start({"--watch", "scene"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_TRUE(Green(WaitForPixel(program, 790, 10, Green)));
  const Rgb band = WaitForPixel(program, 790, 596, Band);
  EXPECT_TRUE(Band(band)) << band.r << " " << band.g << " " << band.b;
  // As tall as the message and the traceback's first lines (four lines here), no taller.
  EXPECT_TRUE(Band(program.Pixel(790, 540)));
  EXPECT_TRUE(Green(program.Pixel(790, 480)));
  // Fixed: the band is gone with the next start.
  program.WriteFile("scene/Test.lua", scene + "print('fixed')\n");
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR fixed)", 20000), "print 1 args (STR fixed)");
  EXPECT_TRUE(Green(WaitForPixel(program, 790, 596, Green)));
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

// Polls standard error until it holds `text`.
bool WaitForStderr(const Program& program, const std::string& text, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    if (program.Stderr().find(text) != std::string::npos) return true;
    Pause(50);
  }
  return false;
}

TEST(WatchedScene, AFolderRemovedAndMadeAgainIsEnteredAndWatchedAgain) {
  XServer server;
  Program program(server, nullptr);
  // The helper is found through the working folder: the folder made again must be entered.
  const std::string script = "dofile('helper.lua')\nprint(tag())\n";
  program.WriteFile("scene/helper.lua", "function tag() return 'one' end\n");
  program.WriteFile("scene/Test.lua", script);
  program.Start({"--watch", "scene"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR one)"), "print 1 args (STR one)");

  std::system(("rm -rf '" + program.Folder() + "/scene'").c_str());
  // Windows looks at the folder's path every few seconds.
  EXPECT_TRUE(WaitForStderr(program, "is gone", 10000)) << program.Stderr();
  program.WriteFile("scene/helper.lua", "function tag() return 'two' end\n");
  program.WriteFile("scene/Test.lua", script);
  EXPECT_EQ(program.WaitForCaption("print 1 args (STR two)", 15000), "print 1 args (STR two)")
      << program.Stderr();
  EXPECT_NE(program.Stderr().find("is back"), std::string::npos) << program.Stderr();
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

// A scene that writes the number of the frame into its own folder whenever a frame reads its
// node's left edge, which it keeps out of the node's table.
std::string Ticking(const std::string& tag) {
  return R"(
local frames = 0
local n = root.createNode{ top = 0, width = 10, height = 10 }
setmetatable(n, { __index = function(t, key)
  if key == 'left' then
    frames = frames + 1
    local file = io.open('frames.txt', 'w')
    file:write(frames)
    file:close()
    return 0
  end
end })
print(')" +
         tag + "')\n";
}

TEST(WatchedScene, ASceneWritingItsOwnFolderOnEveryFrameIsStartedAgainOnlyBySaves) {
  XServer server;
  Program program(server, nullptr);
  program.WriteFile("scene/Test.lua", Ticking("one"));
  program.Start({"--watch", "scene"});
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR one)"), "print 1 args (STR one)");

  // Its own writes never start it again, however many.
  const std::string frames = program.Folder() + "/scene/frames.txt";
  int written = 0;
  for (int i = 0; i < 300 && written < 30; ++i) {
    Pause(50);
    std::ifstream(frames) >> written;
  }
  ASSERT_GE(written, 30) << "the scene does not write on every frame";
  EXPECT_EQ(program.Stderr().find("starting the scene again"), std::string::npos)
      << program.Stderr();

  // Something else writing there all the time does not hold a save back.
  std::atomic<bool> busy{true};
  const std::string other = program.Folder() + "/scene/busy.txt";
  std::thread writer([&] {
    while (busy) {
      std::ofstream(other) << "busy";
      Pause(20);
    }
  });
  program.WriteFile("scene/Test.lua", Ticking("two"));
  EXPECT_EQ(program.WaitForCaption("print 1 args (STR two)", 10000), "print 1 args (STR two)")
      << program.Stderr();
  busy = false;
  writer.join();
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

TEST(ConsoleOutput, PrintWritesItsArgumentsAndAHandlersErrorItsTraceback) {
  XServer server;
  Program program(server, R"(root.setAttr{ width = 800, height = 600 }
local loud = setmetatable({}, { __tostring = function() error("never called") end })
local function fail(x)
  error("failed at " .. x)
end
function root:onLeftPress(x, y)
  print("pressed", x, 1.5, true, nil, loud)
  fail(x)
end
print("ready")
)");
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR ready)"), "print 1 args (STR ready)");
  // The root has its rectangle from the first frame on: a click before that hits nothing.
  program.MoveTo(10, 20);
  program.ClickUntil("1", [](const std::string& caption) {
    return caption.rfind("print 6 args (STR pressed)", 0) == 0;
  });
  ASSERT_TRUE(program.WaitForStdout("pressed\t10\t1.5\ttrue\tnil\ttable: ")) << program.Stdout();
  const std::string traceback =
      "test.lua:4: failed at 10\n"
      "stack traceback:\n"
      "\t[C]: in function 'error'\n"
      "\ttest.lua:4: in function 'fail'\n"
      "\ttest.lua:8: in function <test.lua:6>\n";
  std::string err;
  for (int i = 0; i < 100 && err.find(traceback) == std::string::npos; ++i) {
    Pause(50);
    err = program.Stderr() + "\n";
  }
  EXPECT_NE(err.find(traceback), std::string::npos) << err;
  // The caption still shows the print, as before.
  EXPECT_EQ(program.Caption().rfind("print 6 args (STR pressed) (NUM 10)", 0), 0u);
  EXPECT_EQ(program.Stdout().find("never called"), std::string::npos);
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

}  // namespace
