// Drawing a label: its layout for the rectangle's width, cut and placed in the rectangle's
// height, each glyph on a whole device pixel and drawn from its font's atlas.
#include <algorithm>
#include <cmath>
#include <exception>

#include "bind/GLBind.h"
#include "render/Fonts.h"
#include "render/GlyphAtlas.h"
#include "render/Graph_un.h"
#include "render/Label.h"

using namespace GLBind;

namespace {

// The line of a glyph whose baseline is at `y`, the first line's baseline at `first`.
long LineOf(float y, float first, float pitch) {
  return pitch > 0 ? std::lround((y - first) / pitch) : 0;
}

}  // namespace

void CGLScreen::DrawLabel(TLabel& label, const TFloatRect& dest, float opacity) {
  if (label.Text.empty()) return;
  const TTextStyle& style = label.Style;
  const float alpha = style.color[3] * opacity;
  if (!(alpha > 0)) return;
  // A rectangle of negative size covers the same area as its mirror.
  const float left = std::min(dest.Left, dest.Left + dest.Width);
  const float top = std::min(dest.Top, dest.Top + dest.Height);
  const float width = std::fabs(dest.Width);
  const float height = std::fabs(dest.Height);
  try {
    if (!label.Laid || label.LaidWidth != width) {
      TTextStyle topAligned = style;
      topAligned.valign = TTextStyle::VAlign::Top;
      label.Layout = LayOutText(label.Text, topAligned, width, 0);
      label.Laid = true;
      label.LaidWidth = width;
    }
    const TTextLayout& layout = label.Layout;
    if (layout.glyphs.empty()) return;

    // Lines whose baseline falls below the rectangle are cut; what is left is placed in it.
    const float pitch = style.size * style.lineHeight;
    float first = layout.glyphs.front().y;
    for (const TPlacedGlyph& glyph : layout.glyphs) first = std::min(first, glyph.y);
    float shown = layout.height;
    float lowest = layout.glyphs.front().y;
    for (const TPlacedGlyph& glyph : layout.glyphs) lowest = std::max(lowest, glyph.y);
    bool cut = false;
    float lastBaseline = lowest;
    if (height > 0 && layout.height > height && lowest > height) {
      cut = true;
      lastBaseline = first - 1;
      for (const TPlacedGlyph& glyph : layout.glyphs)
        if (glyph.y <= height) lastBaseline = std::max(lastBaseline, glyph.y);
      if (lastBaseline < first) return;
      shown = float(LineOf(lastBaseline, first, pitch) + 1) * pitch;
    }
    float offset = 0;
    if (height > 0 && style.valign == TTextStyle::VAlign::Middle) offset = (height - shown) / 2;
    if (height > 0 && style.valign == TTextStyle::VAlign::Bottom) offset = height - shown;

    if (!Glyphs) Glyphs = std::make_unique<CGlyphCache>();
    const float unitsX = SceneWidth > 0 ? SceneWidth / float(LogicalWidth) : Scale;
    const float unitsY = SceneHeight > 0 ? SceneHeight / float(LogicalHeight) : Scale;
    const float pixelSize = style.size * unitsY;
    SetBlending(true);
    UntexturedBound = false;
    // Premultiplied, as the blending takes it; the atlas's intensity scales all four.
    glColor4f(style.color[0] * alpha, style.color[1] * alpha, style.color[2] * alpha, alpha);
    for (const TPlacedGlyph& glyph : layout.glyphs) {
      if (cut && glyph.y > lastBaseline) continue;
      // Asked for each glyph: an atlas that grows may push out another one, this label's too.
      CGlyphAtlas* atlas = Glyphs->Atlas(glyph.font, pixelSize);
      const TGlyphSlot* slot = atlas->Slot(glyph.glyph);
      if (slot == nullptr) continue;
      // Pen origins on whole device pixels: the coverage lands texel for pixel, crisp at any
      // scale, while the advances between them stay those of the layout.
      const long x = std::lround((left + glyph.x) * unitsX);
      const long y = std::lround((top + offset + glyph.y) * unitsY);
      atlas->Queue(*slot, x, y, unitsX, unitsY, float(LogicalHeight));
    }
    Glyphs->FlushAll();
    glColor4f(1, 1, 1, 1);
  } catch (const std::exception& error) {
    // Out of memory, in practice: the label is not drawn this frame, and the frame goes on.
    if (Glyphs) Glyphs->FlushAll();
    glColor4f(1, 1, 1, 1);
    label.Laid = false;
    WriteErrorLine(std::string("kestrune: a text cannot be drawn: ") + error.what());
  }
}

void CGLScreen::ClearText() {
  Glyphs.reset();
  ReleaseFonts();
}
