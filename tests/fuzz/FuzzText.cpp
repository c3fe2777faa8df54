// libFuzzer entry for the text layout: arbitrary bytes as text under styles and boxes taken from
// the input's first bytes, with every glyph placed checked and a few rasterised.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Platform.h"
#include "render/Fonts.h"
#include "render/TextLayout.h"

namespace {

// The style's bytes at the input's start (keep in step with text_seeds() in make_seeds.py).
constexpr size_t StyleBytes = 12;

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_text: %s\n", what);
  std::abort();
}

float Unit(uint8_t byte) {
  return byte / 255.0f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < StyleBytes) return 0;
  static const char* const fonts[] = {"sans", "serif", "mono", "", "no-such-font.ttf"};
  static const char* const langs[] = {"", "en", "ar", "he", "hi", "ja", "zh-TW", "x-\xff_"};
  TTextStyle style;
  style.font = fonts[data[0] % 5];
  // Sizes past the bounds and odd line heights are the caller's to refuse, but must not break
  // the layout either.
  style.size = data[1] == 255 ? NAN : float(data[1]) * 1.25f - 10;
  style.align = TTextStyle::Align(data[2] % 4);
  style.valign = TTextStyle::VAlign(data[3] % 3);
  style.lineHeight = data[4] == 255 ? INFINITY : Unit(data[4]) * 4 - 0.5f;
  style.lang = langs[data[5] % 8];
  const float boxWidth = data[6] == 255 ? NAN : float(data[6] | (data[7] << 8)) / 16 - 100;
  const float boxHeight = float(data[8] | (data[9] << 8)) / 16 - 100;
  // Through the system's fonts only now and then: each new character costs fontconfig a sort.
  SetSystemFontFallback((data[10] & 7) == 0);
  const bool rasterise = data[11] & 1;

  const std::string text(reinterpret_cast<const char*>(data + StyleBytes), size - StyleBytes);
  const TTextLayout layout = LayOutText(text, style, boxWidth, boxHeight);
  if (!std::isfinite(layout.width) || !std::isfinite(layout.height) || layout.width < 0 ||
      layout.height < 0)
    Fail("the layout's extent is not a size");
  int rasterised = 0;
  for (const TPlacedGlyph& glyph : layout.glyphs) {
    if (!glyph.font) Fail("a glyph without a font");
    if (!std::isfinite(glyph.x) || !std::isfinite(glyph.y)) Fail("a glyph off every position");
    if (rasterise && rasterised < 8) {
      TGlyphBitmap bitmap;
      if (RasteriseGlyph(glyph.font, glyph.glyph, 1 + data[1] % 64, &bitmap) &&
          bitmap.coverage.size() != size_t(bitmap.width) * size_t(bitmap.height))
        Fail("a bitmap whose coverage is not its size");
      ++rasterised;
    }
  }
  // A scene started again now and then: everything is opened anew afterwards.
  static unsigned runs = 0;
  if (++runs % 2000 == 0) ReleaseFonts();
  return 0;
}
