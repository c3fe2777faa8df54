// Runs without showing a window: forms are windows that are never shown, and the frame's pixels
// are kept from the back buffer before each swap.
#include <cstdio>

#include "platform/Platform.h"

bool TApplication::InitializeHeadless() {
  std::fprintf(stderr, "kestrune: running without a window is not built yet\n");
  return false;
}

bool ReadFramePixels(TForm&, std::vector<unsigned char>* rgb) {
  rgb->clear();
  return false;
}
