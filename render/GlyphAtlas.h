// The glyphs that labels draw, rasterised once into atlas textures, one per font and device
// size, within a shared budget that the least recently used atlases give way to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class TFont;
class CGlyphCache;

// Where a glyph lies in its atlas, in texels, and where its bitmap goes from the pen origin, in
// device pixels with y up from the baseline. A glyph that shows nothing (a space) has no size.
struct TGlyphSlot {
  int X = 0, Y = 0, Width = 0, Height = 0;
  int Left = 0, Top = 0;
};

// One font at one device size: an intensity texture packed in shelves, kept as well in memory so
// that it can grow without the glyphs it holds being made again. Quads are queued and drawn in
// one batch, nearest-sampled, since at whole device pixels a texel is a pixel.
class CGlyphAtlas {
 public:
  CGlyphAtlas(CGlyphCache& owner, TFont* font, int size64);
  ~CGlyphAtlas();
  CGlyphAtlas(const CGlyphAtlas&) = delete;
  CGlyphAtlas& operator=(const CGlyphAtlas&) = delete;

  // The glyph's slot, made the first time it is asked for; null when it shows nothing or cannot
  // be made. Making one may grow the atlas or, where it cannot grow, draw what is queued and
  // empty it: a slot is to be used before the next call.
  const TGlyphSlot* Slot(unsigned glyph);
  // Queues the glyph with its pen origin at device pixel (x, y) from the scene's top left.
  // `unitsX` and `unitsY` are device pixels per logical unit.
  void Queue(const TGlyphSlot& slot, long x, long y, float unitsX, float unitsY,
             float logicalHeight);
  // Draws the queued quads in the current colour and blending, and forgets them.
  void Flush();

  TFont* const Font;
  const int Size64;  // pixel size in 1/64ths
  uint64_t LastUse = 0;
  size_t Texels() const { return size_t(Side) * size_t(Side); }
  size_t GlyphCount() const { return Slots.size(); }

 private:
  // Finds room for a bitmap of that size; false when the atlas is full at the size it may have.
  bool Place(int width, int height, int* x, int* y);
  bool Grow();
  void Empty();

  struct TQuad {
    float Left, Top, Right, Bottom;  // logical units, y up
    int X, Y, Width, Height;         // texels
  };

  CGlyphCache& Owner;
  uint32_t Texture = 0;
  int Side = 0;
  std::vector<unsigned char> Pixels;  // Side * Side, row 0 at t = 0
  int ShelfX = 0, ShelfY = 0, ShelfHeight = 0;
  std::unordered_map<unsigned, TGlyphSlot> Slots;
  std::vector<TQuad> Queued;
};

class CGlyphCache {
 public:
  // The budget of all atlases together, in texels (bytes).
  explicit CGlyphCache(size_t budget = DefaultBudget);
  ~CGlyphCache();
  CGlyphCache(const CGlyphCache&) = delete;
  CGlyphCache& operator=(const CGlyphCache&) = delete;

  static constexpr size_t DefaultBudget = size_t(4) << 20;

  // The atlas of the font at that pixel size, made when there is none.
  CGlyphAtlas* Atlas(TFont* font, float pixelSize);
  // Draws what every atlas has queued.
  void FlushAll();
  // Room for `texels` more for `asking`, the least recently used other atlases going first;
  // false when even without them there is none.
  bool MakeRoom(size_t texels, const CGlyphAtlas* asking);
  // The largest side an atlas may have (the GL's limit, at most 2048).
  int MaxSide();

  size_t Texels() const;
  size_t AtlasCount() const { return Atlases.size(); }

 private:
  size_t Budget;
  int MaxSideCached = 0;
  uint64_t Uses = 0;
  std::vector<std::unique_ptr<CGlyphAtlas>> Atlases;
  CGlyphAtlas* Last = nullptr;  // the atlas asked for last: a label's glyphs are mostly one font's
};
