// Font files opened once per scene, the bundled families and FreeType's rasteriser.
#include "render/Fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "platform/Platform.h"

struct TFont::Native {
  std::vector<unsigned char> bytes;  // both FreeType and HarfBuzz read the file from here
  FT_Face face = nullptr;
  float sizeSet = 0;  // the pixel size the face was last set to
};

namespace {

// A font file larger than this is refused rather than read whole: the largest CJK fonts are
// about 30 MB.
constexpr int64_t MaxFontFileBytes = int64_t(64) << 20;

// FreeType's state and every face asked for, by file and face; a face that failed stays listed
// as nullptr so that its message is written once.
struct TFontState {
  FT_Library library = nullptr;
  std::map<std::pair<std::string, int>, std::unique_ptr<TFont>> fonts;
  // The system's fonts that answered a character before, by language, in the order found; and
  // the characters no font of the system has, which are not asked for again.
  std::map<std::string, std::vector<TFont*>> fallbacks;
  std::set<std::pair<std::string, uint32_t>> missing;
  TFont* families[3] = {};
  bool familyLooked[3] = {};
};
TFontState* state = nullptr;
// Set while the system's fonts are tried for a character: one that FreeType cannot use (a colour
// bitmap font, a damaged file) is passed over without a word, as the user never named it.
bool quietOpen = false;

TFontState& State() {
  if (!state) state = new TFontState();
  return *state;
}

bool ReadFontFile(const std::string& path, std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const int64_t size = GetFileSize64(file);
  bool ok = size > 0 && size <= MaxFontFileBytes;
  if (ok) {
    bytes.resize(size_t(size));
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD read = 0;
      const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1 << 20));
      if (!ReadFile(file, &bytes[done], chunk, &read, nullptr) || read == 0) break;
      done += read;
    }
    ok = done == bytes.size();
  }
  CloseHandle(file);
  return ok;
}

}  // namespace

TFont::TFont() : native_(new Native()) {}

TFont::~TFont() {
  if (shaper_) hb_font_destroy(shaper_);
  if (native_->face) FT_Done_Face(native_->face);
}

unsigned TFont::GlyphFor(uint32_t character) const {
  hb_codepoint_t glyph = 0;
  return hb_font_get_nominal_glyph(shaper_, character, &glyph) ? unsigned(glyph) : 0;
}

TFont* OpenFont(const std::string& path, int index) {
  TFontState& fonts = State();
  const auto key = std::make_pair(path, index);
  const auto known = fonts.fonts.find(key);
  if (known != fonts.fonts.end()) return known->second.get();
  std::unique_ptr<TFont>& slot = fonts.fonts[key];

  std::unique_ptr<TFont> font(new TFont());
  font->path_ = path;
  font->index_ = index;
  TFont::Native& native = *font->native_;
  if (!ReadFontFile(path, native.bytes)) {
    if (!quietOpen) WriteErrorLine("Font file " + path + " cannot be read");
    return nullptr;
  }
  if (!fonts.library && FT_Init_FreeType(&fonts.library) != 0) {
    fonts.library = nullptr;
    WriteErrorLine("The font rasteriser cannot be started; text is not shown");
    return nullptr;
  }
  if (index < 0 ||
      FT_New_Memory_Face(fonts.library, native.bytes.data(), FT_Long(native.bytes.size()),
                         FT_Long(index), &native.face) != 0 ||
      !FT_IS_SCALABLE(native.face) || native.face->units_per_EM == 0) {
    if (native.face) FT_Done_Face(native.face);
    native.face = nullptr;
    if (!quietOpen) WriteErrorLine("Font file " + path + " is not a font");
    return nullptr;
  }
  // HarfBuzz reads the same bytes, without a copy; the font outlives its blob's users.
  hb_blob_t* blob =
      hb_blob_create(reinterpret_cast<const char*>(native.bytes.data()),
                     unsigned(native.bytes.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr);
  hb_face_t* face = hb_face_create(blob, unsigned(index));
  hb_blob_destroy(blob);
  font->shaper_ = hb_font_create(face);
  hb_face_destroy(face);
  const int upem = int(native.face->units_per_EM);
  // Unhinted and at the face's own units: the same advances at every size and scale.
  hb_font_set_scale(font->shaper_, upem, upem);
  hb_ot_font_set_funcs(font->shaper_);
  font->unitsPerEm_ = upem;
  hb_font_extents_t extents;
  if (hb_font_get_h_extents(font->shaper_, &extents) && extents.ascender > extents.descender) {
    font->ascent_ = int(extents.ascender);
    font->descent_ = int(-extents.descender);
  } else {
    font->ascent_ = upem * 4 / 5;
    font->descent_ = upem / 5;
  }
  slot = std::move(font);
  return slot.get();
}

TFont* FamilyFont(const std::string& family) {
  static const char* const files[] = {"DejaVuSans.ttf", "DejaVuSerif.ttf", "DejaVuSansMono.ttf"};
  const int which = family == "sans" ? 0 : family == "serif" ? 1 : family == "mono" ? 2 : -1;
  if (which < 0) return nullptr;
  // Asked for every character that the text's font lacks: the answer is kept.
  TFontState& fonts = State();
  if (!fonts.familyLooked[which]) {
    fonts.families[which] = OpenFont(BundledFontFolder() + files[which], 0);
    fonts.familyLooked[which] = true;
  }
  return fonts.families[which];
}

TFont* FallbackFont(uint32_t character, const std::string& lang) {
  for (const char* family : {"sans", "serif", "mono"}) {
    TFont* font = FamilyFont(family);
    if (font && font->HasGlyph(character)) return font;
  }
  if (!SystemFontFallback()) return nullptr;
  TFontState& fonts = State();
  std::vector<TFont*>& found = fonts.fallbacks[lang];
  for (TFont* font : found)
    if (font->HasGlyph(character)) return font;
  const auto key = std::make_pair(lang, character);
  if (fonts.missing.count(key)) return nullptr;
  for (const TFontFile& file : FallbackFontFiles(character, lang)) {
    quietOpen = true;
    TFont* font = OpenFont(file.path, file.index);
    quietOpen = false;
    if (!font || !font->HasGlyph(character)) continue;
    if (std::find(found.begin(), found.end(), font) == found.end()) found.push_back(font);
    return font;
  }
  // Bounded: a scene that shows random characters must not grow the list without end.
  if (fonts.missing.size() >= 65536) fonts.missing.clear();
  fonts.missing.insert(key);
  return nullptr;
}

bool RasteriseGlyph(TFont* font, unsigned glyphId, float pixelSize, TGlyphBitmap* bitmap) {
  *bitmap = TGlyphBitmap();
  if (!font || !(pixelSize > 0) || pixelSize > 4096) return false;
  TFont::Native& native = font->NativeData();
  FT_Face face = native.face;
  if (glyphId >= unsigned(face->num_glyphs)) return false;
  if (native.sizeSet != pixelSize) {
    if (FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(pixelSize * 64)), 72, 72) != 0)
      return false;
    native.sizeSet = pixelSize;
  }
  // Light hinting keeps the shapes the unhinted advances were measured with, and stems crisp.
  if (FT_Load_Glyph(face, glyphId, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT) != 0 &&
      FT_Load_Glyph(face, glyphId, FT_LOAD_DEFAULT) != 0)
    return false;
  FT_GlyphSlot slot = face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
    return false;
  const FT_Bitmap& source = slot->bitmap;
  bitmap->width = int(source.width);
  bitmap->height = int(source.rows);
  bitmap->left = slot->bitmap_left;
  bitmap->top = slot->bitmap_top;
  bitmap->coverage.assign(size_t(bitmap->width) * size_t(bitmap->height), 0);
  for (int y = 0; y < bitmap->height; ++y) {
    const unsigned char* row = source.buffer + ptrdiff_t(y) * source.pitch;
    unsigned char* out = &bitmap->coverage[size_t(y) * size_t(bitmap->width)];
    for (int x = 0; x < bitmap->width; ++x) {
      switch (source.pixel_mode) {
        case FT_PIXEL_MODE_GRAY:
          out[x] = source.num_grays == 256
                       ? row[x]
                       : (unsigned char)(row[x] * 255 / std::max(1, source.num_grays - 1));
          break;
        case FT_PIXEL_MODE_MONO:
          out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
          break;
        case FT_PIXEL_MODE_BGRA:  // a colour bitmap: its shape, in the text's colour
          out[x] = row[x * 4 + 3];
          break;
        default:
          return false;
      }
    }
  }
  return true;
}

void ReleaseFonts() {
  if (!state) return;
  // The faces go before the library that made them.
  state->fonts.clear();
  if (state->library) FT_Done_FreeType(state->library);
  delete state;
  state = nullptr;
}
