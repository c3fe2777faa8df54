// The program's one drawing surface: an OpenGL rendering context on the main window, a fixed
// 800 by 600 logical coordinate system with its origin at the top left, and the texture table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "render/Textures.h"

// The logical coordinate system, whatever the window's size. At scale 1 the main window's client
// area has the same size, so its pixel positions are logical coordinates as they are.
constexpr int32_t LogicalScreenWidth = 800;
constexpr int32_t LogicalScreenHeight = 600;

// The rendering context the screen asks for (double-buffered, on the main plane).
constexpr int ScreenColorBits = 32;
constexpr int ScreenDepthBits = 32;
constexpr int ScreenStencilBits = 0;
constexpr int ScreenAccumBits = 0;
constexpr int ScreenAuxBuffers = 0;
constexpr int ScreenLayer = 0;

struct TFloatRect {
  float Left;
  float Top;
  float Width;
  float Height;
};

// A point in logical coordinates, X first.
struct TFloatPoint {
  float X;
  float Y;
};

struct TLabel;
class CGlyphCache;

struct TGLTexture {
  std::string FileName;    // resolved path, lower-cased; empty when the file was not found
  std::string Path;        // resolved path as found (names differ by case); empty likewise
  uint32_t TextureId = 0;  // 0 when no image was loaded
  float Width = 0;         // declared by the script, not the image's size
  float Height = 0;
  bool HasAlpha = false;  // premultiplied alpha: its pictures are blended over what is drawn
  // An opaque texture's edges clamp rather than wrap, as the screen last set it for a picture
  // (it is the screen's to change while drawing).
  mutable bool Clamped = false;
};

class CGLScreen {
 public:
  explicit CGLScreen(HWND windowHandle);
  ~CGLScreen();
  CGLScreen(const CGLScreen&) = delete;
  CGLScreen& operator=(const CGLScreen&) = delete;

  // Reads the client area's size; the scene covers all of it again.
  void UpdateClientSize();
  // The scene's rectangle in the client area, in device pixels from the top left; the rest of
  // the client area is cleared to black and drawn on no more.
  void SetSceneRect(int32_t left, int32_t top, int32_t width, int32_t height);
  void BeginFrame();
  void EndFrame();
  // Below an opacity of 1 the picture is blended, its premultiplied colour scaled by it.
  void DrawPicture(const TGLTexture& texture, const TFloatRect& dest, const TFloatRect& source,
                   float opacity = 1);
  // The rectangle in one colour, {r, g, b, a} from 0 to 1, its alpha scaled by `opacity`.
  void DrawFill(const TFloatRect& dest, const float color[4], float opacity);
  // What is drawn from now on is cut to the logical rectangle (scissor in device pixels), or,
  // with null, not cut. A scene without clipping nodes pays only the test here.
  void SetClip(const TFloatRect* rect) {
    if (rect != nullptr || Clipping) ApplyClip(rect);
  }
  // Loads the file as the table's next texture and returns its index. A name that is not found,
  // or whose ending no loader takes, gives an empty texture and a line on standard error.
  int32_t AddTexture(const std::string& fileName, float width, float height);
  // Deletes every texture object and empties the table: the next texture has index 0 again, and
  // the whole budget of texture memory is free.
  void ClearTextures();
  // The entry, or nullptr when the index is out of range. Valid until the next AddTexture.
  const TGLTexture* GetTexture(int32_t index) const;
  // The label's text laid out in the rectangle, its colour's alpha scaled by `opacity`. The
  // first label drawn makes the glyph cache; a scene without text never has one.
  void DrawLabel(TLabel& label, const TFloatRect& dest, float opacity);
  // Forgets every glyph drawn and closes the fonts: the scene starts again. Labels that are
  // kept must be laid out again (their layouts point at the fonts).
  void ClearText();

  HWND WindowHandle;
  float ClientWidth = 0;
  float ClientHeight = 0;
  int32_t SceneLeft = 0;
  int32_t SceneTop = 0;
  float SceneWidth = 0;
  float SceneHeight = 0;
  // Device pixels per logical unit, as the main window chose it. Away from 1, node edges land on
  // whole device pixels, and pictures are sampled so that scaling shows no seams.
  float Scale = 1;
  HGLRC RenderContext = nullptr;
  HDC DeviceContext = nullptr;
  int32_t LogicalWidth = LogicalScreenWidth;
  int32_t LogicalHeight = LogicalScreenHeight;
  std::vector<TGLTexture> TextureTable;
  // What the table's textures take of their budget; a texture past it is refused.
  TTextureMemory TextureMemory{DefaultTextureBudget};
  // The labels' glyphs, apart from the table, whose indices are the scene's.
  std::unique_ptr<CGlyphCache> Glyphs;

 private:
  void SetBlending(bool on);
  void ApplyClip(const TFloatRect* rect);
  void DrawQuad(const TFloatRect& dest, const TFloatRect& source);
  void SampleForScale(const TGLTexture& texture, const TFloatRect& source);
  bool Blending = false;         // GL_BLEND as last set
  bool Clipping = false;         // GL_SCISSOR_TEST as last set
  bool UntexturedBound = false;  // texture object 0 is bound since the last fill
  TFloatRect ClipRect{0, 0, 0, 0};
};

// The program's screen, while the main window has one: the window makes and frees it, and the
// script functions draw and load textures on it.
extern CGLScreen* GLScreen;
