// Text laid out in a box: bidirectional order, shaping, font fallback, line breaking and
// alignment, as glyphs at logical positions.
#pragma once

#include <string>
#include <vector>

class TFont;

struct TTextStyle {
  // A family name ("sans", "serif", "mono") or the path of a font file, already resolved.
  std::string font = "sans";
  float size = 16;  // logical pixels per em
  float color[4] = {1, 1, 1, 1};
  // Auto follows the paragraph's direction: left for left-to-right, right for right-to-left.
  enum class Align { Auto, Left, Center, Right } align = Align::Auto;
  enum class VAlign { Top, Middle, Bottom } valign = VAlign::Top;
  float lineHeight = 1.2f;  // the line's pitch as a factor of the size
  std::string lang;         // BCP 47; empty: the environment's language
};

// A glyph's pen origin on its baseline, in logical units from the box's top-left corner, y down.
struct TPlacedGlyph {
  TFont* font;
  unsigned glyph;
  float x, y;
};

struct TTextLayout {
  std::vector<TPlacedGlyph> glyphs;
  // The extent of the lines kept: the widest line (trailing blanks aside) and the lines' pitch
  // times their number.
  float width = 0, height = 0;
};

// The language of texts whose style names none: the user's, unless set here (empty gives the
// user's back). A scene's tests set one, so that their pictures do not depend on the machine.
void SetDefaultTextLanguage(const std::string& lang);

// Lays `utf8` out in a box of boxWidth by boxHeight logical pixels: wrapped at the width by the
// Unicode line-breaking rules (a word wider than the box between its clusters), explicit line
// breaks kept, lines that do not fit cut at the bottom, aligned in the box. boxWidth <= 0: no
// wrapping, aligned within the widest line; boxHeight <= 0: no cut, valign from the top. Invalid
// UTF-8 shows as U+FFFD.
TTextLayout LayOutText(const std::string& utf8, const TTextStyle& style, float boxWidth,
                       float boxHeight);
