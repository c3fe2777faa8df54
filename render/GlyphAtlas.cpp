// The glyph atlases: packing rasterised glyphs into intensity textures, growing and emptying
// them, and drawing their queued quads.
#include "render/GlyphAtlas.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bind/GLBind.h"
#include "render/Fonts.h"

using namespace GLBind;

namespace {

// Small enough that a label of one size costs little; each growth doubles the side.
constexpr int FirstSide = 256;
constexpr int LargestSide = 2048;
// Between glyphs, so that no quad's edge can ever take a texel of its neighbour.
constexpr int Gap = 1;

}  // namespace

CGlyphAtlas::CGlyphAtlas(CGlyphCache& owner, TFont* font, int size64)
    : Font(font), Size64(size64), Owner(owner) {}

CGlyphAtlas::~CGlyphAtlas() {
  if (Texture != 0) {
    GLuint name = Texture;
    glDeleteTextures(1, &name);
  }
}

bool CGlyphAtlas::Place(int width, int height, int* x, int* y) {
  if (ShelfX + width + Gap > Side) {
    ShelfY += ShelfHeight;
    ShelfX = 0;
    ShelfHeight = 0;
  }
  if (ShelfX + width + Gap > Side || ShelfY + height + Gap > Side) return false;
  *x = ShelfX;
  *y = ShelfY;
  ShelfX += width + Gap;
  ShelfHeight = std::max(ShelfHeight, height + Gap);
  return true;
}

bool CGlyphAtlas::Grow() {
  const int side = Side == 0 ? FirstSide : Side * 2;
  if (side > Owner.MaxSide()) return false;
  if (!Owner.MakeRoom(size_t(side) * size_t(side) - Texels(), this)) return false;
  std::vector<unsigned char> pixels(size_t(side) * size_t(side), 0);
  for (int row = 0; row < Side; ++row)
    std::memcpy(&pixels[size_t(row) * size_t(side)], &Pixels[size_t(row) * size_t(Side)],
                size_t(Side));
  // The shelf being filled gets the new width as well; the ones above it are full.
  Pixels.swap(pixels);
  Side = side;
  if (Texture == 0) {
    GLuint name = 0;
    glGenTextures(1, &name);
    Texture = name;
    glBindTexture(GL_TEXTURE_2D, Texture);
    // Coverage as FreeType made it: no filtering, no mipmaps.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  } else {
    glBindTexture(GL_TEXTURE_2D, Texture);
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  // Intensity: the modulated colour is the premultiplied colour times the coverage, alpha too.
  glTexImage2D(GL_TEXTURE_2D, 0, GL_INTENSITY8, Side, Side, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
               Pixels.data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  return true;
}

void CGlyphAtlas::Empty() {
  // What is queued samples the glyphs as they are; drawn first, it keeps them.
  Flush();
  Slots.clear();
  ShelfX = ShelfY = ShelfHeight = 0;
}

const TGlyphSlot* CGlyphAtlas::Slot(unsigned glyph) {
  const auto found = Slots.find(glyph);
  if (found != Slots.end()) return found->second.Width > 0 ? &found->second : nullptr;
  TGlyphBitmap bitmap;
  TGlyphSlot slot;
  if (!RasteriseGlyph(Font, glyph, float(Size64) / 64, &bitmap) || bitmap.width <= 0 ||
      bitmap.height <= 0 || bitmap.coverage.size() < size_t(bitmap.width) * size_t(bitmap.height)) {
    // Remembered as showing nothing, so that it is not rasterised on every frame.
    Slots.emplace(glyph, slot);
    return nullptr;
  }
  int x = 0, y = 0;
  bool placed = Side > 0 && Place(bitmap.width, bitmap.height, &x, &y);
  while (!placed && Grow()) placed = Place(bitmap.width, bitmap.height, &x, &y);
  if (!placed && Side > 0) {
    Empty();
    placed = Place(bitmap.width, bitmap.height, &x, &y);
  }
  // Larger than any atlas may be: drawn as nothing rather than cut.
  if (!placed) {
    Slots.emplace(glyph, slot);
    return nullptr;
  }
  for (int row = 0; row < bitmap.height; ++row)
    std::memcpy(&Pixels[size_t(y + row) * size_t(Side) + size_t(x)],
                &bitmap.coverage[size_t(row) * size_t(bitmap.width)], size_t(bitmap.width));
  glBindTexture(GL_TEXTURE_2D, Texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, bitmap.width, bitmap.height, GL_LUMINANCE,
                  GL_UNSIGNED_BYTE, bitmap.coverage.data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  slot.X = x;
  slot.Y = y;
  slot.Width = bitmap.width;
  slot.Height = bitmap.height;
  slot.Left = bitmap.left;
  slot.Top = bitmap.top;
  return &Slots.emplace(glyph, slot).first->second;
}

void CGlyphAtlas::Queue(const TGlyphSlot& slot, long x, long y, float unitsX, float unitsY,
                        float logicalHeight) {
  const long left = x + slot.Left;
  const long top = y - slot.Top;
  TQuad quad;
  quad.Left = float(left) / unitsX;
  quad.Right = float(left + slot.Width) / unitsX;
  quad.Top = logicalHeight - float(top) / unitsY;
  quad.Bottom = logicalHeight - float(top + slot.Height) / unitsY;
  quad.X = slot.X;
  quad.Y = slot.Y;
  quad.Width = slot.Width;
  quad.Height = slot.Height;
  Queued.push_back(quad);
}

void CGlyphAtlas::Flush() {
  if (Queued.empty()) return;
  glBindTexture(GL_TEXTURE_2D, Texture);
  const float texel = 1.0f / float(Side);
  // Counter-clockwise, as every quad of the screen, so that culling keeps it.
  glBegin(GL_QUADS);
  for (const TQuad& q : Queued) {
    const float s0 = float(q.X) * texel;
    const float s1 = float(q.X + q.Width) * texel;
    const float t0 = float(q.Y) * texel;
    const float t1 = float(q.Y + q.Height) * texel;
    glTexCoord2f(s0, t0);
    glVertex3f(q.Left, q.Top, 0);
    glTexCoord2f(s0, t1);
    glVertex3f(q.Left, q.Bottom, 0);
    glTexCoord2f(s1, t1);
    glVertex3f(q.Right, q.Bottom, 0);
    glTexCoord2f(s1, t0);
    glVertex3f(q.Right, q.Top, 0);
  }
  glEnd();
  Queued.clear();
}

CGlyphCache::CGlyphCache(size_t budget) : Budget(budget) {}

CGlyphCache::~CGlyphCache() = default;

int CGlyphCache::MaxSide() {
  if (MaxSideCached == 0) {
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    MaxSideCached = std::min(LargestSide, std::max(64, int(largest)));
  }
  return MaxSideCached;
}

size_t CGlyphCache::Texels() const {
  size_t texels = 0;
  for (const auto& atlas : Atlases) texels += atlas->Texels();
  return texels;
}

bool CGlyphCache::MakeRoom(size_t texels, const CGlyphAtlas* asking) {
  for (;;) {
    const size_t used = Texels();
    if (used + texels <= Budget) return true;
    CGlyphAtlas* oldest = nullptr;
    for (const auto& atlas : Atlases)
      if (atlas.get() != asking && atlas->Texels() > 0 &&
          (oldest == nullptr || atlas->LastUse < oldest->LastUse))
        oldest = atlas.get();
    if (oldest == nullptr) return false;
    oldest->Flush();
    if (Last == oldest) Last = nullptr;
    Atlases.erase(std::find_if(Atlases.begin(), Atlases.end(),
                               [oldest](const auto& atlas) { return atlas.get() == oldest; }));
  }
}

CGlyphAtlas* CGlyphCache::Atlas(TFont* font, float pixelSize) {
  const int size64 = int(std::lround(pixelSize * 64));
  ++Uses;
  if (Last != nullptr && Last->Font == font && Last->Size64 == size64) {
    Last->LastUse = Uses;
    return Last;
  }
  CGlyphAtlas* found = nullptr;
  for (const auto& atlas : Atlases)
    if (atlas->Font == font && atlas->Size64 == size64) found = atlas.get();
  if (found == nullptr) {
    Atlases.push_back(std::make_unique<CGlyphAtlas>(*this, font, size64));
    found = Atlases.back().get();
  }
  found->LastUse = Uses;
  Last = found;
  return found;
}

void CGlyphCache::FlushAll() {
  for (const auto& atlas : Atlases) atlas->Flush();
}
