// The form framework: top-level windows, timers, and the application object with its loop. One
// thread does everything; the loop waits in poll() on the X connection until the next timer is
// due.
#include <X11/Xatom.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "platform/FormFramework.h"
#include "platform/Platform.h"
#include "platform/linux/X11Backend.h"

using namespace formframework;
using namespace xbackend;

namespace {

std::set<TForm::Native*>& LiveWindows() {
  static std::set<TForm::Native*> windows;
  return windows;
}

TForm::Native* NativeOfWindow(Window window) {
  for (TForm::Native* native : LiveWindows())
    if (native->window == window) return native;
  return nullptr;
}

// Milliseconds until the first enabled timer is due (0 when overdue), or -1 when none is.
int MsToNextTimer(int64_t now) {
  int64_t next = -1;
  for (TTimer* timer : Timers()) {
    if (!timer->Enabled() || TimersRunning().count(timer)) continue;
    if (next < 0 || timer->NextDue < next) next = timer->NextDue;
  }
  if (next < 0) return -1;
  return static_cast<int>(std::max<int64_t>(0, next - now));
}

void FireDueTimers() {
  std::vector<TTimer*> snapshot = Timers();
  for (TTimer* timer : snapshot) {
    if (!TimerLive(timer) || !timer->Enabled() || TimersRunning().count(timer)) continue;
    int64_t now = NowMs();
    if (timer->NextDue > now) continue;
    // Missed ticks are dropped: at most one tick now, the next one an interval later.
    int64_t interval = std::max<UINT>(timer->Interval, 1);
    timer->NextDue += interval;
    if (timer->NextDue <= now) timer->NextDue = now + interval;
    // A handler that overran its interval gets one tick as soon as the loop is idle again,
    // not a burst: the lines above reset the schedule from this tick.
    FireTimer(timer);
  }
}

// The window took a new size (full screen, or a window manager that does not keep to the fixed
// size): the form places the scene in it.
void ClientResized(TForm* form, int width, int height) {
  if (width <= 0 || height <= 0) return;
  if (width == form->ClientWidth && height == form->ClientHeight) return;
  form->ClientWidth = width;
  form->ClientHeight = height;
  if (form->OnResize && FormLive(form)) Application->SafeCall(form->OnResize);
}

void DispatchFormEvent(TForm::Native* native, XEvent& event) {
  TForm* form = native->form;
  const DisplayState& displayState = State();
  switch (event.type) {
    case ButtonPress:
    case ButtonRelease: {
      unsigned button = event.xbutton.button;
      if (button >= 4 && button <= 7) {
        // The wheel: a press is a notch, its release means nothing.
        const TWheelDirection direction[] = {wdUp, wdDown, wdLeft, wdRight};
        if (event.type == ButtonPress)
          MouseWheel(form, direction[button - 4], event.xbutton.x, event.xbutton.y);
        return;
      }
      TMouseButton which = button == 1   ? mbLeft
                           : button == 2 ? mbMiddle
                           : button == 3 ? mbRight
                                         : mbOther;
      // Outside the client area these arrive only while a button holds the pointer: the
      // server's implicit grab is the capture here.
      if (event.type == ButtonPress)
        MouseButtonDown(form, which, event.xbutton.x, event.xbutton.y);
      else
        MouseButtonUp(form, which, event.xbutton.x, event.xbutton.y);
      return;
    }
    case MotionNotify:
      MouseMoved(form, event.xmotion.x, event.xmotion.y);
      return;
    case EnterNotify:
      // Where the pointer came in, also when it did not move since (a window mapped under it).
      if (event.xcrossing.mode != NotifyGrab)
        MouseMoved(form, event.xcrossing.x, event.xcrossing.y);
      return;
    case LeaveNotify:
      // A grab starting elsewhere is no leaving; one ending with the pointer outside is.
      if (event.xcrossing.mode != NotifyGrab) MouseLeft(form);
      return;
    case KeyPress:
      // The key itself went down before the input method saw it (DispatchEvent); what is left is
      // the text, of keys the input method let through (or sent back).
      TextTyped(form, TypedText(native->inputContext, event.xkey));
      return;
    case FocusIn:
      if (native->inputContext) XSetICFocus(native->inputContext);
      return;
    case FocusOut:
      // Focus moving between the window and its own parts is not losing the keyboard.
      if (event.xfocus.detail == NotifyInferior || event.xfocus.detail == NotifyPointer) return;
      if (native->inputContext) XUnsetICFocus(native->inputContext);
      KeyboardLost(form);
      return;
    case ClientMessage:
      if (event.xclient.message_type == displayState.wmProtocols &&
          static_cast<Atom>(event.xclient.data.l[0]) == displayState.wmDeleteWindow)
        form->Close();
      return;
    case MapNotify:
      native->mapped = true;
      FullScreenMapped(native);
      return;
    case ConfigureNotify:
      if (event.xconfigure.window != native->window) return;
      ClientResized(form, event.xconfigure.width, event.xconfigure.height);
      return;
    case UnmapNotify:
      native->mapped = false;
      return;
    case DestroyNotify:
      if (event.xdestroywindow.window != native->window) return;
      // Destroyed from outside: the form lives on without a window; closing the main form's
      // window ends the loop as the close button does.
      native->alive = false;
      native->mapped = false;
      ReleaseContextsOn(native->window);
      if (form == Application->MainForm()) Application->Terminate();
      return;
    default:
      return;
  }
}

// A key of a form goes down or up as the keyboard reports it, before the input method takes it:
// a dead key is a key too, and the input method's own state would colour the key's name (the
// "e" after a dead circumflex would be named by the composed character). Keys the input method
// sends back (synthetic ones) were counted when they came first, and those it makes to carry a
// composed character (key code 0) are no keys.
void KeyOfForm(XEvent& event) {
  if (event.type != KeyPress && event.type != KeyRelease) return;
  if (event.xkey.send_event || event.xkey.keycode == 0) return;
  TForm::Native* native = NativeOfWindow(event.xkey.window);
  if (!native) return;
  if (event.type == KeyPress)
    KeyDown(native->form, event.xkey.keycode, KeyName(Dpy(), native->inputContext, event.xkey));
  else
    KeyUp(native->form, event.xkey.keycode);
}

void DispatchEvent(XEvent& event) {
  KeyOfForm(event);
  // The input method takes the keys of dead keys and compose sequences first.
  if (XFilterEvent(&event, None)) return;
  if (DispatchToHandler(event)) return;
  if (TForm::Native* native = NativeOfWindow(event.xany.window)) DispatchFormEvent(native, event);
}

// Movements that came faster than they were handled are taken together: only the latest of a
// run of them counts, so they never queue up behind a frame.
void SkipToLatestMotion(Display* display, XEvent& event) {
  while (XEventsQueued(display, QueuedAlready) > 0) {
    XEvent next;
    XPeekEvent(display, &next);
    if (next.type != MotionNotify || next.xmotion.window != event.xmotion.window) return;
    XNextEvent(display, &event);
  }
}

}  // namespace

namespace xbackend {

void NoticeDestruction(Window window) {
  Display* display = Dpy();
  if (!display || !window) return;
  XSync(display, False);
  XEvent event;
  if (XCheckTypedWindowEvent(display, window, DestroyNotify, &event)) DispatchEvent(event);
}

TForm::Native* FindWindow(HWND window) {
  auto* native = reinterpret_cast<TForm::Native*>(window);
  return LiveWindows().count(native) ? native : nullptr;
}

void PumpEvents(int maxWaitMs) {
  Display* display = Dpy();
  int untilTimer = MsToNextTimer(NowMs());
  int wait = maxWaitMs < 0    ? untilTimer
             : untilTimer < 0 ? maxWaitMs
                              : std::min(maxWaitMs, untilTimer);
  if (display) {
    XFlush(display);
    if (!XPending(display) && wait != 0) {
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      poll(&fd, 1, wait);
    }
    while (Dpy() && XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MotionNotify) SkipToLatestMotion(display, event);
      DispatchEvent(event);
    }
  } else if (wait != 0) {
    poll(nullptr, 0, wait < 0 ? 1000 : wait);
  }
  // Without a display the caller runs the ticks, on a clock of its own.
  if (!Headless()) FireDueTimers();
}

}  // namespace xbackend

// ---------------------------------------------------------------------------------------------
// TTimer: the loop above keeps the schedule.

void formframework::StartTimerNative(TTimer* timer) {
  timer->NextDue = NowMs() + std::max<UINT>(timer->Interval, 1);
}

void formframework::StopTimerNative(TTimer*) {}

// ---------------------------------------------------------------------------------------------
// TForm

void formframework::DestroyNative(TForm::Native* native) {
  Display* display = Dpy();
  if (native->inputContext) XDestroyIC(native->inputContext);
  native->inputContext = nullptr;
  ForgetHeadlessTarget(native);
  if (Headless()) ReleaseContextsOn(native->window);
  if (display && native->window) {
    ReleaseContextsOn(native->window);
    if (native->alive) {
      XDestroyWindow(display, native->window);
      XFlush(display);
    }
  }
  if (display && native->emptyCursor) XFreeCursor(display, native->emptyCursor);
  ForgetWindowDC(native);
  LiveWindows().erase(native);
  delete native;
}

HWND TForm::Handle() {
  if (handle_) return reinterpret_cast<HWND>(handle_);
  if (Headless()) {
    handle_ = new Native;
    handle_->form = this;
    handle_->window = NewHeadlessDrawable();
    LiveWindows().insert(handle_);
    return reinterpret_cast<HWND>(handle_);
  }
  if (!OpenDisplay()) throw std::runtime_error(NoDisplayMessage());
  Display* display = Dpy();
  const DisplayState& displayState = State();
  XSetWindowAttributes attributes;
  attributes.background_pixel = displayState.buttonFace;
  attributes.border_pixel = displayState.black;
  attributes.colormap = displayState.colormap;
  attributes.event_mask = ButtonPressMask | ButtonReleaseMask | StructureNotifyMask |
                          PointerMotionMask | EnterWindowMask | LeaveWindowMask | KeyPressMask |
                          KeyReleaseMask | FocusChangeMask;
  int width = std::max(ClientWidth, 1), height = std::max(ClientHeight, 1);
  Window window = XCreateWindow(
      display, displayState.root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
      0, displayState.depth, InputOutput, displayState.visual,
      CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
  auto* native = new Native;
  native->form = this;
  native->window = window;
  native->inputContext = CreateInputContext(window);
  handle_ = native;
  LiveWindows().insert(native);
  SetCommonProperties(window);
  SetWindowTitle(window, caption_);
  SetWindowFunctions(window, false, 0, 0, width, height);
  return reinterpret_cast<HWND>(native);
}

void formframework::CaptionNative(TForm::Native* native, const std::string& caption) {
  if (!native->alive || Headless()) return;
  SetWindowTitle(native->window, caption);
  XFlush(Dpy());
}

void TForm::Show() {
  Handle();
  Native* native = handle_;
  if (!native->alive || Headless()) return;
  Display* display = Dpy();
  if (!native->positioned) {
    native->positioned = true;
    int x = 0, y = 0;
    if (Position == poScreenCenter) {
      x = std::max(0, (DisplayWidth(display, State().screen) - ClientWidth) / 2);
      y = std::max(0, (DisplayHeight(display, State().screen) - ClientHeight) / 2);
    }
    XMoveWindow(display, native->window, x, y);
    SetFixedSize(native->window, x, y, ClientWidth, ClientHeight);
    native->normalX = x;
    native->normalY = y;
    ShowFullScreen(native);
  }
  XMapRaised(display, native->window);
  XFlush(display);
  native->mapped = true;
  FullScreenMapped(native);
}

void formframework::HideNative(TForm::Native* native) {
  if (native->alive && Dpy()) {
    XUnmapWindow(Dpy(), native->window);
    XFlush(Dpy());
    native->mapped = false;
  }
}

void formframework::CaptureNative(TForm::Native*, bool) {
  // The server grabs the pointer for the window where a button goes down until the last
  // button is up; nothing to ask for.
}

bool TForm::Visible() const {
  return handle_ && handle_->alive && handle_->mapped;
}

// ---------------------------------------------------------------------------------------------
// TApplication

bool TApplication::Initialize() {
  if (OpenDisplay()) return true;
  std::fprintf(stderr, "%s\n", NoDisplayMessage().c_str());
  return false;
}

bool formframework::WaitAndDispatch() {
  PumpEvents(-1);
  return true;
}

void TApplication::ProcessMessages() {
  PumpEvents(0);
}

void TApplication::ProcessMessagesFor(int milliseconds) {
  int64_t end = NowMs() + std::max(milliseconds, 0);
  do {
    PumpEvents(static_cast<int>(std::max<int64_t>(0, end - NowMs())));
  } while (NowMs() < end);
}

void formframework::WakeForQuit() {
  // The loops here look at Terminated() after every round of events.
}

void formframework::WithdrawQuit() {}
