// The text functions of the `kestrune` table: a node's text set, read back and taken away, on
// nodes removed or not, with the styles and fonts a scene may give.
#include <string>

#include "ScriptFixture.h"
#include "platform/OutputQueue.h"

using namespace LuaBind;

namespace {

class SceneTextTest : public ScriptTest {
 protected:
  // Pixels of the box that are not its blue fill: its text's ink.
  int InkIn(int left, int top, int width, int height) {
    int ink = 0;
    for (int y = top; y < top + height; ++y)
      for (int x = left; x < left + width; ++x) ink += !(PixelAt(x, y) == TRgb{0, 0, 255});
    return ink;
  }
};

TEST_F(SceneTextTest, TextIsSetReadBackAndTakenAwayAndARemovedNodeIgnoresIt) {
  ASSERT_EQ(Run("n = root.createNode{left = 0, top = 0, width = 120, height = 40}\n"
                "kestrune.setFill(n, {0, 0, 1})\n"
                "kestrune.setText(n, 'WWW', {size = 30, align = 'right', color = {1, 0, 0}})"),
            "");
  DrawFrame();
  EXPECT_GT(InkIn(0, 0, 120, 40), 100);
  // Under the node's children: one filled over the whole node hides the text.
  ASSERT_EQ(Run("cover = n.createNode{left = 0, top = 0, width = 120, height = 40}\n"
                "kestrune.setFill(cover, {0, 0, 1})"),
            "");
  DrawFrame();
  EXPECT_EQ(InkIn(0, 0, 120, 40), 0);
  ASSERT_EQ(Run("kestrune.remove(cover)"), "");
  EXPECT_EQ(String("local text, style = kestrune.getText(n)\n"
                   "return table.concat({text, style.font, style.size, style.align,\n"
                   "  style.valign, style.lineHeight, table.concat(style.color, ',')}, ' ')"),
            "WWW sans 30 right top 1.2000000476837 1,0,0,1");

  // Taken away: nothing read back, nothing drawn, and the same holds for nil.
  ASSERT_EQ(Run("kestrune.setText(n)"), "");
  EXPECT_EQ(Number("return select('#', kestrune.getText(n))"), 0);
  DrawFrame();
  EXPECT_EQ(InkIn(0, 0, 120, 40), 0);
  ASSERT_EQ(Run("kestrune.setText(n, 'W')\nkestrune.setText(n, nil)"), "");
  EXPECT_EQ(Number("return select('#', kestrune.getText(n))"), 0);

  // A removed node's table takes the calls without an error and keeps nothing.
  ASSERT_EQ(Run("kestrune.setText(n, 'kept')\nkestrune.remove(n)\n"
                "kestrune.setText(n, 'again', {size = 12})"),
            "");
  EXPECT_EQ(Number("return select('#', kestrune.getText(n))"), 0);
  DrawFrame();
  EXPECT_TRUE(Host->Root->Children.empty());
}

TEST_F(SceneTextTest, WrongArgumentsRaiseTheirArgumentErrors) {
  ASSERT_EQ(Run("n = root.createNode{}"), "");
  const std::pair<const char*, const char*> cases[] = {
      {"kestrune.setText()", "bad argument #1 to 'setText' (should be a table)"},
      {"kestrune.setText({}, 'a')", "bad argument #1 to 'setText' (should be a node's table)"},
      {"kestrune.setText(n, {})", "bad argument #2 to 'setText' (should be a string)"},
      {"kestrune.setText(n, 'a', 'sans')", "bad argument #3 to 'setText' (should be a table)"},
      {"kestrune.setText(n, 'a', {}, 1)", "bad argument #4 to 'setText' (should not be passed)"},
      {"kestrune.setText(n, 'a', {colour = {1, 1, 1}})",
       "bad argument #3 to 'setText' (should be a style with only font, size, color, align, "
       "valign, "
       "lineHeight and lang)"},
      {"kestrune.setText(n, 'a', {size = 0})",
       "bad argument #3 to 'setText' (should have a size from 1 to 256)"},
      {"kestrune.setText(n, 'a', {size = 257})",
       "bad argument #3 to 'setText' (should have a size from 1 to 256)"},
      {"kestrune.setText(n, 'a', {font = 'comic'})",
       "bad argument #3 to 'setText' (should have a font that is a .ttf, .otf or .ttc file or "
       "\"sans\", \"serif\" or \"mono\")"},
      {"kestrune.setText(n, 'a', {align = 'middle'})",
       "bad argument #3 to 'setText' (should have an align of \"left\", \"center\" or \"right\")"},
      {"kestrune.setText(n, 'a', {color = {2, 0, 0}})",
       "bad argument #3 to 'setText' (should have a color {r, g, b [, a]} with each from 0 to 1)"},
      {"kestrune.getText(n, 1)", "bad argument #2 to 'getText' (should not be passed)"},
      {"kestrune.measureText()", "bad argument #1 to 'measureText' (should be a string)"},
      {"kestrune.measureText('a', nil, 0)",
       "bad argument #3 to 'measureText' (should be a width above 0)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Run(c.first), std::string("test:1: ") + c.second) << c.first;
}

TEST_F(SceneTextTest, AFontFileMissingOrNoFontIsSaidAndTheDefaultFamilyDrawsInstead) {
  WriteFile("broken.ttf", "this is no font at all");
  ASSERT_EQ(Run("n = root.createNode{left = 0, top = 0, width = 120, height = 40}\n"
                "kestrune.setFill(n, {0, 0, 1})"),
            "");
  for (const char* font : {"missing.ttf", "broken.ttf"}) {
    testing::internal::CaptureStderr();
    ASSERT_EQ(Run(std::string("kestrune.setText(n, 'WWW', {size = 30, font = '") + font + "'})"),
              "");
    outputqueue::FlushLines(10000);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(font), std::string::npos) << said;
    CLuaNode* node = Node({0});
    ASSERT_TRUE(node != nullptr && node->Text);
    EXPECT_EQ(node->Text->Style.font, "sans");
    DrawFrame();
    EXPECT_GT(InkIn(0, 0, 120, 40), 100) << font;
    ASSERT_EQ(Run("kestrune.setText(n)"), "");
  }
}

}  // namespace
