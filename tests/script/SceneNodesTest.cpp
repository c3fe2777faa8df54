// Nodes that scenes take away, hide, reorder, clip, fill and fade through the kestrune table:
// what is drawn, what is hit, what the pointer's handlers hear, and what memory comes back.
#include <cstdlib>
#include <string>

#include "ScriptFixture.h"

using namespace LuaBind;

namespace {

class SceneNodesTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    if (Host == nullptr) return;
    StartLog();
  }
  void Press(float x, float y) { Host->MouseEvent(TFloatPoint{x, y}, "LeftPress"); }
  // The error of calling `call` protected, or "" when it ran.
  std::string ErrorOf(const std::string& call) {
    return String("local ok, e = pcall(function() " + call + " end) return ok and '' or e");
  }
};

// Blending rounds a half either way.
::testing::AssertionResult Near(const TRgb& got, const TRgb& want) {
  if (std::abs(got.R - want.R) <= 2 && std::abs(got.G - want.G) <= 2 &&
      std::abs(got.B - want.B) <= 2)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << got << " is not near " << want;
}

TEST_F(SceneNodesTest, ARemovedNodeHearsNothingMoreFromHandlersTimersOrFrames) {
  ASSERT_EQ(Run("p = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "a = p.createNode{width = 50, height = 50}\n"
                "b = p.createNode{left = 60, width = 30, height = 30}\n"
                "c = p.createNode{top = 60, width = 30, height = 30}\n"
                "for _, n in ipairs({p, a, b, c}) do\n"
                "  n.onMouseEnter = function(self) add('enter ' .. self.id) end\n"
                "  n.onMouseLeave = function(self) add('leave ' .. self.id) end\n"
                "end\n"
                "p.id, a.id, b.id, c.id = 'p', 'a', 'b', 'c'\n"
                // The parent's enter comes first and takes the child away: the child's never.
                "function p:onMouseEnter() add('enter p') kestrune.remove(a) end\n"
                "function b:onLeftPress() add('press b') kestrune.remove(self) end\n"
                "function p:onLeftPress() add('press p') end"),
            "");
  DrawFrame();
  Host->PointerMoved(TFloatPoint{5, 5});
  EXPECT_EQ(Log(), "enter p");
  EXPECT_TRUE(Bool("return #p.nodes == 2 and p.nodes[1] == b and p.nodes[2] == c"));
  EXPECT_EQ(String("return p.getNode('a') == nil and 'gone' or 'found'"), "gone");

  // From its own handler: the next press falls through to the parent, and it hears no leave.
  Host->PointerMoved(TFloatPoint{65, 5});
  EXPECT_EQ(Log(), "enter b");
  Press(65, 5);
  EXPECT_EQ(Log(), "press b");
  Press(65, 5);
  EXPECT_EQ(Log(), "press p");
  Host->PointerMoved(TFloatPoint{5, 65});
  EXPECT_EQ(Log(), "enter c");

  // A removed node's functions do nothing and return nothing; removing it again, or the root,
  // or what is no node, is an argument error.
  EXPECT_EQ(Number("return select('#', b.createNode('x')) + select('#', b.getNode('x')) +\n"
                   "  select('#', b.setPicture()) + select('#', b.getPicture())"),
            0);
  EXPECT_EQ(Number("return #b.nodes"), 0);
  EXPECT_NE(ErrorOf("kestrune.remove(b)").find("bad argument #1 to 'remove'"), std::string::npos);
  EXPECT_NE(ErrorOf("kestrune.remove(root)").find("should not be the root"), std::string::npos);
  EXPECT_NE(ErrorOf("kestrune.remove({})").find("node's table"), std::string::npos);
  EXPECT_NE(ErrorOf("kestrune.remove()").find("should be a table"), std::string::npos);

  // From a timer, under the pointer: no leave, and nothing left to hit.
  ASSERT_EQ(Run("kestrune.after(0, function() kestrune.remove(c) end)"), "");
  Host->Tick(0.01);
  DrawFrame();
  Host->PointerAfterFrame();
  Press(5, 65);
  EXPECT_EQ(Log(), "press p");
  EXPECT_EQ(Number("return #p.nodes"), 0);
  EXPECT_TRUE(Node({0})->Children.empty());

  // From a frame's own read: the node reading its `left` removes a later sibling and itself,
  // and neither is drawn or hit, in that frame or after.
  ASSERT_EQ(Run("d = root.createNode{top = 200, width = 50, height = 50}\n"
                "e = root.createNode{left = 100, top = 200, width = 50, height = 50}\n"
                "kestrune.setFill(d, {1, 0, 0}) kestrune.setFill(e, {0, 1, 0})\n"
                "function e.onLeftPress() add('press e') end\n"
                "setmetatable(d, {__index = function(t, k)\n"
                "  if k == 'left' and not gone then gone = true kestrune.remove(e)\n"
                "    kestrune.remove(d) end end})"),
            "");
  DrawFrame();
  const TRgb background{0, 0, 0};
  EXPECT_EQ(PixelAt(25, 225), background);
  EXPECT_EQ(PixelAt(125, 225), background);
  Press(125, 225);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Number("return #root.nodes"), 1);
  EXPECT_EQ(Host->Root->Children.size(), 1u);
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(SceneNodesTest, RemovedNodesGiveTheirMemoryBack) {
  // Rounds of a thousand nodes made and removed: the tables go (nothing holds them), the host
  // objects go, and the interpreter's memory stays where the first rounds left it.
  ASSERT_EQ(Run("held = setmetatable({}, {__mode = 'k'})\n"
                "function round()\n"
                "  local made = {}\n"
                "  for i = 1, 1000 do\n"
                "    local n = root.createNode{left = i, width = 1, height = 1}\n"
                "    n.createNode() held[n] = true made[i] = n\n"
                "  end\n"
                "  for i = 1, 1000, 2 do kestrune.remove(made[i]) end\n"
                "  for i = 1000, 2, -2 do kestrune.remove(made[i]) end\n"
                "end"),
            "");
  double counts[6];
  for (double& count : counts) {
    ASSERT_EQ(Run("round()"), "");
    DrawFrame();
    EXPECT_EQ(Host->Root->Children.size(), 0u);
    count = Number(
        "collectgarbage('collect') collectgarbage('collect')\n"
        "return collectgarbage('count')");
    EXPECT_TRUE(Bool("return next(held) == nil and #root.nodes == 0"));
  }
  EXPECT_LE(counts[5], counts[1] + 1);
}

TEST_F(SceneNodesTest, HiddenRaisedAndClippedNodesAreDrawnAndHitAccordingly) {
  const TRgb red{255, 0, 0};
  const TRgb green{0, 255, 0};
  const TRgb blue{0, 0, 255};
  const TRgb background{0, 0, 0};
  ASSERT_EQ(Run("r = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "g = root.createNode{left = 50, top = 0, width = 100, height = 100}\n"
                "gc = g.createNode{left = 60, top = 0, width = 40, height = 40}\n"
                "kestrune.setFill(r, {1, 0, 0}) kestrune.setFill(g, {0, 1, 0})\n"
                "function g:onMouseEnter() add('enter g') end\n"
                "function g:onMouseLeave() add('leave g') end\n"
                "function gc:onMouseEnter() add('enter gc') end\n"
                "function gc:onMouseLeave() add('leave gc') end\n"
                "function g:onLeftPress() add('press g') end\n"
                "function root:onKeyPress(key) kestrune.setVisible(g, key ~= 'h') end"),
            "");
  DrawFrame();
  EXPECT_EQ(PixelAt(75, 50), green);
  ASSERT_EQ(Run("kestrune.raise(r)"), "");
  DrawFrame();
  EXPECT_EQ(PixelAt(75, 50), red);
  EXPECT_TRUE(Bool("return root.nodes[1] == g and root.nodes[2] == r"));
  ASSERT_EQ(Run("kestrune.lower(r)"), "");
  DrawFrame();
  EXPECT_EQ(PixelAt(75, 50), green);
  EXPECT_TRUE(Bool("return root.nodes[1] == r and root.nodes[2] == g"));

  // Hiding the node under the pointer tells it and its child they were left, once the handler
  // that hid it returned; hidden, it is neither drawn nor hit, and it keeps its place.
  Host->PointerMoved(TFloatPoint{120, 10});
  EXPECT_EQ(Log(), "enter g;enter gc");
  Host->KeyEvent("KeyPress", "h", false);
  EXPECT_EQ(Log(), "leave gc;leave g");
  EXPECT_FALSE(Bool("return kestrune.isVisible(g)"));
  DrawFrame();
  EXPECT_EQ(PixelAt(75, 50), red);
  EXPECT_EQ(PixelAt(120, 10), background);
  Press(120, 10);
  EXPECT_EQ(Log(), "");
  EXPECT_TRUE(Bool("return root.nodes[2] == g"));
  Host->KeyEvent("KeyPress", "s", false);
  DrawFrame();
  Host->PointerAfterFrame();
  EXPECT_EQ(Log(), "enter g;enter gc");
  EXPECT_EQ(PixelAt(120, 60), green);

  // A clipping panel: its child is drawn and hit only inside the panel's rectangle.
  ASSERT_EQ(Run("panel = root.createNode{left = 200, top = 200, width = 100, height = 100}\n"
                "kestrune.setClip(panel, true)\n"
                "inside = panel.createNode{left = 50, top = 50, width = 100, height = 100}\n"
                "kestrune.setFill(inside, {0, 0, 1})\n"
                "function inside.onLeftPress() add('press inside') end"),
            "");
  DrawFrame();
  EXPECT_EQ(PixelAt(260, 260), blue);
  EXPECT_EQ(PixelAt(299, 299), blue);
  EXPECT_EQ(PixelAt(300, 300), background);
  EXPECT_EQ(PixelAt(320, 320), background);
  Press(320, 320);
  Press(260, 260);
  EXPECT_EQ(Log(), "press inside");
  ASSERT_EQ(Run("kestrune.setClip(panel, false)"), "");
  DrawFrame();
  EXPECT_EQ(PixelAt(320, 320), blue);
}

TEST_F(SceneNodesTest, FillsAndOpacityBlendPremultipliedAndChildrenInheritTheirParentsFade) {
  const TRgb background{0, 0, 0};
  const TRgb white{255, 255, 255};
  ASSERT_EQ(Run("f = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "kestrune.setFill(f, {1, 0.5, 0})\n"
                "q = root.createNode{left = 200, top = 0, width = 100, height = 100}\n"
                "kestrune.setOpacity(q, 0.5)\n"
                "qc = q.createNode{left = 0, top = 0, width = 50, height = 50}\n"
                "kestrune.setFill(qc, {0, 1, 0})\n"
                "see = root.createNode{left = 400, top = 0, width = 50, height = 50}\n"
                "kestrune.setFill(see, {0, 0, 1, 0.5})\n"
                // No image: a picture that draws in the current colour, after the faded ones.
                "plain = root.createNode{left = 500, top = 0, width = 50, height = 50}\n"
                "plain.createPicture('p', createTexture('missing.bmp')) plain.setPicture('p')\n"
                "function f.onLeftPress() add('press f') end"),
            "");
  DrawFrame();
  EXPECT_TRUE(Near(PixelAt(50, 50), TRgb{255, 128, 0}));
  EXPECT_TRUE(Near(PixelAt(225, 25), TRgb{0, 128, 0}));
  EXPECT_EQ(PixelAt(275, 75), background);
  EXPECT_TRUE(Near(PixelAt(425, 25), TRgb{0, 0, 128}));
  EXPECT_EQ(PixelAt(525, 25), white);
  EXPECT_EQ(Number("return kestrune.getOpacity(q)"), 0.5);
  EXPECT_EQ(Number("return kestrune.getOpacity(f)"), 1);

  // Animated like any field, but kept by the node: its table gets no such key. At 0 it is not
  // seen and still hit.
  ASSERT_EQ(Run("kestrune.animate(f, 0.3, {opacity = 0})"), "");
  Host->Tick(0.15);
  DrawFrame();
  EXPECT_TRUE(Near(PixelAt(50, 50), TRgb{128, 64, 0}));
  Host->Tick(0.15);
  DrawFrame();
  EXPECT_EQ(PixelAt(50, 50), background);
  EXPECT_EQ(Number("return kestrune.getOpacity(f)"), 0);
  EXPECT_TRUE(Bool("return rawget(f, 'opacity') == nil"));
  Press(50, 50);
  EXPECT_EQ(Log(), "press f");

  ASSERT_EQ(Run("kestrune.setOpacity(f, 1) kestrune.setFill(f)"), "");
  DrawFrame();
  EXPECT_EQ(PixelAt(50, 50), background);
  EXPECT_NE(ErrorOf("kestrune.setOpacity(f, 1.5)").find("from 0 to 1"), std::string::npos);
  EXPECT_NE(ErrorOf("kestrune.setFill(f, {1, 0})").find("colour"), std::string::npos);
  EXPECT_NE(ErrorOf("kestrune.setFill(f, {1, 0, 2})").find("colour"), std::string::npos);
  EXPECT_EQ(lua_gettop(L), 0);
}

}  // namespace
