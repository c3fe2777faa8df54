// The node tree: node tables and their links, layout of nested nodes, searching by id, pictures
// and what a frame draws.
#include <string>
#include <utility>

#include "ScriptFixture.h"
#include "platform/OutputQueue.h"

using namespace LuaBind;

namespace {

using NodeTreeTest = ScriptTest;

TEST_F(NodeTreeTest, ANewNodesTableIsLinkedBothWays) {
  ASSERT_EQ(Run("a = root.createNode('a')\nb = a.createNode()"), "");
  EXPECT_TRUE(Bool("return root.nodes[1] == a and a.parent == root and a.nodes[1] == b"));
  EXPECT_EQ(String("return a.id"), "a");
  EXPECT_EQ(String("return b.id"), "");
  EXPECT_TRUE(Bool("return root.createNode('').id == ''"));
  EXPECT_TRUE(
      Bool("for _, name in ipairs{'createNode', 'getNode', 'setAttr', 'createPicture',\n"
           "    'setPicture', 'getPicture'} do\n"
           "  if type(a[name]) ~= 'function' then return false end\n"
           "end\n"
           "return type(a.nodes) == 'table'"));
  ASSERT_NE(Node({0, 0}), nullptr);
  EXPECT_EQ(Node({0, 0})->Depth, 2);
  EXPECT_EQ(Node({0, 0})->Parent, Node({0}));
  EXPECT_EQ(Node({0})->CurrentPicture, -1);
  // A node function copied elsewhere still acts on its own node.
  ASSERT_EQ(Run("local t = {f = b.createNode}\nt.f('under b')"), "");
  EXPECT_EQ(String("return b.nodes[1].id"), "under b");
}

TEST_F(NodeTreeTest, TemplateFieldsOverrideWhatTheNodeGotButNumericKeysAreSkipped) {
  ASSERT_EQ(Run("f = function() end\n"
                "n = root.createNode{id = 'menu', left = 10, onLeftPress = f, 'skipped',\n"
                "                    [7] = 'skipped too', nodes = 5, parent = 'p', getNode = 'g'}"),
            "");
  EXPECT_EQ(String("return n.id"), "menu");
  EXPECT_EQ(Number("return n.left"), 10);
  EXPECT_TRUE(Bool("return n.onLeftPress == f and n.nodes == 5 and n.parent == 'p'"));
  EXPECT_EQ(String("return n.getNode"), "g");
  EXPECT_TRUE(Bool("return n[1] == nil and n[7] == nil"));
  // Linked into the parent before the copy.
  EXPECT_TRUE(Bool("return root.nodes[1] == n"));

  ASSERT_EQ(Run("n.setAttr{top = 3, 'x', id = 'renamed', [2.5] = 1}"), "");
  EXPECT_EQ(Number("return n.top"), 3);
  EXPECT_EQ(String("return n.id"), "renamed");
  EXPECT_TRUE(Bool("return n[1] == nil and n[2.5] == nil"));
}

TEST_F(NodeTreeTest, AReplacedNodesListIsMadeAfresh) {
  ASSERT_EQ(Run("root.createNode('old')\nroot.nodes = 5\nnew = root.createNode('new')"), "");
  EXPECT_TRUE(
      Bool("return type(root.nodes) == 'table' and root.nodes[1] == new and "
           "#root.nodes == 1"));
  EXPECT_EQ(Host->Root->Children.size(), 2u);
}

TEST_F(NodeTreeTest, NestedNodesAreOffsetFromTheirParents) {
  ASSERT_EQ(Run("a = root.createNode{left = 10, top = 20, width = 100, height = 50}\n"
                "b = a.createNode{left = 5, top = 5, width = 30, height = 40}"),
            "");
  DrawFrame();
  const TFloatRect& r = Node({0, 0})->ScreenRect;
  EXPECT_EQ(r.Left, 15);
  EXPECT_EQ(r.Top, 25);
  EXPECT_EQ(r.Width, 30);
  EXPECT_EQ(r.Height, 40);
  EXPECT_EQ(Node({0, 0})->Rect.Left, 5);

  // Attribute changes take effect at the next frame.
  ASSERT_EQ(Run("a.left = 100"), "");
  EXPECT_EQ(Node({0, 0})->ScreenRect.Left, 15);
  DrawFrame();
  EXPECT_EQ(Node({0, 0})->ScreenRect.Left, 105);
}

TEST_F(NodeTreeTest, AttributesAreNumbersOrNumericStringsElseZero) {
  ASSERT_EQ(Run("n = root.createNode{left = '12', top = {}, width = '40', height = 'tall'}"), "");
  DrawFrame();
  const TFloatRect& r = Node({0})->Rect;
  EXPECT_EQ(r.Left, 12);
  EXPECT_EQ(r.Top, 0);
  EXPECT_EQ(r.Width, 40);
  EXPECT_EQ(r.Height, 0);
  ASSERT_EQ(Run("n.left = 0.1"), "");
  DrawFrame();
  EXPECT_EQ(Node({0})->Rect.Left, 0.1f);  // rounded to single precision
}

TEST_F(NodeTreeTest, SearchLooksAtAllChildrenBeforeAnySubtree) {
  ASSERT_EQ(Run("A = root.createNode('x')\n"
                "B = root.createNode('b')\n"
                "B.createNode('x')\n"
                "deep = B.createNode('c').createNode('only')\n"
                "P = root.createNode('p')\n"
                "P.createNode('y')\n"
                "Q = root.createNode('y')"),
            "");
  EXPECT_TRUE(Bool("return root.getNode('x') == A and root.getNode('x', true) == A"));
  EXPECT_TRUE(Bool("return root.getNode('only') == nil and root.getNode('only', false) == nil"));
  EXPECT_TRUE(Bool("return root.getNode('only', true) == deep"));
  // A direct child wins over a match deeper in an earlier child's subtree.
  EXPECT_TRUE(Bool("return root.getNode('y', true) == Q"));
  // The node itself is never a candidate.
  EXPECT_TRUE(Bool("return root.getNode('root', true) == nil and B.getNode('b') == nil"));
  // Among the subtrees, the earlier child's comes first, depth-first.
  ASSERT_EQ(Run("B.nodes[1].createNode('z')\nsecond = B.createNode('c2')\n"
                "first = B.nodes[1].nodes[1].createNode('w')\nsecond.createNode('w')"),
            "");
  EXPECT_TRUE(Bool("return root.getNode('w', true) == first"));
}

TEST_F(NodeTreeTest, IdsAreComparedAsStrings) {
  ASSERT_EQ(Run("a = root.createNode()\nb = root.createNode('b')\nb.id = 5\n"
                "c = root.createNode('c')\nc.id = {}"),
            "");
  EXPECT_TRUE(Bool("return root.getNode('5') == b"));
  EXPECT_TRUE(Bool("return root.getNode('') == a"));
  ASSERT_EQ(Run("a.id = 'a'"), "");
  EXPECT_TRUE(Bool("return root.getNode('') == c"));     // a table id counts as empty
  EXPECT_TRUE(Bool("return root.getNode('B') == nil"));  // case matters
}

TEST_F(NodeTreeTest, ANodeWhoseCreationFailedHalfWayIsNeitherFoundNorAnObstacle) {
  // Reading the parent's `nodes` raises, after the node was linked into the tree but before it
  // got its table.
  ASSERT_EQ(Run("p = root.createNode('p')\np.createNode('before')\np.nodes = nil\n"
                "setmetatable(p, {__index = function() error('no nodes here') end})"),
            "");
  EXPECT_EQ(Run("p.createNode('half')"), "test:4: no nodes here");
  ASSERT_EQ(Node({0})->Children.size(), 2u);
  EXPECT_EQ(Node({0, 1})->TableRef, LUA_NOREF);
  ASSERT_EQ(Run("setmetatable(p, nil)\np.createNode('after')"), "");
  EXPECT_TRUE(Bool("return p.getNode('after') == p.nodes[1]"));
  EXPECT_TRUE(Bool("return p.getNode('', true) == nil"));
  DrawFrame();
  Host->MouseEvent(TFloatPoint{0, 0}, "LeftPress");
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(NodeTreeTest, PicturesAreSelectedByTheirFirstName) {
  ASSERT_EQ(Run("n = root.createNode()\nn.createPicture('p', 0)\nn.createPicture('p', 1)\n"
                "n.createPicture('q', 2, 1, 2, 3, 4)"),
            "");
  CLuaNode* n = Node({0});
  ASSERT_EQ(n->Pictures.size(), 3u);
  EXPECT_TRUE(Bool("return n.getPicture() == nil"));
  EXPECT_TRUE(Bool("return n.setPicture('p') == true"));
  EXPECT_EQ(n->CurrentPicture, 0);
  EXPECT_EQ(String("return n.getPicture()"), "p");
  EXPECT_TRUE(Bool("return n.setPicture('missing') == false"));
  EXPECT_EQ(n->CurrentPicture, 0);
  EXPECT_TRUE(Bool("return n.setPicture('q')"));
  EXPECT_EQ(n->CurrentPicture, 2);
  EXPECT_TRUE(n->Pictures[2].HasSource);
  EXPECT_FALSE(n->Pictures[0].HasSource);
  EXPECT_EQ(n->Pictures[2].Source.Height, 4);
  EXPECT_EQ(n->Pictures[1].TextureIndex, 1);
  EXPECT_TRUE(Bool("return n.setPicture(nil) and n.getPicture() == nil"));
  EXPECT_TRUE(Bool("n.setPicture('p') return n.setPicture() and n.getPicture() == nil"));
  EXPECT_EQ(n->CurrentPicture, -1);
}

class DrawingTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    auto bmp = QuarteredBmp(64);
    WriteFile("quarters.bmp", std::string(bmp.begin(), bmp.end()));
    ASSERT_EQ(Run("tex = createTexture('quarters.bmp', 64, 64)"), "");
    ASSERT_EQ(Number("return tex"), 0);
    ASSERT_NE(GLScreen->GetTexture(0)->TextureId, 0u);
  }
  const TRgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
};

TEST_F(DrawingTest, APictureWithoutSourceShowsTheWholeTexture) {
  ASSERT_EQ(Run("n = root.createNode{left = 100, top = 100, width = 200, height = 200}\n"
                "n.createPicture('all', tex)\nn.setPicture('all')"),
            "");
  DrawFrame();
  EXPECT_EQ(PixelAt(110, 110), red);
  EXPECT_EQ(PixelAt(290, 110), green);
  EXPECT_EQ(PixelAt(110, 290), blue);
  EXPECT_EQ(PixelAt(290, 290), white);
  const TRgb background = PixelAt(50, 50);
  EXPECT_EQ(PixelAt(305, 305), background);
}

TEST_F(DrawingTest, ASourceRectangleIsInPixelsOfTheDeclaredSize) {
  ASSERT_EQ(Run("n = root.createNode{left = 0, top = 0, width = 100, height = 100}\n"
                "n.createPicture('tl', tex, 0, 0, 32, 32)\n"
                "n.createPicture('br', tex, 32, 32, 32, 32)\nn.setPicture('tl')"),
            "");
  DrawFrame();
  EXPECT_EQ(PixelAt(5, 5), red);
  EXPECT_EQ(PixelAt(95, 95), red);
  ASSERT_EQ(Run("n.setPicture('br')"), "");
  DrawFrame();
  EXPECT_EQ(PixelAt(5, 5), white);
  EXPECT_EQ(PixelAt(95, 95), white);
}

TEST_F(DrawingTest, ANodeWithoutAPictureOrTextureDrawsNothingButItsChildrenDo) {
  ASSERT_EQ(Run("p = root.createNode{left = 0, top = 0, width = 400, height = 400}\n"
                "p.createPicture('nowhere', 99)\np.setPicture('nowhere')\n"
                "c = p.createNode{left = 200, top = 200, width = 100, height = 100}\n"
                "c.createPicture('all', tex)\nc.setPicture('all')\n"
                "later = root.createNode{left = 0, top = 0, width = 50, height = 50}\n"
                "later.createPicture('all', tex, 48, 48, 16, 16)\nlater.setPicture('all')"),
            "");
  DrawFrame();
  const TRgb background = PixelAt(700, 500);
  EXPECT_EQ(PixelAt(100, 100), background);
  EXPECT_EQ(PixelAt(210, 210), red);
  EXPECT_EQ(PixelAt(25, 25), white);
  // A later sibling covers what an earlier one drew.
  ASSERT_EQ(Run("later.left = 200 later.top = 200"), "");
  DrawFrame();
  EXPECT_EQ(PixelAt(210, 210), white);
}

TEST_F(DrawingTest, ANodeThatMovesLeavesNothingBehind) {
  ASSERT_EQ(Run("n = root.createNode{left = 100, top = 100, width = 100, height = 100}\n"
                "n.createPicture('all', tex)\nn.setPicture('all')"),
            "");
  DrawFrame();
  ASSERT_EQ(PixelAt(110, 110), red);
  ASSERT_EQ(Run("n.left = 400 n.top = 300"), "");
  DrawFrame();
  EXPECT_EQ(PixelAt(410, 310), red);
  const TRgb background = PixelAt(700, 50);
  for (auto [x, y] : {std::pair{110, 110}, {190, 110}, {110, 190}, {190, 190}})
    EXPECT_EQ(PixelAt(x, y), background) << x << "," << y;
}

TEST_F(DrawingTest, AnIndexThatThirtyTwoBitsCannotHoldNamesNoTexture) {
  // Cut down to 32 bits, each of these would land on texture 0 or 1.
  ASSERT_EQ(Run("createTexture('quarters.bmp', 64, 64)\n"
                "for i, index in ipairs{1, 2^32, 2^32 + 1, -2^32, 2^53, 0/0, 1/0, -1/0} do\n"
                "  local n = root.createNode{left = i * 50, top = 0, width = 40, height = 40}\n"
                "  n.createPicture('p', index)\n"
                "  n.createPicture('cut', index, 0, 0, 32, 32)\n"
                "  n.setPicture(i % 2 == 0 and 'p' or 'cut')\n"
                "end"),
            "");
  DrawFrame();
  EXPECT_EQ(PixelAt(55, 5), red) << "texture 1 itself";
  const TRgb background = PixelAt(700, 500);
  for (int i = 2; i <= 8; ++i) EXPECT_EQ(PixelAt(i * 50 + 5, 5), background) << "node " << i;
}

TEST_F(DrawingTest, AMetamethodThatRaisesWhileDrawingCountsAsAMissingValue) {
  ASSERT_EQ(Run("n = root.createNode{left = 10, top = 10, height = 30}\n"
                "setmetatable(n, {__index = function(t, k) error('no ' .. k) end})\n"
                "after = root.createNode{left = 1, top = 2, width = 3, height = 4}"),
            "");
  DrawFrame();
  EXPECT_EQ(Node({0})->Rect.Left, 10);
  EXPECT_EQ(Node({0})->Rect.Width, 0);
  EXPECT_EQ(Node({0})->Rect.Height, 30);
  EXPECT_EQ(Node({1})->ScreenRect.Height, 4);
  EXPECT_EQ(lua_gettop(L), 0);
  // Metatables still apply to every read.
  ASSERT_EQ(Run("setmetatable(after, {__index = {width = 77}}) after.width = nil"), "");
  DrawFrame();
  EXPECT_EQ(Node({1})->Rect.Width, 77);
}

// A finaliser runs in whatever collection step an allocation starts, and may raise there: in a
// frame's reads or while an event looks for its handler, outside any script call.
TEST_F(DrawingTest, AFinaliserThatRaisesCostsTheOneReadOrCallItInterrupts) {
  // Steps the collector one step at a time into the finalising of two garbage proxies. The
  // newer one's finaliser runs first, and says so: the raising one is then the next step's.
  const char* const dueFinaliser =
      "collectgarbage()\n"
      "collectgarbage('setstepmul', 1)\n"
      "local raising = newproxy(true)\n"
      "getmetatable(raising).__gc = function() error('finaliser fails') end\n"
      "local first = newproxy(true)\n"
      "getmetatable(first).__gc = function() reached = true end\n"
      "raising, first, reached = nil, nil, false\n"
      "repeat collectgarbage('step', 0) until reached\n"
      "collectgarbage('setstepmul', 200)";
  ASSERT_EQ(Run("root.left = 5\n"
                "for i = 1, 3 do\n"
                "  local n = root.createNode{left = i * 100, top = 20, width = 40, height = 40}\n"
                "  n.createPicture('whole', tex)\n"
                "  n.setPicture('whole')\n"
                "end\n"
                "function root.onKeyPress(self, key) pressed = key end"),
            "");
  // The next allocation's step runs it: the frame's first read.
  ASSERT_EQ(Run(dueFinaliser), "");
  lua_gc(L, LUA_GCRESTART, 0);
  testing::internal::CaptureStderr();
  DrawFrame();
  outputqueue::FlushLines(10000);  // written by the output thread
  std::string reported = testing::internal::GetCapturedStderr();
  EXPECT_NE(reported.find("finaliser fails"), std::string::npos) << reported;
  EXPECT_EQ(Host->Root->Rect.Left, 0) << "the read it interrupted";
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Node({i})->Rect.Left, float(i + 1) * 100);
    EXPECT_EQ(Node({i})->Rect.Height, 40);
  }
  EXPECT_EQ(PixelAt(305, 25), red) << "the nodes after it are drawn";
  DrawFrame();
  EXPECT_EQ(Host->Root->Rect.Left, 5);

  // The same in a key event: the lookup of the handler is lost, the next event is not.
  ASSERT_EQ(Run(dueFinaliser), "");
  lua_gc(L, LUA_GCRESTART, 0);
  testing::internal::CaptureStderr();
  Host->KeyEvent("KeyPress", "a", false);
  outputqueue::FlushLines(10000);  // written by the output thread
  reported = testing::internal::GetCapturedStderr();
  EXPECT_NE(reported.find("finaliser fails"), std::string::npos) << reported;
  EXPECT_EQ(String("return tostring(pressed)"), "nil");
  Host->KeyEvent("KeyPress", "b", false);
  EXPECT_EQ(String("return pressed"), "b");
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(NodeTreeTest, AChainOfAHundredThousandNodesDrawsHitsAndIsSearched) {
  ASSERT_EQ(Run("local n = root\n"
                "for i = 1, 100000 do n = n.createNode{left = 0.001, top = 0, width = 800,\n"
                "    height = 600} end\n"
                "n.id = 'last'\n"
                "last = n\n"
                "function n.onLeftPress(self) pressed = self end"),
            "");
  DrawFrame();
  CLuaNode* node = Host->Root.get();
  while (!node->Children.empty()) node = node->Children[0];
  EXPECT_EQ(node->Depth, 100000);
  EXPECT_NEAR(node->ScreenRect.Left, 100.0, 0.5);
  Host->MouseEvent(TFloatPoint{500, 10}, "LeftPress");
  EXPECT_TRUE(Bool("return pressed == last"));
  EXPECT_EQ(Host->HitList->Count, 100000);
  EXPECT_EQ(Host->HitList->Items[0], node);
  EXPECT_TRUE(Bool("return root.getNode('last', true) == last"));
}

}  // namespace
