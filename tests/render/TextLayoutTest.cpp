// Text layout: wrapping, alignment, bidirectional order, shaping and font fallback, on the bundled
// fonts and the test fonts the set-up installs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/OutputQueue.h"
#include "platform/Platform.h"
#include "render/Fonts.h"
#include "render/TextLayout.h"
#include "tests/common/ScratchFolder.h"

namespace {

class TextLayoutTest : public testing::Test {
 protected:
  void TearDown() override {
    SetSystemFontFallback(true);
    ReleaseFonts();
  }

  static TFont* Sans() { return FamilyFont("sans"); }

  // The glyphs' x positions for the characters of `text` drawn in the sans family, by the glyph
  // each character has on its own.
  static float XOf(const TTextLayout& layout, uint32_t character) {
    const unsigned glyph = Sans()->GlyphFor(character);
    for (const TPlacedGlyph& placed : layout.glyphs)
      if (placed.font == Sans() && placed.glyph == glyph) return placed.x;
    ADD_FAILURE() << "no glyph for U+" << std::hex << character;
    return -1;
  }

  // Lays out, capturing what is written to standard error meanwhile.
  static TTextLayout LayOutCapturing(const std::string& text, const TTextStyle& style,
                                     std::string* said) {
    testing::internal::CaptureStderr();
    TTextLayout layout = LayOutText(text, style, 0, 0);
    outputqueue::FlushLines(10000);  // written by the output thread
    *said = testing::internal::GetCapturedStderr();
    return layout;
  }
};

TEST_F(TextLayoutTest, WrapsAtWordsBreaksATooLongWordAndCutsAtTheBottom) {
  TTextStyle style;
  const float pitch = style.size * style.lineHeight;
  const float twoWords = LayOutText("aaa bbb", style, 0, 0).width;
  ASSERT_GT(twoWords, 0);

  // Three words in a box for two: the third goes to a second line, from the left edge.
  // The space at the break neither shows nor counts.
  TTextLayout wrapped = LayOutText("aaa bbb ccc", style, twoWords + 1, 0);
  ASSERT_EQ(wrapped.glyphs.size(), 10u);
  EXPECT_FLOAT_EQ(wrapped.height, 2 * pitch);
  EXPECT_FLOAT_EQ(wrapped.width, twoWords);
  EXPECT_FLOAT_EQ(wrapped.glyphs[7].x, 0);
  EXPECT_FLOAT_EQ(wrapped.glyphs[7].y, wrapped.glyphs[0].y + pitch);

  // A word wider than the box breaks between characters, every line within the box, nothing
  // lost; an explicit line break is kept.
  const float threeLetters = LayOutText("mmm", style, 0, 0).width;
  TTextLayout broken = LayOutText("mmmmmmmmmm\nk", style, threeLetters + 0.5f, 0);
  EXPECT_EQ(broken.glyphs.size(), 11u);
  EXPECT_FLOAT_EQ(broken.height, 5 * pitch);  // mmm mmm mmm m k
  EXPECT_LE(broken.width, threeLetters + 0.5f);

  // A box of two and a half lines keeps two; a box lower than one line still shows the first.
  TTextLayout cut = LayOutText("a\nb\nc", style, 0, 2.5f * pitch);
  EXPECT_EQ(cut.glyphs.size(), 2u);
  EXPECT_FLOAT_EQ(cut.height, 2 * pitch);
  EXPECT_EQ(LayOutText("a\nb", style, 0, pitch / 2).glyphs.size(), 1u);
}

TEST_F(TextLayoutTest, AlignsEachLineInTheBoxAndFollowsTheParagraphsDirection) {
  TTextStyle style;
  const float width = LayOutText("ab", style, 0, 0).width;
  const float advanceOfB = width - LayOutText("a", style, 0, 0).width;
  const float box = 200;

  style.align = TTextStyle::Align::Right;
  EXPECT_FLOAT_EQ(LayOutText("ab", style, box, 0).glyphs[1].x + advanceOfB, box);
  style.align = TTextStyle::Align::Center;
  EXPECT_FLOAT_EQ(LayOutText("ab", style, box, 0).glyphs[0].x, (box - width) / 2);

  // Without an alignment a right-to-left paragraph goes right, a left-to-right one left, each
  // line on its own.
  style.align = TTextStyle::Align::Auto;
  TTextLayout mixed = LayOutText("\u05e9\u05dc\u05d5\u05dd\nab", style, box, 0);
  EXPECT_GT(XOf(mixed, 0x05E9), box / 2);
  EXPECT_FLOAT_EQ(XOf(mixed, 'a'), 0);

  // Middle and bottom in a box's height.
  const float pitch = style.size * style.lineHeight;
  style.valign = TTextStyle::VAlign::Bottom;
  TTextLayout bottom = LayOutText("a", style, box, 100);
  style.valign = TTextStyle::VAlign::Top;
  TTextLayout top = LayOutText("a", style, box, 100);
  EXPECT_FLOAT_EQ(bottom.glyphs[0].y - top.glyphs[0].y, 100 - pitch);
}

TEST_F(TextLayoutTest, ArabicJoinsAndRunsRightToLeft) {
  // Seen, lam, alef, meem: the first letter is rightmost, in its initial form (which it also
  // takes before another seen), and seen and lam do not keep the forms they have on their own.
  const auto rightmost = [](const TTextLayout& layout) {
    return *std::max_element(
        layout.glyphs.begin(), layout.glyphs.end(),
        [](const TPlacedGlyph& a, const TPlacedGlyph& b) { return a.x < b.x; });
  };
  TTextLayout word = LayOutText("\u0633\u0644\u0627\u0645", TTextStyle(), 0, 0);
  TTextLayout seenSeen = LayOutText("\u0633\u0633", TTextStyle(), 0, 0);
  ASSERT_FALSE(word.glyphs.empty());
  ASSERT_EQ(seenSeen.glyphs.size(), 2u);
  const unsigned initialSeen = rightmost(seenSeen).glyph;
  EXPECT_NE(initialSeen, Sans()->GlyphFor(0x0633));
  EXPECT_EQ(rightmost(word).glyph, initialSeen);
  for (const TPlacedGlyph& placed : word.glyphs) {
    EXPECT_NE(placed.glyph, 0u);
    EXPECT_NE(placed.glyph, Sans()->GlyphFor(0x0633));
    EXPECT_NE(placed.glyph, Sans()->GlyphFor(0x0644));
  }
}

TEST_F(TextLayoutTest, MixedDirectionsKeepTheirOrder) {
  TTextStyle style;
  // Left to right with a Hebrew word and a number after it: abc, then the number, which reads
  // left to right but belongs to the Hebrew, then the word's letters reversed.
  TTextLayout ltr = LayOutText("abc \u05e9\u05dc\u05d5\u05dd 123", style, 0, 0);
  EXPECT_LT(XOf(ltr, 'c'), XOf(ltr, '1'));
  EXPECT_LT(XOf(ltr, '1'), XOf(ltr, '3'));
  EXPECT_LT(XOf(ltr, '3'), XOf(ltr, 0x05DD));  // final mem, the word's last letter
  EXPECT_LT(XOf(ltr, 0x05DD), XOf(ltr, 0x05E9));

  // Right to left with Latin and a number after it: the Hebrew word rightmost, then to its left
  // "abc 12" reading left to right.
  TTextLayout rtl = LayOutText("\u05e9\u05dc\u05d5\u05dd abc 12", style, 0, 0);
  EXPECT_LT(XOf(rtl, 'a'), XOf(rtl, 'c'));
  EXPECT_LT(XOf(rtl, 'c'), XOf(rtl, '1'));
  EXPECT_LT(XOf(rtl, '1'), XOf(rtl, '2'));
  EXPECT_LT(XOf(rtl, '2'), XOf(rtl, 0x05DD));
  EXPECT_LT(XOf(rtl, 0x05DD), XOf(rtl, 0x05E9));
}

TEST_F(TextLayoutTest, EveryScriptShowsWithoutMissingGlyphBoxesFromTheFontThatHasIt) {
  struct Case {
    const char* text;
    const char* lang;
    const char* file;  // the font file the script's glyphs come from
  };
  const Case cases[] = {
      {"Hello", "en", "DejaVuSans.ttf"},
      {"\u041f\u0440\u0438\u0432\u0435\u0442", "ru", "DejaVuSans.ttf"},
      {"\u0393\u03b5\u03b9\u03ac", "el", "DejaVuSans.ttf"},
      {"\u0645\u0631\u062d\u0628\u0627", "ar", "DejaVuSans.ttf"},
      {"\u05e9\u05dc\u05d5\u05dd", "he", "DejaVuSans.ttf"},
      {"\u0928\u092e\u0938\u094d\u0924\u0947", "hi", "Lohit-Devanagari.ttf"},
      {"\u4f60\u597d\u4e16\u754c", "zh", "DroidSansFallback"},
      {"\u3053\u3093\u306b\u3061\u306f", "ja", "DroidSansFallback"},
  };
  for (const Case& c : cases) {
    TTextStyle style;
    style.lang = c.lang;
    TTextLayout layout = LayOutText(c.text, style, 0, 0);
    ASSERT_FALSE(layout.glyphs.empty()) << c.lang;
    for (const TPlacedGlyph& placed : layout.glyphs) {
      EXPECT_NE(placed.glyph, 0u) << c.lang;
      EXPECT_NE(placed.font->Path().find(c.file), std::string::npos)
          << c.lang << ": " << placed.font->Path();
    }
  }
  // Devanagari forms its conjunct: ka, virama, ssa is one glyph, not three.
  TTextStyle hindi;
  hindi.lang = "hi";
  EXPECT_EQ(LayOutText("\u0915\u094d\u0937", hindi, 0, 0).glyphs.size(), 1u);

  // With the system's fonts switched off, a character the bundled fonts lack is the text's own
  // font's missing-glyph box, never nothing.
  ReleaseFonts();
  SetSystemFontFallback(false);
  TTextLayout box = LayOutText("a\u4f60", TTextStyle(), 0, 0);
  ASSERT_EQ(box.glyphs.size(), 2u);
  EXPECT_EQ(box.glyphs[1].glyph, 0u);
  EXPECT_EQ(box.glyphs[1].font, Sans());
  EXPECT_GT(box.width, LayOutText("a", TTextStyle(), 0, 0).width);
}

TEST_F(TextLayoutTest, AFontFileThatCannotBeUsedSaysSoOnceAndTheDefaultFamilyShows) {
  testfs::ScratchFolder folder("kestrune-fonts");
  const std::string damaged = folder.Write("damaged.ttf", std::string("\0\1\0\0not a font", 14));
  for (const std::string& path : {folder.File("missing.ttf"), damaged}) {
    TTextStyle style;
    style.font = path;
    std::string said;
    TTextLayout layout = LayOutCapturing("Ab", style, &said);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find(path), std::string::npos) << said;
    ASSERT_EQ(layout.glyphs.size(), 2u);
    EXPECT_EQ(layout.glyphs[0].font, Sans());
    EXPECT_NE(layout.glyphs[0].glyph, 0u);
    // Every frame lays the text out again: the message is not repeated.
    LayOutCapturing("Ab", style, &said);
    EXPECT_EQ(said, "");
  }
}

TEST_F(TextLayoutTest, InvalidUtf8IsReplacedAndInvisibleCharactersShowNothing) {
  // A stray byte, a cut sequence, an encoded surrogate and an overlong form: one U+FFFD each
  // (the surrogate's and the overlong form's bytes one each as well).
  TTextLayout bad = LayOutText(
      "a\xff"
      "b\xe2\x82"
      "c\xed\xa0\x80"
      "d\xc0\xaf",
      TTextStyle(), 0, 0);
  const unsigned replacement = Sans()->GlyphFor(0xFFFD);
  ASSERT_NE(replacement, 0u);
  size_t replaced = 0;
  for (const TPlacedGlyph& placed : bad.glyphs) replaced += placed.glyph == replacement;
  EXPECT_EQ(bad.glyphs.size(), 4 + replaced);
  EXPECT_EQ(replaced, 1u + 1u + 3u + 2u);
  // The noncharacter U+FFFF is what the line breaker takes for the end of the text.
  EXPECT_EQ(LayOutText("a\uffffb c", TTextStyle(), 1, 0).glyphs.size(), 4u);

  // A joiner, a direction mark, a byte-order mark and a control character take neither a glyph
  // nor room.
  TTextLayout hidden = LayOutText(
      "a\u200d\u200e\ufeff\x01"
      "b",
      TTextStyle(), 0, 0);
  EXPECT_EQ(hidden.glyphs.size(), 2u);
  EXPECT_FLOAT_EQ(hidden.width, LayOutText("ab", TTextStyle(), 0, 0).width);
}

}  // namespace
