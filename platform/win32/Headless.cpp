// A run without showing any window: forms are windows that are never shown, whose timers the
// caller runs; the frames they draw are kept (FramePixels.cpp).
#include "platform/Platform.h"

bool TApplication::InitializeHeadless() {
  // The windows themselves need nothing more than the system has: Initialize has nothing to
  // connect to either.
  headless_ = true;
  return true;
}
