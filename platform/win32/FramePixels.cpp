// The frame's pixels for tests and screenshots, taken from the back buffer just before each
// swap: what the front buffer holds of a hidden or covered window is whatever the system let
// through (the pixel-ownership test), while the back buffer is the context's own.
#include <GL/gl.h>

#include <algorithm>
#include <map>

#include "platform/BackBuffer.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

// The system's own function, which the program reaches through the macro of WinApi.h.
#undef SwapBuffers

namespace {

struct KeptFrame {
  bool keep = false;                // the frames are asked for: copy each one before its swap
  std::vector<unsigned char> rows;  // bottom row first, RGB
  int width = 0;
  int height = 0;
};

std::map<HWND, KeptFrame>& KeptFrames() {
  static std::map<HWND, KeptFrame> frames;
  return frames;
}

void KeepBackBuffer(HWND window, KeptFrame& frame) {
  RECT client = {0, 0, 0, 0};
  GetClientRect(window, &client);
  const int width = client.right - client.left, height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;
  ReadBackBuffer(width, height, &frame.rows);
  frame.width = width;
  frame.height = height;
}

}  // namespace

BOOL WINAPI FrameKeepingSwapBuffers(HDC dc) {
  HWND window = WindowFromDC(dc);
  auto found = window ? KeptFrames().find(window) : KeptFrames().end();
  const bool keep = Application->Headless() || (found != KeptFrames().end() && found->second.keep);
  // Only the context that drew the frame can read it.
  if (keep && window && wglGetCurrentDC() == dc) KeepBackBuffer(window, KeptFrames()[window]);
  // A window that is never shown presents nothing.
  if (Application->Headless()) {
    glFlush();
    return TRUE;
  }
  return SwapBuffers(dc);
}

namespace win32backend {

void ForgetKeptFrames(HWND window) {
  KeptFrames().erase(window);
}

}  // namespace win32backend

bool ReadFramePixels(TForm& form, std::vector<unsigned char>* rgb) {
  rgb->clear();
  if (!form.HandleAllocated()) return false;
  KeptFrame& frame = KeptFrames()[form.Handle()];
  frame.keep = true;
  // A frame of another size than the client area's is not the frame of this client area.
  if (frame.rows.empty() || frame.width != form.ClientWidth || frame.height != form.ClientHeight)
    return false;
  const size_t row = static_cast<size_t>(frame.width) * 3;
  rgb->resize(frame.rows.size());
  for (int y = 0; y < frame.height; ++y)
    std::copy_n(frame.rows.data() + (frame.height - 1 - y) * row, row, rgb->data() + y * row);
  return true;
}
