// A window with the program's screen on it, for the tests and benchmarks that draw: what the
// main window makes for itself, without the main window's scene and timer.
#pragma once

#include <memory>

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
