// The scene's time through the host's tick with chosen steps: the clock, timers, animations,
// onTick, the tick interval, and ticks that come while a script call is running.
#include <string>

#include "ScriptFixture.h"
#include "script/SceneWindow.h"

using namespace LuaBind;

namespace {

class SceneTimeTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    if (Host == nullptr) return;
    StartLog();
  }
};

TEST_F(SceneTimeTest, TimersRunInDueOrderFromASnapshotAndASlowTickBringsNoBurst) {
  EXPECT_EQ(Number("return kestrune.time()"), 0);
  EXPECT_TRUE(Bool("return package.loaded.kestrune == kestrune"));
  ASSERT_EQ(Run("late = kestrune.after(0.1, function(h) add('late') end)\n"
                "early = kestrune.after(0.05, function(h)\n"
                "  add(h == early and 'early' or 'wrong handle')\n"
                "  kestrune.after(0, function() add('made in a tick') end)\n"
                "  kestrune.cancel(late) end)\n"
                "beat = kestrune.every(0.1, function(h)\n"
                "  add('beat ' .. kestrune.time()) end)\n"
                "gone = kestrune.after(0.01, function() add('cancelled') end)\n"
                "kestrune.cancel(gone) kestrune.cancel(gone)\n"
                "function root:onTick(dt) add('tick ' .. dt) end"),
            "");
  Host->Tick(0.04);
  EXPECT_EQ(Log(), "tick 0.04");
  // At 0.1 both remaining one-shots and the beat are due: in due order, the one made during
  // the tick waits for the next, and the cancelled late one never runs.
  Host->Tick(0.06);
  EXPECT_EQ(Log(), "early;beat 0.1;tick 0.06");
  Host->Tick(0.01);
  EXPECT_EQ(Log(), "made in a tick;tick 0.01");
  // A stall of seconds counts as a quarter of one, and the beat runs once, not twice.
  Host->Tick(3.0);
  EXPECT_EQ(Number("return kestrune.time()"), 0.36);
  EXPECT_EQ(Log(), "beat 0.36;tick 0.25");
  // Still on its own grid: due at 0.4, not at 0.46.
  Host->Tick(0.04);
  EXPECT_EQ(Log(), "beat 0.4;tick 0.04");
  ASSERT_EQ(Run("kestrune.cancel(beat)"), "");
  Host->Tick(0.2);
  EXPECT_EQ(Log(), "tick 0.2");
  // Hours of ticks keep the time exact.
  ASSERT_EQ(Run("root.onTick = nil"), "");
  for (int i = 0; i < 200000; ++i) Host->Tick(0.055);
  EXPECT_EQ(String("return string.format('%.6f', kestrune.time())"), "11000.600000");
}

TEST_F(SceneTimeTest, AnAnimationEndsOnItsExactTargetTakesFieldsOverAndCancelLeavesThem) {
  ASSERT_EQ(Run("n = root.createNode{left = 0, top = 5}\n"
                "before = 0 for _ in pairs(n) do before = before + 1 end\n"
                "a = kestrune.animate(n, 0.3, {left = 0.7, top = 10}, 'in', function(h)\n"
                "  add('done ' .. tostring(h == a) .. ' ' .. n.left) end)\n"
                "t = {x = 1}\n"
                "b = kestrune.animate(t, 1, {x = 2})"),
            "");
  Host->Tick(0.15);
  EXPECT_DOUBLE_EQ(Number("return n.left"), 0.7 * 0.25);  // quadratic, half way
  // A second animation takes `top` over (and is cancelled at once, so `top` stays); the first
  // still moves `left` and ends as it would.
  const double top = Number("return n.top");
  ASSERT_EQ(Run("kestrune.cancel(kestrune.animate(n, 1, {top = 0}))"), "");
  for (int i = 0; i < 3; ++i) Host->Tick(0.055);
  EXPECT_EQ(Log(), "done true 0.7");
  EXPECT_EQ(Number("return n.left"), 0.7);  // exactly, whatever the steps summed to
  EXPECT_EQ(Number("return n.top"), top);
  EXPECT_TRUE(Bool("local c = 0 for _ in pairs(n) do c = c + 1 end return c == before"));
  // Cancelled half way, the field stays where it was.
  ASSERT_EQ(Run("kestrune.cancel(b) kestrune.cancel(a)"), "");
  const double x = Number("return t.x");
  Host->Tick(0.25);
  EXPECT_EQ(Number("return t.x"), x);
  EXPECT_EQ(Log(), "");
  // Nothing the timers and animations held stays referenced once they are done.
  ASSERT_EQ(Run("weak = setmetatable({}, {__mode = 'k'})\n"
                "do local f = function() end weak[f] = true kestrune.after(0, f)\n"
                "  local g = function() end weak[g] = true kestrune.cancel(kestrune.every(1, g))\n"
                "  local u = {v = 0} weak[u] = true\n"
                "  kestrune.animate(u, 0, {v = 1}, nil, function() add('u') end) end"),
            "");
  Host->Tick(0.01);
  EXPECT_EQ(Log(), "u");
  EXPECT_TRUE(Bool("collectgarbage('collect') return next(weak) == nil"));
}

TEST_F(SceneTimeTest, WhileAScriptCallIsRunningATickOnlyDraws) {
  // Stands in for the tick that a message box's loop delivers while a handler waits for it.
  lua_pushlightuserdata(L, Host);
  lua_pushcclosure(
      L,
      [](lua_State* state) {
        auto* host = static_cast<CLua*>(lua_touserdata(state, lua_upvalueindex(1)));
        lua_pushboolean(state, host->Tick(0.1));
        return 1;
      },
      1);
  lua_setglobal(L, "boxTick");
  ASSERT_EQ(Run("kestrune.every(0.05, function() add('timer') end)\n"
                "root.setAttr{left = 0}\n"
                "kestrune.animate(root, 0.05, {left = 9})\n"
                "function root:onTick() add('tick') end"),
            "");
  ASSERT_EQ(Run("add(tostring(boxTick()))"), "");
  EXPECT_EQ(Log(), "false");
  EXPECT_EQ(Number("return kestrune.time()"), 0);
  EXPECT_FALSE(Bool("return root.left == 9"));
  EXPECT_TRUE(Host->Tick(0.1));
  EXPECT_EQ(Log(), "timer;tick");
  EXPECT_EQ(Number("return root.left"), 9);
}

TEST_F(SceneTimeTest, TheTickIntervalIsWholeMillisecondsFromTenToAThousand) {
  unsigned asked = 0;
  SceneWindow.SetTickInterval = [&asked](unsigned ms) { asked = ms; };
  EXPECT_EQ(Number("return kestrune.getTickInterval()"), 0.055);
  EXPECT_EQ(Run("kestrune.setTickInterval(0.016)"), "");
  EXPECT_EQ(asked, 16u);
  EXPECT_EQ(Number("return kestrune.getTickInterval()"), 0.016);
  EXPECT_EQ(Run("kestrune.setTickInterval(1)"), "");
  EXPECT_EQ(asked, 1000u);
  const std::string range =
      "bad argument #1 to 'setTickInterval' (should be a number of seconds from 0.01 to 1 in "
      "whole milliseconds)";
  for (const char* wrong : {"0.009", "1.001", "0.0165", "0/0", "1/0"})
    EXPECT_EQ(Run(std::string("kestrune.setTickInterval(") + wrong + ")"), "test:1: " + range)
        << wrong;
  EXPECT_EQ(Run("kestrune.setTickInterval('0.02')"),
            "test:1: bad argument #1 to 'setTickInterval' (should be a number)");
  EXPECT_EQ(Run("kestrune.getTickInterval(1)"),
            "test:1: bad argument #1 to 'getTickInterval' (should not be passed)");
  EXPECT_EQ(asked, 1000u);
  EXPECT_EQ(Number("return kestrune.getTickInterval()"), 1);
  // Ticks a second apart each hand the scene their second: only stalls beyond that are cut.
  Host->Tick(3.0);
  EXPECT_EQ(Number("return kestrune.time()"), 1);
  SceneWindow.SetTickInterval = nullptr;
  // The other functions check their arguments the same way.
  EXPECT_EQ(Run("kestrune.every(0, print)"),
            "test:1: bad argument #1 to 'every' (should be a number of seconds above 0)");
  EXPECT_EQ(Run("kestrune.after(1)"), "test:1: bad argument #2 to 'after' (should be a function)");
  EXPECT_EQ(Run("kestrune.cancel(1)"),
            "test:1: bad argument #1 to 'cancel' (should be a userdata)");
  EXPECT_EQ(Run("kestrune.animate({}, 1, {x = 1}, 'bounce')"),
            "test:1: bad argument #4 to 'animate' (should be \"linear\", \"in\", \"out\" or "
            "\"inout\")");
  EXPECT_EQ(Run("kestrune.animate({x = 'a'}, 1, {x = 1})"),
            "test:1: bad argument #3 to 'animate' (should name fields that hold numbers: x is "
            "string)");
}

}  // namespace
