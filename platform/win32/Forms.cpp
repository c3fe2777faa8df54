// The form framework on the system's windows: one Unicode window class, window timers and the
// message loop. Ticks are the system's WM_TIMER, which is made only when the queue is otherwise
// empty and never stands in it twice, so missed ticks are dropped by the system itself; message
// boxes run their own loop and keep dispatching ticks and clicks to the form while they are
// open. While a timer runs, the system's timer resolution is 1 ms: at its default of 15.6 ms a
// 55 ms timer would tick every 62.5 ms.
//
// The program declares itself DPI-aware (its manifest), so the client area is 800 by 600 of the
// screen's own pixels at any scaling and on any monitor, and the frame around it follows the
// monitor's scale.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/FormFramework.h"
#include "platform/Platform.h"
#include "platform/win32/Keyboard.h"
#include "platform/win32/Win32Backend.h"
// After <windows.h>, which it needs.
#include <mmsystem.h>

using namespace formframework;
using namespace win32backend;

struct TForm::Native {
  TForm* form = nullptr;
  HWND window = nullptr;
  bool positioned = false;     // centred on its first showing
  bool trackingLeave = false;  // the system is asked to tell when the pointer leaves
  int wheel[2] = {0, 0};       // parts of a notch turned so far, vertical and horizontal
  TKeyTranslator keys;
  bool sceneDrawn = false;  // a tick has drawn with a rendering context: GL owns the pixels
};

namespace {

const wchar_t* const kWindowClass = kFormClassName;

constexpr DWORD kStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;

// The per-monitor calls of Windows 10 (1607 and later); earlier systems scale by the system's
// DPI alone, for which the plain calls are right.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? ProcAs<Fn>(GetProcAddress(user32, name)) : nullptr;
}

// The window's outer size for a client area of the given size at `dpi` (0: the window's own).
SIZE OuterSize(HWND window, int clientWidth, int clientHeight, UINT dpi = 0) {
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  static const auto adjustForDpi =
      User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  RECT rect = {0, 0, clientWidth, clientHeight};
  if (dpi == 0 && window && getDpiForWindow) dpi = getDpiForWindow(window);
  if (adjustForDpi && dpi != 0)
    adjustForDpi(&rect, kStyle, FALSE, 0, dpi);
  else
    AdjustWindowRectEx(&rect, kStyle, FALSE, 0);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void SetWindowCaption(HWND window, const std::string& caption) {
  SetWindowTextW(window, ReadableWide(caption).c_str());
}

TMouseButton ButtonOf(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      return mbLeft;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      return mbRight;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      return mbMiddle;
    default:
      return mbOther;
  }
}

void MouseMessage(TForm::Native* native, UINT message, LPARAM lParam) {
  // Signed: during the capture a release left of or above the window has negative coordinates.
  const int x = static_cast<short>(LOWORD(lParam));
  const int y = static_cast<short>(HIWORD(lParam));
  const bool press = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN ||
                     message == WM_MBUTTONDOWN || message == WM_XBUTTONDOWN;
  if (press)
    MouseButtonDown(native->form, ButtonOf(message), x, y);
  else
    MouseButtonUp(native->form, ButtonOf(message), x, y);
}

void MouseMoveMessage(TForm::Native* native, LPARAM lParam) {
  if (!native->trackingLeave) {
    TRACKMOUSEEVENT track = {};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = native->window;
    native->trackingLeave = TrackMouseEvent(&track) != FALSE;
  }
  MouseMoved(native->form, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
}

// The wheel's messages come to the window with the keyboard, in parts of a notch on smooth
// wheels: whole notches are handed on, the rest is kept for the next message. Where the pointer
// was is taken from the message queue's own record, in screen coordinates: the messages carry
// screen coordinates too, but not every implementation of them agrees on that for the
// horizontal one.
void WheelMessage(TForm::Native* native, bool horizontal, WPARAM wParam) {
  const DWORD position = GetMessagePos();
  POINT at = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
  ScreenToClient(native->window, &at);
  int& turned = native->wheel[horizontal ? 1 : 0];
  turned += GET_WHEEL_DELTA_WPARAM(wParam);
  const int notches = turned / WHEEL_DELTA;
  turned -= notches * WHEEL_DELTA;
  // Positive is away from the user on the usual wheel, and to the right on a horizontal one.
  const TWheelDirection direction =
      horizontal ? (notches > 0 ? wdRight : wdLeft) : (notches > 0 ? wdUp : wdDown);
  for (int i = 0; i < std::abs(notches) && FormLive(native->form); ++i)
    MouseWheel(native->form, direction, at.x, at.y);
}

// A handler may close the form, or open a box whose own loop brings more keys.
void DeliverKeys(TForm* form, const std::vector<TKeyEvent>& events) {
  for (const TKeyEvent& event : events) {
    if (!FormLive(form)) return;
    if (event.kind == TKeyEvent::kPress)
      KeyDown(form, event.code, event.name, event.wasDown);
    else if (event.kind == TKeyEvent::kRelease)
      KeyUp(form, event.code);
    else
      TextTyped(form, event.text);
  }
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* native = reinterpret_cast<TForm::Native*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!native) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      FireTimer(reinterpret_cast<TTimer*>(wParam));
      // A context stays current from the screen's making to its end, so a tick that ran with one
      // has drawn a frame. The window may have gone during the tick: look it up again.
      if (wglGetCurrentContext() != nullptr) {
        auto* still = reinterpret_cast<TForm::Native*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (still) still->sceneDrawn = true;
      }
      return 0;
    case WM_ERASEBKGND:
      // Grey only until the scene draws: after that, erasing would flash grey over the last
      // frame each time the window is restored or uncovered, until the next tick. Without GL
      // nothing ever draws, and the window keeps its grey.
      if (!native->sceneDrawn) {
        RECT area;
        GetClientRect(window, &area);
        FillRect(reinterpret_cast<HDC>(wParam), &area, GetSysColorBrush(COLOR_BTNFACE));
      }
      return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      MouseMessage(native, message, lParam);
      return 0;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      MouseMessage(native, message, lParam);
      return TRUE;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != window) MouseCaptureLost(native->form);
      return 0;
    case WM_MOUSEMOVE:
      MouseMoveMessage(native, lParam);
      return 0;
    case WM_MOUSELEAVE:
      native->trackingLeave = false;
      MouseLeft(native->form);
      return 0;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      WheelMessage(native, message == WM_MOUSEHWHEEL, wParam);
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR:
      DeliverKeys(native->form,
                  native->keys.Translate(
                      TKeyMessage{message, wParam, lParam, static_cast<DWORD>(GetMessageTime())}));
      // Alt+F4 and the other keys the system handles itself still reach it.
      if (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) break;
      return 0;
    case WM_SYSCHAR:
      // Alt with a letter types nothing, and has no menu to open; Alt+Space opens the window's.
      if (wParam != L' ') return 0;
      break;
    case WM_SYSCOMMAND:
      // Alt or F10 alone would take the keyboard into the window's menu until pressed again.
      if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 0) return 0;
      break;
    case WM_KILLFOCUS:
      native->keys.KeyboardLost();
      KeyboardLost(native->form);
      return 0;
    case WM_SETFOCUS:
      DeliverKeys(native->form, native->keys.KeyboardBack());
      break;
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the frame takes that scale, the client area keeps
      // its size in pixels, at the place the system suggests.
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      TForm* form = native->form;
      SIZE outer = OuterSize(window, form->ClientWidth, form->ClientHeight, HIWORD(wParam));
      SetWindowPos(window, nullptr, suggested->left, suggested->top, outer.cx, outer.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      native->form->Close();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      native->window = nullptr;
      if (native->form == Application->MainForm()) Application->Terminate();
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterFormClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  // One device context for the window's life: the rendering context is made on it.
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = FormProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  // No background brush: the window erases itself (WM_ERASEBKGND).
  windowClass.hbrBackground = nullptr;
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("The main window could not be registered: " +
                             SysErrorMessage(GetLastError()));
  registered = true;
}

// While any timer runs the system clock ticks every millisecond.
int runningTimers = 0;

void TimerStarted() {
  if (runningTimers++ == 0) timeBeginPeriod(1);
}

void TimerStopped() {
  if (runningTimers > 0 && --runningTimers == 0) timeEndPeriod(1);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TTimer

// Window timers need the owner's window; a form without one yet gets it made.
void formframework::StartTimerNative(TTimer* timer) {
  TForm* owner = timer->Owner();
  // Without a window system the caller runs the ticks, on a clock of its own.
  if (!owner || Application->Headless()) return;
  HWND window = owner->Handle();
  if (SetTimer(window, reinterpret_cast<UINT_PTR>(timer), std::max<UINT>(timer->Interval, 1),
               nullptr))
    TimerStarted();
}

void formframework::StopTimerNative(TTimer* timer) {
  TForm* owner = timer->Owner();
  if (!owner || !owner->HandleAllocated()) return;
  if (HWND window = owner->NativeData()->window)
    if (KillTimer(window, reinterpret_cast<UINT_PTR>(timer))) TimerStopped();
}

// ---------------------------------------------------------------------------------------------
// TForm

void formframework::DestroyNative(TForm::Native* native) {
  if (native->window) {
    // Its timers go with the window; the clock's resolution goes back with the last of them.
    for (TTimer* timer : Timers())
      if (timer->Enabled() && timer->Owner() == native->form &&
          KillTimer(native->window, reinterpret_cast<UINT_PTR>(timer)))
        TimerStopped();
    ForgetKeptFrames(native->window);
    SetWindowLongPtrW(native->window, GWLP_USERDATA, 0);
    DestroyWindow(native->window);
  }
  delete native;
}

void formframework::HideNative(TForm::Native* native) {
  if (native->window) ShowWindow(native->window, SW_HIDE);
}

void formframework::CaptureNative(TForm::Native* native, bool capture) {
  if (!native->window) return;
  if (capture)
    SetCapture(native->window);
  else if (GetCapture() == native->window)
    ReleaseCapture();
}

HWND TForm::Handle() {
  if (handle_) return handle_->window;
  RegisterFormClass();
  SIZE outer = OuterSize(nullptr, std::max(ClientWidth, 1), std::max(ClientHeight, 1));
  HWND window = CreateWindowExW(0, kWindowClass, ReadableWide(caption_).c_str(), kStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, outer.cx, outer.cy, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (!window)
    throw std::runtime_error("The main window could not be created: " +
                             SysErrorMessage(GetLastError()));
  auto* native = new Native;
  native->form = this;
  native->window = window;
  native->keys = TKeyTranslator(SystemKeyboard(window));
  handle_ = native;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(native));
  // The frame's size depends on the scale of the monitor the window was made on, which is known
  // only now; the client area must have its size before anything draws into it.
  outer = OuterSize(window, std::max(ClientWidth, 1), std::max(ClientHeight, 1));
  SetWindowPos(window, nullptr, 0, 0, outer.cx, outer.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return window;
}

void formframework::CaptionNative(TForm::Native* native, const std::string& caption) {
  if (native->window) SetWindowCaption(native->window, caption);
}

void TForm::Show() {
  HWND window = Handle();
  if (Application->Headless()) return;  // never shown
  if (!handle_->positioned) {
    handle_->positioned = true;
    SIZE outer = OuterSize(window, ClientWidth, ClientHeight);
    RECT place;
    GetWindowRect(window, &place);
    int x = place.left, y = place.top;
    if (Position == poScreenCenter) {
      // Centred on the part of its monitor that the taskbar leaves free.
      MONITORINFO monitor = {};
      monitor.cbSize = sizeof monitor;
      RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
        work = monitor.rcWork;
      x = work.left + std::max(0, static_cast<int>(work.right - work.left - outer.cx) / 2);
      y = work.top + std::max(0, static_cast<int>(work.bottom - work.top - outer.cy) / 2);
    }
    SetWindowPos(window, nullptr, x, y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  UpdateWindow(window);
}

bool TForm::Visible() const {
  return handle_ && handle_->window && IsWindowVisible(handle_->window);
}

// ---------------------------------------------------------------------------------------------
// TApplication

bool TApplication::Initialize() {
  return true;
}

bool formframework::WaitAndDispatch() {
  MSG message;
  if (GetMessageW(&message, nullptr, 0, 0) <= 0) return false;
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return true;
}

void formframework::WakeForQuit() {
  // The quit message ends whichever loop takes it: a message box's own loop closes its box and
  // posts it again for the next loop out, until the main loop ends.
  PostQuitMessage(0);
}

void formframework::WithdrawQuit() {
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

void TApplication::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TApplication::ProcessMessagesFor(int milliseconds) {
  DWORD end = GetTickCount() + static_cast<DWORD>(std::max(milliseconds, 0));
  for (;;) {
    ProcessMessages();
    DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

// ---------------------------------------------------------------------------------------------
// The desktop's scale

double DesktopScale() {
  // Not read on Windows yet: the window opens at scale 1 unless the command line asks for
  // another.
  return 1;
}

bool DesktopWorkArea(int* width, int* height) {
  RECT area = {0, 0, 0, 0};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return false;
  *width = int(area.right - area.left);
  *height = int(area.bottom - area.top);
  return area.right > area.left && area.bottom > area.top;
}

// Full screen and the pointer's visibility are not built yet in this backend: asking changes
// nothing, and the window says it is not full screen.
void TForm::SetFullScreen(bool) {}
bool TForm::FullScreen() const { return false; }
void TForm::SetCursorVisible(bool) {}
