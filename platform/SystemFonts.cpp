// The switch between the system's fonts and only the bundled and the scene's own.
#include "platform/Platform.h"

namespace {
bool systemFallback = true;
}

void SetSystemFontFallback(bool on) {
  systemFallback = on;
}

bool SystemFontFallback() {
  return systemFallback;
}
