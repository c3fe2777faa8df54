// kestrune --test and --screenshot from outside: the verdicts on standard output and the exit
// status, reference pictures, time limits, message boxes, input that reaches the scene as the
// window's does, and runs that repeat byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "Harness.h"

using e2e::Program;
using e2e::XServer;

namespace {

// One red box that a left click turns blue.
const char* const kBoxScene = R"(
root.setAttr{ width = 800, height = 600 }
box = root.createNode{ left = 100, top = 100, width = 100, height = 50 }
kestrune.setFill(box, {1, 0, 0})
function box:onLeftPress() kestrune.setFill(self, {0, 0, 1}) end
)";

bool Exists(const std::string& path) {
  return std::ifstream(path).good();
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class SceneTests : public ::testing::Test {
 protected:
  // Runs kestrune --test . with these arguments after it in the scene's folder; returns the exit
  // status.
  int RunTests(Program& program, std::vector<std::string> arguments = {},
               std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), {"--test", "."});
    program.Environment = environment;
    program.Start(arguments);
    return program.WaitForExit(60000);
  }

  XServer server_;
};

TEST_F(SceneTests, AMissingReferenceIsWrittenOnlyWithUpdateAndNotUnderCIAndAChangeFails) {
  Program program(server_, kBoxScene);
  program.WriteFile("tests/box_test.lua", R"(
local t = kestrune.test
t.test("the first frame", function()
  t.step()
  t.expectScreenshot("first")
end)
)");
  const std::string tests = program.Folder() + "/tests/";
  // No reference: a failure that leaves the frame beside it.
  EXPECT_EQ(RunTests(program), 1) << program.Stderr();
  EXPECT_NE(program.Stdout().find("not ok 1 - the first frame\n#   tests/box_test.lua:5: there "
                                  "is no reference tests/first.png"),
            std::string::npos)
      << program.Stdout();
  EXPECT_TRUE(Exists(tests + "first.new.png"));
  EXPECT_FALSE(Exists(tests + "first.png"));
  // A CI's run never writes references, even when asked to.
  EXPECT_EQ(RunTests(program, {"--update"}, {"CI=true"}), 1) << program.Stderr();
  EXPECT_FALSE(Exists(tests + "first.png"));
  EXPECT_EQ(RunTests(program, {"--update"}), 0) << program.Stdout() << program.Stderr();
  ASSERT_TRUE(Exists(tests + "first.png"));
  EXPECT_FALSE(Exists(tests + "first.new.png"));
  EXPECT_EQ(RunTests(program), 0) << program.Stdout();
  EXPECT_FALSE(Exists(tests + "first.diff.png"));

  // The same test against a scene whose box moved: two pictures, status 1.
  program.WriteFile("Test.lua", std::string(kBoxScene) + "box.left = 140\n");
  EXPECT_EQ(RunTests(program), 1) << program.Stderr();
  EXPECT_NE(program.Stdout().find("the frame does not match tests/first.png: 4000 of 480000 "
                                  "pixels differ by more than 2"),
            std::string::npos)
      << program.Stdout();
  EXPECT_TRUE(Exists(tests + "first.actual.png"));
  EXPECT_TRUE(Exists(tests + "first.diff.png"));
}

TEST_F(SceneTests, EachFailureFailsItsOwnTestAndTheRunGoesOn) {
  Program program(server_, (std::string(kBoxScene) + R"(
function box:onRightPress() error("no right button here") end
function root:onKeyPress(key) if key == "l" then while true do end end end
function root:onMiddlePress() createTexture("broken.bmp") end
)")
                               .c_str());
  program.WriteFile("broken.bmp", "BM but no bitmap");
  program.WriteFile("tests/a_test.lua", R"(local t = kestrune.test
t.test("errs", function()
  error("broken on purpose")
end)
t.test("runs after it", function()
  t.step()
  t.click(150, 120)
  t.step()
  t.expectEqual(select(3, t.pixel(150, 120)), 255)
end)
t.test("a handler that loops", function()
  t.key("l")
end, { timeout = 1 })
t.test("starts afresh after it", function()
  t.step()
  t.expectEqual((t.pixel(150, 120)), 255)
end)
t.test("a handler's error", function()
  t.click(150, 120, "right")
end)
t.test("an expected error", function()
  t.expectError(function() t.click(150, 120, "right") end, "no right button")
end)
t.test("a box nobody read", function()
  t.click(10, 10, "middle")
end)
t.test("a box read", function()
  t.click(10, 10, "middle")
  t.expectEqual(#t.boxes(), 1)
end)
)");
  // A second file starts on a fresh scene; a file that does not compile makes the status 2.
  program.WriteFile("tests/b_test.lua", R"(local t = kestrune.test
t.test("fresh", function() t.step(); t.expectEqual((t.pixel(150, 120)), 255) end)
)");
  ASSERT_EQ(RunTests(program), 1) << program.Stderr();
  const std::string expected =
      "TAP version 13\n"
      "# tests/a_test.lua\n"
      "not ok 1 - errs\n"
      "#   tests/a_test.lua:3: broken on purpose\n"
      "ok 2 - runs after it\n"
      "not ok 3 - a handler that loops\n"
      "#   the test took longer than its 1 s\n"
      "ok 4 - starts afresh after it\n"
      "not ok 5 - a handler's error\n";
  EXPECT_EQ(program.Stdout().substr(0, expected.size()), expected) << program.Stdout();
  const std::string rest =
      "ok 6 - an expected error\n"
      "not ok 7 - a box nobody read\n"
      "#   a message box was not read with boxes(): BMP Unit: ";
  EXPECT_NE(program.Stdout().find(rest), std::string::npos) << program.Stdout();
  const std::string last =
      "ok 8 - a box read\n"
      "# tests/b_test.lua\n"
      "ok 9 - fresh\n"
      "1..9\n"
      "# tests 9\n"
      "# pass 5\n"
      "# fail 4\n";
  EXPECT_NE(program.Stdout().find(last), std::string::npos) << program.Stdout();
  EXPECT_NE(program.Stdout().find("#   a handler raised an error: "), std::string::npos);

  program.WriteFile("tests/c_test.lua", "kestrune.test.test('x', function() end");
  EXPECT_EQ(RunTests(program, {"tests/c_test.lua", "--junit", "verdicts.xml"}), 2);
  EXPECT_NE(program.Stdout().find("not ok 1 - tests/c_test.lua does not compile"),
            std::string::npos)
      << program.Stdout();
  EXPECT_NE(Read(program.Folder() + "/verdicts.xml").find("failures=\"1\""), std::string::npos);
}

// The window's own events for the same actions, as the end-to-end input suite expects them.
TEST_F(SceneTests, InputReachesTheSceneAsTheWindowsDoes) {
  Program program(server_, R"(
log = {}
function add(s) log[#log + 1] = s end
function take() local s = table.concat(log, ";"); log = {}; return s end
root.setAttr{ width = 800, height = 600 }
local A = root.createNode{ left = 100, top = 100, width = 200, height = 200 }
local A1 = A.createNode{ left = 50, top = 50, width = 50, height = 50 }
local B = root.createNode{ left = 400, top = 100, width = 100, height = 100 }
C = root.createNode{ left = 600, top = 400, width = 100, height = 100 }
for name, n in pairs{ A = A, A1 = A1, B = B, C = C } do
  n.onMouseEnter = function(self, x, y) add("+" .. name .. " " .. x .. "," .. y) end
  n.onMouseLeave = function(self, x, y) add("-" .. name .. " " .. x .. "," .. y) end
end
function A1:onMouseMove(x, y) add("m1 " .. x .. "," .. y) end
function root:onMouseMove(x, y) add("M " .. x .. "," .. y) end
function root:onWheelUp(x, y) add("WU " .. x .. "," .. y) end
function root:onWheelDown() add("WD") end
function root:onWheelLeft() add("WL") end
function root:onWheelRight() add("WR") end
function root:onLeftPress(x, y) add("LP " .. x .. "," .. y) end
function root:onLeftRelease(x, y) add("LR " .. x .. "," .. y) end
function root:onRightPress() add("RP") end
function root:onRightRelease() add("RR") end
function root:onKeyPress(key, isRepeat) add((isRepeat and "R " or "K ") .. key) end
function root:onKeyRelease(key) add("k " .. key) end
function root:onTextInput(text) add("T " .. text) end
)");
  program.WriteFile("tests/input_test.lua", R"(
local t = kestrune.test
t.test("hover, nested nodes and the wheel", function()
  t.step()
  t.move(50, 50)
  t.expectEqual(take(), "M 50,50")
  t.move(160, 160)
  t.expectEqual(take(), "+A 160,160;+A1 160,160;m1 160,160")
  t.move(450, 150)
  t.expectEqual(take(), "-A1 450,150;-A 450,150;+B 450,150;M 450,150")
  t.wheel("up", 450, 150); t.wheel("down", 450, 150)
  t.wheel("left", 450, 150); t.wheel("right", 450, 150)
  t.expectEqual(take(), "WU 450,150;WD;WL;WR")
  t.leave()
  t.expectEqual(take(), "-B 450,150")
end)
t.test("a node moving under a still pointer", function()
  t.move(350, 450)
  take()
  C.left = 300
  t.step()
  t.expectEqual(take(), "+C 350,450")
  C.left = 600
  t.step()
  t.expectEqual(take(), "-C 350,450")
end)
t.test("buttons, and the left one held outside", function()
  t.click(10, 20, "right")
  t.expectEqual(take(), "M 10,20;RP;RR")
  -- Held, the pointer outside the window still counts as over it: no node is left. Nothing is
  -- under it there, so the moves and the release reach no handler.
  t.press(300, 400)
  t.move(900, 700)
  t.release(900, 700)
  t.move(300, 400)
  t.expectEqual(take(), "M 300,400;LP 300,400;M 300,400")
end)
t.test("keys, repeats, text and the keyboard lost", function()
  t.key("a")
  t.expectEqual(take(), "K a;T a;k a")
  t.keyDown("shift"); t.key("a"); t.keyUp("shift"); t.key("return")
  t.expectEqual(take(), "K shift;K a;T A;k a;k shift;K return;k return")
  t.keyDown("b"); t.keyDown("b"); t.keyUp("b")
  t.expectEqual(take(), "K b;T b;R b;T b;k b")
  t.typeText("é")
  t.keyDown("c")
  t.blur()
  t.expectEqual(take(), "T é;K c;T c;k c")
end)
)");
  EXPECT_EQ(RunTests(program), 0) << program.Stdout() << program.Stderr();
}

TEST_F(SceneTests, TwoRunsDrawTheSameBytesWhateverTheClockAndTheRandomNumbersAndTheDisplay) {
  // Every tick a box placed by math.random, tinted by os.time and os.clock.
  Program program(server_, R"(
root.setAttr{ width = 800, height = 600 }
function root:onTick()
  local n = root.createNode{ left = math.random(0, 700), top = math.random(0, 500),
                             width = 100, height = 100 }
  kestrune.setFill(n, { (os.time() % 7) / 7, os.clock() % 1, tonumber(os.date("%S")) / 60 })
end
)");
  program.Start({"--screenshot", "one.png", "--ticks", "40", "."});
  ASSERT_EQ(program.WaitForExit(60000), 0) << program.Stderr();
  if (e2e::UnderWine()) {
    program.Start({"--screenshot", "two.png", "--ticks", "40", "."});
    ASSERT_EQ(program.WaitForExit(60000), 0) << program.Stderr();
  } else {
    // The second without any display: the same bytes.
    int status = -1;
    e2e::Capture("cd '" + program.Folder() + "' && env -u DISPLAY " +
                     std::string(KESTRUNE_BINARY_DIR) +
                     "/kestrune --screenshot two.png --ticks 40 . 2>&1",
                 &status);
    ASSERT_EQ(status, 0);
  }
  const std::string one = Read(program.Folder() + "/one.png");
  EXPECT_GT(one.size(), 1000u);
  EXPECT_TRUE(one == Read(program.Folder() + "/two.png"));
}

}  // namespace
