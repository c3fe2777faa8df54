// Runs without a display: rendering contexts of Mesa's EGL on the surfaceless platform, each
// form drawn into a framebuffer object of its client size, and the frame's pixels read back.
#include <cstdio>

#include "platform/Platform.h"

bool TApplication::InitializeHeadless() {
  std::fprintf(stderr, "kestrune: running without a display is not built yet\n");
  return false;
}

bool ReadFramePixels(TForm&, std::vector<unsigned char>* rgb) {
  rgb->clear();
  return false;
}
