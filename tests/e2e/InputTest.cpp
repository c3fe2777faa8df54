// Hover, wheel and keyboard on the real program, with a real pointer and keyboard: every event a
// scene's handlers receive is appended to a log shown in the caption.
#include <gtest/gtest.h>

#include <string>

#include "Harness.h"

using e2e::Program;
using e2e::XServer;

namespace {

// The log and a probe that says "drawn" at the first frame's read (rectangles exist only then).
const std::string kLog = R"(
local probe = root.createNode()
local seen = false
setmetatable(probe, { __index = function(t, k)
  if not seen then seen = true; print('drawn') end
end })
log = {}
function add(s) log[#log + 1] = s; print(table.concat(log, ";")) end
)";

std::string Logged(const std::string& events) {
  return "print 1 args (STR " + events + ")";
}

class InputTest : public ::testing::Test {
 protected:
  void Start(Program& program) {
    // The pointer starts away from where the window opens, so the scene hears only the tests'
    // own movements.
    program.Xdo("mousemove 0 0");
    program.Start();
    ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
    ASSERT_EQ(program.WaitForCaption("print 1 args (STR drawn)", 20000),
              "print 1 args (STR drawn)");
  }

  // Waits for the log to read `events` and says what it read.
  std::string Expect(Program& program, const std::string& events) {
    return program.WaitForCaption(Logged(events), 10000);
  }

  XServer server_;
};

TEST_F(InputTest, HoverOverNestedNodesMovesAndTheWheel) {
  Program program(server_, (kLog + R"(
root.setAttr{ width = 800, height = 600 }
local A = root.createNode{ left = 100, top = 100, width = 200, height = 200 }
local A1 = A.createNode{ left = 50, top = 50, width = 50, height = 50 }
local B = root.createNode{ left = 400, top = 100, width = 100, height = 100 }
for name, n in pairs{ A = A, A1 = A1, B = B } do
  n.onMouseEnter = function(self, x, y) add("+" .. name .. " " .. x .. "," .. y) end
  n.onMouseLeave = function(self, x, y) add("-" .. name .. " " .. x .. "," .. y) end
end
-- The deepest node with a handler takes the move, as it takes a press.
function A1:onMouseMove(x, y) add("m1 " .. x .. "," .. y) end
function root:onMouseMove(x, y) add("M " .. x .. "," .. y) end
function root:onWheelUp(x, y) add("WU " .. x .. "," .. y) end
function root:onWheelDown() add("WD") end
function root:onWheelLeft() add("WL") end
function root:onWheelRight() add("WR") end
function root:onPress() add("P") end
function root:onRelease() add("R") end
)")
                               .c_str());
  Start(program);
  program.MoveTo(50, 50);
  std::string log = "M 50,50";
  ASSERT_EQ(Expect(program, log), Logged(log));
  // Into a parent and its child at once: parents first, then the move, to the child's handler.
  program.MoveTo(160, 160);
  log += ";+A 160,160;+A1 160,160;m1 160,160";
  ASSERT_EQ(Expect(program, log), Logged(log));
  // Out of both into another: leaves first, deepest first.
  program.MoveTo(450, 150);
  log += ";-A1 450,150;-A 450,150;+B 450,150;M 450,150";
  ASSERT_EQ(Expect(program, log), Logged(log));
  // A notch each way, at the pointer; the wheel's buttons are no presses. (Windows sends the
  // wheel to the window with the keyboard.)
  program.Focus();
  program.Xdo("click 4 click 5 click 6 click 7");
  log += ";WU 450,150;WD;WL;WR";
  ASSERT_EQ(Expect(program, log), Logged(log));
  // Out of the window: the node under the pointer is left.
  program.MoveTo(450, 700);
  log += ";-B 450,150";
  EXPECT_EQ(Expect(program, log), Logged(log));
}

TEST_F(InputTest, ANodeMovingUnderAStillPointerIsEnteredAndLeft) {
  Program program(server_, (kLog + R"(
root.setAttr{ width = 800, height = 600 }
local C = root.createNode{ left = 600, top = 400, width = 100, height = 100 }
function C:onMouseEnter(x, y) add("+C " .. x .. "," .. y) end
function C:onMouseLeave(x, y) add("-C " .. x .. "," .. y) end
function root:onRightPress() C.left = C.left == 600 and 300 or 600 end
)")
                               .c_str());
  Start(program);
  program.MoveTo(350, 450);
  program.Xdo("click 3");
  std::string log = "+C 350,450";
  ASSERT_EQ(Expect(program, log), Logged(log));
  program.Xdo("click 3");
  log += ";-C 350,450";
  EXPECT_EQ(Expect(program, log), Logged(log));
}

TEST_F(InputTest, KeysTheirReleasesRepeatsAndTypedText) {
  Program program(server_, (kLog + R"(
function root:onKeyPress(key, isRepeat) if not isRepeat then add("K " .. key) else repeats = (repeats or 0) + 1 end end
function root:onKeyRelease(key) add("k " .. key .. (repeats and repeats > 0 and " after repeats" or "")); repeats = nil end
function root:onTextInput(text) if not repeats then add("T " .. text) end end
)")
                               .c_str());
  Start(program);
  program.MoveTo(400, 300);
  program.Focus();
  program.Xdo("key a");
  std::string log = "K a;T a;k a";
  ASSERT_EQ(Expect(program, log), Logged(log));
  // Named as the key is labelled, typing as the keys type together; Return types no text.
  program.Xdo("keydown shift");
  program.Xdo("key a");
  program.Xdo("keyup shift");
  program.Xdo("key Return");
  log += ";K shift;K a;T A;k a;k shift;K return;k return";
  ASSERT_EQ(Expect(program, log), Logged(log));
  // Held long enough to repeat: repeats are presses without releases between them.
  program.Xdo("keydown b");
  e2e::Capture("sleep 1.2");
  program.Xdo("keyup b");
  log += ";K b;T b;k b after repeats";
  EXPECT_EQ(Expect(program, log), Logged(log));
}

TEST_F(InputTest, KeysAreNamedByTheLayoutTypeItsTextAndGoUpWhenTheKeyboardIsLost) {
  // On a French layout the key that types "q" is where a US layout has "a", the one that types
  // "é" is the digit row's 2, and the circumflex is a dead key for the letter after it.
  server_.SetKeyboardLayout("fr");
  Program program(server_, (kLog + R"(
function root:onKeyPress(key, isRepeat) if not isRepeat then add("K " .. key) else repeating = true end end
function root:onKeyRelease(key) add("k " .. key); repeating = false end
function root:onTextInput(text) if not repeating then add("T " .. text) end end
)")
                               .c_str());
  Start(program);
  program.Focus();
  program.Xdo("key q a");
  std::string log = "K q;T q;k q;K a;T a;k a";
  ASSERT_EQ(Expect(program, log), Logged(log));
  program.Xdo("key eacute");
  log += ";K é;T é;k é";
  ASSERT_EQ(Expect(program, log), Logged(log));
  if (!e2e::UnderWine()) {
    // (Wine's own input-method bridge keeps the keys of a composition from the program.)
    program.Xdo("key dead_circumflex e");
    log += ";K ^;k ^;K e;T ê;k e";
    ASSERT_EQ(Expect(program, log), Logged(log));
  }
  // A key held while the window loses the keyboard goes up then.
  program.Xdo("keydown c");
  log += ";K c;T c";
  ASSERT_EQ(Expect(program, log), Logged(log));
  program.Unfocus();
  log += ";k c";
  EXPECT_EQ(Expect(program, log), Logged(log));
  program.Xdo("keyup c");
}

}  // namespace
