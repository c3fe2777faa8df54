// The program's one drawing surface: an OpenGL rendering context on the main window, a fixed
// 800 by 600 logical coordinate system with its origin at the top left, and the texture table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

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

struct TGLTexture {
  std::string FileName;    // resolved path, lower-cased; empty when the file was not found
  uint32_t TextureId = 0;  // 0 when no image was loaded
  float Width = 0;         // declared by the script, not the image's size
  float Height = 0;
};

class CGLScreen {
 public:
  explicit CGLScreen(HWND windowHandle);
  ~CGLScreen();
  CGLScreen(const CGLScreen&) = delete;
  CGLScreen& operator=(const CGLScreen&) = delete;

  void UpdateClientSize();
  void BeginFrame();
  void EndFrame();
  void DrawPicture(const TGLTexture& texture, const TFloatRect& dest, const TFloatRect& source);
  int32_t AddTexture(const std::string& fileName, float width, float height);
  // The entry, or nullptr when the index is out of range. Valid until the next AddTexture.
  const TGLTexture* GetTexture(int32_t index) const;

  HWND WindowHandle;
  float ClientWidth = 0;
  float ClientHeight = 0;
  HGLRC RenderContext = nullptr;
  HDC DeviceContext = nullptr;
  int32_t LogicalWidth = 800;
  int32_t LogicalHeight = 600;
  std::vector<TGLTexture> TextureTable;
};
