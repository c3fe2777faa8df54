// A window with the program's screen on it, for the tests and benchmarks that draw: what the
// main window makes for itself, without the main window's scene and timer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TestImages.h"
#include "platform/Platform.h"
#include "render/Graph_un.h"

class TWindowScreen {
 public:
  TWindowScreen() = default;
  ~TWindowScreen() { CloseScreen(); }
  TWindowScreen(const TWindowScreen&) = delete;
  TWindowScreen& operator=(const TWindowScreen&) = delete;

  // A window of that client size with a screen on it, which is also the program's GLScreen
  // while it lasts; false when there is no display to open it on.
  bool OpenScreen(int clientWidth, int clientHeight);
  // Shows the window and lets its first events arrive.
  void ShowWindow();
  // The screen first, as the main window frees it, then the window.
  void CloseScreen();

  std::unique_ptr<TForm> Form;
  std::unique_ptr<CGLScreen> Screen;
};

// One 800 by 600 frame through every way the screen draws (fills, stretched, blended, cut and
// clipped pictures of the test data), the same in every run: for comparing the pixels of two
// ways to draw it. Its textures are added to the screen's table when that is empty.
void DrawSampleFrame(CGLScreen& screen);
// The colour of the sample frame's top left corner.
extern const TRgb SampleFrameFill;

// Empty when two frames of RGB rows `width` pixels wide differ by no more than `tolerance` in
// any channel; otherwise how many bytes differ beyond it, and the first one's pixel.
std::string FrameDifference(const std::vector<unsigned char>& seen,
                            const std::vector<unsigned char>& expected, int width, int tolerance);
