// The functions scripts call: what they do, what they return, and the argument errors they
// raise, worded as Lua words them.
#include <string>

#include "ScriptFixture.h"
#include "bind/Exceptions.h"
#include "script/ScriptFunctions.h"

using namespace LuaBind;

namespace {

using ScriptFunctionsTest = ScriptTest;

TEST_F(ScriptFunctionsTest, PrintDescribesItsArgumentsInTheCaption) {
  const std::pair<const char*, const char*> cases[] = {
      {"print('hi', 2, true, nil)", "print 4 args (STR hi) (NUM 2) (BOOL -1) (NIL)"},
      {"print()", "print 0 args"},
      {"print('12')", "print 1 args (NUM 12)"},
      {"print({}, false)", "print 2 args (TABLE) (BOOL 0)"},
      {"print(print, coroutine.create(function() end))", "print 2 args (FUNCTION) (THREAD)"},
      {"print(2.75, -3.5, ' 7 ')", "print 3 args (NUM 2) (NUM -3) (NUM 7)"},
      {"print('a b', '')", "print 2 args (STR a b) (STR )"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Run(c.first), "") << c.first;
    EXPECT_EQ(Form->Caption(), c.second) << c.first;
  }
  EXPECT_TRUE(Bool("return select('#', print(1)) == 0"));
}

TEST_F(ScriptFunctionsTest, EveryCreateTextureAddsAnEntry) {
  EXPECT_EQ(Number("return createTexture('none.bmp')"), 0);
  EXPECT_EQ(Number("return createTexture('none.bmp', 64.9, 32)"), 1);
  ASSERT_EQ(GLScreen->TextureTable.size(), 2u);
  EXPECT_EQ(GLScreen->TextureTable[0].Width, 0);
  EXPECT_EQ(GLScreen->TextureTable[1].Width, 64);
  EXPECT_EQ(GLScreen->TextureTable[1].Height, 32);
  EXPECT_EQ(GLScreen->TextureTable[1].TextureId, 0u);
}

TEST_F(ScriptFunctionsTest, NodeFunctionsReturnExactlyTheirResults) {
  EXPECT_EQ(Number("return select('#', root.createNode())"), 1);
  EXPECT_EQ(Number("return select('#', root.createNode('a'))"), 1);
  EXPECT_EQ(Number("return select('#', root.createNode{})"), 1);
  EXPECT_EQ(Number("return select('#', root.getNode('zz'))"), 1);
  EXPECT_EQ(Number("return select('#', root.setAttr{})"), 0);
  EXPECT_EQ(Number("return select('#', root.createPicture('p', 0))"), 0);
  EXPECT_EQ(Number("return select('#', root.createPicture('p', 0, 1, 2, 3, 4))"), 0);
  EXPECT_EQ(Number("return select('#', root.setPicture('p'))"), 1);
  EXPECT_EQ(Number("return select('#', root.getPicture())"), 1);
  EXPECT_EQ(Number("return select('#', createTexture('x'))"), 1);
  EXPECT_TRUE(Bool("return root.createNode{id = 't'} == root.getNode('t')"));
}

TEST_F(ScriptFunctionsTest, WrongArgumentsRaiseTheirArgumentErrors) {
  const std::pair<const char*, const char*> cases[] = {
      {"createTexture()", "bad argument #1 to 'createTexture' (should be a string)"},
      {"createTexture(5)", "bad argument #1 to 'createTexture' (should be a string)"},
      {"createTexture('a.bmp', 64)", "bad argument #3 to 'createTexture' (should be a number)"},
      {"createTexture('a.bmp', '64', 64)",
       "bad argument #2 to 'createTexture' (should be a number)"},
      {"createTexture('a.bmp', 64, 64, 1)",
       "bad argument #4 to 'createTexture' (should not be passed)"},
      {"root.createNode(5)", "bad argument #1 to 'createNode' (should be a table)"},
      {"root.createNode('a', 'b')", "bad argument #1 to 'createNode' (should be a table)"},
      {"root.createNode({}, 1)", "bad argument #2 to 'createNode' (should not be passed)"},
      {"root.getNode()", "bad argument #1 to 'getNode' (should be a string)"},
      {"root.getNode('a', 1)", "bad argument #2 to 'getNode' (should be a boolean)"},
      {"root.getNode('a', true, 1)", "bad argument #3 to 'getNode' (should not be passed)"},
      {"root.setAttr()", "bad argument #1 to 'setAttr' (should be a table)"},
      {"root.setAttr('a')", "bad argument #1 to 'setAttr' (should be a table)"},
      {"root.createPicture('', 0)",
       "bad argument #1 to 'createPicture' (should be a filled string)"},
      {"root.createPicture('')", "bad argument #1 to 'createPicture' (should be a filled string)"},
      {"root.createPicture('p')", "bad argument #2 to 'createPicture' (should be a number)"},
      {"root.createPicture('p', 0, 0, 0, 32)",
       "bad argument #6 to 'createPicture' (should be a number)"},
      {"root.createPicture('p', '0')", "bad argument #2 to 'createPicture' (should be a number)"},
      {"root.setPicture(5)", "bad argument #1 to 'setPicture' (should be a string)"},
      {"root.setPicture('p', 1)", "bad argument #2 to 'setPicture' (should not be passed)"},
      {"root.getPicture(1)", "bad argument #1 to 'getPicture' (should not be passed)"},
      {"root.getPicture(nil)", "bad argument #1 to 'getPicture' (should not be passed)"},
      // Called with a colon, the node's table comes first; Lua does not count it in the
      // message, so the string after it is reported as argument 1.
      {"root:createNode('a')", "bad argument #1 to 'createNode' (should not be passed)"},
      {"root:getPicture()", "calling 'getPicture' on bad self (should not be passed)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.first), std::string("test:1: ") + c.second);

  // Nothing was made before the checks failed.
  EXPECT_TRUE(Host->Root->Children.empty());
  EXPECT_TRUE(Host->Root->Pictures.empty());
  EXPECT_TRUE(GLScreen->TextureTable.empty());
}

TEST_F(ScriptFunctionsTest, AnArgumentErrorInsideAHandlerIsDiscarded) {
  ASSERT_EQ(Run("n = root.createNode{width = 10, height = 10}\n"
                "function n.onLeftPress() reached = true n.getNode() after = true end"),
            "");
  DrawFrame();
  Host->MouseEvent(TFloatPoint{1, 1}, "LeftPress");
  EXPECT_TRUE(Bool("return reached and not after"));
  EXPECT_EQ(Host->LastError(), "");
}

TEST_F(ScriptFunctionsTest, AnArgumentErrorEndsTheStartScriptWithItsMessage) {
  WriteFile("Test.lua", "root.createNode('kept')\nroot.getNode('x', 'y')\n");
  EXPECT_FALSE(Host->LoadScript("Test.lua"));
  EXPECT_EQ(Host->LastError(), "test.lua:2: bad argument #2 to 'getNode' (should be a boolean)");
  EXPECT_EQ(Host->Root->Children.size(), 1u);
}

int ThrowsOurs(lua_State* L) {
  return LuaScript::Guarded(L, []() -> int { throw Exception("ours went wrong"); });
}

int RaisesLuas(lua_State* L) {
  return LuaScript::Guarded(L, [L]() -> int {
    std::string kept = "destroyed on the way out";
    return luaL_error(L, "lua went wrong");
  });
}

TEST_F(ScriptFunctionsTest, OurExceptionsBecomeLuaErrorsAtTheBoundary) {
  lua_register(L, "throwsOurs", ThrowsOurs);
  lua_register(L, "raisesLuas", RaisesLuas);
  EXPECT_EQ(Run("throwsOurs()"), "ours went wrong");
  EXPECT_EQ(Run("raisesLuas()"), "test:1: lua went wrong");
  EXPECT_EQ(String("local ok, e = pcall(throwsOurs) return tostring(ok) .. ' ' .. e"),
            "false ours went wrong");
  EXPECT_EQ(lua_gettop(L), 0);
}

}  // namespace
