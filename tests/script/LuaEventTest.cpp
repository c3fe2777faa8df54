// Pointer events: the hit list and its sort, which nodes are hit, and delivery to the first
// node that has a handler.
#include <algorithm>
#include <functional>
#include <string>

#include "ScriptFixture.h"

using namespace LuaBind;

namespace {

// Node names of a list, in its order.
std::string Order(const CLuaNodeList& list, const std::vector<std::pair<CLuaNode*, char>>& names) {
  std::string order;
  for (int32_t i = 0; i < list.Count; ++i)
    for (const auto& entry : names)
      if (entry.first == list.Items[i]) order += entry.second;
  return order;
}

TEST(NodeListTest, PushDoublesTheCapacityFromOneAfterEachClear) {
  CLuaNode root(nullptr);
  CLuaNodeList list;
  EXPECT_EQ(list.Count, 0);
  EXPECT_TRUE(list.Items.empty());
  list.Clear();
  std::vector<size_t> capacities;
  for (int i = 0; i < 5; ++i) {
    list.Push(&root);
    capacities.push_back(list.Items.size());
  }
  EXPECT_EQ(capacities, (std::vector<size_t>{1, 2, 4, 4, 8}));
  list.SortByDepth();
  EXPECT_EQ(list.Items.size(), 5u);
  list.Clear();
  EXPECT_EQ(list.Count, 0);
  EXPECT_EQ(list.Items.size(), 1u);
}

TEST(NodeListTest, DeepestComeFirstInTheSortsOwnOrderForEqualDepths) {
  CLuaNode root(nullptr);
  CLuaNode* a = root.AddChild();
  CLuaNode* a1 = a->AddChild();
  CLuaNode* b = root.AddChild();
  CLuaNode* c = root.AddChild();
  CLuaNode* d = root.AddChild();
  const std::vector<std::pair<CLuaNode*, char>> names = {{&root, 'R'}, {a, 'A'}, {a1, '1'},
                                                         {b, 'B'},     {c, 'C'}, {d, 'D'}};
  auto sorted = [&](std::vector<CLuaNode*> nodes) {
    CLuaNodeList list;
    list.Clear();
    for (CLuaNode* node : nodes) list.Push(node);
    list.SortByDepth();
    return Order(list, names);
  };
  EXPECT_EQ(sorted({&root, a, a1, b}), "1BAR");
  EXPECT_EQ(sorted({a, b}), "BA");
  EXPECT_EQ(sorted({a, b, c}), "CBA");
  EXPECT_EQ(sorted({a, b, c, d}), "CDAB");
  EXPECT_EQ(sorted({a}), "A");
}

TEST(NodeListTest, ALongListSortsWithoutDeepRecursion) {
  // Depths rising in pre-order along a chain, as a deep scene gives them.
  CLuaNode root(nullptr);
  std::vector<CLuaNode*> chain{&root};
  for (int i = 0; i < 200000; ++i) chain.push_back(chain.back()->AddChild());
  CLuaNodeList list;
  list.Clear();
  for (CLuaNode* node : chain) list.Push(node);
  list.SortByDepth();
  for (int32_t i = 0; i < list.Count; ++i) ASSERT_EQ(list.Items[i]->Depth, 200000 - i);
}

class EventTest : public ScriptTest {
 protected:
  // Draws a frame, then sends the event at (x, y) and returns the global `got`, cleared first.
  std::string Send(float x, float y, const std::string& name = "LeftPress") {
    Run("got = nil");
    Host->MouseEvent(TFloatPoint{x, y}, name);
    return String("return tostring(got)");
  }
};

TEST_F(EventTest, LeftAndTopEdgesBelongToTheNodeRightAndBottomDoNot) {
  ASSERT_EQ(Run("n = root.createNode{left = 10, top = 20, width = 30, height = 40}\n"
                "function n.onLeftPress() got = 'n' end\n"
                "flat = root.createNode{left = 0, top = 0, width = 0, height = 600}\n"
                "function flat.onLeftPress() got = 'flat' end\n"
                "neg = root.createNode{left = 100, top = 100, width = -10, height = 10}\n"
                "function neg.onLeftPress() got = 'neg' end"),
            "");
  DrawFrame();
  EXPECT_EQ(Send(10, 20), "n");
  EXPECT_EQ(Send(39.9f, 59.9f), "n");
  EXPECT_EQ(Send(40, 30), "nil");
  EXPECT_EQ(Send(20, 60), "nil");
  EXPECT_EQ(Send(9.9f, 30), "nil");
  EXPECT_EQ(Send(0, 10), "nil");
  EXPECT_EQ(Send(95, 105), "nil");
  // The root has no size unless the script gives it one.
  ASSERT_EQ(Run("function root.onLeftPress() got = 'root' end"), "");
  EXPECT_EQ(Send(500, 500), "nil");
  ASSERT_EQ(Run("root.width = 800 root.height = 600"), "");
  DrawFrame();
  EXPECT_EQ(Send(500, 500), "root");
}

TEST_F(EventTest, TheDeepestNodeWithAHandlerGetsTheEventAlone) {
  ASSERT_EQ(Run("p = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "c = p.createNode{left = 10, top = 10, width = 20, height = 20}\n"
                "out = p.createNode{left = 300, top = 300, width = 10, height = 10}\n"
                "count = 0\n"
                "function p.onLeftPress() got = 'p' count = count + 1 end\n"
                "function c:onLeftPress(x, y) got = (self == c) and ('c ' .. x .. ' ' .. y)\n"
                "  count = count + 1 end\n"
                "function out.onLeftPress() got = 'out' end\n"
                "function p.onLeftRelease() got = 'p released' end"),
            "");
  DrawFrame();
  EXPECT_EQ(Send(15, 16), "c 15 16");
  EXPECT_EQ(Number("return count"), 1);
  EXPECT_EQ(Send(50, 50), "p");
  // A child outside its parent's rectangle is hit where it lies.
  EXPECT_EQ(Send(305, 305), "out");
  // A release is an event of its own: the child has no handler for it, its parent has.
  EXPECT_EQ(Send(15, 16, "LeftRelease"), "p released");
  EXPECT_EQ(Send(15, 16, "RightPress"), "nil");
}

TEST_F(EventTest, ValuesThatAreNoFunctionsAreSkippedAndRaisingHandlersStopDelivery) {
  ASSERT_EQ(Run("p = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "c = p.createNode{width = 50, height = 50}\n"
                "c.onLeftPress = 1\n"
                "c.onRightPress = function() got = 'c' error('broken') end\n"
                "function p.onLeftPress() got = 'p' end\n"
                "function p.onRightPress() got = 'p too' end\n"
                "print('before')"),
            "");
  DrawFrame();
  EXPECT_EQ(Send(5, 5), "p");
  EXPECT_EQ(Send(5, 5, "RightPress"), "c");
  EXPECT_EQ(Form->Caption(), "print 1 args (STR before)");
  EXPECT_EQ(Host->LastError(), "");
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(EventTest, HandlersMayComeFromMetatablesAndARaisingLookupCountsAsNone) {
  ASSERT_EQ(Run("p = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "c = p.createNode{width = 50, height = 50}\n"
                "d = p.createNode{left = 60, width = 30, height = 30}\n"
                "setmetatable(c, {__index = function() error('lookup fails') end})\n"
                "setmetatable(d, {__index = {onLeftPress = function() got = 'd' end}})\n"
                "function p.onLeftPress() got = 'p' end"),
            "");
  DrawFrame();
  EXPECT_EQ(Send(5, 5), "p");
  EXPECT_EQ(Send(65, 5), "d");
}

TEST_F(EventTest, OfferEventRestoresTheStackToItsHeightNotToEmpty) {
  ASSERT_EQ(Run("n = root.createNode{width = 10, height = 10}\n"
                "function n.onLeftPress() got = 'n' end"),
            "");
  DrawFrame();
  lua_pushstring(L, "caller's value");
  EXPECT_TRUE(Node({0})->OfferEvent(L, "LeftPress", TFloatPoint{1, 1}));
  EXPECT_FALSE(Node({0})->OfferEvent(L, "RightPress", TFloatPoint{1, 1}));
  ASSERT_EQ(lua_gettop(L), 1);
  EXPECT_STREQ(lua_tostring(L, 1), "caller's value");
  lua_pop(L, 1);
}

// Stands for a message loop that runs inside a script call and delivers an event meanwhile.
int NestedEvent(lua_State* L) {
  CLua* host = static_cast<CLua*>(lua_touserdata(L, lua_upvalueindex(1)));
  host->MouseEvent(TFloatPoint{float(lua_tonumber(L, 1)), float(lua_tonumber(L, 2))}, "LeftPress");
  return 0;
}

TEST_F(EventTest, AnEventDeliveredWhileAnotherIsBeingOfferedLeavesItsListAlone) {
  lua_pushlightuserdata(L, Host);
  lua_pushcclosure(L, NestedEvent, 1);
  lua_setglobal(L, "nestedEvent");
  ASSERT_EQ(Run("outer = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "inner = outer.createNode{width = 50, height = 50}\n"
                "other = root.createNode{left = 500, top = 500, width = 10, height = 10}\n"
                "log = ''\n"
                "setmetatable(inner, {__index = function(t, k)\n"
                "  if k ~= 'onLeftPress' then return nil end\n"
                "  log = log .. 'lookup '\n"
                "  nestedEvent(505, 505)\n"
                "end})\n"
                "function other.onLeftPress() log = log .. 'other ' end\n"
                "function outer.onLeftPress() log = log .. 'outer' end"),
            "");
  DrawFrame();
  Host->MouseEvent(TFloatPoint{5, 5}, "LeftPress");
  EXPECT_EQ(String("return log"), "lookup other outer");
  EXPECT_EQ(lua_gettop(L), 0);
}

}  // namespace

namespace {

// Frames walk a flat list of the tree, and events scan the rectangles it kept. Both must give
// what a walk of the tree itself gives, whatever the script does in between.
TEST_F(EventTest, HitsFollowTheTreeWhenItGrowsDuringAFrameOrAPartIsDrawnAlone) {
  ASSERT_EQ(Run("a = root.createNode{left = 0, top = 0, width = 50, height = 50}\n"
                "b = root.createNode{left = 100, top = 0, width = 50, height = 50}\n"
                "function b.onLeftPress() got = 'b' end\n"
                // The first read of a's `left` in a frame adds a child to b, which the same
                // frame must lay out, since b comes after a.
                "setmetatable(a, { __index = function(t, k)\n"
                "  if k == 'left' and not grown then\n"
                "    grown = b.createNode{left = 10, top = 10, width = 20, height = 20}\n"
                "    function grown.onLeftPress() got = 'grown' end\n"
                "  end\n"
                "end })\n"
                "rawset(a, 'left', nil)"),
            "");
  DrawFrame();
  EXPECT_EQ(Send(115, 15), "grown");
  EXPECT_EQ(Send(140, 40), "b");
  DrawFrame();
  EXPECT_EQ(Send(115, 15), "grown");

  // Drawing b's subtree alone moves its rectangles; the root's kept list must not answer.
  ASSERT_EQ(Run("b.left = 400"), "");
  Node({1})->Draw(L);
  EXPECT_EQ(Send(415, 15), "grown");
  EXPECT_EQ(Send(115, 15), "nil");
}

}  // namespace
