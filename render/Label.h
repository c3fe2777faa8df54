// A node's text as the scene set it, with the layout drawing keeps from frame to frame.
#pragma once

#include <cstdint>
#include <string>

#include "render/TextLayout.h"

struct TLabel {
  std::string Text;
  // Its font is a family name or a file's resolved path; `valign` is applied when drawing, so
  // that a change of the rectangle's height alone never lays the text out again.
  TTextStyle Style;
  std::string FontName;  // the font as the scene named it, for getText
  // The layout for LaidWidth; thrown away when the text or the style changes.
  bool Laid = false;
  float LaidWidth = 0;
  TTextLayout Layout;
};
