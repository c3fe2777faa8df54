// A label drawn on the screen against the image its glyphs' coverage makes when composited by
// hand, at scale 1 and at a fractional scale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "ScreenSupport.h"
#include "bind/GLBind.h"
#include "render/Fonts.h"
#include "render/GlyphAtlas.h"
#include "render/Label.h"
#include "render/TextLayout.h"

using namespace GLBind;

namespace {

struct TPixel {
  float R, G, B;
};

class TextDrawTest : public ScreenTest {};

// The label as it should come out: every glyph's coverage at its pen origin snapped to a device
// pixel, composited over the fill with the premultiplied colour, in the order of the layout.
std::vector<TPixel> Expected(const TLabel& label, const TFloatRect& dest, const float fill[3],
                             float opacity, float units, int left, int top, int width, int height) {
  std::vector<TPixel> image(size_t(width) * size_t(height), TPixel{fill[0], fill[1], fill[2]});
  const TTextLayout layout = LayOutText(label.Text, label.Style, dest.Width, 0);
  const float* c = label.Style.color;
  const float alpha = c[3] * opacity;
  for (const TPlacedGlyph& glyph : layout.glyphs) {
    TGlyphBitmap bitmap;
    if (!RasteriseGlyph(glyph.font, glyph.glyph, label.Style.size * units, &bitmap)) continue;
    const long penX = std::lround((dest.Left + glyph.x) * units);
    const long penY = std::lround((dest.Top + glyph.y) * units);
    for (int row = 0; row < bitmap.height; ++row) {
      for (int column = 0; column < bitmap.width; ++column) {
        const long x = penX + bitmap.left + column - left;
        const long y = penY - bitmap.top + row - top;
        if (x < 0 || y < 0 || x >= width || y >= height) continue;
        const float coverage =
            bitmap.coverage[size_t(row) * size_t(bitmap.width) + column] / 255.0f;
        TPixel& p = image[size_t(y) * size_t(width) + size_t(x)];
        const float a = alpha * coverage;
        p.R = c[0] * a + p.R * (1 - a);
        p.G = c[1] * a + p.G * (1 - a);
        p.B = c[2] * a + p.B * (1 - a);
      }
    }
  }
  return image;
}

TEST_F(TextDrawTest, ALabelIsItsGlyphsCoverageOnWholeDevicePixelsAtEveryScale) {
  for (const float scale : {1.0f, 1.5f}) {
    SCOPED_TRACE(scale);
    ASSERT_TRUE(OpenScreen(int(800 * scale), int(600 * scale)));
    Screen->Scale = scale;
    TLabel label;
    label.Text = "Wavy glyphs, 42%\nkerned: AV To";
    label.Style.size = 19;
    label.Style.color[0] = 1;
    label.Style.color[1] = 0.6f;
    label.Style.color[2] = 0.2f;
    label.Style.color[3] = 0.8f;
    // Fractional on purpose: the origins must land on whole pixels all the same.
    const TFloatRect dest{30.3f, 40.6f, 300, 80};
    const float fill[4] = {0.1f, 0.2f, 0.5f, 1};
    const float opacity = 0.75f;

    Screen->BeginFrame();
    Screen->DrawFill(dest, fill, 1);
    Screen->DrawLabel(label, dest, opacity);
    glFinish();
    const int left = int(std::floor(dest.Left * scale)) + 1;
    const int top = int(std::floor(dest.Top * scale)) + 1;
    const int width = int(dest.Width * scale) - 2;
    const int height = int(dest.Height * scale) - 2;
    std::vector<uint8_t> frame(size_t(width) * size_t(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(left, int(Screen->ClientHeight) - top - height, width, height, GL_RGBA,
                 GL_UNSIGNED_BYTE, frame.data());
    Screen->EndFrame();

    const std::vector<TPixel> expected =
        Expected(label, dest, fill, opacity, scale, left, top, width, height);
    int inked = 0;
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const TPixel& want = expected[size_t(y) * size_t(width) + size_t(x)];
        // Rows come bottom up from the frame.
        const uint8_t* got = &frame[(size_t(height - 1 - y) * size_t(width) + size_t(x)) * 4];
        const float wantRgb[3] = {want.R * 255, want.G * 255, want.B * 255};
        if (std::fabs(wantRgb[0] - fill[0] * 255) > 8) ++inked;
        bool close = true;
        for (int i = 0; i < 3; ++i) close = close && std::fabs(got[i] - wantRgb[i]) <= 3;
        if (!close && ++wrong <= 5)
          ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << int(got[0]) << " "
                        << int(got[1]) << " " << int(got[2]) << ", expected " << wantRgb[0] << " "
                        << wantRgb[1] << " " << wantRgb[2];
      }
    }
    EXPECT_EQ(wrong, 0);
    // Two lines of glyphs, not an empty label matching an empty reference.
    EXPECT_GT(inked, int(200 * scale * scale));
    // One atlas for the one font at the one size.
    ASSERT_TRUE(Screen->Glyphs);
    EXPECT_EQ(Screen->Glyphs->AtlasCount(), 1u);
  }
}

// An atlas that must give way keeps what the frame already drew: the glyphs queued before the
// atlas was emptied are drawn from what it held then.
TEST_F(TextDrawTest, GlyphsPastTheBudgetStillDrawEveryGlyphOfTheLabel) {
  TLabel label;
  label.Text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  label.Style.size = 120;
  const TFloatRect dest{0, 0, 800, 600};
  const float black[4] = {0, 0, 0, 1};
  // The frame as a roomy cache draws it, then again with room for one small atlas only.
  std::vector<uint8_t> frames[2];
  for (int pass = 0; pass < 2; ++pass) {
    Screen->ClearText();
    if (pass == 1) Screen->Glyphs = std::make_unique<CGlyphCache>(256 * 256);
    label.Laid = false;
    Screen->BeginFrame();
    Screen->DrawFill(dest, black, 1);
    Screen->DrawLabel(label, dest, 1);
    glFinish();
    frames[pass].resize(800 * 600 * 4);
    glReadPixels(0, 0, 800, 600, GL_RGBA, GL_UNSIGNED_BYTE, frames[pass].data());
    Screen->EndFrame();
  }
  EXPECT_LE(Screen->Glyphs->Texels(), size_t(256 * 256));
  long lit = 0;
  for (size_t i = 0; i < frames[0].size(); i += 4) lit += frames[0][i] > 128;
  EXPECT_GT(lit, 10000);
  EXPECT_TRUE(frames[0] == frames[1]);
}

}  // namespace
