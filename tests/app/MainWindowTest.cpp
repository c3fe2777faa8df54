// The main window over the script host: the events it hears reach the host as the host's named
// events, also while a handler's message box is open, and a window whose host failed to start
// stays safe to tick and click.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ScriptFixture.h"
#include "app/Main_un.h"
#include "script/Lua_un.h"

using namespace LuaBind;

namespace {

// Handlers that open a loader's message box. The box's own message loop goes on delivering what
// the window hears; the hook stands in for it, running `Inside` in the first box only (a box
// opened within it just counts, so a fault shows as depth instead of endless recursion).
class BoxEventTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    if (Host == nullptr) return;
    // The main window hands what it hears to the program's host: the fixture's.
    Main = new TMain();
    LuaHost = Host;
    WriteFile("broken.bmp", "no bitmap");
    SetMessageBoxHook([this](const std::string&, const std::string&) {
      Deepest = std::max(Deepest, ++Depth);
      if (Depth == 1 && Inside) Inside();
      --Depth;
      return IDOK;
    });
    StartLog();
  }
  void TearDown() override {
    SetMessageBoxHook(MessageBoxHook());
    LuaHost = nullptr;
    // The window frees the program's screen and host when it goes: the fixture's go first.
    ScriptTest::TearDown();
    delete Main;
    Main = nullptr;
  }

  std::function<void()> Inside;
  int Depth = 0;
  int Deepest = 0;
};

TEST_F(BoxEventTest, EntersHeldUpByABoxFollowThePointerAndEveryEnterGetsItsLeave) {
  ASSERT_EQ(Run("p = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "c = p.createNode{width = 50, height = 50}\n"
                "function p:onMouseEnter() add('+p') createTexture('broken.bmp') end\n"
                "function p:onMouseLeave() add('-p') end\n"
                "function p:onMouseMove(x, y) add('m ' .. x .. ',' .. y) end\n"
                "function c:onMouseEnter() add('+c') end\n"
                "function c:onMouseLeave() add('-c') end"),
            "");
  DrawFrame();
  // The pointer leaves the window while the parent's box is open: the child is never entered,
  // no move is offered outside, and the parent hears its leave.
  Inside = [] { Main->FormMouseLeave(); };
  Main->FormMouseMove(20, 20);
  EXPECT_EQ(Log(), "+p;-p");
  // It moves off the child meanwhile: the move is offered where it went.
  Inside = [] { Main->FormMouseMove(70, 70); };
  Main->FormMouseMove(20, 20);
  Main->FormMouseLeave();
  EXPECT_EQ(Log(), "+p;m 70,70;-p");
  EXPECT_EQ(Deepest, 1);
}

TEST_F(BoxEventTest, WhileAHandlersBoxIsOpenOnlyButtonsReachTheScriptAndOneLookFollows) {
  ASSERT_EQ(Run("root.setAttr{width = 800, height = 600}\n"
                "n = root.createNode{left = 200, top = 200, width = 50, height = 50}\n"
                "function n:onMouseEnter() add('+n') end\n"
                "function n:onMouseLeave() add('-n') end\n"
                "function root:onMouseMove() add('m') createTexture('broken.bmp') end\n"
                "function root:onKeyPress(k, r) add((r and 'R ' or 'K ') .. k) end\n"
                "function root:onKeyRelease(k) add('k ' .. k) end\n"
                "function root:onTextInput(t) add('T ' .. t) end\n"
                "function root:onWheelUp() add('W') end\n"
                "function root:onLeftPress() add('LP') end"),
            "");
  DrawFrame();
  Main->FormKeyDown("b", false);
  // Each of these moves would otherwise open a box of its own inside the first.
  Inside = [] {
    for (int x = 210; x < 215; ++x) Main->FormMouseMove(x, 210);
    Main->FormKeyDown("a", false);
    Main->FormTextInput("a");
    Main->FormKeyDown("a", true);
    Main->FormMouseWheel(wdUp, 214, 210);
    Main->FormMouseDown(mbLeft, 214, 210);
    Main->FormKeyUp("b");
  };
  Main->FormMouseMove(10, 10);
  EXPECT_EQ(Deepest, 1);
  // The press got through; b's release waited for the handler, and the node the pointer went
  // into meanwhile is entered without a move.
  EXPECT_EQ(Log(), "K b;m;LP;k b;+n");
  // a went down inside the box: neither its repeats nor its release are the script's.
  Main->FormKeyDown("a", true);
  Main->FormKeyUp("a");
  Main->FormKeyDown("a", false);
  EXPECT_EQ(Log(), "K a");
}

TEST_F(BoxEventTest, TheWindowsTickRunsTheSceneAtItsIntervalAndOnlyDrawsInsideABox) {
  ASSERT_EQ(Run("kestrune.setTickInterval(0.02)\n"
                "root.setAttr{width = 800, height = 600}\n"
                "function root:onTick() add('tick') end\n"
                "function root:onLeftPress() add('press') createTexture('broken.bmp') end"),
            "");
  EXPECT_EQ(Main->Timer1.Interval, 20u);
  DrawFrame();
  // A tick that comes while the handler's box is open draws, and runs nothing of the scene.
  Inside = [] { Main->Timer1Timer(); };
  Main->FormMouseDown(mbLeft, 10, 10);
  EXPECT_EQ(Log(), "press");
  Main->Timer1Timer();
  EXPECT_EQ(Log(), "tick");
  EXPECT_EQ(Number("return kestrune.time()"), 0.25);  // a long wait counts as a quarter second
}

// A main window made as the program makes it, with a library that lacks an entry point.
class MainWindowTest : public ScriptTest {
 protected:
  void TearDown() override {
    LuaLibraryName = LuaLibraryDefaultName;
    ScriptTest::TearDown();
  }
};

TEST_F(MainWindowTest, AMainWindowWhoseHostFailedOpensWithoutTicksAndSkipsEvents) {
  // The window makes its own screen and host: the fixture's go first.
  FreeWindowAndHost();
  LuaLibraryName = LUA_STUB_MISSING_ONE;
  std::vector<std::string> boxes;
  SetMessageBoxHook([&boxes](const std::string& text, const std::string&) {
    boxes.push_back(text);
    return IDOK;
  });
  Application->CreateForm(&Main);
  SetMessageBoxHook(MessageBoxHook());
  EXPECT_EQ(boxes,
            std::vector<std::string>{"Cannot load method 'luaL_loadfile' from dynamic library."});
  ASSERT_NE(Main, nullptr);
  EXPECT_NE(GLScreen, nullptr);
  EXPECT_EQ(LuaHost, nullptr);
  EXPECT_FALSE(Main->Timer1.Enabled());
  Main->Show();
  EXPECT_TRUE(Main->Visible());

  // A tick or a click that came all the same skips the missing host.
  Main->Timer1Timer();
  Main->FormMouseDown(mbLeft, 10, 10);
  Main->FormMouseUp(mbLeft, 10, 10);
  Application->DestroyForms();
  Main = nullptr;
  EXPECT_EQ(GLScreen, nullptr);
}

}  // namespace
