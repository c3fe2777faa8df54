// Font files for text: faces opened once and kept until the scene starts again, the three
// bundled families, and glyph bitmaps rasterised at a device size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct hb_font_t;

// One face of one font file: its bytes, the FreeType face that rasterises it and the HarfBuzz
// font that shapes it. Shaping runs at the face's own units per em, unhinted, so that advances
// and line breaks never depend on the display's scale; LogicalScale turns those units into
// logical pixels at a text size.
class TFont {
 public:
  ~TFont();
  TFont(const TFont&) = delete;
  TFont& operator=(const TFont&) = delete;

  const std::string& Path() const { return path_; }
  int Index() const { return index_; }
  // The face's glyph for a character, 0 when its character map lacks it.
  unsigned GlyphFor(uint32_t character) const;
  bool HasGlyph(uint32_t character) const { return GlyphFor(character) != 0; }
  // Font units to logical pixels at `size` (logical pixels per em).
  float LogicalScale(float size) const { return size / float(unitsPerEm_); }
  // The line's extent above and below the baseline, in font units (both positive).
  int Ascent() const { return ascent_; }
  int Descent() const { return descent_; }
  hb_font_t* Shaper() const { return shaper_; }

  struct Native;
  Native& NativeData() const { return *native_; }

 private:
  TFont();
  friend TFont* OpenFont(const std::string& path, int index);
  std::string path_;
  int index_ = 0;
  int unitsPerEm_ = 1000;
  int ascent_ = 800;
  int descent_ = 200;
  hb_font_t* shaper_ = nullptr;
  std::unique_ptr<Native> native_;
};

// The face `index` of a font file (.ttf, .otf, .ttc), opened on first request and kept; nullptr,
// with one line on standard error the first time, when it cannot be read or is not a font.
TFont* OpenFont(const std::string& path, int index);
// "sans", "serif" or "mono": the bundled DejaVu files, loaded by their path so that no font
// configuration of the user's can remap them; nullptr for any other name.
TFont* FamilyFont(const std::string& family);

// A font for a character that the text's own font lacks, for text in `lang` (BCP 47): the bundled
// families first, then the system's fonts unless SystemFontFallback() is off (those found before
// for the language first, so that a text keeps to few fonts); nullptr when no font has it.
TFont* FallbackFont(uint32_t character, const std::string& lang);

// A glyph's coverage, 8 bits a pixel, rows top to bottom; left and top place its top-left corner
// from the pen origin on the baseline, y up.
struct TGlyphBitmap {
  int width = 0, height = 0, left = 0, top = 0;
  std::vector<unsigned char> coverage;
};
// Rasterises a glyph anti-aliased at `pixelSize` device pixels per em. False when the font has
// no such glyph or FreeType fails; a glyph without ink (a space) gives true and an empty bitmap.
bool RasteriseGlyph(TFont* font, unsigned glyphId, float pixelSize, TGlyphBitmap* bitmap);

// Frees every font and the font libraries' state: the scene started again. Nothing is set up
// again until text is next asked for.
void ReleaseFonts();
