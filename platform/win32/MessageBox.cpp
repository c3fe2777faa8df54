// The message box is the system's own; the form framework decides whether one is shown.
#include "platform/FormFramework.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Backend.h"

using namespace win32backend;

int formframework::NativeMessageBox(const std::string& text, const std::string& caption) {
  // No owner: the main window stays usable, and the box's own loop keeps dispatching its ticks
  // and clicks. A quit posted while it is open ends that loop and closes the box.
  return ::MessageBoxW(nullptr, ReadableWide(text).c_str(), ReadableWide(caption).c_str(), MB_OK);
}
