// The desktop's scale on X11 (GDK_SCALE, else the resource database's Xft.dpi) and the work area
// a new window has to fit in.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/X11Backend.h"

namespace xbackend {

namespace {

// A positive number that makes up the whole text (surrounding blanks aside); 0 otherwise.
double PositiveNumber(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  const double value = std::strtod(start, &end);
  if (end == start) return 0;
  while (*end == ' ' || *end == '\t') ++end;
  return *end == '\0' && value > 0 && value < 1e6 ? value : 0;
}

}  // namespace

double ScaleFromSettings(const char* gdkScale, const char* resources) {
  // GDK_SCALE is what the user set for this session's programs, so it speaks before the
  // desktop-wide DPI; one that is no number is passed over as the toolkits pass it over.
  if (gdkScale != nullptr) {
    const double scale = PositiveNumber(gdkScale);
    if (scale > 0) return scale;
  }
  if (resources == nullptr) return 1;
  const char* line = resources;
  while (*line != '\0') {
    const char* next = std::strchr(line, '\n');
    const std::string text(line, next ? size_t(next - line) : std::strlen(line));
    static const char name[] = "Xft.dpi:";
    if (text.compare(0, sizeof name - 1, name) == 0) {
      const double dpi = PositiveNumber(text.substr(sizeof name - 1));
      return dpi > 0 ? dpi / 96 : 1;
    }
    if (next == nullptr) break;
    line = next + 1;
  }
  return 1;
}

}  // namespace xbackend

using namespace xbackend;

double DesktopScale() {
  const char* resources = OpenDisplay() ? XResourceManagerString(Dpy()) : nullptr;
  return ScaleFromSettings(std::getenv("GDK_SCALE"), resources);
}

bool DesktopWorkArea(int* width, int* height) {
  if (!OpenDisplay()) return false;
  Display* display = Dpy();
  *width = DisplayWidth(display, State().screen);
  *height = DisplayHeight(display, State().screen);
  // The window manager's work area of the current desktop, where it keeps one; the whole
  // screen otherwise.
  const Atom workArea = XInternAtom(display, "_NET_WORKAREA", True);
  const Atom currentDesktop = XInternAtom(display, "_NET_CURRENT_DESKTOP", True);
  if (workArea == None) return true;
  long desktop = 0;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (currentDesktop != None &&
      XGetWindowProperty(display, State().root, currentDesktop, 0, 1, False, XA_CARDINAL, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32 && count == 1)
    desktop = reinterpret_cast<long*>(data)[0];
  if (data != nullptr) XFree(data);
  data = nullptr;
  if (XGetWindowProperty(display, State().root, workArea, desktop * 4, 4, False, XA_CARDINAL, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32 && count == 4) {
    const long* area = reinterpret_cast<long*>(data);
    if (area[2] > 0 && area[3] > 0) {
      *width = int(area[2]);
      *height = int(area[3]);
    }
  }
  if (data != nullptr) XFree(data);
  return true;
}
