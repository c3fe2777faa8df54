// Full screen on X11 (through the window manager's _NET_WM_STATE, or by hand where none runs),
// the monitors RandR knows, and the pointer's visibility over a form's window.
#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <climits>

#include "platform/linux/X11Backend.h"

namespace xbackend {

namespace {

// The window that the property names, or 0.
Window WindowProperty(Window window, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Window result = 0;
  if (XGetWindowProperty(Dpy(), window, property, 0, 1, False, XA_WINDOW, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr && format == 32 && count == 1)
    result = Window(reinterpret_cast<unsigned long*>(data)[0]);
  if (data != nullptr) XFree(data);
  return result;
}

// Squared distance from a point to a rectangle, 0 inside it.
long long DistanceTo(const MonitorRect& monitor, int x, int y) {
  const long long dx = x < monitor.x                    ? monitor.x - x
                       : x >= monitor.x + monitor.width ? x - (monitor.x + monitor.width - 1)
                                                        : 0;
  const long long dy = y < monitor.y                     ? monitor.y - y
                       : y >= monitor.y + monitor.height ? y - (monitor.y + monitor.height - 1)
                                                         : 0;
  return dx * dx + dy * dy;
}

std::vector<MonitorRect> Monitors() {
  std::vector<MonitorRect> monitors;
  Display* display = Dpy();
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor))
    return monitors;
  const Window root = State().root;
  if (major > 1 || (major == 1 && minor >= 5)) {
    // Monitors as the desktop arranges them (a monitor may span several outputs).
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(display, root, True, &count);
    for (int i = 0; info != nullptr && i < count; ++i)
      if (info[i].width > 0 && info[i].height > 0)
        monitors.push_back({info[i].x, info[i].y, info[i].width, info[i].height});
    if (info != nullptr) XRRFreeMonitors(info);
    if (!monitors.empty()) return monitors;
  }
  if (major == 1 && minor < 2) return monitors;
  XRRScreenResources* resources = XRRGetScreenResources(display, root);
  for (int i = 0; resources != nullptr && i < resources->ncrtc; ++i) {
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
    if (crtc != nullptr && crtc->mode != None && crtc->width > 0 && crtc->height > 0)
      monitors.push_back({crtc->x, crtc->y, int(crtc->width), int(crtc->height)});
    if (crtc != nullptr) XRRFreeCrtcInfo(crtc);
  }
  if (resources != nullptr) XRRFreeScreenResources(resources);
  return monitors;
}

Atom NetWmState() {
  return XInternAtom(Dpy(), "_NET_WM_STATE", False);
}

Atom NetWmStateFullScreen() {
  return XInternAtom(Dpy(), "_NET_WM_STATE_FULLSCREEN", False);
}

// The window's corner on the root window (inside any frame a window manager put around it).
void RootPosition(Window window, int* x, int* y) {
  Window child = 0;
  *x = *y = 0;
  XTranslateCoordinates(Dpy(), window, State().root, 0, 0, x, y, &child);
}

// The monitor that a window about to be shown (the pointer's), or one already shown (its
// centre's), is on.
MonitorRect MonitorOf(TForm::Native* native) {
  Display* display = Dpy();
  int x = 0, y = 0;
  if (native->mapped) {
    RootPosition(native->window, &x, &y);
    x += native->form->ClientWidth / 2;
    y += native->form->ClientHeight / 2;
  } else {
    Window rootReturn = 0, child = 0;
    int windowX = 0, windowY = 0;
    unsigned mask = 0;
    XQueryPointer(display, State().root, &rootReturn, &child, &x, &y, &windowX, &windowY, &mask);
  }
  return MonitorAt(x, y);
}

void AskWindowManager(Window window, bool fullScreen) {
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = NetWmState();
  event.xclient.format = 32;
  event.xclient.data.l[0] = fullScreen ? 1 : 0;  // _NET_WM_STATE_ADD or _REMOVE
  event.xclient.data.l[1] = long(NetWmStateFullScreen());
  event.xclient.data.l[3] = 1;  // asked by an application
  XSendEvent(Dpy(), State().root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

void EnterFullScreen(TForm::Native* native) {
  Display* display = Dpy();
  const Window window = native->window;
  const MonitorRect monitor = MonitorOf(native);
  if (native->mapped) RootPosition(window, &native->normalX, &native->normalY);
  native->normalWidth = native->form->ClientWidth;
  native->normalHeight = native->form->ClientHeight;
  // A window manager grants full screen only to a window that may be resized.
  SetWindowFunctions(window, true, 0, 0, 0, 0);
  native->managedFullScreen = WindowManagerRunning();
  if (native->managedFullScreen) {
    if (native->mapped) {
      AskWindowManager(window, true);
    } else {
      // Taken up when the window manager first maps it, on the monitor it is placed on.
      XMoveWindow(display, window, monitor.x, monitor.y);
      Atom state = NetWmStateFullScreen();
      XChangeProperty(display, window, NetWmState(), XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&state), 1);
    }
  } else {
    // Nobody else arranges windows: it covers the monitor itself, and takes the keyboard that
    // a window manager would give it.
    XMoveResizeWindow(display, window, monitor.x, monitor.y, unsigned(monitor.width),
                      unsigned(monitor.height));
    XRaiseWindow(display, window);
    if (native->mapped) XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  }
  XFlush(display);
}

void LeaveFullScreen(TForm::Native* native) {
  Display* display = Dpy();
  const Window window = native->window;
  if (native->managedFullScreen) {
    // The state goes first: the window manager gives back the place the window had, and the
    // fixed size is back once it is. The property is the window manager's while the window is
    // mapped, and the window's own before.
    if (native->mapped)
      AskWindowManager(window, false);
    else
      XDeleteProperty(display, window, NetWmState());
  } else {
    XMoveResizeWindow(display, window, native->normalX, native->normalY,
                      unsigned(native->normalWidth), unsigned(native->normalHeight));
  }
  SetWindowFunctions(window, false, native->normalX, native->normalY, native->normalWidth,
                     native->normalHeight);
  if (native->managedFullScreen) {
    // A window manager that took its fixed size back before leaving would keep the full size.
    XResizeWindow(display, window, unsigned(native->normalWidth), unsigned(native->normalHeight));
  }
  XFlush(display);
}

}  // namespace

MonitorRect MonitorAt(int x, int y) {
  Display* display = Dpy();
  MonitorRect best = {0, 0, DisplayWidth(display, State().screen),
                      DisplayHeight(display, State().screen)};
  long long bestDistance = LLONG_MAX;
  for (const MonitorRect& monitor : Monitors()) {
    const long long distance = DistanceTo(monitor, x, y);
    if (distance < bestDistance) {
      best = monitor;
      bestDistance = distance;
    }
  }
  return best;
}

bool WindowManagerRunning() {
  const Atom check = XInternAtom(Dpy(), "_NET_SUPPORTING_WM_CHECK", False);
  const Window child = WindowProperty(State().root, check);
  // A manager that went away leaves the root's property naming a window that is gone.
  return child != 0 && WindowProperty(child, check) == child;
}

void SetWindowFunctions(Window window, bool resizable, int x, int y, int width, int height) {
  const DisplayState& displayState = State();
  // Move, minimise and close, but neither resizing nor maximising: the window has one size,
  // unless it is to cover a monitor.
  struct {
    unsigned long flags, functions, decorations;
    long inputMode;
    unsigned long status;
  } motif = {1 | 2, 4 | 8 | 32 | (resizable ? 2u | 16u : 0u), 2 | 8 | 16 | 32, 0, 0};
  XChangeProperty(displayState.display, window, displayState.motifWmHints,
                  displayState.motifWmHints, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&motif), 5);
  if (!resizable) {
    SetFixedSize(window, x, y, width, height);
    return;
  }
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = 0;
  XSetWMNormalHints(displayState.display, window, hints);
  XFree(hints);
}

void ShowFullScreen(TForm::Native* native) {
  if (native->fullScreen) EnterFullScreen(native);
}

void FullScreenMapped(TForm::Native* native) {
  if (!native->fullScreen || !native->alive) return;
  if (native->managedFullScreen)
    // Asked again once the window is managed: a window manager may take the state of a new
    // window's property only as far as the size, and leave its frame on.
    AskWindowManager(native->window, true);
  else
    // Without a window manager the keyboard follows the pointer unless given.
    XSetInputFocus(Dpy(), native->window, RevertToPointerRoot, CurrentTime);
}

}  // namespace xbackend

using namespace xbackend;

void TForm::SetFullScreen(bool on) {
  Handle();
  Native* native = NativeData();
  if (native->fullScreen == on) return;
  native->fullScreen = on;
  // Before the window is shown, Show places it.
  if (!native->alive || !native->positioned) return;
  if (on)
    EnterFullScreen(native);
  else
    LeaveFullScreen(native);
}

bool TForm::FullScreen() const {
  return HandleAllocated() && NativeData()->fullScreen;
}

void TForm::SetCursorVisible(bool visible) {
  Handle();
  Native* native = NativeData();
  native->cursorHidden = !visible;
  if (!native->alive) return;
  Display* display = Dpy();
  if (!visible && native->emptyCursor == 0) {
    // A cursor of one transparent pixel: both its image and its mask are empty.
    static const char nothing[1] = {0};
    Pixmap empty = XCreateBitmapFromData(display, native->window, nothing, 1, 1);
    XColor black = {};
    native->emptyCursor = XCreatePixmapCursor(display, empty, empty, &black, &black, 0, 0);
    XFreePixmap(display, empty);
  }
  XDefineCursor(display, native->window, visible ? None : native->emptyCursor);
  XFlush(display);
}
